#include "options/options_windows.h"

#include <QMetaMethod>

namespace chimewise {

OptionsWindows::OptionsWindows(OptionsContext context) : m_ctx(std::move(context)) {}

OptionsWindows::~OptionsWindows() {
  // The dialog holds a reference to the context kept here: it may not outlive this object.
  if (m_dialog) {
    m_dialog->reject();
    delete m_dialog.data();
  }
}

void OptionsWindows::ShowOptions() {
  if (!m_dialog) {
    m_dialog = new OptionsDialog(m_ctx);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_dialog, &OptionsDialog::showFutureApplied, this, &OptionsWindows::showFutureApplied);
    connect(m_dialog, &OptionsDialog::announcementIntervalApplied, this, &OptionsWindows::announcementIntervalApplied);
    connect(m_dialog, &OptionsDialog::mailIntervalApplied, this, &OptionsWindows::mailIntervalApplied);
    connect(m_dialog, &OptionsDialog::syncPasswordTyped, this, &OptionsWindows::syncPasswordTyped);
    if (isSignalConnected(QMetaMethod::fromSignal(&OptionsWindows::tourWanted)))
      connect(m_dialog, &OptionsDialog::tourWanted, this,
              [this, dialog = m_dialog.data()](int section) { emit tourWanted(dialog, section); });
    if (isSignalConnected(QMetaMethod::fromSignal(&OptionsWindows::openDocument)))
      connect(m_dialog, &OptionsDialog::openDocument, this, &OptionsWindows::openDocument);
  }
  if (m_dialog->isMinimized()) m_dialog->setWindowState(m_dialog->windowState() & ~Qt::WindowMinimized);
  m_dialog->show();
  m_dialog->raise();
  m_dialog->activateWindow();
}

void OptionsWindows::CloseOptions() {
  if (m_dialog) m_dialog->reject();
}

}  // namespace chimewise

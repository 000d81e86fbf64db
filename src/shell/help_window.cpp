#include "shell/help_window.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace chimewise {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("frmHelp"));
  setWindowTitle(kHelpWindowTitle);
  m_link = new QLabel(this);
  m_link->setObjectName(QStringLiteral("lblOpenInBrowser"));
  m_link->setTextFormat(Qt::RichText);
  m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  m_link->setAlignment(Qt::AlignRight);
  m_browser = new QTextBrowser(this);
  m_browser->setObjectName(QStringLiteral("txtHelp"));
  // Links to other pages open here; links to the web go to the desktop's browser.
  m_browser->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_link);
  layout->addWidget(m_browser, 1);
  resize(640, 560);
  connect(m_link, &QLabel::linkActivated, this, [this] { QDesktopServices::openUrl(m_browser->source()); });
}

void HelpWindow::ShowPage(const QString& page) {
  m_browser->setSource(QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()));
  m_link->setText(QStringLiteral("<a href=\"browser\">Open in browser</a>"));
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace chimewise

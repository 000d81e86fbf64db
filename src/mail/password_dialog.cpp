#include "mail/password_dialog.h"

#include <QInputDialog>
#include <QLineEdit>

namespace chimewise {

PasswordWindow::~PasswordWindow() { CloseWithoutAnswer(); }

void PasswordWindow::CloseWithoutAnswer() {
  // Deleted, not closed: a closed window would answer.
  for (const QPointer<QInputDialog>& dialog : m_open) delete dialog.data();
  m_open.clear();
}

void PasswordWindow::AskPassword(const QString& server, const QString& user, Answer answered) {
  std::erase_if(m_open, [](const QPointer<QInputDialog>& d) { return d.isNull(); });
  auto* dialog = new QInputDialog;
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("Mailbox Password"));
  dialog->setLabelText(QStringLiteral("Password for %1 on %2:").arg(user, server));
  dialog->setTextEchoMode(QLineEdit::Password);
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answered = std::move(answered)](int result) {
    answered(result == QDialog::Accepted ? std::optional<QString>(dialog->textValue()) : std::nullopt);
  });
  m_open.emplace_back(dialog);
  dialog->open();
}

QInputDialog* PasswordWindow::current() const {
  for (auto it = m_open.rbegin(); it != m_open.rend(); ++it)
    if (*it) return it->data();
  return nullptr;
}

}  // namespace chimewise

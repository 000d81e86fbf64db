#include "mail/password_dialog.h"

#include <QInputDialog>
#include <QLineEdit>

namespace chimewise {

void AskMailPassword(const QString& server, const QString& user, std::function<void(std::optional<QString>)> answered) {
  auto* dialog = new QInputDialog;
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("Mailbox Password"));
  dialog->setLabelText(QStringLiteral("Password for %1 on %2:").arg(user, server));
  dialog->setTextEchoMode(QLineEdit::Password);
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answered = std::move(answered)](int result) {
    answered(result == QDialog::Accepted ? std::optional<QString>(dialog->textValue()) : std::nullopt);
  });
  dialog->open();
}

}  // namespace chimewise

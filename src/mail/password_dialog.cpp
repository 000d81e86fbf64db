#include "mail/password_dialog.h"

#include <QInputDialog>
#include <QLineEdit>

namespace chimewise {

std::optional<QString> AskMailPassword(QWidget* parent, const QString& server, const QString& user) {
  bool ok = false;
  const QString password =
      QInputDialog::getText(parent, QStringLiteral("Mailbox Password"),
                            QStringLiteral("Password for %1 on %2:").arg(user, server), QLineEdit::Password, {}, &ok);
  if (!ok) return std::nullopt;
  return password;
}

}  // namespace chimewise

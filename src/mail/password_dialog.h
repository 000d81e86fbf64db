#pragma once
// Asks the user for a mailbox password, once per session where no secret store keeps it.

#include "mail/mail_account.h"

#include <QPointer>
#include <vector>

class QInputDialog;

namespace chimewise {

// The password window: the question shows and the call returns at once; the answer comes from the
// event loop, the password or nullopt when the user cancels. A window still open when the program
// ends (CloseWithoutAnswer, or the asker goes) closes without an answer.
class PasswordWindow final : public PasswordAsker {
 public:
  PasswordWindow() = default;
  PasswordWindow(const PasswordWindow&) = delete;
  PasswordWindow& operator=(const PasswordWindow&) = delete;
  ~PasswordWindow() override;

  void AskPassword(const QString& server, const QString& user, Answer answered) override;
  void CloseWithoutAnswer();
  // The window asking now, if any (the latest one asked).
  QInputDialog* current() const;

 private:
  std::vector<QPointer<QInputDialog>> m_open;  // each deletes itself when closed
};

}  // namespace chimewise

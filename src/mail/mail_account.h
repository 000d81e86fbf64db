#pragma once
// Which mailbox the settings name, and its password: from the desktop's secret store, or, where
// no secret service runs, asked once per session and kept in memory only.

#include <mailbox/mailbox.h>

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace chimewise {

class SettingsStore;

// The secret store as the program uses it (replaced in tests).
class PasswordVault {
 public:
  virtual ~PasswordVault() = default;
  // serviceAvailable false: no secret service; the password can only live in memory.
  struct Lookup {
    bool serviceAvailable = false;
    std::optional<QString> password;
  };
  virtual Lookup Find(const QString& server, const QString& user) = 0;
  virtual bool Keep(const QString& server, const QString& user, const QString& password) = 0;
};

// The desktop's secret store through libsecret.
class SecretServiceVault final : public PasswordVault {
 public:
  Lookup Find(const QString& server, const QString& user) override;
  bool Keep(const QString& server, const QString& user, const QString& password) override;
};

// The mailbox to read, or why there is none to read.
struct MailboxChoice {
  std::unique_ptr<mailbox::Mailbox> mailbox;
  QString problem;             // fits after "because"
  bool wantsPassword = false;  // none is known: the user could give one
};

class MailAccount {
 public:
  // Asks the user for the password of an account and hands the answer to `answered` (nullopt when
  // the user declines), at once or later from the event loop.
  using PasswordAnswer = std::function<void(std::optional<QString>)>;
  using PasswordAsker = std::function<void(const QString& server, const QString& user, PasswordAnswer answered)>;

  MailAccount(const SettingsStore& settings, PasswordVault& vault) : m_settings(settings), m_vault(vault) {}

  // The mailbox named in the settings, or by `address` when given (a folder or an imap:// or
  // imaps:// address), with the password known for it; the user is not asked.
  MailboxChoice Choose(const QString& address = {});
  // The same, but when `mayAsk` the user is asked for a missing password first; `chosen` runs once
  // with the outcome (at once when nothing is asked, and never once the account is gone).
  void ChooseAsking(bool mayAsk, const QString& address, std::function<void(MailboxChoice)> chosen);
  // The server refused the password: it is asked again at the next request.
  void PasswordRefused();

  PasswordAsker askPassword;

 private:
  const SettingsStore& m_settings;
  PasswordVault& m_vault;
  QString m_server, m_user;                                      // whose password is remembered
  std::optional<QString> m_sessionPassword;                      // kept in memory for this session
  bool m_refused = false;                                        // the stored password was refused: ask anew
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);  // what an answer given later checks
};

}  // namespace chimewise

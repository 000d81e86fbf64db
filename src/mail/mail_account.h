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

// Asks the user for the password of an account: the program with its password window, the
// command-line tool on the terminal. Whoever makes the account owns it and keeps it while the
// account lives.
class PasswordAsker {
 public:
  using Answer = std::function<void(std::optional<QString>)>;
  virtual ~PasswordAsker() = default;
  // Hands the password to `answered` (nullopt when the user declines), at once or later from the
  // event loop; an answer for an account that is gone by then is dropped by the account.
  virtual void AskPassword(const QString& server, const QString& user, Answer answered) = 0;
};

class MailAccount {
 public:
  // Without an asker the user is never asked.
  MailAccount(const SettingsStore& settings, PasswordVault& vault, PasswordAsker* asker = nullptr)
      : m_settings(settings), m_vault(vault), m_asker(asker) {}

  // The mailbox named in the settings, or by `address` when given (a folder or an imap:// or
  // imaps:// address), with the password known for it; the user is not asked.
  MailboxChoice Choose(const QString& address = {});
  // The same, but when `mayAsk` the user is asked for a missing password first; `chosen` runs once
  // with the outcome (at once when nothing is asked, and never once the account is gone).
  void ChooseAsking(bool mayAsk, const QString& address, std::function<void(MailboxChoice)> chosen);
  // The server refused the password: it is asked again at the next request.
  void PasswordRefused();

 private:
  const SettingsStore& m_settings;
  PasswordVault& m_vault;
  PasswordAsker* m_asker;
  QString m_server, m_user;                                      // whose password is remembered
  std::optional<QString> m_sessionPassword;                      // kept in memory for this session
  bool m_refused = false;                                        // the stored password was refused: ask anew
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);  // what an answer given later checks
};

}  // namespace chimewise

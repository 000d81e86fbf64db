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
  QString problem;  // fits after "because"
};

class MailAccount {
 public:
  // Asks the user for the password of an account; nullopt when the user declines.
  using PasswordAsker = std::function<std::optional<QString>(const QString& server, const QString& user)>;

  MailAccount(const SettingsStore& settings, PasswordVault& vault) : m_settings(settings), m_vault(vault) {}

  // The mailbox named in the settings, or by `address` when given (a folder or an imap:// or
  // imaps:// address). Only when `mayAsk` is the user asked for a missing password.
  MailboxChoice Choose(bool mayAsk, const QString& address = {});
  // The server refused the password: it is asked again at the next request.
  void PasswordRefused();

  PasswordAsker askPassword;

 private:
  const SettingsStore& m_settings;
  PasswordVault& m_vault;
  QString m_server, m_user;                  // whose password is remembered
  std::optional<QString> m_sessionPassword;  // kept in memory for this session
  bool m_refused = false;                    // the stored password was refused: ask anew
};

}  // namespace chimewise

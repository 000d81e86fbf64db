#include "mail/mail_account.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"

#include <mailbox/secret_store.h>

namespace chimewise {

namespace {
const QString kSchema = QStringLiteral("org.olm.chimewise.Mailbox");
QMap<QString, QString> Attributes(const QString& server, const QString& user) {
  return {{QStringLiteral("server"), server}, {QStringLiteral("user"), user}};
}
}  // namespace

PasswordVault::Lookup SecretServiceVault::Find(const QString& server, const QString& user) {
  const mailbox::SecretResult r = mailbox::LookupSecret(kSchema, Attributes(server, user));
  return {r.serviceAvailable, r.secret};
}

bool SecretServiceVault::Keep(const QString& server, const QString& user, const QString& password) {
  const mailbox::SecretResult r = mailbox::StoreSecret(
      kSchema, Attributes(server, user), QStringLiteral("Olm Chimewise mailbox %1@%2").arg(user, server), password);
  return r.serviceAvailable && r.error.isEmpty();
}

MailboxChoice MailAccount::Choose(const QString& address) {
  const QString text = address.isEmpty() ? m_settings.read(settings::Mailbox) : address;
  mailbox::MailboxAddress a = mailbox::ParseMailboxAddress(text);
  MailboxChoice c;
  switch (a.kind) {
    case mailbox::MailboxAddress::None:
      c.problem = a.error.isEmpty() ? QStringLiteral("no mailbox is set up in the options") : a.error;
      return c;
    case mailbox::MailboxAddress::Maildir: c.mailbox = mailbox::OpenMaildir(a.folder); return c;
    case mailbox::MailboxAddress::Imap: break;
  }
  const QString user = m_settings.read(settings::MailUser).trimmed();
  if (user.isEmpty()) {
    c.problem = QStringLiteral("no user name is set up for it");
    return c;
  }
  const QString server = text.trimmed();
  if (server != m_server || user != m_user) {
    m_server = server;
    m_user = user;
    m_sessionPassword.reset();
    m_refused = false;
  }
  std::optional<QString> password = m_sessionPassword;
  if (!password && !m_refused) password = m_vault.Find(server, user).password;
  if (!password) {
    c.problem = QStringLiteral("no password is known for it");
    c.wantsPassword = true;
    return c;
  }
  a.account.user = user;
  a.account.password = *password;
  c.mailbox = mailbox::OpenImap(a.account);
  return c;
}

void MailAccount::ChooseAsking(bool mayAsk, const QString& address, std::function<void(MailboxChoice)> chosen) {
  MailboxChoice c = Choose(address);
  if (c.mailbox || !c.wantsPassword || !mayAsk || !m_asker) {
    chosen(std::move(c));
    return;
  }
  const QString server = m_server, user = m_user;
  m_asker->AskPassword(server, user,
                       [this, alive = std::weak_ptr<bool>(m_alive), address, server, user,
                        chosen = std::move(chosen)](std::optional<QString> password) {
                         if (alive.expired()) return;
                         // An answer for an account the settings have moved away from meanwhile is not kept.
                         if (password && server == m_server && user == m_user) {
                           m_refused = false;
                           // The secret store keeps it across sessions; without one it lives in memory only.
                           if (!m_vault.Keep(server, user, *password)) m_sessionPassword = password;
                         }
                         chosen(Choose(address));
                       });
}

void MailAccount::PasswordRefused() {
  m_sessionPassword.reset();
  m_refused = true;
}

}  // namespace chimewise

#pragma once
// What the mail module (the message reader, the mailboxes and the secret store, with vmime and
// libsecret behind them) offers the rest of the library, which loads it on first use.

#include "mailbox/mail_message.h"
#include "mailbox/mailbox.h"
#include "mailbox/secret_store.h"

#include <memory>

namespace mailbox::backend {

// Raised whenever a member is added, removed or changes its type: a module from another build is
// then refused instead of called wrongly.
inline constexpr int kVersion = 1;

struct Api {
  int version = kVersion;
  MailMessage (*parseMessage)(const QByteArray& raw);
  std::unique_ptr<Mailbox> (*openMaildir)(const QString& folder);
  std::unique_ptr<Mailbox> (*openImap)(const ImapAccount& account);
  SecretResult (*lookupSecret)(const QString& schema, const QMap<QString, QString>& attributes);
  SecretResult (*storeSecret)(const QString& schema, const QMap<QString, QString>& attributes, const QString& label,
                              const QString& secret);
  SecretResult (*clearSecret)(const QString& schema, const QMap<QString, QString>& attributes);
};

inline constexpr const char* kModuleFile = "libmailbox-backend.so";
inline constexpr const char* kEntryPoint = "mailbox_backend_api";

}  // namespace mailbox::backend

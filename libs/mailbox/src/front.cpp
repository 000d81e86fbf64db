// The library's face: every call that needs vmime or libsecret goes to the mail module, loaded
// the first time one is made. A program that never reads mail never loads either.

#include "backend.h"

#include <modules/module.h>

namespace mailbox {

namespace {

const modules::Table<backend::Api>& TheBackend() {
  static const auto table =
      modules::LoadTable<backend::Api>(QString::fromLatin1(backend::kModuleFile), backend::kEntryPoint,
                                       backend::kVersion, QStringLiteral("the mail reader"));
  return table;
}

// What a mailbox is when the mail module cannot be had: every call says so.
class UnavailableMailbox : public Mailbox {
 public:
  explicit UnavailableMailbox(QString why) : m_failure{FailureKind::Other, std::move(why)} {}
  Failure Open() override { return m_failure; }
  std::optional<int> UnseenCount(Failure* failure) override {
    if (failure) *failure = m_failure;
    return std::nullopt;
  }
  std::optional<std::vector<MailMessage>> UnseenMessages(Failure* failure, const QDateTime&) override {
    if (failure) *failure = m_failure;
    return std::nullopt;
  }
  Failure MarkSeen(const QStringList&) override { return m_failure; }

 private:
  Failure m_failure;
};

SecretResult NoSecretService() {
  SecretResult r;
  r.error = TheBackend().error;
  return r;
}

}  // namespace

MailMessage ParseMessage(const QByteArray& raw) {
  if (const auto* api = TheBackend().api) return api->parseMessage(raw);
  MailMessage m;
  m.problem = TheBackend().error;
  return m;
}

std::unique_ptr<Mailbox> OpenMaildir(const QString& folder) {
  if (const auto* api = TheBackend().api) return api->openMaildir(folder);
  return std::make_unique<UnavailableMailbox>(TheBackend().error);
}

std::unique_ptr<Mailbox> OpenImap(const ImapAccount& account) {
  if (const auto* api = TheBackend().api) return api->openImap(account);
  return std::make_unique<UnavailableMailbox>(TheBackend().error);
}

SecretResult LookupSecret(const QString& schema, const QMap<QString, QString>& attributes) {
  if (const auto* api = TheBackend().api) return api->lookupSecret(schema, attributes);
  return NoSecretService();
}

SecretResult StoreSecret(const QString& schema, const QMap<QString, QString>& attributes, const QString& label,
                         const QString& secret) {
  if (const auto* api = TheBackend().api) return api->storeSecret(schema, attributes, label, secret);
  return NoSecretService();
}

SecretResult ClearSecret(const QString& schema, const QMap<QString, QString>& attributes) {
  if (const auto* api = TheBackend().api) return api->clearSecret(schema, attributes);
  return NoSecretService();
}

}  // namespace mailbox

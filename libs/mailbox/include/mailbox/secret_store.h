#pragma once
// Passwords in the desktop's secret store (the Secret Service over D-Bus, through libsecret),
// found by a schema name and attributes. Only a session bus that already runs is used: without
// one there is no secret service, and no bus is ever started for it.

#include <QMap>
#include <QString>
#include <optional>

namespace mailbox {

struct SecretResult {
  bool serviceAvailable = false;  // false: no secret service runs (or it refused); error says why
  std::optional<QString> secret;  // lookups: the stored secret, when there is one
  QString error;
};

SecretResult LookupSecret(const QString& schema, const QMap<QString, QString>& attributes);
SecretResult StoreSecret(const QString& schema, const QMap<QString, QString>& attributes, const QString& label,
                         const QString& secret);
SecretResult ClearSecret(const QString& schema, const QMap<QString, QString>& attributes);

}  // namespace mailbox

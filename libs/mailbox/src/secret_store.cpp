#include "mailbox/secret_store.h"

#include <libsecret/secret.h>
#include <optional>
#include <sys/stat.h>

namespace mailbox {

namespace {

// Every attribute is a string attribute; the schema's name tells our items from others'.
struct Schema {
  explicit Schema(const QString& name, const QMap<QString, QString>& attributes) : m_name(name.toUtf8()) {
    m_keys.reserve(attributes.size());
    for (auto it = attributes.begin(); it != attributes.end(); ++it) m_keys.push_back(it.key().toUtf8());
    m_schema.name = m_name.constData();
    m_schema.flags = SECRET_SCHEMA_NONE;
    for (size_t i = 0; i < m_keys.size() && i < 31; ++i)
      m_schema.attributes[i] = {m_keys[i].constData(), SECRET_SCHEMA_ATTRIBUTE_STRING};
    m_schema.attributes[std::min<size_t>(m_keys.size(), 31)] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
  }
  const SecretSchema* get() const { return &m_schema; }

 private:
  QByteArray m_name;
  std::vector<QByteArray> m_keys;
  SecretSchema m_schema{};
};

// The attributes as libsecret wants them: a hash table of UTF-8 strings.
GHashTable* AttributeTable(const QMap<QString, QString>& attributes, std::vector<QByteArray>& keep) {
  GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
  keep.reserve(attributes.size() * 2);
  for (auto it = attributes.begin(); it != attributes.end(); ++it) {
    keep.push_back(it.key().toUtf8());
    const char* k = keep.back().constData();
    keep.push_back(it.value().toUtf8());
    g_hash_table_insert(table, const_cast<char*>(k), const_cast<char*>(keep.back().constData()));
  }
  return table;
}

SecretResult ErrorResult(GError* error) {
  SecretResult r;
  r.serviceAvailable = false;
  r.error = QString::fromUtf8(error->message);
  g_error_free(error);
  return r;
}

// libsecret reaches the secret service over the session bus. Where no bus address is set and no
// bus socket waits in XDG_RUNTIME_DIR, GLib would start a bus of its own with dbus-launch
// whenever DISPLAY is set, and that bus and its daemon outlive us. No bus means no secret
// service: the caller asks for the password instead.
std::optional<SecretResult> WithoutSessionBus() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return std::nullopt;
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (!runtime.isEmpty() && stat((runtime + "/bus").constData(), &st) == 0 && S_ISSOCK(st.st_mode)) return std::nullopt;
  SecretResult r;
  r.error = QStringLiteral("no session bus runs");
  return r;
}

}  // namespace

SecretResult LookupSecret(const QString& schema, const QMap<QString, QString>& attributes) {
  if (auto none = WithoutSessionBus()) return *none;
  const Schema s(schema, attributes);
  std::vector<QByteArray> keep;
  GHashTable* table = AttributeTable(attributes, keep);
  GError* error = nullptr;
  gchar* secret = secret_password_lookupv_sync(s.get(), table, nullptr, &error);
  g_hash_table_unref(table);
  if (error) return ErrorResult(error);
  SecretResult r;
  r.serviceAvailable = true;
  if (secret) {
    r.secret = QString::fromUtf8(secret);
    secret_password_free(secret);
  }
  return r;
}

SecretResult StoreSecret(const QString& schema, const QMap<QString, QString>& attributes, const QString& label,
                         const QString& secret) {
  if (auto none = WithoutSessionBus()) return *none;
  const Schema s(schema, attributes);
  std::vector<QByteArray> keep;
  GHashTable* table = AttributeTable(attributes, keep);
  GError* error = nullptr;
  const QByteArray l = label.toUtf8();
  const QByteArray pw = secret.toUtf8();
  const gboolean ok = secret_password_storev_sync(s.get(), table, SECRET_COLLECTION_DEFAULT, l.constData(),
                                                  pw.constData(), nullptr, &error);
  g_hash_table_unref(table);
  if (error) return ErrorResult(error);
  SecretResult r;
  r.serviceAvailable = true;
  if (!ok) r.error = QStringLiteral("the secret store refused the password");
  return r;
}

SecretResult ClearSecret(const QString& schema, const QMap<QString, QString>& attributes) {
  if (auto none = WithoutSessionBus()) return *none;
  const Schema s(schema, attributes);
  std::vector<QByteArray> keep;
  GHashTable* table = AttributeTable(attributes, keep);
  GError* error = nullptr;
  secret_password_clearv_sync(s.get(), table, nullptr, &error);
  g_hash_table_unref(table);
  if (error) return ErrorResult(error);
  SecretResult r;
  r.serviceAvailable = true;
  return r;
}

}  // namespace mailbox

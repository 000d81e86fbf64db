#include "exchange/sync_state.h"

#include "data/calendar.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <cctype>

namespace chimewise {
namespace {

constexpr char kFormat[] = "chimewise-calendar-sync";
constexpr int kVersion = 1;

// A text member, or false when `object` lacks it or holds something else there.
bool TextOf(const QJsonObject& object, const char* key, QString* out) {
  const QJsonValue value = object.value(QLatin1String(key));
  if (!value.isString()) return false;
  *out = value.toString();
  return true;
}

// A hexadecimal member as its bytes.
bool BytesOf(const QJsonObject& object, const char* key, QByteArray* out) {
  QString text;
  if (!TextOf(object, key, &text)) return false;
  const QByteArray hex = text.toLatin1();
  if (hex.size() % 2 != 0) return false;
  for (char c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  *out = QByteArray::fromHex(hex);
  return true;
}

bool MomentOf(const QJsonObject& object, const char* key, QDateTime* out) {
  QString text;
  if (!TextOf(object, key, &text)) return false;
  if (text.isEmpty()) {
    *out = QDateTime();
    return true;
  }
  *out = QDateTime::fromString(text, Qt::ISODateWithMs);
  return out->isValid();
}

QJsonObject EntryObject(const SyncEntry& e) {
  QJsonObject o;
  o.insert("uid", e.uid);
  o.insert("record", QString::fromLatin1(e.recordId.toHex()));
  o.insert("href", e.href);
  o.insert("etag", e.etag);
  o.insert("local", QString::fromLatin1(e.localFingerprint.toHex()));
  o.insert("remote", QString::fromLatin1(e.remoteFingerprint.toHex()));
  o.insert("localChangeSeen",
           e.localChangeSeen.isValid() ? e.localChangeSeen.toUTC().toString(Qt::ISODateWithMs) : QString());
  return o;
}

bool ReadEntry(const QJsonValue& value, SyncEntry* e) {
  if (!value.isObject()) return false;
  const QJsonObject o = value.toObject();
  return TextOf(o, "uid", &e->uid) && !e->uid.isEmpty() && BytesOf(o, "record", &e->recordId) &&
         !e->recordId.isEmpty() && TextOf(o, "href", &e->href) && !e->href.isEmpty() && TextOf(o, "etag", &e->etag) &&
         BytesOf(o, "local", &e->localFingerprint) && BytesOf(o, "remote", &e->remoteFingerprint) &&
         MomentOf(o, "localChangeSeen", &e->localChangeSeen);
}

SyncStateRead Ignored(const QString& why) {
  SyncStateRead read;
  read.ignored = why;
  return read;
}

}  // namespace

QString SyncStatePath(const QString& appFolder) {
  return QFileInfo(data::CalendarPath(appFolder)).path() + "/calendar.sync";
}

SyncStateRead ReadSyncState(const QString& path, const QString& collection) {
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return {};
  if (info.isSymLink() || !info.isFile()) return Ignored(path + " is not a regular file");
  if (info.size() > kMaxSyncStateBytes) return Ignored(path + " is larger than a sync state can be");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return Ignored(path + " cannot be read: " + file.errorString());
  const QByteArray bytes = file.read(kMaxSyncStateBytes + 1);
  if (bytes.size() > kMaxSyncStateBytes) return Ignored(path + " is larger than a sync state can be");

  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject())
    return Ignored(path + " is damaged: " + (document.isNull() ? error.errorString() : QString("not an object")));
  const QJsonObject root = document.object();
  QString format;
  if (!TextOf(root, "format", &format) || format != kFormat) return Ignored(path + " is not a sync state");
  if (root.value("version") != QJsonValue(kVersion)) return Ignored(path + " is of another version");

  SyncStateRead read;
  SyncState& state = read.state;
  if (!TextOf(root, "collection", &state.collection) || !TextOf(root, "syncToken", &state.syncToken))
    return Ignored(path + " is damaged: no collection");
  if (state.collection != collection) return Ignored(path + " belongs to another collection");
  const QJsonValue entries = root.value("entries");
  if (!entries.isArray()) return Ignored(path + " is damaged: no entries");
  const QJsonArray list = entries.toArray();
  if (list.size() > kMaxSyncEntries) return Ignored(path + " holds more entries than a sync state can");
  // Two entries for one reminder, one UID or one resource would leave the sync unsure which is
  // meant: the file is not trusted then.
  QSet<QByteArray> records;
  QSet<QString> uids;
  QSet<QString> hrefs;
  state.entries.reserve(list.size());
  for (const QJsonValue& value : list) {
    SyncEntry e;
    if (!ReadEntry(value, &e)) return Ignored(path + " is damaged: an entry is incomplete");
    if (records.contains(e.recordId) || uids.contains(e.uid) || hrefs.contains(e.href))
      return Ignored(path + " is damaged: an entry is there twice");
    records.insert(e.recordId);
    uids.insert(e.uid);
    hrefs.insert(e.href);
    state.entries.push_back(std::move(e));
  }
  return read;
}

QString WriteSyncState(const QString& path, const SyncState& state) {
  if (state.entries.size() > static_cast<size_t>(kMaxSyncEntries)) return "too many reminders to keep a sync state of";
  const QFileInfo info(path);
  if (info.isSymLink() || (info.exists() && !info.isFile())) return path + " is not a regular file";
  QJsonArray entries;
  for (const SyncEntry& e : state.entries) entries.append(EntryObject(e));
  QJsonObject root;
  root.insert("format", kFormat);
  root.insert("version", kVersion);
  root.insert("collection", state.collection);
  root.insert("syncToken", state.syncToken);
  root.insert("entries", entries);
  const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
  if (bytes.size() > kMaxSyncStateBytes) return "the sync state is larger than one can be";

  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return path + " cannot be written: " + file.errorString();
  if (file.write(bytes) != bytes.size()) {
    const QString why = file.errorString();
    file.cancelWriting();
    return path + " cannot be written: " + why;
  }
  if (!file.commit()) return path + " cannot be written: " + file.errorString();
  return {};
}

}  // namespace chimewise

#include "data/kept_events.h"

#include "data/calendar.h"

#include <xbase/engine.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace chimewise {

namespace {

constexpr qint64 kMaxKeptFileBytes = 4 * kMaxKeptResourceBytes;
const QString kSuffix = QStringLiteral(".json");

QJsonObject RecordJson(const ReminderRecord& r) {
  return QJsonObject{{"event", r.event},         {"activity", r.activityText},
                     {"memo", r.memo},           {"date", r.eventDate.toString(Qt::ISODate)},
                     {"time", r.startTime},      {"alarmDate", r.alarmDate.toString(Qt::ISODate)},
                     {"alarmTime", r.alarmTime}, {"sound", r.sound},
                     {"sayDate", r.sayDate},     {"sayTime", r.sayTime},
                     {"countdown", r.countdown}};
}

ReminderRecord RecordOf(const QJsonObject& o) {
  ReminderRecord r;
  r.event = o.value("event").toString();
  r.activityText = o.value("activity").toString();
  r.memo = o.value("memo").toString();
  r.eventDate = QDate::fromString(o.value("date").toString(), Qt::ISODate);
  r.startTime = o.value("time").toInt();
  r.alarmDate = QDate::fromString(o.value("alarmDate").toString(), Qt::ISODate);
  r.alarmTime = o.value("alarmTime").toInt();
  r.sound = o.value("sound").toInt();
  r.sayDate = o.value("sayDate").toInt();
  r.sayTime = o.value("sayTime").toInt();
  r.countdown = o.value("countdown").toInt();
  return r;
}

// The one pair that writes and reads a kept event's JSON.
QByteArray KeptJson(const KeptEvent& kept) {
  QJsonObject o{{"uid", kept.uid}};
  // Calendar text is UTF-8 (RFC 5545); a resource too large to keep is fetched again when needed.
  if (kept.resource.size() <= kMaxKeptResourceBytes) o.insert("resource", QString::fromUtf8(kept.resource));
  if (!kept.series.isEmpty()) o.insert("series", QJsonArray::fromStringList(kept.series));
  if (kept.hasSynced) o.insert("synced", RecordJson(kept.synced));
  if (kept.hasUserAlarm) {
    o.insert("userAlarmDate", kept.userAlarmDate.toString(Qt::ISODate));
    o.insert("userAlarmTime", kept.userAlarmTime);
  }
  if (kept.savedAt.isValid()) o.insert("savedAt", kept.savedAt.toUTC().toString(Qt::ISODate));
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<KeptEvent> KeptFromJson(const QByteArray& json) {
  const QJsonObject o = QJsonDocument::fromJson(json).object();
  if (o.isEmpty()) return std::nullopt;
  KeptEvent k;
  k.uid = o.value("uid").toString();
  k.resource = o.value("resource").toString().toUtf8();
  for (const QJsonValue& line : o.value("series").toArray()) k.series << line.toString();
  if (o.contains("synced")) {
    k.hasSynced = true;
    k.synced = RecordOf(o.value("synced").toObject());
  }
  if (o.contains("userAlarmDate")) {
    k.hasUserAlarm = true;
    k.userAlarmDate = QDate::fromString(o.value("userAlarmDate").toString(), Qt::ISODate);
    k.userAlarmTime = o.value("userAlarmTime").toInt();
  }
  k.savedAt = QDateTime::fromString(o.value("savedAt").toString(), Qt::ISODate);
  return k;
}

Problem FileProblem(const QString& path, const QString& why) { return {ProblemKind::FileFault, path, why}; }

}  // namespace

KeptEvents::KeptEvents(const QString& appFolder)
    : m_folder(QFileInfo(data::CalendarPath(appFolder)).path() + QStringLiteral("/calendar.events")) {}

KeptEvents KeptEvents::BesideTable(const QString& tablePath) {
  KeptEvents kept;
  kept.m_folder = QFileInfo(tablePath).path() + QStringLiteral("/calendar.events");
  return kept;
}

QString KeptEvents::pathOf(const QByteArray& recordId) const {
  return m_folder + u'/' + QString::fromLatin1(recordId.toHex()) + kSuffix;
}

std::optional<KeptEvent> KeptEvents::Get(const QByteArray& recordId) const {
  QFile file(pathOf(recordId));
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxKeptFileBytes) return std::nullopt;
  return KeptFromJson(file.read(kMaxKeptFileBytes));
}

Problem KeptEvents::Put(const QByteArray& recordId, const KeptEvent& kept) const {
  if (!QDir().mkpath(m_folder)) return FileProblem(m_folder, QStringLiteral("the folder cannot be made"));
  QSaveFile file(pathOf(recordId));
  if (!file.open(QIODevice::WriteOnly)) return FileProblem(file.fileName(), file.errorString());
  file.write(KeptJson(kept));
  if (!file.commit()) return FileProblem(file.fileName(), file.errorString());
  return {};
}

Problem KeptEvents::PutMany(const std::vector<std::pair<QByteArray, KeptEvent>>& many) const {
  if (many.empty()) return {};
  if (!QDir().mkpath(m_folder)) return FileProblem(m_folder, QStringLiteral("the folder cannot be made"));
  Problem first;
  for (const auto& [recordId, kept] : many) {
    // A file there already is written beside and renamed over it: whole or as it was. A new one is
    // written in place: cut short by a crash, it reads as nothing kept, as before it was written.
    const QString path = pathOf(recordId);
    const bool replacing = QFile::exists(path);
    QFile file(replacing ? path + QStringLiteral(".new") : path);
    const QByteArray json = KeptJson(kept);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(json) == json.size();
    file.close();
    if (ok && replacing)
      ok = std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
      file.remove();
      if (first.ok()) first = FileProblem(path, file.errorString());
    }
  }
  // Once for all: what was renamed is on the disk before the import says it is done.
  const int fd = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
  return first;
}

Problem KeptEvents::NoteSaved(const QByteArray& recordId, const ReminderRecord& record, bool alarmSet,
                              const QDateTime& at) const {
  std::optional<KeptEvent> kept = Get(recordId);
  if (!kept) return {};
  if (alarmSet || !kept->hasUserAlarm) {
    kept->hasUserAlarm = record.alarmDate.isValid();
    kept->userAlarmDate = record.alarmDate;
    kept->userAlarmTime = record.alarmTime;
  }
  kept->savedAt = at;
  return Put(recordId, *kept);
}

Problem KeptEvents::Remove(const QByteArray& recordId) const {
  QFile file(pathOf(recordId));
  if (file.exists() && !file.remove()) return FileProblem(file.fileName(), file.errorString());
  return {};
}

int KeptEvents::Prune(const QSet<QByteArray>& live) const {
  int removed = 0;
  const QStringList names = QDir(m_folder).entryList({QStringLiteral("*") + kSuffix}, QDir::Files);
  for (const QString& name : names) {
    const QByteArray id = QByteArray::fromHex(name.chopped(kSuffix.size()).toLatin1());
    if (!live.contains(id) && QFile::remove(m_folder + u'/' + name)) ++removed;
  }
  return removed;
}

int PruneKeptEvents(xbase::Engine& engine, const QString& appFolder) {
  const KeptEvents kept(appFolder);
  if (!QFileInfo(kept.folder()).isDir()) return 0;
  const QString alias = QStringLiteral("KEPTLIVE");
  int area = 0;
  QSet<QByteArray> live;
  xbase::Status st = OpenCalendar(engine, appFolder, alias, &area, false);
  if (st.ok()) {
    xbase::WorkArea& wa = *engine.Area(area);
    st = wa.SetOrder(0);
    if (st.ok()) st = wa.GoTop();
    for (; st.ok() && !wa.Eof(); st = wa.Skip(1)) {
      std::string id;
      if (wa.GetString("REC_NO", &id).ok()) live.insert(QByteArray::fromStdString(id));
    }
  }
  data::CloseTableIfOpen(engine, alias);
  // A table that could not be read whole says nothing of what is gone.
  return st.ok() ? kept.Prune(live) : 0;
}

}  // namespace chimewise

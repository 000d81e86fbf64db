#include "data/kept_events.h"

#include "data/calendar.h"
#include "data/table_handle.h"

#include <xbase/engine.h>
#include <xbase/env.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <array>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

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

Problem FileProblem(const std::string& path, const xbase::Status& why) {
  return FileProblem(QString::fromStdString(path), QString::fromStdString(why.ToString()));
}

quint32 Crc32(const char* data, qint64 size) {
  static const std::array<quint32, 256> table = [] {
    std::array<quint32, 256> t{};
    for (quint32 i = 0; i < 256; ++i) {
      quint32 c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  quint32 c = 0xFFFFFFFFu;
  for (qint64 i = 0; i < size; ++i) c = table[(c ^ static_cast<uchar>(data[i])) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

const QByteArray kLogMagic("CWKEPT1\n");
constexpr qint64 kRecordHead = 8;  // the payload's length and CRC-32, little-endian

// One record of the log: the identifier's length (one byte), the identifier, the JSON (none: the
// reminder keeps nothing any more).
QByteArray Record(const QByteArray& recordId, const QByteArray& json) {
  QByteArray payload;
  payload.reserve(1 + recordId.size() + json.size());
  payload.append(char(recordId.size())).append(recordId).append(json);
  QByteArray head(kRecordHead, Qt::Uninitialized);
  qToLittleEndian<quint32>(quint32(payload.size()), head.data());
  qToLittleEndian<quint32>(Crc32(payload.constData(), payload.size()), head.data() + 4);
  return head + payload;
}

std::string_view View(const QByteArray& bytes) { return {bytes.constData(), size_t(bytes.size())}; }

// The log of one folder, shared by every KeptEvents of this process that names it. Its index
// (where each reminder's latest JSON lies) follows what other processes append: each read compares
// the log's identity and length with what was read last and reads only what is new. Reads take no
// lock: a record being appended is cut short or fails its CRC and is read once it is whole.
class KeptLog {
 public:
  KeptLog(QString folder, xbase::Env* env)
      : m_env(env),
        m_folder(std::move(folder)),
        m_logPath(QFile::encodeName(m_folder + QStringLiteral("/events.log")).toStdString()),
        m_lockPath(QFile::encodeName(m_folder + QStringLiteral("/events.lock")).toStdString()) {}

  // The reminder's JSON; empty when it keeps nothing.
  QByteArray Read(const QByteArray& recordId) {
    std::lock_guard guard(m_mutex);
    if (!m_migrated && QFileInfo(m_folder).isDir()) {
      m_migrated = true;
      if (Writer w(*this); w.ok())
        migrate();
      else
        m_legacy = true;  // a folder that cannot be written to is read as it is
    }
    if (stale()) refresh();
    const auto at = m_index.constFind(recordId);
    if (at == m_index.cend()) return m_legacy ? LegacyRead(recordId) : QByteArray();
    QByteArray json(at->size, Qt::Uninitialized);
    return m_file->ReadExact(at->at, json.size(), json.data()).ok() ? json : QByteArray();
  }

  // Appends every (identifier, JSON) in one write and one flush; an empty JSON removes.
  Problem Write(const std::vector<std::pair<QByteArray, QByteArray>>& entries) {
    std::lock_guard guard(m_mutex);
    Writer w(*this);
    if (!w.ok()) return w.problem();
    if (!m_migrated) migrate();
    Problem p = append(entries);
    if (p.ok() && m_end > kCompactAbove && m_end > 4 * m_liveBytes) p = compact(nullptr);
    return p;
  }

  // Compacts the log to the reminders in `live`; how many others kept something.
  int Prune(const QSet<QByteArray>& live) {
    std::lock_guard guard(m_mutex);
    if (!QFileInfo(m_folder).isDir()) return 0;
    Writer w(*this);
    if (!w.ok()) return 0;
    if (!m_migrated) migrate();
    int gone = 0;
    for (auto it = m_index.cbegin(); it != m_index.cend(); ++it) gone += live.contains(it.key()) ? 0 : 1;
    if (gone > 0 || m_end > kCompactAbove / 4 + 2 * m_liveBytes)
      if (!compact(&live).ok()) return 0;
    return gone;
  }

 private:
  struct Span {
    qint64 at = 0;    // where the JSON starts in the log
    qint64 size = 0;  // its length
  };
  // A log larger than this and four times what it holds is compacted after a write.
  static constexpr qint64 kCompactAbove = 8 * 1024 * 1024;
  // How long a writer waits for another's lock, in milliseconds.
  static constexpr int kLockWaitMs = 2000;

  // The writers' turn: the lock file's lock, and the log read up to its end. A writer holds the
  // lock for one write and one flush, so two seconds is long; a lock held longer (a stopped process)
  // is told as busy rather than waited for, since the program's own thread announces reminders.
  class Writer {
   public:
    explicit Writer(KeptLog& log) {
      if (!QDir().mkpath(log.m_folder)) {
        m_problem = FileProblem(log.m_folder, QStringLiteral("the folder cannot be made"));
        return;
      }
      xbase::Status s = log.m_env->OpenFile(log.m_lockPath, xbase::OpenFlags::kReadWrite, &m_lock);
      if (!s.ok()) s = log.m_env->OpenFile(log.m_lockPath, xbase::OpenFlags::kCreateTruncate, &m_lock);
      for (int waited = 0; s.ok() || (s.IsBusy() && waited < kLockWaitMs); ++waited) {
        if (waited > 0) ::usleep(1000);
        s = m_lock->Lock(0, 1, xbase::LockMode::kExclusive);
        if (s.ok()) break;
      }
      if (!s.ok()) {
        m_problem = FileProblem(log.m_lockPath, s);
        m_lock.reset();
        return;
      }
      log.refresh();
    }
    ~Writer() {
      if (m_lock) m_lock->Unlock(0, 1).IgnoreError();
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    bool ok() const { return m_problem.ok(); }
    Problem problem() const { return m_problem; }

   private:
    std::unique_ptr<xbase::File> m_lock;
    Problem m_problem;
  };

  void drop() {
    m_file.reset();
    m_end = m_size = m_liveBytes = 0;
    m_index.clear();
    m_foreign = false;
  }

  // True when the log is not the one read last or has grown since.
  bool stale() {
    xbase::FileId id;
    if (!m_env->PathId(m_logPath, &id).ok()) return m_file != nullptr;
    uint64_t size = 0;
    return !m_file || id != m_id || !m_file->Size(&size).ok() || qint64(size) != m_end;
  }

  // Reads what is new in the log. A record cut short or damaged (a writer stopped half way) ends
  // what is read: it and whatever follows it do not count, and the next writer cuts them off.
  void refresh() {
    xbase::FileId id;
    if (!m_env->PathId(m_logPath, &id).ok()) return drop();
    if (!m_file || id != m_id) {
      drop();
      xbase::Status s = m_env->OpenFile(m_logPath, xbase::OpenFlags::kReadWrite, &m_file);
      if (!s.ok()) s = m_env->OpenFile(m_logPath, xbase::OpenFlags::kReadOnly, &m_file);
      if (!s.ok() || !m_file->Id(&m_id).ok()) return drop();
    }
    uint64_t size = 0;
    if (!m_file->Size(&size).ok()) return;
    m_size = qint64(size);
    if (m_size <= m_end) return;
    QByteArray tail(m_size - m_end, Qt::Uninitialized);
    size_t got = 0;
    if (!m_file->Read(m_end, tail.size(), tail.data(), &got).ok()) return;
    tail.truncate(qint64(got));
    qint64 pos = 0;
    if (m_end == 0) {
      if (tail.size() < kLogMagic.size()) return;  // a log whose making was cut short: empty
      if (!tail.startsWith(kLogMagic)) {
        m_foreign = true;  // not a log this version knows: read as nothing, never written over
        return;
      }
      pos = kLogMagic.size();
    }
    while (pos + kRecordHead <= tail.size()) {
      const char* head = tail.constData() + pos;
      const qint64 length = qFromLittleEndian<quint32>(head);
      if (length < 1 || pos + kRecordHead + length > tail.size()) break;
      const char* payload = head + kRecordHead;
      if (qFromLittleEndian<quint32>(head + 4) != Crc32(payload, length)) break;
      const qint64 idLength = static_cast<uchar>(payload[0]);
      if (1 + idLength > length) break;
      place(QByteArray(payload + 1, idLength), {m_end + pos + kRecordHead + 1 + idLength, length - 1 - idLength});
      pos += kRecordHead + length;
    }
    m_end += pos;
  }

  void place(const QByteArray& id, const Span& span) {
    if (const auto old = m_index.constFind(id); old != m_index.cend()) m_liveBytes -= old->size;
    if (span.size == 0) {
      m_index.remove(id);
    } else {
      m_index.insert(id, span);
      m_liveBytes += span.size;
    }
  }

  Problem append(const std::vector<std::pair<QByteArray, QByteArray>>& entries) {
    if (m_foreign) return FileProblem(m_logPath, xbase::Status::NotSupported("not a file this version can read"));
    QByteArray out;
    if (m_end == 0) out = kLogMagic;
    const qint64 start = out.size();
    std::vector<std::pair<QByteArray, Span>> placed;
    placed.reserve(entries.size());
    for (const auto& [id, json] : entries) {
      if (json.isEmpty() && !m_index.contains(id)) continue;  // nothing kept to remove
      if (id.isEmpty() || id.size() > 255)
        return FileProblem(m_logPath, xbase::Status::InvalidArgument("a record identifier of " +
                                                                     std::to_string(id.size()) + " bytes"));
      placed.push_back({id, {m_end + out.size() + kRecordHead + 1 + id.size(), json.size()}});
      out += Record(id, json);
    }
    if (out.size() == start) return {};
    xbase::Status s;
    if (!m_file) {
      xbase::FileId id;
      if (m_env->PathId(m_logPath, &id).ok())
        return FileProblem(m_logPath, xbase::Status::IOError("the file cannot be opened"));
      s = m_env->OpenFile(m_logPath, xbase::OpenFlags::kCreateTruncate, &m_file);
      if (s.ok()) s = m_file->Id(&m_id);
      if (s.ok()) s = m_env->SyncDir(m_logPath);
      if (!s.ok()) {
        drop();
        return FileProblem(m_logPath, s);
      }
    }
    // What a writer stopped half way left behind goes first; the records go after the last whole one.
    if (m_size != m_end) s = m_file->Truncate(m_end);
    if (s.ok()) s = m_file->Write(m_end, View(out));
    if (s.ok()) s = m_file->Sync();
    if (!s.ok()) {
      if (m_file->Truncate(m_end).ok()) m_size = m_end;
      return FileProblem(m_logPath, s);
    }
    for (const auto& [id, span] : placed) place(id, span);
    m_end = m_size = m_end + out.size();
    return {};
  }

  // Writes the latest record of each reminder (of those in `live`, when given) to a new log beside
  // the old, flushes it and renames it over: a stop at any moment leaves one of the two whole.
  Problem compact(const QSet<QByteArray>* live) {
    QByteArray out = kLogMagic;
    out.reserve(m_liveBytes + m_index.size() * 40 + kLogMagic.size());
    for (auto it = m_index.cbegin(); it != m_index.cend(); ++it) {
      if (live && !live->contains(it.key())) continue;
      QByteArray json(it->size, Qt::Uninitialized);
      if (const xbase::Status s = m_file->ReadExact(it->at, json.size(), json.data()); !s.ok())
        return FileProblem(m_logPath, s);
      out += Record(it.key(), json);
    }
    const std::string aside = m_logPath + ".new";
    std::unique_ptr<xbase::File> file;
    xbase::Status s = m_env->OpenFile(aside, xbase::OpenFlags::kCreateTruncate, &file);
    if (s.ok()) s = file->Write(0, View(out));
    if (s.ok()) s = file->Sync();
    file.reset();
    if (s.ok()) s = m_env->RenameFile(aside, m_logPath);
    if (s.ok()) s = m_env->SyncDir(m_logPath);
    if (!s.ok()) {
      m_env->RemoveFile(aside).IgnoreError();
      return FileProblem(aside, s);
    }
    drop();
    refresh();
    return {};
  }

  // The one-file-per-reminder layout ("<hex REC_NO>.json") is moved into the log once, in one
  // write; its files are removed only after that write is on the disk. A reminder the log has
  // already (a move stopped before the files were removed) keeps the log's.
  void migrate() {
    m_migrated = true;
    QDir dir(m_folder);
    const QStringList names = dir.entryList({QStringLiteral("*.json*")}, QDir::Files);
    if (names.isEmpty() || m_foreign) return;
    std::vector<std::pair<QByteArray, QByteArray>> moving;
    for (const QString& name : names) {
      if (!name.endsWith(kSuffix)) continue;
      const QByteArray id = QByteArray::fromHex(name.chopped(kSuffix.size()).toLatin1());
      QFile file(dir.filePath(name));
      if (id.isEmpty() || m_index.contains(id) || !file.open(QIODevice::ReadOnly) || file.size() > kMaxKeptFileBytes)
        continue;
      const QByteArray json = file.readAll();
      if (!json.isEmpty()) moving.push_back({id, json});
    }
    if (!moving.empty() && !append(moving).ok()) {
      m_legacy = true;  // read from the old files meanwhile
      return;
    }
    for (const QString& name : names) dir.remove(name);
  }

  QByteArray LegacyRead(const QByteArray& recordId) const {
    QFile file(m_folder + u'/' + QString::fromLatin1(recordId.toHex()) + kSuffix);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxKeptFileBytes) return {};
    return file.readAll();
  }

  std::mutex m_mutex;
  xbase::Env* const m_env;
  const QString m_folder;
  const std::string m_logPath;
  const std::string m_lockPath;
  bool m_migrated = false;
  bool m_legacy = false;   // the old layout could not be moved in
  bool m_foreign = false;  // the log is of a format this version does not know
  // The log read last, kept open: its identity cannot be given to another file meanwhile.
  std::unique_ptr<xbase::File> m_file;
  xbase::FileId m_id;
  qint64 m_end = 0;   // the end of its last whole record
  qint64 m_size = 0;  // its length when read last
  qint64 m_liveBytes = 0;
  QHash<QByteArray, Span> m_index;
};

// The log of `folder` through `env` for this process; a child made by fork() makes its own (the
// parent's lock is not its lock).
KeptLog& LogOf(const QString& folder, xbase::Env* env) {
  static std::mutex mutex;
  static auto* logs = new std::map<std::tuple<qint64, xbase::Env*, QString>,
                                   std::unique_ptr<KeptLog>>;  // never freed: a thread may read at exit
  std::lock_guard guard(mutex);
  std::unique_ptr<KeptLog>& log = (*logs)[{::getpid(), env, QDir::cleanPath(QDir::current().absoluteFilePath(folder))}];
  if (!log) log = std::make_unique<KeptLog>(folder, env);
  return *log;
}

}  // namespace

KeptEvents::KeptEvents(const QString& appFolder, xbase::Env* env)
    : m_folder(QFileInfo(data::CalendarPath(appFolder)).path() + QStringLiteral("/calendar.events")),
      m_env(env ? env : xbase::Env::Default()) {}

KeptEvents KeptEvents::BesideTable(const QString& tablePath, xbase::Env* env) {
  KeptEvents kept;
  kept.m_folder = QFileInfo(tablePath).path() + QStringLiteral("/calendar.events");
  kept.m_env = env ? env : xbase::Env::Default();
  return kept;
}

std::optional<KeptEvent> KeptEvents::Get(const QByteArray& recordId) const {
  return KeptFromJson(LogOf(m_folder, m_env).Read(recordId));
}

Problem KeptEvents::Put(const QByteArray& recordId, const KeptEvent& kept) const {
  return LogOf(m_folder, m_env).Write({{recordId, KeptJson(kept)}});
}

Problem KeptEvents::PutMany(const std::vector<std::pair<QByteArray, KeptEvent>>& many) const {
  if (many.empty()) return {};
  std::vector<std::pair<QByteArray, QByteArray>> entries(many.size());
  const auto write = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) entries[i] = {many[i].first, KeptJson(many[i].second)};
  };
  // An import's many are written out on both cores (the wait joins the other).
  const size_t half = many.size() >= 1000 ? many.size() / 2 : many.size();
  auto other = std::async(half < many.size() ? std::launch::async : std::launch::deferred, write, half, many.size());
  write(0, half);
  other.get();
  return LogOf(m_folder, m_env).Write(entries);
}

Problem KeptEvents::NoteSaved(const QByteArray& recordId, const ReminderRecord& record, bool alarmSet,
                              const QDateTime& at) const {
  return NoteSavedMany({{recordId, record, alarmSet}}, at);
}

Problem KeptEvents::NoteSavedMany(const std::vector<SavedNote>& saved, const QDateTime& at) const {
  std::vector<std::pair<QByteArray, KeptEvent>> noted;
  for (const auto& [recordId, record, alarmSet] : saved) {
    std::optional<KeptEvent> kept = Get(recordId);
    if (!kept) continue;
    if (alarmSet || !kept->hasUserAlarm) {
      kept->hasUserAlarm = record.alarmDate.isValid();
      kept->userAlarmDate = record.alarmDate;
      kept->userAlarmTime = record.alarmTime;
    }
    kept->savedAt = at;
    noted.emplace_back(recordId, std::move(*kept));
  }
  return PutMany(noted);
}

Problem KeptEvents::Remove(const QByteArray& recordId) const { return LogOf(m_folder, m_env).Write({{recordId, {}}}); }

int KeptEvents::Prune(const QSet<QByteArray>& live) const { return LogOf(m_folder, m_env).Prune(live); }

int PruneKeptEvents(xbase::Engine& engine, const QString& appFolder) {
  const KeptEvents kept(appFolder);
  if (!QFileInfo(kept.folder()).isDir()) return 0;
  const QString alias = QStringLiteral("KEPTLIVE");
  QSet<QByteArray> live;
  data::TableHandle table = data::TableHandle::Calendar(engine, appFolder, alias, false);
  xbase::Status st = table.status();
  if (table) {
    xbase::WorkArea& wa = *table;
    st = wa.SetOrder(0);
    if (st.ok()) st = wa.GoTop();
    for (; st.ok() && !wa.Eof(); st = wa.Skip(1)) {
      std::string id;
      if (wa.GetString("REC_NO", &id).ok()) live.insert(QByteArray::fromStdString(id));
    }
  }
  table.Close().IgnoreError();  // only read
  // A table that could not be read whole says nothing of what is gone.
  return st.ok() ? kept.Prune(live) : 0;
}

}  // namespace chimewise

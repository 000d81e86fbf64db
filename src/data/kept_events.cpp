#include "data/kept_events.h"

#include "data/calendar.h"

#include <xbase/engine.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

Problem FileProblem(const QString& path, const QString& why) { return {ProblemKind::FileFault, path, why}; }

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

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

bool ReadAll(int fd, char* to, qint64 size, qint64 at) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, to, static_cast<size_t>(size), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    to += n, size -= n, at += n;
  }
  return true;
}

bool WriteAll(int fd, const char* from, qint64 size, qint64 at) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, from, static_cast<size_t>(size), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n, size -= n, at += n;
  }
  return true;
}

void SyncFolder(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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

// The log of one folder, shared by every KeptEvents of this process that names it. Its index
// (where each reminder's latest JSON lies) follows what other processes append: each use compares
// the log's identity and length with what was read last and reads only what is new.
class KeptLog {
 public:
  explicit KeptLog(QString folder)
      : m_folder(std::move(folder)),
        m_logPath(QFile::encodeName(m_folder + QStringLiteral("/events.log"))),
        m_lockPath(QFile::encodeName(m_folder + QStringLiteral("/events.lock"))) {}
  ~KeptLog() {
    drop();
    if (m_lockFd >= 0) ::close(m_lockFd);
  }
  KeptLog(const KeptLog&) = delete;
  KeptLog& operator=(const KeptLog&) = delete;

  // The reminder's JSON; empty when it keeps nothing.
  QByteArray Read(const QByteArray& recordId) {
    std::lock_guard guard(m_mutex);
    if (!open(false)) return {};
    if (stale()) {
      Locked shared(m_lockFd, LOCK_SH);
      refresh();
    }
    const auto at = m_index.constFind(recordId);
    if (at == m_index.cend()) return m_legacy ? LegacyRead(recordId) : QByteArray();
    QByteArray json(at->size, Qt::Uninitialized);
    return ReadAll(m_fd, json.data(), json.size(), at->at) ? json : QByteArray();
  }

  // Appends every (identifier, JSON) in one write and one flush; an empty JSON removes.
  Problem Write(const std::vector<std::pair<QByteArray, QByteArray>>& entries) {
    std::lock_guard guard(m_mutex);
    if (!open(true)) return FileProblem(m_folder, m_openError);
    Locked exclusive(m_lockFd, LOCK_EX);
    refresh();
    Problem p = append(entries);
    if (p.ok() && m_end > kCompactAbove && m_end > 4 * m_liveBytes) p = compact(nullptr);
    return p;
  }

  // Compacts the log to the reminders in `live`; how many others kept something.
  int Prune(const QSet<QByteArray>& live) {
    std::lock_guard guard(m_mutex);
    if (!open(true)) return 0;
    Locked exclusive(m_lockFd, LOCK_EX);
    refresh();
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

  class Locked {
   public:
    Locked(int fd, int how) : m_fd(fd) {
      while (m_fd >= 0 && ::flock(m_fd, how) != 0 && errno == EINTR) {
      }
    }
    ~Locked() {
      if (m_fd >= 0) ::flock(m_fd, LOCK_UN);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

   private:
    int m_fd;
  };

  // Opens the lock file (making the folder when `create`); false when there is nothing to read or
  // nowhere to write. The first time, files of the one-file-per-reminder layout are moved in.
  bool open(bool create) {
    if (m_lockFd < 0) {
      if (create && !QDir().mkpath(m_folder)) {
        m_openError = QStringLiteral("the folder cannot be made");
        return false;
      }
      m_lockFd = ::open(m_lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (m_lockFd < 0) {
        m_openError = SystemError();
        // A folder that cannot be written to is still read (without a lock, as nothing can change).
        if (create || !QFileInfo(m_folder).isDir()) return false;
      }
    }
    if (!m_migrated) {
      m_migrated = true;
      Locked exclusive(m_lockFd, LOCK_EX);
      refresh();
      migrate();
    }
    return true;
  }

  void drop() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_end = m_size = m_liveBytes = 0;
    m_index.clear();
    m_foreign = false;
  }

  // True when the log is not the one read last or has grown since.
  bool stale() const {
    struct stat st {};
    if (::stat(m_logPath.constData(), &st) != 0) return m_fd >= 0;
    return m_fd < 0 || st.st_ino != m_ino || st.st_dev != m_dev || st.st_size != m_end;
  }

  // Reads what is new in the log. A record cut short or damaged (a writer stopped half way) ends
  // what is read: it and whatever follows it do not count, and the next writer cuts them off.
  void refresh() {
    struct stat st {};
    if (::stat(m_logPath.constData(), &st) != 0) return drop();
    if (m_fd < 0 || st.st_ino != m_ino || st.st_dev != m_dev) {
      drop();
      m_fd = ::open(m_logPath.constData(), O_RDWR | O_CLOEXEC);
      if (m_fd < 0) m_fd = ::open(m_logPath.constData(), O_RDONLY | O_CLOEXEC);
      if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return drop();
      m_ino = st.st_ino;
      m_dev = st.st_dev;
    } else if (::fstat(m_fd, &st) != 0) {
      return;
    }
    m_size = st.st_size;
    if (m_size <= m_end) return;
    QByteArray tail(m_size - m_end, Qt::Uninitialized);
    if (!ReadAll(m_fd, tail.data(), tail.size(), m_end)) return;
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
      const QByteArray id(payload + 1, idLength);
      if (const auto old = m_index.constFind(id); old != m_index.cend()) m_liveBytes -= old->size;
      const qint64 jsonSize = length - 1 - idLength;
      if (jsonSize == 0) {
        m_index.remove(id);
      } else {
        m_index.insert(id, {m_end + pos + kRecordHead + 1 + idLength, jsonSize});
        m_liveBytes += jsonSize;
      }
      pos += kRecordHead + length;
    }
    m_end += pos;
  }

  Problem append(const std::vector<std::pair<QByteArray, QByteArray>>& entries) {
    if (m_foreign) return FileProblem(QFile::decodeName(m_logPath), QStringLiteral("not a file this version can read"));
    QByteArray out;
    if (m_end == 0) out = kLogMagic;
    const qint64 start = out.size();
    std::vector<std::pair<QByteArray, Span>> placed;
    placed.reserve(entries.size());
    for (const auto& [id, json] : entries) {
      if (json.isEmpty() && !m_index.contains(id)) continue;  // nothing kept to remove
      if (id.isEmpty() || id.size() > 255)
        return FileProblem(QFile::decodeName(m_logPath),
                           QStringLiteral("a record identifier of %1 bytes").arg(id.size()));
      placed.push_back({id, {m_end + out.size() + kRecordHead + 1 + id.size(), json.size()}});
      out += Record(id, json);
    }
    if (out.size() == start) return {};
    if (m_fd < 0) {
      m_fd = ::open(m_logPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      struct stat st {};
      if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        const Problem p = FileProblem(QFile::decodeName(m_logPath), SystemError());
        drop();
        return p;
      }
      m_ino = st.st_ino;
      m_dev = st.st_dev;
      SyncFolder(m_folder);
    }
    // What a writer stopped half way left behind goes first; the records go after the last whole one.
    const bool ok = (m_size == m_end || ::ftruncate(m_fd, m_end) == 0) &&
                    WriteAll(m_fd, out.constData(), out.size(), m_end) && ::fdatasync(m_fd) == 0;
    if (!ok) {
      const Problem p = FileProblem(QFile::decodeName(m_logPath), SystemError());
      if (::ftruncate(m_fd, m_end) == 0) m_size = m_end;
      return p;
    }
    for (const auto& [id, span] : placed) {
      if (const auto old = m_index.constFind(id); old != m_index.cend()) m_liveBytes -= old->size;
      if (span.size == 0) {
        m_index.remove(id);
      } else {
        m_index.insert(id, span);
        m_liveBytes += span.size;
      }
    }
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
      if (!ReadAll(m_fd, json.data(), json.size(), it->at))
        return FileProblem(QFile::decodeName(m_logPath), SystemError());
      out += Record(it.key(), json);
    }
    const QByteArray aside = m_logPath + ".new";
    const int fd = ::open(aside.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0 && WriteAll(fd, out.constData(), out.size(), 0) && ::fdatasync(fd) == 0;
    if (fd >= 0) ::close(fd);
    ok = ok && ::rename(aside.constData(), m_logPath.constData()) == 0;
    if (!ok) {
      const Problem p = FileProblem(QFile::decodeName(aside), SystemError());
      ::unlink(aside.constData());
      return p;
    }
    SyncFolder(m_folder);
    drop();
    refresh();
    return {};
  }

  // The one-file-per-reminder layout ("<hex REC_NO>.json") is moved into the log once, in one
  // write; its files are removed only after that write is on the disk. A reminder the log has
  // already (a move stopped before the files were removed) keeps the log's.
  void migrate() {
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
  const QString m_folder;
  const QByteArray m_logPath;
  const QByteArray m_lockPath;
  QString m_openError;
  int m_lockFd = -1;
  bool m_migrated = false;
  bool m_legacy = false;   // the old layout could not be moved in
  bool m_foreign = false;  // the log is of a format this version does not know
  int m_fd = -1;           // the log read last, kept open: its identity cannot be reused meanwhile
  dev_t m_dev = 0;
  ino_t m_ino = 0;
  qint64 m_end = 0;   // the end of its last whole record
  qint64 m_size = 0;  // its length when read last
  qint64 m_liveBytes = 0;
  QHash<QByteArray, Span> m_index;
};

// The log of `folder` for this process; a child made by fork() makes its own (the parent's lock
// is not its lock).
KeptLog& LogOf(const QString& folder) {
  static std::mutex mutex;
  static auto* logs = new std::map<QString, std::unique_ptr<KeptLog>>;  // never freed: a thread may read at exit
  const QString key = QString::number(::getpid()) + u'|' + QDir::cleanPath(QDir::current().absoluteFilePath(folder));
  std::lock_guard guard(mutex);
  std::unique_ptr<KeptLog>& log = (*logs)[key];
  if (!log) log = std::make_unique<KeptLog>(folder);
  return *log;
}

}  // namespace

KeptEvents::KeptEvents(const QString& appFolder)
    : m_folder(QFileInfo(data::CalendarPath(appFolder)).path() + QStringLiteral("/calendar.events")) {}

KeptEvents KeptEvents::BesideTable(const QString& tablePath) {
  KeptEvents kept;
  kept.m_folder = QFileInfo(tablePath).path() + QStringLiteral("/calendar.events");
  return kept;
}

std::optional<KeptEvent> KeptEvents::Get(const QByteArray& recordId) const {
  const QJsonObject o = QJsonDocument::fromJson(LogOf(m_folder).Read(recordId)).object();
  if (o.isEmpty()) return std::nullopt;
  KeptEvent k;
  k.uid = o.value("uid").toString();
  k.resource = o.value("resource").toString().toUtf8();
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

namespace {

QByteArray KeptJson(const KeptEvent& kept) {
  QJsonObject o{{"uid", kept.uid}};
  // Calendar text is UTF-8 (RFC 5545); a resource too large to keep is fetched again when needed.
  if (kept.resource.size() <= kMaxKeptResourceBytes) o.insert("resource", QString::fromUtf8(kept.resource));
  if (kept.hasSynced) o.insert("synced", RecordJson(kept.synced));
  if (kept.hasUserAlarm) {
    o.insert("userAlarmDate", kept.userAlarmDate.toString(Qt::ISODate));
    o.insert("userAlarmTime", kept.userAlarmTime);
  }
  if (kept.savedAt.isValid()) o.insert("savedAt", kept.savedAt.toUTC().toString(Qt::ISODate));
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

}  // namespace

Problem KeptEvents::Put(const QByteArray& recordId, const KeptEvent& kept) const {
  return LogOf(m_folder).Write({{recordId, KeptJson(kept)}});
}

Problem KeptEvents::PutMany(const std::vector<std::pair<QByteArray, KeptEvent>>& many) const {
  if (many.empty()) return {};
  std::vector<std::pair<QByteArray, QByteArray>> entries;
  entries.reserve(many.size());
  for (const auto& [recordId, kept] : many) entries.push_back({recordId, KeptJson(kept)});
  return LogOf(m_folder).Write(entries);
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

Problem KeptEvents::Remove(const QByteArray& recordId) const { return LogOf(m_folder).Write({{recordId, {}}}); }

int KeptEvents::Prune(const QSet<QByteArray>& live) const { return LogOf(m_folder).Prune(live); }

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

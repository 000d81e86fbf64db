// A Maildir walked by hand: new/ holds messages never looked at, cur/ the others with their flags
// after ":2," in the file name (S: seen). Marking seen moves a message to cur/ and adds S.

#include "mailbox/mailbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mailbox {

namespace {

struct Entry {
  QString path;
  QString unique;        // the name before the ":2," info
  QString flags;         // the letters after ":2,"
  qint64 delivered = 0;  // milliseconds since 1970
};

// An entry of new/ or cur/ by its name; the file is looked at only when the name does not tell
// when it was delivered.
Entry EntryOf(const QString& folder, const QString& name, bool inNew) {
  Entry e;
  e.path = folder + u'/' + name;
  const qsizetype info2 = name.indexOf(QStringLiteral(":2,"));
  e.unique = info2 < 0 ? name : name.left(info2);
  if (info2 >= 0 && !inNew) e.flags = name.mid(info2 + 3);
  // A delivery agent names the file after the moment of delivery, in seconds since 1970.
  bool ok = false;
  const qint64 secs = e.unique.section(u'.', 0, 0).toLongLong(&ok);
  if (ok && secs > 0 && secs < 32503680000LL)
    e.delivered = secs * 1000;
  else
    e.delivered = QFileInfo(e.path).lastModified().toMSecsSinceEpoch();
  return e;
}

// A message file's bytes, or why they cannot be had. The file is opened without blocking (a FIFO
// would wait for a writer for ever) and read only when it is a regular file, a symbolic link to
// one included; never more than the size limit is read, whatever the file claims its size is.
struct FileBytes {
  bool gone = false;  // no longer there: delivered or moved on meanwhile by another program
  QByteArray bytes;
  QString problem;  // fits after "because"
};

// Why a file could not be read, in the words of this library rather than the system's.
QString ReadProblem(int error) {
  if (error == EACCES || error == EPERM) return QStringLiteral("its file may not be read");
  if (error == ELOOP) return QStringLiteral("its file is a loop of links");
  return QStringLiteral("its file cannot be read");
}

FileBytes ReadMessageFile(const QString& path) {
  FileBytes r;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      r.gone = true;
    else
      r.problem = ReadProblem(errno);
    return r;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    r.problem = QStringLiteral("it is not a regular file");
    return r;
  }
  if (st.st_size > kMaxMessageBytes) {
    ::close(fd);
    r.problem = QStringLiteral("it is too large to read");
    return r;
  }
  r.bytes.resize(static_cast<qsizetype>(st.st_size) + 1);
  qsizetype have = 0;
  while (true) {
    if (have == r.bytes.size()) {
      if (have > kMaxMessageBytes) break;
      r.bytes.resize(std::min<qsizetype>(have * 2 + 4096, kMaxMessageBytes + 1));
    }
    const ssize_t got = ::read(fd, r.bytes.data() + have, static_cast<size_t>(r.bytes.size() - have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      r.problem = ReadProblem(errno);
      break;
    }
    if (got == 0) break;
    have += got;
  }
  ::close(fd);
  r.bytes.resize(have);
  if (r.problem.isEmpty() && have > kMaxMessageBytes) r.problem = QStringLiteral("it is too large to read");
  if (!r.problem.isEmpty()) r.bytes.clear();
  return r;
}

class MaildirMailbox final : public Mailbox {
 public:
  explicit MaildirMailbox(QString folder) : m_folder(std::move(folder)) {}

  Failure Open() override {
    const QDir dir(m_folder);
    if (!dir.exists())
      return {FailureKind::NotFound,
              QStringLiteral("the folder %1 does not exist").arg(QDir::toNativeSeparators(m_folder))};
    if (!dir.exists(QStringLiteral("cur")) || !dir.exists(QStringLiteral("new")))
      return {FailureKind::NotFound,
              QStringLiteral("the folder %1 is not a mail folder").arg(QDir::toNativeSeparators(m_folder))};
    if (!QFileInfo(dir.filePath(QStringLiteral("cur"))).isReadable() ||
        !QFileInfo(dir.filePath(QStringLiteral("new"))).isReadable())
      return {FailureKind::Other,
              QStringLiteral("the folder %1 may not be read").arg(QDir::toNativeSeparators(m_folder))};
    return {};
  }

  std::optional<int> UnseenCount(Failure* failure) override {
    auto entries = Walk(failure);
    if (!entries) return std::nullopt;
    return static_cast<int>(std::count_if(entries->begin(), entries->end(), [](const Entry& e) { return !Seen(e); }));
  }

  std::optional<std::vector<MailMessage>> UnseenMessages(Failure* failure, const QDateTime& onlyAfter) override {
    auto entries = Walk(failure);
    if (!entries) return std::nullopt;
    std::vector<MailMessage> out;
    for (const Entry& e : *entries) {
      if (Seen(e)) continue;
      MailMessage m;
      if (onlyAfter.isValid() && e.delivered <= onlyAfter.toMSecsSinceEpoch()) {
        // Not wanted: known by its delivery time alone.
      } else {
        FileBytes file = ReadMessageFile(e.path);
        if (file.gone) continue;  // no longer ours to read
        if (file.problem.isEmpty())
          m = ParseMessage(file.bytes);
        else
          m.problem = file.problem;
      }
      m.id = e.unique;
      m.seen = false;
      m.received = QDateTime::fromMSecsSinceEpoch(e.delivered);
      out.push_back(std::move(m));
    }
    return out;
  }

  Failure MarkSeen(const QStringList& ids) override {
    Failure failure;
    auto entries = Walk(&failure);
    if (!entries) return failure;
    const QDir dir(m_folder);
    const QSet<QString> wanted(ids.begin(), ids.end());
    for (const Entry& e : *entries) {
      if (!wanted.contains(e.unique) || Seen(e)) continue;
      QString flags = e.flags + u'S';
      std::sort(flags.begin(), flags.end());
      const QString target = dir.filePath(QStringLiteral("cur/") + e.unique + QStringLiteral(":2,") + flags);
      if (!MoveAside(e.path, target))
        failure = {FailureKind::Other, QStringLiteral("a message could not be marked as read")};
    }
    return failure;
  }

 private:
  static bool Seen(const Entry& e) { return e.flags.contains(u'S'); }

  // Renames a message file within the Maildir, never over another file; a file no longer there
  // (another program moved it on meanwhile) is no failure. One call per message: a check may
  // mark many thousands.
  static bool MoveAside(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    int result;
    do result = ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    while (result != 0 && errno == EINTR);
    if (result == 0 || errno == ENOENT) return true;
    // A file system that cannot promise not to replace: Qt's rename never replaces either.
    if (errno == EINVAL || errno == ENOSYS) return QFile::rename(from, to) || !QFile::exists(from);
    return false;
  }

  // Every message of new/ and cur/, oldest delivery first.
  std::optional<std::vector<Entry>> Walk(Failure* failure) {
    if (Failure f = Open(); !f.ok()) {
      if (failure) *failure = f;
      return std::nullopt;
    }
    std::vector<Entry> entries;
    for (const char* sub : {"new", "cur"}) {
      const QString folder = m_folder + u'/' + QLatin1String(sub);
      const bool inNew = sub[0] == 'n';
      // Read straight from the directory: one pass, no look at each file. FIFOs, devices and
      // links are listed too, to be reported when read rather than passed over in silence.
      DIR* d = ::opendir(QFile::encodeName(folder).constData());
      if (!d) continue;
      while (const dirent* de = ::readdir(d)) {
        if (de->d_name[0] == '.' || de->d_type == DT_DIR) continue;
        const QString name = QFile::decodeName(de->d_name);
        if (de->d_type == DT_UNKNOWN && QFileInfo(folder + u'/' + name).isDir()) continue;
        entries.push_back(EntryOf(folder, name, inNew));
      }
      ::closedir(d);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.delivered != b.delivered ? a.delivered < b.delivered : a.unique < b.unique;
    });
    return entries;
  }

  QString m_folder;
};

}  // namespace

std::unique_ptr<Mailbox> OpenMaildir(const QString& folder) { return std::make_unique<MaildirMailbox>(folder); }

}  // namespace mailbox

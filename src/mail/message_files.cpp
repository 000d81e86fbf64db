#include "mail/message_files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chimewise {

namespace {
constexpr QFileDevice::Permissions kUserOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
}

QString MessageFiles::DefaultFolder(const QString& appFolder) { return appFolder + QStringLiteral("/NewMail"); }

QString MessageFiles::path(int index) const { return m_folder + QStringLiteral("/mail%1.txt").arg(index); }

QString MessageFiles::find(int index) const {
  const QString exact = path(index);
  if (QFile::exists(exact)) return exact;
  const QString wanted = QStringLiteral("mail%1.txt").arg(index);
  for (const QString& name : QDir(m_folder).entryList(QDir::Files))
    if (name.compare(wanted, Qt::CaseInsensitive) == 0) return m_folder + u'/' + name;
  return {};
}

namespace {

// Opens a new file for writing, for the user only from its first moment; -1 with errno set when
// it cannot. An existing name, a link included, is never opened.
int OpenNew(const QByteArray& name) {
  int fd;
  do fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteWhole(int fd, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

Problem MessageFiles::Write(int index, const QStringList& lines) const {
  const auto fail = [](const QString& why) { return Problem{ProblemKind::FileFault, {}, why}; };
  QByteArray bytes;
  for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
  // A check may write a file for each of many thousand messages: the usual case (a new name in
  // a folder that is there) costs one open, one write and one close. The folder is made, or an
  // old file of the same name removed, only when the open says so. Files named in another letter
  // case go at the start (RemoveAll), so only the exact name can be in the way.
  const QString target = path(index);
  const QByteArray name = QFile::encodeName(target);
  int fd = OpenNew(name);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
    if (!QDir().mkpath(m_folder)) return fail(QStringLiteral("the folder %1 cannot be made").arg(m_folder));
    QFile::setPermissions(m_folder, kUserOnly | QFileDevice::ExeOwner);
    fd = OpenNew(name);
  }
  if (fd < 0 && errno == EEXIST) {
    ::unlink(name.constData());
    fd = OpenNew(name);
  }
  if (fd < 0)
    return fail(errno == EACCES || errno == EPERM || errno == EROFS
                    ? QStringLiteral("the folder %1 may not be written to").arg(m_folder)
                    : QStringLiteral("the file %1 cannot be made").arg(target));
  const bool written = WriteWhole(fd, bytes);
  if (::close(fd) != 0 || !written) {
    ::unlink(name.constData());
    return fail(QStringLiteral("the file %1 cannot be written (is the disk full?)").arg(target));
  }
  return {};
}

std::optional<QStringList> MessageFiles::Read(int index) const {
  const QString p = find(index);
  if (p.isEmpty()) return std::nullopt;
  QFile f(p);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  QString text = QString::fromUtf8(f.readAll());
  if (text.endsWith(QStringLiteral("\r\n"))) text.chop(2);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text.isEmpty() ? QStringList() : text.split(u'\n');
}

void MessageFiles::Remove(int index) const {
  if (const QString p = find(index); !p.isEmpty()) QFile::remove(p);
}

void MessageFiles::RemoveAll() const {
  static const QRegularExpression name(QStringLiteral("^mail[0-9]+\\.txt$"), QRegularExpression::CaseInsensitiveOption);
  for (const QString& f : QDir(m_folder).entryList(QDir::Files))
    if (name.match(f).hasMatch()) QFile::remove(m_folder + u'/' + f);
}

}  // namespace chimewise

#include "mail/message_files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

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

bool MessageFiles::Write(int index, const QStringList& lines, QString* error) const {
  QDir dir(m_folder);
  if (!dir.exists()) {
    if (!QDir().mkpath(m_folder)) {
      if (error) *error = QStringLiteral("the folder %1 cannot be made").arg(m_folder);
      return false;
    }
    QFile::setPermissions(m_folder, kUserOnly | QFileDevice::ExeOwner);
  }
  // Only the exact name can be there: files named in another letter case go at the start
  // (RemoveAll). Looking no further keeps writing n files linear in n.
  const QString target = path(index);
  QFile::remove(target);
  QFile f(target);
  // Created with the user's permissions only, never readable by others even for a moment.
  if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly, kUserOnly)) {
    if (error)
      *error = f.error() == QFileDevice::PermissionsError
                   ? QStringLiteral("the folder %1 may not be written to").arg(m_folder)
                   : QStringLiteral("the file %1 cannot be made").arg(target);
    return false;
  }
  QByteArray bytes;
  for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
  if (f.write(bytes) != bytes.size() || !f.flush()) {
    if (error) *error = QStringLiteral("the file %1 cannot be written (is the disk full?)").arg(target);
    f.close();
    QFile::remove(target);
    return false;
  }
  return true;
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

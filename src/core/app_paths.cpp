#include "core/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

#ifndef CHIMEWISE_SOURCE_ASSETS
#define CHIMEWISE_SOURCE_ASSETS ""
#endif
#ifndef CHIMEWISE_INSTALLED_SHARE
#define CHIMEWISE_INSTALLED_SHARE ""
#endif

namespace chimewise {

namespace {
// What of the template belongs in an application folder: the tables, the sounds, the help pages
// and the first-run marker. Characters stay installed; generators and icons are not data.
bool belongsInAppFolder(const QString& rel) {
  static const QStringList topLevel = {"data", "sound", "helpfile", "jokes.dbf", "jokes.fpt", "chiminst.dll"};
  const QString first = rel.section(u'/', 0, 0).toLower();
  if (!topLevel.contains(first)) return false;
  if (rel.endsWith(QStringLiteral(".sh")) || rel.endsWith(QStringLiteral(".py"))) return false;
  if (first == QStringLiteral("data")) return rel.section(u'/', 1).toUpper().startsWith(QStringLiteral("CALENDAR."));
  return true;
}

QString stripSlash(QString p) {
  while (p.size() > 1 && p.endsWith(u'/')) p.chop(1);
  return p;
}
}  // namespace

QString DefaultAppFolder() { return stripSlash(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)); }

QString SettingsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/settings.ini");
}

QString TemplateFolder() {
  const QString env = qEnvironmentVariable("CHIMEWISE_TEMPLATE_DIR");
  if (!env.isEmpty()) return QDir(env).exists() ? stripSlash(env) : QString();
  QStringList candidates;
  if (QCoreApplication::instance())
    candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/olm-chimewise");
  candidates << QStringLiteral(CHIMEWISE_INSTALLED_SHARE) << QStringLiteral(CHIMEWISE_SOURCE_ASSETS);
  for (const QString& c : candidates)
    if (!c.isEmpty() && QFileInfo(c + QStringLiteral("/data")).isDir()) return QDir(c).canonicalPath();
  return {};
}

QString WindowsFolderPath() {
  const QString base = DefaultAppFolder();
  if (base.isEmpty()) return {};
  return base.endsWith(u'/') ? base : base + u'/';
}

QStringList CharacterFolders() {
  QStringList out;
  const QString w = WindowsFolderPath();
  if (!w.isEmpty()) out << w + QStringLiteral("msagent/chars");
  const QString t = TemplateFolder();
  if (!t.isEmpty()) out << t + QStringLiteral("/characters");
  return out;
}

std::optional<QString> FindPathNoCase(const QString& folder, const QString& relativePath) {
  QString current = stripSlash(folder);
  if (!QFileInfo(current).isDir()) return std::nullopt;
  const QStringList parts = relativePath.split(u'/', Qt::SkipEmptyParts);
  for (const QString& part : parts) {
    const QString exact = current + u'/' + part;
    if (QFileInfo::exists(exact)) {
      current = exact;
      continue;
    }
    const QStringList names =
        QDir(current).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QString found;
    for (const QString& n : names)
      if (n.compare(part, Qt::CaseInsensitive) == 0) {
        found = n;
        break;
      }
    if (found.isEmpty()) return std::nullopt;
    current += u'/' + found;
  }
  return current;
}

SeedResult SeedAppFolder(const QString& appFolder, const QString& templateFolder) {
  SeedResult r;
  if (FindPathNoCase(appFolder, QStringLiteral("data/CALENDAR.DBF"))) return r;
  if (templateFolder.isEmpty()) {
    r.error =
        QStringLiteral("The program's template files could not be found, so %1 could not be set up.").arg(appFolder);
    return r;
  }
  if (!QDir().mkpath(appFolder)) {
    r.error = QStringLiteral("Could not create the folder %1").arg(appFolder);
    return r;
  }
  const QDir from(templateFolder);
  QDirIterator it(templateFolder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString src = it.next();
    const QString rel = from.relativeFilePath(src);
    if (!belongsInAppFolder(rel)) continue;
    if (FindPathNoCase(appFolder, rel)) continue;
    const QString dst = appFolder + u'/' + rel;
    QDir().mkpath(QFileInfo(dst).absolutePath());
    if (!QFile::copy(src, dst)) {
      r.error = QStringLiteral("Could not copy %1 to %2").arg(src, dst);
      return r;
    }
    // Template files are installed read-only; the user's copies must be writable.
    QFile(dst).setPermissions(QFile(dst).permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
  }
  r.seeded = true;
  return r;
}

QString InstanceKey() { return QStringLiteral("olm-chimewise-%1").arg(::getuid()); }

}  // namespace chimewise

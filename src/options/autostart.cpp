#include "options/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace chimewise {

namespace {

const QString kCannotStart = QStringLiteral("Olm Chimewise could not be set to start when you log in: %1");
const QString kCannotStop = QStringLiteral("Olm Chimewise could not be kept from starting when you log in: %1");

// A value as a desktop entry file keeps a string: backslashes and control characters escaped.
QString escapedString(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (const QChar c : value) {
    switch (c.unicode()) {
      case u'\\': out += QStringLiteral("\\\\"); break;
      case u'\n': out += QStringLiteral("\\n"); break;
      case u'\t': out += QStringLiteral("\\t"); break;
      case u'\r': out += QStringLiteral("\\r"); break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

QString AutostartFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString AutostartEntryPath() {
  return AutostartFolder() + u'/' + QLatin1String(kApplicationId) + QStringLiteral(".desktop");
}

bool AutostartEntryEnabled(const QString& entryText) {
  bool inEntry = false;
  const QStringList lines = entryText.split(u'\n');
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(u'#')) continue;
    if (line.startsWith(u'[')) {
      inEntry = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (!inEntry || eq < 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key == QLatin1String("Hidden") && value == QLatin1String("true")) return false;
    if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false")) return false;
  }
  return true;
}

bool StartsAtLogin() {
  QFile file(AutostartEntryPath());
  if (!file.open(QIODevice::ReadOnly)) return false;
  return AutostartEntryEnabled(QString::fromUtf8(file.readAll()));
}

QString DesktopExecArgument(const QString& argument) {
  QString quoted = QStringLiteral("\"");
  for (const QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    // A lone % would start a field code, inside quotes too.
    if (c == u'%') quoted += u'%';
    quoted += c;
  }
  quoted += u'"';
  return escapedString(quoted);
}

QString AutostartEntryText(const QString& program) {
  return QStringLiteral(
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Name=Olm Chimewise\n"
             "Comment=Reminders, a talking clock and your new mail, told by a character on your desktop\n"
             "Icon=olm-chimewise\n"
             // Once the program is gone, desktops skip the entry instead of failing at each login.
             "TryExec=%2\n"
             "Exec=%1\n"
             "Terminal=false\n"
             "X-GNOME-Autostart-enabled=true\n")
      .arg(DesktopExecArgument(program), escapedString(program));
}

QString EnableStartAtLogin(const QString& program) {
  if (program.isEmpty() || QFileInfo(program).isRelative())
    return kCannotStart.arg(QStringLiteral("the program's own location is not known."));
  const QString folder = AutostartFolder();
  if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
    return kCannotStart.arg(QStringLiteral("the folder \"%1\" could not be created.").arg(folder));
  QSaveFile file(AutostartEntryPath());
  if (file.open(QIODevice::WriteOnly)) {
    file.write(AutostartEntryText(program).toUtf8());
    if (file.commit()) return QString();
  }
  return kCannotStart.arg(QStringLiteral("\"%1\" could not be written (%2).").arg(file.fileName(), file.errorString()));
}

QString DisableStartAtLogin() {
  QFile file(AutostartEntryPath());
  const QFileInfo info(file.fileName());
  if ((!info.exists() && !info.isSymLink()) || file.remove()) return QString();
  return kCannotStop.arg(QStringLiteral("\"%1\" could not be removed (%2).").arg(file.fileName(), file.errorString()));
}

}  // namespace chimewise

#include "core/command_line.h"

#include <QDir>

namespace chimewise {

CommandLine ParseCommandLine(const QString& wholeLine, const QString& ownFolder) {
  const QString line = wholeLine.trimmed();
  CommandLine result;
  const qsizetype bar = line.indexOf(u'|');
  QString keyword;
  if (bar >= 0) {
    result.appFolder = line.left(bar).trimmed();
    // A trailing separator would make "folder/" and "folder" two different names.
    while (result.appFolder.size() > 1 && result.appFolder.endsWith(u'/')) result.appFolder.chop(1);
    // Nothing before the bar names no folder: the program's own folder, as with no bar at all.
    result.folderGiven = !result.appFolder.isEmpty();
    if (!result.folderGiven) result.appFolder = ownFolder;
    keyword = line.mid(bar + 1);
  } else {
    result.appFolder = ownFolder;
    keyword = line;
  }
  result.showViewer = keyword.trimmed().compare(QStringLiteral("SHOW"), Qt::CaseInsensitive) == 0;
  return result;
}

QString JoinArguments(const QStringList& argumentsWithProgram) { return argumentsWithProgram.mid(1).join(u' '); }

}  // namespace chimewise

#pragma once
// The program's command line: either a keyword alone ("show"), or a folder, "|" and a keyword
// ("/home/me/reminders|show"). The keyword "SHOW", in any letter case, opens the Reminder Viewer.

#include <QString>
#include <QStringList>

namespace chimewise {

// The line another process (the command-line tool) sends to make the running program look at the
// reminder table again.
inline const QString kRefreshCommand = QStringLiteral("--refresh-reminders");

struct CommandLine {
  QString appFolder;  // the folder named on the command line, or ownFolder
  bool showViewer = false;
  bool folderGiven = false;
};

// Reads the whole command line (arguments joined by blanks). The folder keeps the letter case it
// was typed in: names on this system are case-sensitive, so changing it would name another folder.
CommandLine ParseCommandLine(const QString& wholeLine, const QString& ownFolder);

// The arguments after the program name, joined by single blanks.
QString JoinArguments(const QStringList& argumentsWithProgram);

}  // namespace chimewise

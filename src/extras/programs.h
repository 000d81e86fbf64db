#pragma once
// Other programs the character starts: the sibling programs that may be installed in the
// application folder, and the desktop's system-information tool (the About window).

#include <QString>
#include <QStringList>
#include <vector>

namespace chimewise {

class Prompter;

// The sibling programs, by the base name they are installed under.
inline const QString kJesterboxProgram = QStringLiteral("JESTBOX");    // jokes and quotes
inline const QString kMailcasterProgram = QStringLiteral("OLMEMAIL");  // mail cartoons

// The sibling program `baseName` in `folder`: a file named baseName or baseName + ".EXE", in any
// letter case, that the user may run. Empty when there is none (a file that is not executable
// does not count). When several names match, the first in sorted order is taken.
QString FindSiblingProgram(const QString& folder, const QString& baseName);

struct LaunchResult {
  bool started = false;
  int number = 0;       // the system's error number (errno) when it can be told, else Qt's
  QString description;  // what went wrong
};

// Starts a program detached from this one (it lives on when the program quits), with
// `arguments` and `workingFolder` as its working folder.
LaunchResult StartDetached(const QString& program, const QStringList& arguments, const QString& workingFolder);

// What starts other programs; tests implement it to watch what would have been started.
class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  virtual LaunchResult start(const QString& program, const QStringList& arguments, const QString& workingFolder) = 0;
};

// StartDetached; lives as long as the program.
ProgramLauncher& SystemLauncher();

// Starts the sibling program `baseName` found in `appFolder`, with the folder as its working
// folder. Returns false, having done nothing, when it is not installed; a failure to start it is
// told through the prompter ("Program Error", "Error Olm Jesterbox " + number + " " + description;
// the mail program's box names "Olm Mailcaster").
bool LaunchSiblingProgram(const QString& appFolder, const QString& baseName, Prompter& prompter);

// The system-information programs the About window offers, most wanted first: programs that
// show the computer's hardware and system in one window (as the About window's button promises),
// then the desktops' own "about this computer" pages, then lshw-gtk, which shows little
// without root rights.
struct SystemInfoProgram {
  QString name;  // looked up on PATH
  QStringList arguments;
};
const std::vector<SystemInfoProgram>& SystemInfoPrograms();

// The first program of SystemInfoPrograms found on PATH, as its full path; `arguments` receives
// its arguments. Empty when none is installed.
QString FindSystemInfoProgram(QStringList* arguments = nullptr);

// Starts the system-information program; when none is found or it does not start, tells the user
// "System Information Is Unavailable At This Time" (title "System Information"). It starts in the
// user's home folder.
void StartSysInfo(Prompter& prompter, ProgramLauncher& launcher = SystemLauncher());

}  // namespace chimewise

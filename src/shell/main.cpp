// The start routine of Olm Chimewise.

#include "core/app_paths.h"
#include "core/clock.h"
#include "core/command_line.h"
#include "core/program_version.h"
#include "core/prompts.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "options/autostart.h"
#include "shell/hidden_main_window.h"
#include "shell/program.h"
#include "shell/qt_prompter.h"

#include <instance/single_instance.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace chimewise;

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminate(int) {
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// The character window must be placed and kept on top, which plain Wayland clients cannot do:
// use XWayland when the session offers it.
void preferX11OnWayland() {
  if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
  if (qEnvironmentVariable("XDG_SESSION_TYPE") == QStringLiteral("wayland") && qEnvironmentVariableIsSet("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "xcb");
}

// Whether a session bus is there to be reached. Without its address and without a bus socket in
// XDG_RUNTIME_DIR, the D-Bus library would start a bus of its own with dbus-launch, which outlives
// the program: there is then no desktop to notify.
bool SessionBusRuns() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  struct stat st {};
  return !runtime.isEmpty() && ::stat(QFile::encodeName(runtime + QStringLiteral("/bus")).constData(), &st) == 0 &&
         S_ISSOCK(st.st_mode);
}

// With CHIMEWISE_STARTUP_REPORT set, says on the error stream how long the start took to its first
// tick and how much memory the program holds then.
void reportStartUp(HiddenMainWindow& mainWindow, const QElapsedTimer& sinceStart, qint64 readyMs) {
  if (!qEnvironmentVariableIsSet("CHIMEWISE_STARTUP_REPORT")) return;
  auto* once = new QMetaObject::Connection;
  *once = QObject::connect(&mainWindow.timer1(), &QTimer::timeout, &mainWindow, [once, sinceStart, readyMs] {
    QObject::disconnect(*once);
    delete once;
    QFile status(QStringLiteral("/proc/self/status"));
    QByteArray rss = "unknown";
    if (status.open(QIODevice::ReadOnly))
      for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) rss = line.mid(6).trimmed();
    std::fprintf(stderr, "Olm Chimewise: ready after %lld ms; first tick after %lld ms; resident %s\n",
                 static_cast<long long>(readyMs), static_cast<long long>(sinceStart.elapsed()), rss.constData());
  });
}

// Objects handed to deleteLater() while the event loop ran and not deleted by the time it ended
// go now, before their owners are destroyed: nothing may be left for a destructor that spins
// the event loop once (the sound device's) to delete under its owner.
void FinishDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// A start that ends with a box up (already running, could not start) ends once the box is closed:
// the event loop runs for it alone, as the outermost loop of this start.
int EndOnceBoxesClose(QtPrompter& prompter, int code) {
  if (prompter.openBoxes() == 0) return code;
  prompter.whenNoneOpen([code] { QCoreApplication::exit(code); });
  return QApplication::exec();
}

// --help and --version answer and end before anything starts: no display, no data folder.
// Returns the exit status when the command line was one of them.
std::optional<int> AnswerInformationOptions(int argc, char* argv[]) {
  if (argc != 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option == "--version") {
    std::printf("Olm Chimewise %s\n", version::kText);
    return 0;
  }
  if (option == "--help" || option == "-h") {
    std::printf(
        "Usage: chimewise [show]\n"
        "       chimewise 'FOLDER|[show]'\n"
        "Olm Chimewise: desktop reminders read aloud by an animated, talking character.\n"
        "\n"
        "  show        open the Reminder Viewer at start\n"
        "  FOLDER|     keep the mainWindow, sounds and help pages in FOLDER\n"
        "  --help      show this help and end\n"
        "  --version   show the version and end\n"
        "\n"
        "A second start hands its command line to the running program. See chimewise(1),\n"
        "and chimewise-cli(1) for the command-line companion.\n");
    return 0;
  }
  return std::nullopt;
}

// The program, from its start to the end of its own shutdown: every window closed, the tables
// written and closed, the settings written, every thread of its own joined.
int RunProgram(int argc, char* argv[]) {
  QElapsedTimer sinceStart;
  sinceStart.start();
  // SIGTERM and SIGINT run the same shutdown as Quit. They are caught from the first moment: one
  // that comes while the program is still starting waits in the pipe until the program can act.
  const bool signalsCaught = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0;
  if (signalsCaught) {
    std::signal(SIGTERM, onTerminate);
    std::signal(SIGINT, onTerminate);
  }
  preferX11OnWayland();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Olm Chimewise"));
  QApplication::setApplicationVersion(QString::fromLatin1(version::kText));
  QApplication::setQuitOnLastWindowClosed(false);
  // The installed menu entry, so desktops match the program's windows to its name and icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));

  QtPrompter qtPrompter;
  Prompter& prompter = qtPrompter;
  const QString wholeLine = JoinArguments(QApplication::arguments());

  // One instance per user: a later start hands its command line over and ends.
  instance::SingleInstance oneInstance(InstanceKey());
  if (!oneInstance.becomePrimary()) {
    // Nothing to shut down here: a signal ends this start at once, as it would any program.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    oneInstance.sendToPrimary(wholeLine);
    prompter.notice(QStringLiteral("Olm Chimewise is already running. Check the System Tray."),
                    QStringLiteral("Program Is Loaded"));
    return EndOnceBoxesClose(qtPrompter, 0);
  }

  // CHIMEWISE_START_TIME="YYYY-MM-DD HH:MM:SS" starts the program's clock at that moment.
  SystemClock systemClock;
  std::unique_ptr<OffsetClock> startedClock;
  if (const QString start = qEnvironmentVariable("CHIMEWISE_START_TIME"); !start.isEmpty()) {
    const QDateTime at = QDateTime::fromString(start, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (at.isValid()) startedClock = std::make_unique<OffsetClock>(at);
  }
  Clock& clock = startedClock ? static_cast<Clock&>(*startedClock) : systemClock;

  // The program's shared state: one per process, handed to every part that reads or writes it.
  SharedState state;
  const CommandLine cmd = ParseCommandLine(wholeLine, DefaultAppFolder());
  state.AppFolder = cmd.appFolder;

  const SeedResult seed = SeedAppFolder(state.AppFolder, TemplateFolder());
  if (!seed.error.isEmpty()) prompter.notice(seed.error, QString(), PromptIcon::Warning);

  SettingsStore settings(SettingsFilePath());
  settings.createIfMissing();

  // The user's own character store exists from the first start on, so characters can be added.
  QDir().mkpath(WindowsFolderPath() + QStringLiteral("msagent/chars"));
  ProgramSetup programSetup{CharacterFolders(), WindowsFolderPath(),
                            qEnvironmentVariable("CHIMEWISE_AUDIO") == QStringLiteral("silent"), std::nullopt};
  if (SessionBusRuns()) programSetup.notificationBus = QDBusConnection::sessionBus();
  Program program(state, settings, prompter, clock, std::move(programSetup));
  HiddenMainWindow& mainWindow = program.mainWindow();
  QObject::connect(&oneInstance, &instance::SingleInstance::commandLineReceived, &program, &Program::handleCommandLine);

  if (signalsCaught) {
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainWindow, [&] {
      char c;
      [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &c, 1);
      // The session is ending (logout, shutdown): everything is written as for Quit, but the
      // character leaves without its goodbye, so the end is not held up by speech.
      program.EndWithoutGoodbye();
      mainWindow.quit();
    });
  }
  if (!program.start()) {
    // Quit chosen while loading ends normally; anything else means the program could not start.
    const int code = state.events->closing() ? 0 : 1;
    mainWindow.unload();
    FinishDeferredDeletes();
    // A box that says why (no character to show, for one) stays until it is closed.
    return EndOnceBoxesClose(qtPrompter, code);
  }
  QObject::connect(
      &mainWindow, &HiddenMainWindow::unloaded, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  reportStartUp(mainWindow, sinceStart, sinceStart.elapsed());
  if (cmd.showViewer) program.handleCommandLine(QStringLiteral("show"));
  const int code = QApplication::exec();
  FinishDeferredDeletes();
  return code;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (const auto answered = AnswerInformationOptions(argc, argv)) return *answered;
  const int code = RunProgram(argc, argv);
  // Once the program's own shutdown is done, the process ends without the libraries' exit-time
  // teardown. Nothing of ours is left for it, and the sound library's is unsafe: its global
  // engine stops the sound server's event thread at exit while that thread may still be handling
  // the stream the program closed a moment before, and a signal that ends the program while it
  // speaks then turned into a crash at exit (about one quit in thirty).
  std::fflush(nullptr);
  std::_Exit(code);
}

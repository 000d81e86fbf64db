// The real program on Xvfb with a StatusNotifierWatcher and notification server on a private bus.
#include "support/event_wait.h"
#include "support/files.h"
#include "support/notification_server.h"
#include "support/private_bus.h"
#include "support/private_x_server.h"
#include "support/program_home.h"
#include "support/status_notifier_watcher.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using chimewise::testsupport::NotificationServer;
using chimewise::testsupport::PrivateBus;
using chimewise::testsupport::RunEventsUntil;
using chimewise::testsupport::StatusNotifierWatcher;

namespace {

// A process run to its end while this process goes on serving the bus.
QString RunTool(const QString& program, const QStringList& args, const QProcessEnvironment& env = {}) {
  QProcess p;
  if (!env.isEmpty()) p.setProcessEnvironment(env);
  p.start(program, args);
  if (!p.waitForStarted(5000)) return QStringLiteral("<not started>");
  RunEventsUntil([&] { return p.state() == QProcess::NotRunning; }, 20000);
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished(2000);
    return QStringLiteral("<timed out>");
  }
  return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

class DesktopSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "desktop-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    for (const char* tool : {"Xvfb", "xdotool", "dbus-send"})
      if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) GTEST_SKIP() << tool << " is missing";
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not be started";
    display = xserver.display();
    ASSERT_FALSE(display.isEmpty()) << "Xvfb could not be started";
    h.prepare(QStringLiteral(CHIMEWISE_SOURCE_DIR));
    h.install(QStringLiteral(CHIMEWISE_SOURCE_DIR), QStringLiteral("Bolt.ochar"));
    for (const char* unset : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"}) h.env.remove(unset);
    h.env.insert("QT_QPA_PLATFORM", "xcb");
    h.env.insert("DISPLAY", display);
    h.env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    h.env.insert("XDG_RUNTIME_DIR", h.home.path());
    h.env.insert("CHIMEWISE_AUDIO", "silent");  // nothing is heard: reminders go to the desktop too
    // No suggestion to optimize waits at the start; late reminders come back after half an hour.
    chimewise::testsupport::Touch(h.settingsFile(),
                                  "[Defaults]\nWait Time=30\n[ReminderView]\nLastOptimize=2099-01-01 00:00:00\n");
    if (HasFatalFailure()) return;
    desk = std::make_unique<QDBusConnection>(bus.connect(QStringLiteral("desk")));
    watcher = std::make_unique<StatusNotifierWatcher>(*desk);
    ASSERT_TRUE(watcher->registered());
    server = std::make_unique<NotificationServer>(*desk);
    ASSERT_TRUE(server->registered());
  }
  void TearDown() override {
    if (program.state() != QProcess::NotRunning) {
      program.kill();
      program.waitForFinished(3000);
    }
    server.reset();
    watcher.reset();
  }
  // Starts the program and waits until its tray icon has registered with the watcher.
  void startProgram() {
    program.setProcessEnvironment(h.env);
    program.start(QStringLiteral(CHIMEWISE_EXE), {});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(RunEventsUntil([&] { return !watcher->items().isEmpty(); }, 20000))
        << "no tray item registered: " << program.readAllStandardError().toStdString();
    item = watcher->items().first();
  }
  void endProgram() {
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(RunEventsUntil([&] { return program.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
  }
  QString busCall(const QStringList& args) {
    return RunTool(QStringLiteral("dbus-send"), QStringList{"--bus=" + bus.address(), "--print-reply"} + args);
  }
  // The program's windows on the screen titled as the program.
  int programWindows() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    const QString out =
        RunTool(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Olm Chimewise$"}, env);
    return static_cast<int>(out.split('\n', Qt::SkipEmptyParts).size());
  }
  QString cli(const QStringList& args) { return RunTool(QStringLiteral(CHIMEWISE_CLI), args, h.env); }
  QString alarmTime() {
    for (const QString& line : cli({"show", "1"}).split('\n'))
      if (line.startsWith("ALARMTIME\t")) return line.mid(10).trimmed();
    return {};
  }
  PrivateBus bus;
  chimewise::testsupport::PrivateXServer xserver;
  QString display;
  chimewise::testsupport::ProgramHome h;
  std::unique_ptr<QDBusConnection> desk;
  std::unique_ptr<StatusNotifierWatcher> watcher;
  std::unique_ptr<NotificationServer> server;
  QProcess program;
  QString item;
};

}  // namespace

// SNI menu captions, a reminder nobody can hear as a notification, a tray click and the snooze.
TEST_F(DesktopSessionTest, TheTrayOnAStatusNotifierHostAndAReminderNobodyCanHearAsANotification) {
  h.env.insert("CHIMEWISE_START_TIME", "2026-12-06 10:00:55");
  startProgram();
  if (HasFatalFailure()) return;
  const QString layout = busCall(
      {"--dest=" + item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", "int32:0", "int32:-1", "array:string:"});
  EXPECT_TRUE(layout.contains("\"_Jesterbox & Quotes...\"") && layout.contains("\"_Add Reminder\"") &&
              !layout.contains("&&"))
      << layout.toStdString();
  // A countdown reminder announced while its activity is ahead: its alarm comes back at 10:31.
  ASSERT_EQ(cli({"--now", "2026-12-06 10:00:56", "add", "--text", "Stand up and stretch", "--activity",
                 "2026-12-06 11:00", "--remind", "2026-12-06 10:01", "--countdown", "30"})
                .section(u':', 0, 0),
            "Added 1");
  ASSERT_EQ(cli({"--now", "2026-12-06 10:00:56", "add", "--text", "Water the plants", "--activity", "2026-12-06 11:00",
                 "--remind", "2026-12-06 10:01", "--countdown", "30"})
                .section(u':', 0, 0),
            "Added 2");
  const int withoutViewer = programWindows();
  ASSERT_TRUE(RunEventsUntil([&] { return !server->calls().empty(); }, 20000))
      << program.readAllStandardError().toStdString();
  const auto call = server->calls().front();
  EXPECT_EQ(call.summary + " " + call.body, "Stand up and stretch 12/06/2026 11:00 am");
  ASSERT_TRUE(RunEventsUntil([&] { return alarmTime() == "631"; }, 10000)) << alarmTime().toStdString();
  // Deleted by the command-line tool: its notification goes.
  ASSERT_EQ(server->calls().size(), 2u);
  cli({"delete", "2"});
  EXPECT_TRUE(RunEventsUntil([&] { return server->closeCalls() == std::vector<uint>{server->calls()[1].id}; }, 10000));
  EXPECT_EQ(programWindows(), withoutViewer);
  busCall({"--dest=" + item, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", "int32:10", "int32:10"});
  EXPECT_TRUE(RunEventsUntil([&] { return programWindows() == withoutViewer + 1; }, 15000))
      << "the viewer did not open";
  server->invokeAction(call.id, "snooze-5");
  QString snoozed;
  ASSERT_TRUE(RunEventsUntil([&] { return (snoozed = alarmTime()) != "631"; }, 10000));
  EXPECT_TRUE(snoozed == "606" || snoozed == "607") << snoozed.toStdString();  // five minutes from the click
  endProgram();
}

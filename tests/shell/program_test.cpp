// The real program, started headless in an empty home.
#include "core/app_paths.h"
#include "support/files.h"
#include "support/program_home.h"
#include "support/qt_app.h"
#include "support/table_lock_holder.h"

#include <instance/single_instance.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

using instance::SingleInstance;

namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chimewise::testsupport::EnsureQtApp();
    h.prepare(QStringLiteral(CHIMEWISE_SOURCE_DIR));
    env.insert("XDG_RUNTIME_DIR", h.home.path());
    env.insert("CHIMEWISE_AUDIO", "silent");
    program.setProcessEnvironment(env);
  }
  void TearDown() override {
    if (program.state() != QProcess::NotRunning) {
      program.kill();
      program.waitForFinished(3000);
    }
  }
  void installBolt() { h.install(QStringLiteral(CHIMEWISE_SOURCE_DIR), QStringLiteral("Bolt.ochar")); }
  void start() {
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(CHIMEWISE_EXE), {});
    ASSERT_TRUE(program.waitForStarted(5000));
  }
  // Starts the program with Bolt, its clock set to `startTime`, and gives it time to set itself up.
  void StartWithBolt(const char* startTime) {
    installBolt();
    env.insert("CHIMEWISE_START_TIME", startTime);
    ASSERT_NO_FATAL_FAILURE(start());
    QThread::msleep(800);
  }
  // What the command-line tool prints, run in the program's environment.
  QString Cli(const QStringList& args) const {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CHIMEWISE_CLI), args);
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput());
  }
  // Reminder 1's alarm minute as the tool shows it.
  QString AlarmTime() const {
    for (const QString& line : Cli({"show", "1"}).split('\n'))
      if (line.startsWith("ALARMTIME\t")) return line.mid(10).trimmed();
    return {};
  }
  void Terminate() {
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(15000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
  }

  chimewise::testsupport::ProgramHome h;
  QTemporaryDir& tpl = h.tpl;
  QProcessEnvironment& env = h.env;
  QProcess program;
};

}  // namespace

// --help and --version answer on standard output and end without starting the program or making
// its data folder; a start without characters sets up its files, says why and ends.
TEST_F(ProgramTest, HelpVersionAndAStartWithoutCharactersEnd) {
  for (const char* option : {"--help", "--version", ""}) {
    program.start(QStringLiteral(CHIMEWISE_EXE), *option ? QStringList{QString::fromLatin1(option)} : QStringList{});
    ASSERT_TRUE(program.waitForFinished(15000)) << option;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << option;
    EXPECT_EQ(program.exitCode(), *option ? 0 : 1) << option;
    const QByteArray out = *option ? program.readAllStandardOutput() : program.readAllStandardError();
    const char* expected = std::string_view(option) == "--help" ? "Usage: chimewise"
                           : *option                            ? "Olm Chimewise 0."
                                     : "Missing Character Files: No Characters seem to be installed. Please install "
                                       "Characters to Continue.";
    EXPECT_TRUE(out.contains(expected)) << option << ": " << out.toStdString();
    EXPECT_EQ(QFile::exists(*option ? h.dataFolder() : h.dataFolder() + "/data/CALENDAR.DBF"), !*option) << option;
    EXPECT_EQ(QFile::exists(h.settingsFile()), !*option) << option;
  }
}

// The first start puts the program into the session's autostart; once the user has taken it out,
// no later start writes it again.
TEST_F(ProgramTest, TheFirstStartMakesTheProgramStartAtLoginAndNoLaterStartDoes) {
  installBolt();
  ASSERT_TRUE(QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/CHIMINST.DLL"), tpl.filePath("CHIMINST.DLL")));
  const QString entry = h.home.filePath(".config/autostart/org.olmchimewise.Chimewise.desktop");
  for (const int ms : {3000, 2000}) {  // the introduction has begun
    ASSERT_NO_FATAL_FAILURE(start());
    QThread::msleep(static_cast<unsigned long>(ms));
    ASSERT_NO_FATAL_FAILURE(Terminate());
    EXPECT_EQ(QFile::exists(entry), ms == 3000);
    if (ms == 3000) {
      EXPECT_TRUE(chimewise::testsupport::Slurp(entry).contains(QByteArray("Exec=\"") + QByteArray(CHIMEWISE_EXE)));
      ASSERT_TRUE(QFile::remove(entry));  // the user unticks the box
    }
  }
}

TEST_F(ProgramTest, WithACharacterItRunsUntilAskedToEnd) {
  installBolt();
  env.insert("CHIMEWISE_STARTUP_REPORT", "1");
  ASSERT_NO_FATAL_FAILURE(start());
  // It reports its first tick (however slow a loaded machine or the sanitizers make the start)...
  QByteArray err;
  QElapsedTimer waited;
  waited.start();
  while (!err.contains("first tick after") && program.state() == QProcess::Running && waited.elapsed() < 30000) {
    program.waitForReadyRead(500);
    err += program.readAllStandardError();
  }
  EXPECT_TRUE(err.contains("first tick after")) << err.toStdString();
  // ...is still there a few ticks later...
  EXPECT_FALSE(program.waitForFinished(4000));
  ASSERT_EQ(program.state(), QProcess::Running);
  // ...and ends cleanly on SIGTERM, through the same shutdown as Quit.
  ASSERT_NO_FATAL_FAILURE(Terminate());
  const QByteArray settings = chimewise::testsupport::Slurp(h.settingsFile());
  EXPECT_TRUE(settings.contains("[Character]\nName=Bolt\n")) << settings.toStdString();
  EXPECT_FALSE(err.contains("Character")) << "the character did not load: " << err.toStdString();
  // The index exists, so the suggestion to optimize was made and (headless) answered No.
  EXPECT_TRUE(err.contains("Optimize Reminders: You have not Optimized your reminders in a while."));
  EXPECT_TRUE(settings.contains("LastOptimize="));
}

// While another program holds the reminder table the program goes on ticking: a reminder that
// falls due meanwhile is announced once the table is free, and the user is told once, only after
// the table has stayed busy for a while.
TEST_F(ProgramTest, WhileAnotherProgramHoldsTheTableItTellsOnceAndAnnouncesWhenItIsFree) {
  ASSERT_NO_FATAL_FAILURE(StartWithBolt("2026-12-06 10:00:50"));
  ASSERT_EQ(
      Cli({"--now", "2026-12-06 10:00:51", "add", "--text", "Stretch", "--activity", "2026-12-06 10:01"}).trimmed(),
      "1");
  const QString told = QStringLiteral("Reminder Table in Use: Another program is using the reminder table");
  QString err;
  const auto readErr = [&] { err += QString::fromUtf8(program.readAllStandardError()); };
  {
    chimewise::testsupport::TableLockHolder holder((h.dataFolder() + "/data/CALENDAR.DBF").toStdString(),
                                                   std::chrono::seconds(90));
    ASSERT_TRUE(holder.holdTableWithin(std::chrono::seconds(5)));
    // Due at the program's 10:01:00; told once the table has been busy for ten seconds.
    QElapsedTimer guard;
    guard.start();
    while (!err.contains(told) && guard.elapsed() < 60000) {
      program.waitForReadyRead(500);
      readErr();
    }
    ASSERT_TRUE(err.contains(told)) << err.toStdString();
    // A few more ticks with the table still busy tell nothing more.
    QThread::msleep(7000);
    readErr();
    EXPECT_EQ(program.state(), QProcess::Running);
    EXPECT_FALSE(holder.guardFired());
  }
  // Free again: the next tick announces the reminder and puts its alarm off by the wait time.
  QString alarm;
  QElapsedTimer guard;
  guard.start();
  while (((alarm = AlarmTime()).isEmpty() || alarm == "601") && guard.elapsed() < 30000) QThread::msleep(250);
  EXPECT_GE(alarm.toInt(), 606) << "the alarm was not put off: " << alarm.toStdString();
  ASSERT_NO_FATAL_FAILURE(Terminate());
  readErr();
  EXPECT_EQ(err.count(told), 1) << err.toStdString();
}

// The real program, started while an instance runs, hands over its command line and ends.
TEST(SingleInstance, TheProgramRefusesASecondStart) {
  chimewise::testsupport::EnsureQtApp();
  const QString exe = QStringLiteral(CHIMEWISE_EXE);
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());  // the program and this test meet here
  SingleInstance first(chimewise::InstanceKey());       // the program's own, per-user key
  ASSERT_TRUE(first.becomePrimary());
  QSignalSpy received(&first, &SingleInstance::commandLineReceived);

  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", runtime.path());
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  second.setProcessEnvironment(env);
  second.start(exe, {"show"});
  ASSERT_TRUE(second.waitForStarted(5000));
  QElapsedTimer t;
  t.start();
  while (second.state() != QProcess::NotRunning && t.elapsed() < 10000) received.wait(100);
  ASSERT_EQ(second.state(), QProcess::NotRunning);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardError().contains(
      "Program Is Loaded: Olm Chimewise is already running. Check the System Tray."));
  if (received.isEmpty()) received.wait(2000);
  ASSERT_EQ(received.count(), 1);
  EXPECT_EQ(received.at(0).at(0).toString(), "show");
  // Nothing of the program's own was set up by the refused start.
  EXPECT_FALSE(QFileInfo::exists(runtime.filePath(".local/share/Olm Chimewise")));
}

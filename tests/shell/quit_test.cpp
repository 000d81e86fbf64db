// The real program on a real sound device (run by with_sound_server.sh): ended by SIGTERM, as
// logout ends it, at moments when it is in the middle of something, it always ends with status 0.
#include "support/program_home.h"
#include "support/qt_app.h"
#include "support/qt_print.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

class QuitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chimewise::testsupport::EnsureQtApp();
    h.prepare(QStringLiteral(CHIMEWISE_SOURCE_DIR));
    h.install(QStringLiteral(CHIMEWISE_SOURCE_DIR), QStringLiteral("Bolt.ochar"));
  }

  // Starts the program, signals it `ms` after it has set up its files (its main has long begun,
  // under a sanitizer too), and says how it ended.
  QString endAfter(int ms, int signal = SIGTERM) {
    QFile::remove(h.settingsFile());  // made again by the program as it starts
    QProcess program;
    program.setProcessEnvironment(h.env);
    program.setWorkingDirectory(cores.path());  // a crash leaves its core here, for the report
    program.setChildProcessModifier([] {
      const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
      ::setrlimit(RLIMIT_CORE, &unlimited);
    });
    program.start(QStringLiteral(CHIMEWISE_EXE), {});
    if (!program.waitForStarted(5000)) return QStringLiteral("did not start");
    for (int i = 0; i < 200 && !QFile::exists(h.settingsFile()); ++i) QThread::msleep(50);
    QThread::msleep(ms);
    if (program.state() != QProcess::Running) return QStringLiteral("ended by itself");
    ::kill(static_cast<pid_t>(program.processId()), signal);
    if (!program.waitForFinished(20000)) {
      program.kill();
      program.waitForFinished(3000);
      return QStringLiteral("hung");
    }
    if (program.exitStatus() != QProcess::NormalExit) return crashReport(program);
    if (program.exitCode() == 0) return QStringLiteral("0");
    return QStringLiteral("status %1: %2")
        .arg(program.exitCode())
        .arg(QString::fromUtf8(program.readAllStandardError()));
  }

  // How the program crashed: its signal, the end of what it wrote, and each thread's stack from
  // the core when gdb is installed.
  QString crashReport(QProcess& program) {
    QString report = QStringLiteral("crashed with signal %1\n").arg(program.exitCode());
    report += QString::fromUtf8(program.readAllStandardError().right(4000));
    QDir folder(cores.path());
    for (const QString& core : folder.entryList({QStringLiteral("core*")}, QDir::Files)) {
      QProcess gdb;
      gdb.setProcessChannelMode(QProcess::MergedChannels);
      gdb.start(QStringLiteral("gdb"),
                {QStringLiteral("-batch"), QStringLiteral("-ex"), QStringLiteral("thread apply all bt 25"),
                 QStringLiteral(CHIMEWISE_EXE), folder.filePath(core)});
      if (gdb.waitForFinished(120000)) report += QString::fromUtf8(gdb.readAll().right(30000));
      folder.remove(core);
    }
    return report;
  }

  QTemporaryDir cores;
  chimewise::testsupport::ProgramHome h;
};

}  // namespace

// The first start (the character introduces itself for minutes, speaking on the device), then
// later starts (the greeting, then idle with the timer running).
TEST_F(QuitTest, DuringTheIntroductionGreetingOrIdleTheProgramEndsWithStatusZero) {
  ASSERT_TRUE(QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/CHIMINST.DLL"), h.tpl.filePath("CHIMINST.DLL")));
  for (const int ms : {700, 1800, 3500, 6000}) {
    QDir(h.home.filePath(".local")).removeRecursively();
    EXPECT_EQ(endAfter(ms), "0") << "SIGTERM after " << ms << " ms of the introduction";
  }
  ASSERT_TRUE(QFile::remove(h.tpl.filePath("CHIMINST.DLL")));
  QDir(h.home.filePath(".local")).removeRecursively();
  for (const int ms : {0, 1500, 4000}) EXPECT_EQ(endAfter(ms, ms == 1500 ? SIGINT : SIGTERM), "0") << ms << " ms";
}

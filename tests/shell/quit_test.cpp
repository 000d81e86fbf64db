// The real program on a sound device (with_sound_server.sh), ended by SIGTERM mid-task, exits with 0.
#include "support/program_home.h"
#include "support/qt_app.h"
#include "support/qt_print.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

namespace {

class QuitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chimewise::testsupport::EnsureQtApp();
    h.prepare(QStringLiteral(CHIMEWISE_SOURCE_DIR));
    h.install(QStringLiteral(CHIMEWISE_SOURCE_DIR), QStringLiteral("Bolt.ochar"));
  }
  // Starts the program, signals it `ms` after it has set up its files, and says how it ended.
  QString endAfter(int ms, int signal = SIGTERM) {
    QFile::remove(h.settingsFile());  // made again by the program as it starts
    QProcess program;
    program.setProcessEnvironment(h.env);
    program.start(QStringLiteral(CHIMEWISE_EXE), {});
    if (!program.waitForStarted(5000)) return QStringLiteral("did not start");
    for (int i = 0; i < 200 && !QFile::exists(h.settingsFile()); ++i) QThread::msleep(50);
    QThread::msleep(ms);
    if (program.state() != QProcess::Running) return QStringLiteral("ended by itself");
    QElapsedTimer ending;
    ending.start();
    ::kill(static_cast<pid_t>(program.processId()), signal);
    if (!program.waitForFinished(20000)) {
      program.kill();
      program.waitForFinished(3000);
      return QStringLiteral("hung");
    }
    lastEndMs = ending.elapsed();
    if (program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0) return QStringLiteral("0");
    return QStringLiteral("%1 %2: %3")
        .arg(program.exitStatus() == QProcess::NormalExit ? "status" : "crashed with signal")
        .arg(program.exitCode())
        .arg(QString::fromUtf8(program.readAllStandardError().right(4000)));
  }
  chimewise::testsupport::ProgramHome h;
  qint64 lastEndMs = 0;  // from the signal to the program's end
};

}  // namespace

// During the first start's introduction, then the greeting and idle of later starts.
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

// A signal from the session (logout) ends the program without the goodbye: nothing is queued for
// the character after it, so nothing holds the end up.
TEST_F(QuitTest, ASignalEndsTheProgramWithoutItsGoodbye) {
  const QString transcript = h.home.filePath("transcript.txt");
  h.env.insert("CHIMEWISE_TRANSCRIPT", transcript);
  QDir(h.home.filePath(".local")).removeRecursively();
  EXPECT_EQ(endAfter(4000), "0");
  QFile said(transcript);  // made by the first line the character is given, if any
  const QByteArray lines = said.open(QIODevice::ReadOnly) ? said.readAll() : QByteArray();
  EXPECT_FALSE(lines.contains("Thank You For Using")) << lines.toStdString();
  std::printf("ended %lld ms after SIGTERM\n", static_cast<long long>(lastEndMs));
}

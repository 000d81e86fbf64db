// The real program, started headless in an empty home.
#include "../support/qt_app.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chimewise::testsupport::EnsureQtApp();
    ASSERT_TRUE(home.isValid());
    // A template of our own, so the test controls which characters are installed.
    QDir().mkpath(tpl.filePath("data"));
    QDir().mkpath(tpl.filePath("characters"));
    for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"})
      ASSERT_TRUE(QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/data/") + f, tpl.filePath("data/") + f));
    env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.remove("XDG_CONFIG_HOME");
    env.remove("XDG_DATA_HOME");
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("CHIMEWISE_TEMPLATE_DIR", tpl.path());
    env.insert("CHIMEWISE_AUDIO", "silent");
    program.setProcessEnvironment(env);
  }
  void TearDown() override {
    if (program.state() != QProcess::NotRunning) {
      program.kill();
      program.waitForFinished(3000);
    }
  }
  static void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QString dataFolder() const { return home.filePath(".local/share/Olm Chimewise"); }
  QString settingsFile() const { return home.filePath(".config/Olm Chimewise/settings.ini"); }

  QTemporaryDir home, tpl;
  QProcessEnvironment env;
  QProcess program;
};

}  // namespace

TEST_F(ProgramTest, WithoutCharactersItSetsUpItsFilesSaysWhyAndEnds) {
  program.start(QStringLiteral(CHIMEWISE_EXE), {});
  ASSERT_TRUE(program.waitForFinished(15000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 1);
  EXPECT_TRUE(program.readAllStandardError().contains(
      "Missing Character Files: No Characters seem to be installed. Please install Characters to Continue."));
  EXPECT_TRUE(QFile::exists(dataFolder() + "/data/CALENDAR.DBF"));
  EXPECT_TRUE(QFile::exists(settingsFile()));
}

TEST_F(ProgramTest, WithACharacterItRunsUntilAskedToEnd) {
  ASSERT_TRUE(QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/characters/Bolt.ochar"),
                          tpl.filePath("characters/Bolt.ochar")));
  env.insert("CHIMEWISE_STARTUP_REPORT", "1");
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(CHIMEWISE_EXE), {});
  ASSERT_TRUE(program.waitForStarted(5000));
  // It is still there after its first ticks...
  EXPECT_FALSE(program.waitForFinished(4000));
  ASSERT_EQ(program.state(), QProcess::Running);
  // ...and ends cleanly on SIGTERM, through the same shutdown as Quit.
  ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  const QByteArray err = program.readAllStandardError();
  EXPECT_TRUE(err.contains("first tick after")) << err.toStdString();
  QFile s(settingsFile());
  ASSERT_TRUE(s.open(QIODevice::ReadOnly));
  const QByteArray settings = s.readAll();
  EXPECT_TRUE(settings.contains("[Character]\nName=Bolt\n")) << settings.toStdString();
  EXPECT_FALSE(err.contains("Character")) << "the character did not load: " << err.toStdString();
  // The index exists, so the suggestion to optimize was made and (headless) answered No.
  EXPECT_TRUE(err.contains("Optimize Reminders: You have not Optimized your reminders in a while."));
  EXPECT_TRUE(settings.contains("LastOptimize="));
}

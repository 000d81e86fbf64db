// chimewise-cli joke: the next joke or quote of the application folder's table, and the place
// to go on from.
#include "character/speaker.h"
#include "cli/cli.h"
#include "core/app_paths.h"
#include "core/settings_store.h"
#include "extras/jokes.h"
#include "support/files.h"
#include "support/qt_print.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class CliJokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "cli-joke-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    QCoreApplication::setApplicationName("Olm Chimewise");
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath("share").toUtf8());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
  }
  int run(QStringList args) {
    QString o, e;
    QTextStream out(&o), err(&e);
    const int code = RunCli(QStringList{"--app-folder", app} + args, out, err);
    out.flush();
    err.flush();
    lines = o.split('\n', Qt::SkipEmptyParts);
    errors = e;
    return code;
  }
  // What the character is asked to do for a record of the shipped collection, as printed.
  static QStringList shipped(int recno) {
    static std::vector<JokeRecord> records;
    if (records.empty()) {
      EXPECT_TRUE(ReadJokesTable(qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + "/assets/JOKES.dbf", &records).ok());
    }
    TranscriptSpeaker speaker;
    speaker.SayText(records.at(recno - 1).sayWhat);
    QStringList printed;
    for (QString line : speaker.lines) printed << line.replace("\\", "\\\\").replace("\n", "\\n");
    return printed;
  }
  QString nextRec() { return SettingsStore(SettingsFilePath()).read("JOKES", "NextRec", "<absent>"); }

  QTemporaryDir dir;
  QString app = dir.filePath("app");
  QStringList lines;
  QString errors;
};

}  // namespace

TEST_F(CliJokeTest, TellsTheNextOneAndMovesOn) {
  // A new application folder gets the shipped collection and starts at its first record.
  ASSERT_EQ(run({"joke"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, shipped(1));
  EXPECT_TRUE(lines.first().startsWith("Speak: ")) << lines.first().toStdString();
  EXPECT_EQ(nextRec(), "2");
  ASSERT_EQ(run({"joke"}), 0);
  EXPECT_EQ(lines, shipped(2));
  EXPECT_EQ(nextRec(), "3");

  // Past the end it starts again.
  ASSERT_TRUE(SettingsStore(SettingsFilePath()).write("JOKES", "NextRec", "100000"));
  ASSERT_EQ(run({"joke"}), 0);
  EXPECT_EQ(lines, shipped(1));
  EXPECT_EQ(nextRec(), "2");

  // Line breaks and backslashes in a record's text print escaped, one request per line.
  ASSERT_TRUE(WriteJokesTable(app + "/JOKES.dbf", {{"JOKE", "Tick\ntock \\emp\\ \\pl=Wave\\ done"}}).ok());
  ASSERT_EQ(run({"joke"}), 0);
  EXPECT_EQ(lines, (QStringList{"Speak: Tick\\ntock \\\\emp\\\\", "Play: Wave", "Speak: done"}));
}

TEST_F(CliJokeTest, SaysWhyNothingWasTold) {
  EXPECT_EQ(run({"joke", "extra"}), 2);
  EXPECT_TRUE(errors.contains("joke takes 0 arguments")) << errors.toStdString();

  ASSERT_EQ(run({"joke"}), 0);  // seeds the folder
  for (const char* f : {"JOKES.dbf", "JOKES.fpt"}) ASSERT_TRUE(QFile::remove(app + "/" + f));
  EXPECT_EQ(run({"joke"}), 1);
  EXPECT_TRUE(lines.isEmpty());
  EXPECT_TRUE(errors.startsWith("There is no jokes table (JOKES.dbf) in ")) << errors.toStdString();
  EXPECT_EQ(nextRec(), "2");

  testsupport::Touch(app + "/JOKES.dbf", "not a table");
  EXPECT_EQ(run({"joke"}), 1);
  EXPECT_TRUE(lines.isEmpty());
  EXPECT_TRUE(errors.startsWith("Error reading the jokes table " + app + "/JOKES.dbf: ")) << errors.toStdString();
  EXPECT_EQ(nextRec(), "2");
  EXPECT_EQ(testsupport::Slurp(app + "/JOKES.dbf"), "not a table");
}

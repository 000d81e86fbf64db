// chimewise-cli joke: the next joke or quote of the application folder's table, and the place
// to go on from.
#include "character/speaker.h"
#include "cli/cli.h"
#include "core/app_paths.h"
#include "core/settings_store.h"
#include "extras/jokes.h"
#include "support/cli_fixture.h"
#include "support/files.h"
#include "support/qt_print.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class CliJokeTest : public testsupport::CliFixture {
 protected:
  int run(const QStringList& args) { return runCli(args); }
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

// chimewise-cli joke: the next joke of the application folder's table, printed escaped.
#include "cli/cli.h"
#include "core/app_paths.h"
#include "core/settings_store.h"
#include "extras/jokes.h"
#include "support/cli_fixture.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace chimewise;

class CliJokeTest : public testsupport::CliFixture {};

TEST_F(CliJokeTest, TellsTheNextOneEscapedAndSaysWhyNothingWasTold) {
  ASSERT_EQ(runCli({"joke"}), 0) << errors.toStdString();  // a new folder gets the shipped collection
  EXPECT_TRUE(lines.value(0).startsWith("Speak: ")) << lines.value(0).toStdString();
  ASSERT_TRUE(WriteJokesTable(app + "/JOKES.dbf", {{"JOKE", "Tick\ntock \\emp\\ \\pl=Wave\\ done"}}).ok());
  ASSERT_TRUE(SettingsStore(SettingsFilePath()).write("JOKES", "NextRec", "1"));
  ASSERT_EQ(runCli({"joke"}), 0);
  EXPECT_EQ(lines, (QStringList{"Speak: Tick\\ntock \\\\emp\\\\", "Play: Wave", "Speak: done"}));
  for (const char* f : {"JOKES.dbf", "JOKES.fpt"}) ASSERT_TRUE(QFile::remove(app + "/" + f));
  EXPECT_EQ(runCli({"joke"}), 1);
  EXPECT_TRUE(errors.startsWith("There is no jokes table (JOKES.dbf) in ")) << errors.toStdString();
}

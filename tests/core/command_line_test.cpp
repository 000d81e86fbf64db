#include "core/command_line.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
const QString own = QStringLiteral("/home/u/.local/share/Olm Chimewise");
}

TEST(CommandLine, FolderBarKeyword) {
  auto c = ParseCommandLine(" /srv/Rem|show ", own);
  EXPECT_EQ(c.appFolder, "/srv/Rem");  // the folder keeps its case: names here are case-sensitive
  EXPECT_TRUE(c.showViewer);
  EXPECT_TRUE(c.folderGiven);

  c = ParseCommandLine("/srv/x|", own);
  EXPECT_EQ(c.appFolder, "/srv/x");
  EXPECT_FALSE(c.showViewer);

  c = ParseCommandLine("/srv/x/|other", own);
  EXPECT_EQ(c.appFolder, "/srv/x");
  EXPECT_FALSE(c.showViewer);

  c = ParseCommandLine("/srv/x|SHOW|more", own);  // only the first bar splits
  EXPECT_EQ(c.appFolder, "/srv/x");
  EXPECT_FALSE(c.showViewer);

  c = ParseCommandLine("/srv/x | Show ", own);
  EXPECT_EQ(c.appFolder, "/srv/x");
  EXPECT_TRUE(c.showViewer);
}

TEST(CommandLine, KeywordAlone) {
  for (const char* line : {"show", "SHOW", "  sHoW  "}) {
    auto c = ParseCommandLine(line, own);
    EXPECT_EQ(c.appFolder, own) << line;
    EXPECT_TRUE(c.showViewer) << line;
    EXPECT_FALSE(c.folderGiven);
  }
  for (const char* line : {"", "shows", "show me", "/srv/x"}) {
    auto c = ParseCommandLine(line, own);
    EXPECT_EQ(c.appFolder, own) << line;
    EXPECT_FALSE(c.showViewer) << line;
  }
}

TEST(CommandLine, JoinsArgumentsAfterTheProgramName) {
  EXPECT_EQ(JoinArguments({"chimewise", "/a b|show"}), "/a b|show");
  EXPECT_EQ(JoinArguments({"chimewise", "/a", "b|show"}), "/a b|show");
  EXPECT_EQ(JoinArguments({"chimewise"}), "");
}

TEST(CommandLine, NothingBeforeTheBarMeansTheOwnFolder) {
  for (const char* line : {"|show", " | SHOW", "|", "  |other"}) {
    const auto c = ParseCommandLine(line, own);
    EXPECT_EQ(c.appFolder, own) << line;  // never "", which would put the table at /data
    EXPECT_FALSE(c.folderGiven) << line;
  }
  EXPECT_TRUE(ParseCommandLine("|show", own).showViewer);
  EXPECT_FALSE(ParseCommandLine("|", own).showViewer);
  EXPECT_EQ(ParseCommandLine("/|show", own).appFolder, "/");  // the root is a folder
}

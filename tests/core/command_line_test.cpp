#include "core/command_line.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(CommandLine, FolderBarKeyword) {
  const QString own = QStringLiteral("/home/u/.local/share/Olm Chimewise");
  const struct {
    const char* line;
    QString folder;
    bool show, given;
  } cases[] = {
      {" /srv/Rem|show ", "/srv/Rem", true, true},  // the folder keeps its case
      {"/srv/x|", "/srv/x", false, true},
      {"/srv/x/|other", "/srv/x", false, true},
      {"/srv/x|SHOW|more", "/srv/x", false, true},  // only the first bar splits
      {"/srv/x | Show ", "/srv/x", true, true},
      {"/|show", "/", true, true},  // the root is a folder
      {"  sHoW  ", own, true, false},
      {"", own, false, false},
      {"shows", own, false, false},
      {"show me", own, false, false},
      {"/srv/x", own, false, false},
      // Nothing before the bar is the own folder, never "" (which would put the table at /data).
      {"|show", own, true, false},
      {" | SHOW", own, true, false},
      {"|", own, false, false},
      {"  |other", own, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto got = ParseCommandLine(c.line, own);
    EXPECT_EQ(got.appFolder, c.folder);
    EXPECT_EQ(got.showViewer, c.show);
    EXPECT_EQ(got.folderGiven, c.given);
  }
  EXPECT_EQ(JoinArguments({"chimewise", "/a b|show"}), "/a b|show");
  EXPECT_EQ(JoinArguments({"chimewise", "/a", "b|show"}), "/a b|show");
  EXPECT_EQ(JoinArguments({"chimewise"}), "");
}

#include "core/app_paths.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(FindPathNoCase, MatchesEachNameWithoutRegardToCase) {
  QTemporaryDir d;
  testsupport::Touch(d.filePath("Data/calendar.dbf"));
  EXPECT_EQ(FindPathNoCase(d.path(), "data/CALENDAR.DBF"), d.filePath("Data/calendar.dbf"));
  EXPECT_EQ(FindPathNoCase(d.path() + "/", "DATA/calendar.DBF"), d.filePath("Data/calendar.dbf"));
  EXPECT_FALSE(FindPathNoCase(d.path(), "data/CALENDAR.CDX"));
  EXPECT_FALSE(FindPathNoCase(d.filePath("nowhere"), "data"));
}

// The template is copied once, without its sources or what the program reads from its prefix, and
// never over the user's own files (in any case); a missing template is reported.
TEST(SeedAppFolder, CopiesTheTemplateOnceAndNeverOverwrites) {
  QTemporaryDir tpl, home;
  for (const char* f : {"JOKES.dbf", "sound/koko.wav", "CHIMINST.DLL", "characters/olwen.ochar", "data/generate.sh",
                        "data/fields/CALENDAR.fields", "icons/app.svg", "helpfile/about.htm"})
    testsupport::Touch(tpl.filePath(f), f);
  testsupport::Touch(tpl.filePath("data/CALENDAR.DBF"), "table");
  QFile(tpl.filePath("data/CALENDAR.DBF")).setPermissions(QFileDevice::ReadOwner);  // installed read-only
  const QString app = home.filePath("Olm Chimewise");
  testsupport::Touch(app + "/jokes.DBF", "mine");
  SeedResult r = SeedAppFolder(app, tpl.path());
  EXPECT_TRUE(r.seeded && r.error.isEmpty()) << r.error.toStdString();
  for (const char* f : {"sound/koko.wav", "CHIMINST.DLL", "helpfile/about.htm"})
    EXPECT_TRUE(QFile::exists(app + "/" + f));
  for (const char* f : {"JOKES.dbf", "characters/olwen.ochar", "data/generate.sh", "data/fields", "icons"})
    EXPECT_FALSE(QFile::exists(app + "/" + f)) << f;
  EXPECT_EQ(testsupport::Slurp(app + "/jokes.DBF"), "mine");
  EXPECT_TRUE(QFile(app + "/data/CALENDAR.DBF").permissions() & QFileDevice::WriteOwner);
  QFile::remove(app + "/CHIMINST.DLL");
  testsupport::Touch(app + "/data/CALENDAR.DBF", "user data");
  r = SeedAppFolder(app, tpl.path());
  EXPECT_FALSE(r.seeded);
  EXPECT_FALSE(QFile::exists(app + "/CHIMINST.DLL"));  // the first-run marker stays consumed
  EXPECT_EQ(testsupport::Slurp(app + "/data/CALENDAR.DBF"), "user data");
  EXPECT_FALSE(SeedAppFolder(home.filePath("app"), QString()).error.isEmpty());
}

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

TEST(SeedAppFolder, CopiesTheTemplateOnceAndNeverOverwrites) {
  QTemporaryDir tpl, home;
  testsupport::Touch(tpl.filePath("data/CALENDAR.DBF"), "table");
  testsupport::Touch(tpl.filePath("JOKES.dbf"), "jokes");
  testsupport::Touch(tpl.filePath("sound/koko.wav"), "wav");
  testsupport::Touch(tpl.filePath("CHIMINST.DLL"), "");
  testsupport::Touch(tpl.filePath("characters/olwen.ochar"), "char");
  testsupport::Touch(tpl.filePath("data/generate.sh"), "#!/bin/sh");
  testsupport::Touch(tpl.filePath("data/fields/CALENDAR.fields"), "");
  testsupport::Touch(tpl.filePath("icons/app.svg"), "<svg/>");
  testsupport::Touch(tpl.filePath("helpfile/about.htm"), "<html/>");
  QFile(tpl.filePath("data/CALENDAR.DBF")).setPermissions(QFileDevice::ReadOwner);  // installed read-only
  const QString app = home.filePath("Olm Chimewise");
  testsupport::Touch(app + "/jokes.DBF", "mine");  // the user's own file, in another case

  SeedResult r = SeedAppFolder(app, tpl.path());
  EXPECT_TRUE(r.seeded);
  EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
  EXPECT_EQ(testsupport::Slurp(app + "/data/CALENDAR.DBF"), "table");
  EXPECT_EQ(testsupport::Slurp(app + "/sound/koko.wav"), "wav");
  EXPECT_TRUE(QFile::exists(app + "/CHIMINST.DLL"));
  EXPECT_EQ(testsupport::Slurp(app + "/jokes.DBF"), "mine");
  EXPECT_FALSE(QFile::exists(app + "/JOKES.dbf"));
  EXPECT_FALSE(QFile::exists(app + "/characters/olwen.ochar"));
  EXPECT_TRUE(QFile::exists(app + "/helpfile/about.htm"));
  EXPECT_FALSE(QFile::exists(app + "/data/generate.sh"));
  EXPECT_FALSE(QFile::exists(app + "/data/fields"));
  EXPECT_FALSE(QFile::exists(app + "/icons"));
  EXPECT_TRUE(QFile(app + "/data/CALENDAR.DBF").permissions() & QFileDevice::WriteOwner);

  // Once the table is there, a later start copies nothing (the first-run marker stays consumed).
  QFile::remove(app + "/CHIMINST.DLL");
  testsupport::Touch(app + "/data/CALENDAR.DBF", "user data");
  r = SeedAppFolder(app, tpl.path());
  EXPECT_FALSE(r.seeded);
  EXPECT_FALSE(QFile::exists(app + "/CHIMINST.DLL"));
  EXPECT_EQ(testsupport::Slurp(app + "/data/CALENDAR.DBF"), "user data");
}

TEST(SeedAppFolder, MissingTemplateIsReported) {
  QTemporaryDir home;
  const SeedResult r = SeedAppFolder(home.filePath("app"), QString());
  EXPECT_FALSE(r.seeded);
  EXPECT_FALSE(r.error.isEmpty());
}

#include "core/app_paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {
void touch(const QString& path, const QByteArray& content = "x") {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(content);
}
QByteArray slurp(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
}  // namespace

TEST(FindPathNoCase, MatchesEachNameWithoutRegardToCase) {
  QTemporaryDir d;
  touch(d.filePath("Data/calendar.dbf"));
  EXPECT_EQ(FindPathNoCase(d.path(), "data/CALENDAR.DBF"), d.filePath("Data/calendar.dbf"));
  EXPECT_EQ(FindPathNoCase(d.path() + "/", "DATA/calendar.DBF"), d.filePath("Data/calendar.dbf"));
  EXPECT_FALSE(FindPathNoCase(d.path(), "data/CALENDAR.CDX"));
  EXPECT_FALSE(FindPathNoCase(d.filePath("nowhere"), "data"));
}

TEST(SeedAppFolder, CopiesTheTemplateOnceAndNeverOverwrites) {
  QTemporaryDir tpl, home;
  touch(tpl.filePath("data/CALENDAR.DBF"), "table");
  touch(tpl.filePath("JOKES.dbf"), "jokes");
  touch(tpl.filePath("sound/koko.wav"), "wav");
  touch(tpl.filePath("CHIMINST.DLL"), "");
  touch(tpl.filePath("characters/olwen.ochar"), "char");
  touch(tpl.filePath("data/generate.sh"), "#!/bin/sh");
  touch(tpl.filePath("data/fields/CALENDAR.fields"), "");
  touch(tpl.filePath("icons/app.svg"), "<svg/>");
  touch(tpl.filePath("helpfile/about.htm"), "<html/>");
  QFile(tpl.filePath("data/CALENDAR.DBF")).setPermissions(QFileDevice::ReadOwner);  // installed read-only
  const QString app = home.filePath("Olm Chimewise");
  touch(app + "/jokes.DBF", "mine");  // the user's own file, in another case

  SeedResult r = SeedAppFolder(app, tpl.path());
  EXPECT_TRUE(r.seeded);
  EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
  EXPECT_EQ(slurp(app + "/data/CALENDAR.DBF"), "table");
  EXPECT_EQ(slurp(app + "/sound/koko.wav"), "wav");
  EXPECT_TRUE(QFile::exists(app + "/CHIMINST.DLL"));
  EXPECT_EQ(slurp(app + "/jokes.DBF"), "mine");
  EXPECT_FALSE(QFile::exists(app + "/JOKES.dbf"));
  EXPECT_FALSE(QFile::exists(app + "/characters/olwen.ochar"));
  EXPECT_TRUE(QFile::exists(app + "/helpfile/about.htm"));
  EXPECT_FALSE(QFile::exists(app + "/data/generate.sh"));
  EXPECT_FALSE(QFile::exists(app + "/data/fields"));
  EXPECT_FALSE(QFile::exists(app + "/icons"));
  EXPECT_TRUE(QFile(app + "/data/CALENDAR.DBF").permissions() & QFileDevice::WriteOwner);

  // Once the table is there, a later start copies nothing (the first-run marker stays consumed).
  QFile::remove(app + "/CHIMINST.DLL");
  touch(app + "/data/CALENDAR.DBF", "user data");
  r = SeedAppFolder(app, tpl.path());
  EXPECT_FALSE(r.seeded);
  EXPECT_FALSE(QFile::exists(app + "/CHIMINST.DLL"));
  EXPECT_EQ(slurp(app + "/data/CALENDAR.DBF"), "user data");
}

TEST(SeedAppFolder, MissingTemplateIsReported) {
  QTemporaryDir home;
  const SeedResult r = SeedAppFolder(home.filePath("app"), QString());
  EXPECT_FALSE(r.seeded);
  EXPECT_FALSE(r.error.isEmpty());
}

// The shipped table templates: the field lists they were generated from, and
// room for every value the program writes.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include "data/calendar.h"

namespace chimewise::data {
namespace {

const QString kAssets = QStringLiteral(CHIMEWISE_TEST_SOURCE_DIR "/assets");

// Name, type, length and decimals of each field, one line each: from a field list file ...
QStringList FieldList(const QString& path) {
  QStringList r;
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  for (QTextStream in(&f); !in.atEnd();) {
    QStringList p = in.readLine().trimmed().split(' ', Qt::SkipEmptyParts);
    if (p.isEmpty() || p[0].startsWith('#')) continue;
    r << (p.size() > 3 ? p : p << "0").join(' ');
  }
  return r;
}

// ... and from a table.
QStringList TableFields(const QString& path) {
  xbase::Engine e;
  int area = 0;
  const xbase::Status s = e.Use(path.toStdString(), "", xbase::OpenMode::kReadOnly, &area);
  EXPECT_TRUE(s.ok()) << s.ToString();
  QStringList r;
  for (const auto& f : s.ok() ? e.Current()->Fields() : std::vector<xbase::FieldDef>{})
    r << QStringLiteral("%1 %2 %3 %4").arg(QString::fromStdString(f.name)).arg(f.type).arg(f.length).arg(f.decimals);
  return r;
}

TEST(Templates, TablesMatchTheirFieldLists) {
  EXPECT_EQ(TableFields(kAssets + "/data/CALENDAR.DBF"), FieldList(kAssets + "/data/fields/CALENDAR.fields"));
  const QStringList jokes = TableFields(kAssets + "/JOKES.dbf");
  EXPECT_EQ(jokes, FieldList(kAssets + "/data/fields/JOKES.fields"));
  ASSERT_EQ(jokes.size(), 2);
  EXPECT_TRUE(jokes[0].startsWith("TYPE C ")) << jokes[0].toStdString();
  EXPECT_TRUE(jokes[1].startsWith("SAYWHAT M ")) << jokes[1].toStdString();
}

TEST(Templates, CalendarHoldsEveryValueTheProgramWrites) {
  QTemporaryDir dir;
  for (const char* n : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"}) {
    ASSERT_TRUE(QFile::copy(kAssets + "/data/" + n, dir.path() + "/" + n));
    QFile(dir.path() + "/" + n).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }
  xbase::Engine e;
  int area = OpenTable(e, dir.path() + "/CALENDAR.DBF", kAliasOneTime, kModeShared);
  ASSERT_GT(area, 0);
  xbase::WorkArea* wa = e.Area(area);
  ASSERT_TRUE(wa->AppendBlank().ok());
  // The widest values: a full record id, long display texts in a long date form,
  // the largest times, sound 8, a long countdown.
  const std::pair<const char*, const char*> texts[] = {
      {"REC_NO", "E123412345678"},
      {"USERID", "  1"},
      {"STATUS", "S"},
      {"EVENT", "Appointment with the optician"},
      {"ALARMTEXT", "Wednesday, 29 September 2027 12:59 pm"},
      {"DATETEXT", "Wednesday, 29 September 2027 12:59 pm"},
      {"TIMETEXT", "12:59 pm"},
      {"EVENTDATE", "20270929"},
      {"ALARMDATE", "20270929"},
      {"STARTDATE", "20270929"},
      {"ENDDATE", "20270929"},
      {"LASTEDIT", "20270929"},
  };
  for (const auto& [field, value] : texts) {
    ASSERT_TRUE(wa->Replace(field, value).ok()) << field;
    std::string back;
    ASSERT_TRUE(wa->GetTrimString(field, &back).ok());
    EXPECT_EQ(back, value) << field << " cut the value";
  }
  const std::pair<const char*, int> numbers[] = {{"STARTTIME", 1439}, {"ENDTIME", 1439},  {"ALARMTIME", 1439},
                                                 {"EDITTIME", 1439},  {"SAYDATE", 1},     {"SAYTIME", 1},
                                                 {"SOUND", 8},        {"COUNTDOWN", 1440}};
  for (const auto& [field, value] : numbers) EXPECT_TRUE(wa->ReplaceInteger(field, value).ok()) << field;
  EXPECT_TRUE(wa->ReplaceMemo("COMMENT", std::string(5000, 'm')).ok());
  EXPECT_TRUE(wa->Commit().ok());
  xbase::Value v;
  ASSERT_TRUE(wa->KeyValue("ALARM", &v).ok());
  EXPECT_EQ(v.s, "202709291439");
}

}  // namespace
}  // namespace chimewise::data

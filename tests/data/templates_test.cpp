// The shipped calendar template has room for every value the program writes.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "data/calendar.h"

namespace chimewise::data {
namespace {

const QString kAssets = QStringLiteral(CHIMEWISE_TEST_SOURCE_DIR "/assets");

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

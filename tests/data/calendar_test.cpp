#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "data/calendar.h"

namespace chimewise::data {
namespace {

#define ASSERT_OK(expr)                    \
  do {                                     \
    ::xbase::Status _s = (expr);           \
    ASSERT_TRUE(_s.ok()) << _s.ToString(); \
  } while (0)

TEST(CurrentReminders, QueryTextIsBuiltFromTheClock) {
  EXPECT_EQ(KeyMinutes(600), " 600");
  EXPECT_EQ(KeyMinutes(5), "   5");
  EXPECT_EQ(KeyMinutes(1439), "1439");
  EXPECT_EQ(CurrentRemindersQuery(QDateTime(QDate(2026, 12, 6), QTime(10, 0, 30))),
            "QkeyVal('ALARM')<='20261206 600' .or. QKeyVal('EVNTDATE')<='20261206 600'");
  EXPECT_EQ(CurrentRemindersQuery(QDateTime(QDate(2027, 1, 2), QTime(0, 5))),
            "QkeyVal('ALARM')<='20270102   5' .or. QKeyVal('EVNTDATE')<='20270102   5'");
}

TEST(TableText, Windows1252RoundTrip) {
  EXPECT_EQ(ToTableText(QString::fromUtf8("Caf\xC3\xA9")), "Caf\xE9");
  EXPECT_EQ(FromTableText("Caf\xE9"), QString::fromUtf8("Caf\xC3\xA9"));
  // Typographic quotes and the euro sign live in 0x80-0x9F of Windows-1252.
  EXPECT_EQ(ToTableText(QString::fromUtf8("don\xE2\x80\x99t \xE2\x82\xAC"
                                          "5")),
            "don\x92t \x80"
            "5");
  EXPECT_EQ(FromTableText("don\x92t \x80"
                          "5"),
            QString::fromUtf8("don\xE2\x80\x99t \xE2\x82\xAC"
                              "5"));
  EXPECT_EQ(ToTableText(QString::fromUtf8("\xE4\xB8\xAD")), "?");  // not in the code page
  EXPECT_EQ(FromTableText("\x81"), QString(QChar(0x81)));
}

class CalendarTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    QDir(dir_.path()).mkdir("data");
    const QString src = QStringLiteral(CHIMEWISE_TEST_SOURCE_DIR "/assets/data/");
    for (const char* name : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"}) {
      QFile from(src + name);
      ASSERT_TRUE(from.copy(dir_.path() + "/data/" + name))
          << (src + name).toStdString() << ": " << from.errorString().toStdString();
      QFile(dir_.path() + "/data/" + name).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    ApplyStartupSettings(engine_);
  }
  // Appends a reminder as the save does.
  void Add(const char* alarmDate, int alarmTime, const char* eventDate, int startTime, bool deleted = false) {
    int area = OpenTable(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared);
    ASSERT_NE(area, 0);
    xbase::WorkArea* wa = engine_.Area(area);
    ASSERT_OK(wa->AppendBlank());
    ASSERT_OK(wa->Replace("ONETIME->REC_NO", "E" + std::to_string(++n_)));
    ASSERT_OK(wa->Replace("ALARMDATE", alarmDate));
    ASSERT_OK(wa->ReplaceInteger("ALARMTIME", alarmTime));
    ASSERT_OK(wa->Replace("EVENTDATE", eventDate));
    ASSERT_OK(wa->ReplaceInteger("STARTTIME", startTime));
    ASSERT_OK(wa->Replace("STATUS", "S"));
    if (deleted) ASSERT_OK(wa->Delete());
    ASSERT_OK(wa->Commit());
    ASSERT_OK(wa->Unlock(wa->RecNo()));
    CloseTableIfOpen(engine_, kAliasOneTime);
  }
  QTemporaryDir dir_;
  xbase::Engine engine_;
  int n_ = 0;
};

TEST_F(CalendarTable, OpenTableReusesAreasAndCloseTableIfOpenCloses) {
  const QString path = CalendarPath(dir_.path());
  int a = OpenTable(engine_, path, kAliasTimer, kModeShared);
  ASSERT_GT(a, 0);
  EXPECT_EQ(OpenTable(engine_, path, kAliasTimer, kModeShared), a);
  int b = OpenTable(engine_, path, kAliasAlarm, kModeShared);
  EXPECT_GT(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(engine_.Area(a)->TagArea("ALARM"), 5);
  CloseTableIfOpen(engine_, kAliasTimer);
  EXPECT_EQ(engine_.WorkAreaOf(kAliasTimer), 0);
  CloseTableIfOpen(engine_, kAliasTimer);  // closing twice is harmless
  xbase::Status why;
  EXPECT_EQ(OpenTable(engine_, dir_.path() + "/data/NOPE.DBF", kAliasOneTime, kModeShared, &why), 0);
  EXPECT_TRUE(why.IsNotFound());
  EXPECT_EQ(engine_.WorkAreaOf(kAliasOneTime), 0);
  // Exclusive while ALARMDBF is open in this engine: refused, reported.
  xbase::Engine other;
  EXPECT_EQ(OpenTable(other, path, kAliasAlarm, kModeExclusive, &why), 0);
  EXPECT_TRUE(why.IsBusy());
  // The program's paths spell the name in lower case too.
  EXPECT_GT(OpenTable(engine_, dir_.path() + "/data/calendar.dbf", kAliasOneTime, kModeShared), 0);
}

TEST_F(CalendarTable, CurrentRemindersQuerySelectsDueRecordsInAlarmOrder) {
  Add("20261206", 600, "20261224", 600);    // alarm due exactly now
  Add("20261206", 601, "20261224", 600);    // alarm one minute ahead
  Add("20261201", 5, "20261224", 0);        // alarm long past
  Add("", 0, "20261205", 900);              // no alarm, activity past
  Add("20261207", 0, "20261206", 599);      // activity a minute ago
  Add("20261101", 0, "20261101", 0, true);  // deleted
  int area = OpenTable(engine_, CalendarPath(dir_.path()), kAliasAlarm, kModeShared);
  ASSERT_GT(area, 0);
  xbase::WorkArea* wa = engine_.Area(area);
  ASSERT_OK(wa->SetOrder(wa->TagArea("ALARM")));
  ASSERT_OK(wa->Query(CurrentRemindersQuery(QDateTime(QDate(2026, 12, 6), QTime(10, 0))).toStdString()));
  std::vector<uint32_t> due;
  ASSERT_OK(wa->GoTop());
  while (!wa->Eof()) {
    due.push_back(wa->RecNo());
    ASSERT_OK(wa->Skip(1));
  }
  // Record 4 has no alarm, so the ALARM order never reaches it.
  EXPECT_EQ(due, (std::vector<uint32_t>{3, 1, 5}));
  EXPECT_EQ(wa->QueryRecCount(), 4u);
  ASSERT_OK(wa->SetQueryBit(1, false));
  EXPECT_EQ(wa->QueryRecCount(), 3u);
  // The next-alarm lookup: lowest ALARM key not below now.
  ASSERT_OK(wa->Query(""));
  bool found = false;
  ASSERT_OK(wa->Seek("20261206 601", &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(wa->RecNo(), 2u);
}

TEST_F(CalendarTable, RebuildPacksAndRecreatesTheThirteenTags) {
  Add("20261206", 600, "20261224", 600);
  Add("20261206", 601, "20261224", 600, true);
  Add("20261201", 5, "20261224", 0);
  ASSERT_OK(CalendarIndexProblem(engine_, CalendarPath(dir_.path())));
  QFile::remove(dir_.path() + "/data/CALENDAR.CDX");
  EXPECT_TRUE(CalendarIndexProblem(engine_, CalendarPath(dir_.path())).IsNotFound());

  // Work areas the program left open are closed by the rebuild.
  ASSERT_GT(OpenTable(engine_, CalendarPath(dir_.path()), kAliasTimer, kModeShared), 0);
  ASSERT_OK(RebuildDatabase(engine_, dir_.path()));
  EXPECT_EQ(engine_.WorkAreaOf(kAliasTimer), 0);
  EXPECT_EQ(engine_.WorkAreaOf(kAliasAlarm), 0);
  ASSERT_OK(CalendarIndexProblem(engine_, CalendarPath(dir_.path())));
  int area = OpenTable(engine_, CalendarPath(dir_.path()), kAliasTimer, kModeShared);
  xbase::WorkArea* wa = engine_.Area(area);
  EXPECT_EQ(wa->RecCount(), 2u);
  std::vector<std::string> report;
  EXPECT_TRUE(wa->Check(&report).ok());

  // An index with a tag too many or too few is not the calendar's index.
  engine_.CloseAll();
  {
    xbase::Engine e;
    int a = 0;
    ASSERT_OK(e.Use(CalendarPath(dir_.path()).toStdString(), "X", xbase::OpenMode::kExclusive, &a));
    ASSERT_OK(e.Current()->IndexTag("EXTRA", "STATUS", ""));
  }
  EXPECT_TRUE(CalendarIndexProblem(engine_, CalendarPath(dir_.path())).IsCorruption());
}

TEST_F(CalendarTable, RebuildRefusesWhileAnotherProgramHasTheTable) {
  Add("20261206", 600, "20261224", 600, true);
  xbase::Engine other;
  ASSERT_GT(OpenTable(other, CalendarPath(dir_.path()), kAliasOneTime, kModeShared), 0);
  xbase::Status s = RebuildDatabase(engine_, dir_.path());
  EXPECT_TRUE(s.IsBusy()) << s.ToString();
  other.CloseAll();
  int area = OpenTable(engine_, CalendarPath(dir_.path()), kAliasTimer, kModeShared);
  EXPECT_EQ(engine_.Area(area)->RecCount(), 1u);  // nothing was packed
  EXPECT_TRUE(engine_.Area(area)->IndexStatus().ok());
  engine_.CloseAll();
  EXPECT_TRUE(RebuildDatabase(engine_, dir_.path() + "/nowhere").IsNotFound());
}

}  // namespace
}  // namespace chimewise::data

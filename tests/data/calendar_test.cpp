#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "data/calendar.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "libs/xbase/test_util.h"
#include "support/files.h"
#include "support/xbase_raw_files.h"

namespace chimewise::data {
namespace {

TEST(TableText, Windows1252RoundTrip) {
  // Typographic quotes and the euro sign live in 0x80-0x9F of Windows-1252.
  for (const auto& [text, bytes] : {std::pair<const char*, const char*>{"Caf\xC3\xA9", "Caf\xE9"},
                                    {"don\xE2\x80\x99t \xE2\x82\xAC"
                                     "5",
                                     "don\x92t \x80"
                                     "5"}}) {
    EXPECT_EQ(ToTableText(QString::fromUtf8(text)), bytes);
    EXPECT_EQ(FromTableText(bytes), QString::fromUtf8(text));
  }
  EXPECT_EQ(ToTableText(QString::fromUtf8("\xE4\xB8\xAD")), "?");  // not in the code page
  EXPECT_EQ(FromTableText("\x81"), QString(QChar(0x81)));
}

class CalendarTable : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("CHIMEWISE_SOURCE_DIR", CHIMEWISE_TEST_SOURCE_DIR);
    testsupport::CopyEmptyCalendar(dir_.path());
    ApplyStartupSettings(engine_);
  }
  // Appends a reminder as the save does.
  void Add(const char* alarmDate, int alarmTime, const char* eventDate, int startTime, bool deleted = false) {
    const TableHandle table(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared);
    ASSERT_TRUE(table.ok());
    xbase::WorkArea* wa = table.get();
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
  }
  QTemporaryDir dir_;
  xbase::Engine engine_;
  int n_ = 0;
};

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
  for (xbase::Status s = wa->GoTop(); s.ok() && !wa->Eof(); s = wa->Skip(1)) due.push_back(wa->RecNo());
  // Record 4 has no alarm, so the ALARM order never reaches it.
  EXPECT_EQ(due, (std::vector<uint32_t>{3, 1, 5}));
  EXPECT_EQ(wa->QueryRecCount(), 4u);
  // The next-alarm lookup: lowest ALARM key not below now.
  ASSERT_OK(wa->Query(""));
  bool found = false;
  ASSERT_OK(wa->Seek("20261206 601", &found));
  EXPECT_TRUE(found && wa->RecNo() == 2u);
}

TEST_F(CalendarTable, RebuildPacksAndRecreatesTheThirteenTags) {
  Add("20261206", 600, "20261224", 600);
  Add("20261206", 601, "20261224", 600, true);
  Add("20261201", 5, "20261224", 0);
  {
    // Refused while another program has the table: nothing is packed.
    xbase::Engine other;
    ASSERT_GT(OpenTable(other, CalendarPath(dir_.path()), kAliasOneTime, kModeShared), 0);
    EXPECT_TRUE(RebuildDatabase(engine_, dir_.path()).IsBusy());
  }
  EXPECT_EQ(engine_.Area(OpenTable(engine_, CalendarPath(dir_.path()), kAliasTimer, kModeShared))->RecCount(), 3u);
  ASSERT_OK(CalendarIndexProblem(engine_, CalendarPath(dir_.path())));
  QFile::remove(dir_.path() + "/data/CALENDAR.CDX");
  EXPECT_TRUE(CalendarIndexProblem(engine_, CalendarPath(dir_.path())).IsNotFound());

  // Work areas the program left open are closed by the rebuild.
  ASSERT_OK(RebuildDatabase(engine_, dir_.path()));
  EXPECT_EQ(engine_.WorkAreaOf(kAliasTimer), 0);
  EXPECT_EQ(engine_.WorkAreaOf(kAliasAlarm), 0);
  ASSERT_OK(CalendarIndexProblem(engine_, CalendarPath(dir_.path())));
  EXPECT_EQ(engine_.Area(OpenTable(engine_, CalendarPath(dir_.path()), kAliasTimer, kModeShared))->RecCount(), 2u);

  // The start-up check compares the entries with the records: an ALARM entry dropped, checksum right.
  const std::string cdx_path = (dir_.path() + "/data/CALENDAR.CDX").toStdString();
  xbase::testing::IndexBytes cdx(xbase::testing::ReadAll(cdx_path));
  const uint32_t leaf = cdx.Leaves("ALARM").front();
  cdx.SetCount(leaf, cdx.Count(leaf) - 1);
  cdx.FixChecksum(leaf);
  xbase::testing::WriteAll(cdx_path, cdx.bytes());
  EXPECT_TRUE(CalendarIndexProblem(engine_, CalendarPath(dir_.path())).IsCorruption());
  ASSERT_OK(RebuildDatabase(engine_, dir_.path()));

  // An index with a tag too many or too few is not the calendar's index.
  EXPECT_TRUE(engine_.CloseAll().ok());
  {
    xbase::Engine e;
    int a = 0;
    ASSERT_OK(e.Use(CalendarPath(dir_.path()).toStdString(), "X", xbase::OpenMode::kExclusive, &a));
    ASSERT_OK(e.Current()->IndexTag("EXTRA", "STATUS", ""));
  }
  EXPECT_TRUE(CalendarIndexProblem(engine_, CalendarPath(dir_.path())).IsCorruption());
}

// An activity without a time (STARTTIME -1) is at the start of its day, not 23:59 the day before.
TEST_F(CalendarTable, AnActivityWithoutATimeStaysOnItsDay) {
  Add("", 0, "20261224", -1);
  int area = OpenTable(engine_, CalendarPath(dir_.path()), kAliasTimer, kModeShared);
  ASSERT_GT(area, 0);
  xbase::WorkArea* wa = engine_.Area(area);
  ASSERT_OK(wa->GoTop());
  EXPECT_EQ(ReadReminderFacts(*wa).activity, QDateTime(QDate(2026, 12, 24), QTime(0, 0)));
}

// Checked before anything is written: no negative number, no year outside 1000-9999 (edges fit).
TEST_F(CalendarTable, NegativeNumbersAndYearsOutsideTheTableAreRefused) {
  int area = OpenTable(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared);
  ASSERT_GT(area, 0);
  const xbase::WorkArea& wa = *engine_.Area(area);
  ReminderRecord r;
  r.eventDate = r.alarmDate = QDate(2026, 12, 24);
  std::string field;
  EXPECT_TRUE(FirstValueThatDoesNotFit(wa, r, &field).ok());
  for (auto member : {&ReminderRecord::startTime, &ReminderRecord::alarmTime, &ReminderRecord::sound,
                      &ReminderRecord::sayDate, &ReminderRecord::sayTime, &ReminderRecord::countdown}) {
    ReminderRecord bad = r;
    bad.*member = -1;
    EXPECT_EQ(FirstValueThatDoesNotFit(wa, bad, &field).kind, ProblemKind::TextTooLong);
  }
  for (const auto& [d, kind] : {std::pair{QDate(999, 12, 31), ProblemKind::InvalidDate},
                                {QDate(10000, 1, 1), ProblemKind::InvalidDate},
                                {QDate(1000, 1, 1), ProblemKind::None},
                                {QDate(9999, 12, 31), ProblemKind::None}}) {
    for (auto member : {&ReminderRecord::eventDate, &ReminderRecord::alarmDate}) {
      ReminderRecord edge = r;
      edge.*member = d;
      EXPECT_EQ(FirstValueThatDoesNotFit(wa, edge, nullptr).kind, kind) << d.year();
    }
  }
}

// The shipped template has room for the widest value the program writes in every field.
TEST_F(CalendarTable, TheTemplateHoldsEveryValueTheProgramWrites) {
  xbase::WorkArea* wa = engine_.Area(OpenTable(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared));
  ASSERT_OK(wa->AppendBlank());
  const std::pair<const char*, const char*> texts[] = {{"REC_NO", "E123412345678"},
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
                                                       {"LASTEDIT", "20270929"}};
  for (const auto& [field, value] : texts) {
    ASSERT_OK(wa->Replace(field, value));
    EXPECT_EQ(xbase::testing::Trim(wa, field), value) << field << " cut the value";
  }
  for (const auto& [field, value] : {std::pair{"STARTTIME", 1439},
                                     {"ENDTIME", 1439},
                                     {"ALARMTIME", 1439},
                                     {"EDITTIME", 1439},
                                     {"SAYDATE", 1},
                                     {"SAYTIME", 1},
                                     {"SOUND", 8},
                                     {"COUNTDOWN", 1440}})
    EXPECT_OK(wa->ReplaceInteger(field, value));
  EXPECT_OK(wa->ReplaceMemo("COMMENT", std::string(5000, 'm')));
  EXPECT_OK(wa->Commit());
  xbase::Value v;
  ASSERT_OK(wa->KeyValue("ALARM", &v));
  EXPECT_EQ(v.s, "202709291439");
}

TEST_F(CalendarTable, HandleClosesWhatItOpenedOnEveryExitAndSeeksInItsOwnMode) {
  Add("20270105", 600, "20270105", 600);
  Add("20270107", 600, "20270107", 600);
  {
    TableHandle h = TableHandle::Calendar(engine_, dir_.path(), kAliasTimer);
    ASSERT_TRUE(h) << h.status().ToString();
    bool found = true;
    // Between the two keys: a soft seek lands on the next one, an exact one at the end.
    ASSERT_OK(h.Seek("20270106", /*soft=*/true, &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(h->RecNo(), 2u);
    engine_.settings().soft_seek = true;
    ASSERT_OK(h.Seek("20270106", /*soft=*/false, &found));
    EXPECT_TRUE(h->Eof());
    EXPECT_TRUE(engine_.settings().soft_seek);  // the engine's own mode is left as it was
  }
  EXPECT_EQ(engine_.WorkAreaOf(kAliasTimer), 0);

  // An alias someone else holds open is used and left open.
  const int held = OpenTable(engine_, CalendarPath(dir_.path()), kAliasCalendar, kModeShared);
  ASSERT_NE(held, 0);
  {
    TableHandle h(engine_, CalendarPath(dir_.path()), kAliasCalendar, kModeShared);
    EXPECT_EQ(h.area(), held);
  }
  EXPECT_EQ(engine_.WorkAreaOf(kAliasCalendar), held);

  // The whole engine closed under a handle (the program ending) and its alias opened again by
  // another: the handle's end leaves that one open. Afresh takes over an alias left open.
  {
    TableHandle h(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared);
    ASSERT_OK(engine_.CloseAll());
    EXPECT_EQ(h.get(), nullptr);
    ASSERT_NE(OpenTable(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared), 0);
  }
  EXPECT_NE(engine_.WorkAreaOf(kAliasOneTime), 0);
  {
    TableHandle h = TableHandle::Afresh(engine_, CalendarPath(dir_.path()), kAliasOneTime, kModeShared);
    EXPECT_TRUE(h);
  }
  EXPECT_EQ(engine_.WorkAreaOf(kAliasOneTime), 0);

  TableHandle missing(engine_, dir_.path() + "/nothing.dbf", kAliasOneTime, kModeShared);
  EXPECT_FALSE(missing);
  EXPECT_TRUE(missing.status().IsNotFound());
}

}  // namespace
}  // namespace chimewise::data

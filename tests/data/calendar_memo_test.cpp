#include "data/calendar_memo.h"

#include "data/calendar.h"
#include "data/kept_events.h"
#include "libs/xbase/test_util.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace chimewise;

TEST(CalendarMemo, OnlyAPartOfCalendarLinesIsTheCalendars) {
  const CalendarMemo m =
      SplitCalendarMemo("Room 4\n\n[iCalendar]\nUID:a@x\nDTSTART:20270105T090000Z\nRRULE:FREQ=DAILY\n");
  EXPECT_EQ(m.text, "Room 4");
  EXPECT_EQ(m.uid, "a@x");
  EXPECT_EQ(m.series, (QStringList{"DTSTART:20270105T090000Z", "RRULE:FREQ=DAILY"}));
  // The marker followed by prose, by lines without a UID or a start, or mid-line: the user's text.
  for (const QString& memo :
       {QString("Notes\n\n[iCalendar]\nsee the attached file, please"),
        QString("Notes\n\n[iCalendar]\nUID:x\nNote: call back"), QString("Notes\n\n[iCalendar]\nRRULE:FREQ=DAILY"),
        QString("about [iCalendar]\nUID:x"), QString("UID:x")}) {
    const CalendarMemo t = SplitCalendarMemo(memo);
    EXPECT_EQ(t.text, memo);
    EXPECT_FALSE(t.hasPart());
  }
}

namespace {

struct Row {
  std::string memo;
  std::string text;  // what the memo keeps
  QString uid;
  QStringList series;
};

class MemoMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("CHIMEWISE_SOURCE_DIR", CHIMEWISE_TEST_SOURCE_DIR);
    testsupport::CopyEmptyCalendar(dir_.path());
    data::ApplyStartupSettings(engine_);
  }
  template <typename Each>
  void EachRecord(Each each) {
    const int area = data::OpenTable(engine_, data::CalendarPath(dir_.path()), "T", data::kModeShared);
    ASSERT_NE(area, 0);
    xbase::WorkArea* wa = engine_.Area(area);
    for (uint32_t r = 1; r <= wa->RecCount(); ++r) {
      ASSERT_OK(wa->Go(r));
      each(*wa, r);
    }
    data::CloseTableIfOpen(engine_, "T");
  }
  std::string Memo(uint32_t recno) {
    std::string memo;
    EachRecord([&](xbase::WorkArea& wa, uint32_t r) {
      if (r == recno) ASSERT_OK(wa.GetMemo("COMMENT", &memo));
    });
    return memo;
  }
  // Every field but the memo, as the table holds it.
  std::vector<std::string> Rest() {
    std::vector<std::string> rest;
    EachRecord([&](xbase::WorkArea& wa, uint32_t) {
      for (const xbase::FieldDef& f : wa.Fields()) {
        std::string v;
        if (f.name != "COMMENT" && wa.GetString(f.name, &v).ok()) rest.push_back(f.name + '=' + v);
      }
    });
    return rest;
  }
  QTemporaryDir dir_;
  xbase::Engine engine_;
};

TEST_F(MemoMoveTest, ThePartGoesToTheKeptEventsOnceAndSafely) {
  const std::vector<Row> rows = {
      {"Room 4\n\n[iCalendar]\nUID:a@x\nDTSTART;TZID=Europe/Berlin:20270105T093000\nRRULE:FREQ=WEEKLY\n"
       "X-CHIMEWISE-LEAD:600\n",
       "Room 4",
       "a@x",
       {"DTSTART;TZID=Europe/Berlin:20270105T093000", "RRULE:FREQ=WEEKLY", "X-CHIMEWISE-LEAD:600"}},
      {"[iCalendar]\nUID:b@x\nDTSTART;VALUE=DATE:20270105\n", "", "b@x", {"DTSTART;VALUE=DATE:20270105"}},
      {"caf\xe9 \x80 bill\n\n[iCalendar]\nUID:c@x\n", "caf\xe9 \x80 bill", "c@x", {}},
      {"Notes\n\n[iCalendar]\nsee the attached file", "Notes\n\n[iCalendar]\nsee the attached file", {}, {}},
  };
  const int area = data::OpenTable(engine_, data::CalendarPath(dir_.path()), "T", data::kModeShared);
  ASSERT_NE(area, 0);
  xbase::WorkArea* wa = engine_.Area(area);
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_OK(wa->AppendBlank());
    ASSERT_OK(wa->Replace("REC_NO", "E" + std::to_string(i + 1)));
    ASSERT_OK(wa->Replace("APPT_TEXT", "Reminder " + std::to_string(i + 1)));
    ASSERT_OK(wa->ReplaceMemo("COMMENT", rows[i].memo));
    ASSERT_OK(wa->Commit());
    ASSERT_OK(wa->Unlock(wa->RecNo()));
  }
  data::CloseTableIfOpen(engine_, "T");
  const KeptEvents kept(dir_.path());
  KeptEvent synced;  // kept by a sync before: what it read in as held the part too
  synced.uid = "a@x";
  synced.resource = "BEGIN:VCALENDAR\r\n";
  synced.hasSynced = true;
  synced.synced.memo = QString::fromLatin1(rows[0].memo.c_str());
  const auto id = [](int n) { return ("E" + QByteArray::number(n)).leftJustified(13, ' '); };  // as REC_NO holds it
  ASSERT_TRUE(kept.Put(id(1), synced).ok());
  const std::vector<std::string> rest = Rest();

  // The kept events cannot be written: no memo is touched.
  ASSERT_TRUE(QDir().rename(kept.folder(), kept.folder() + ".aside"));
  testsupport::Touch(kept.folder(), "not a folder");
  MemoMove move = MoveCalendarMemos(engine_, dir_.path());
  EXPECT_FALSE(move.problem.ok());
  EXPECT_EQ(move.moved, 0);
  for (uint32_t r = 1; r <= rows.size(); ++r) EXPECT_EQ(Memo(r), rows[r - 1].memo);
  ASSERT_TRUE(QFile::remove(kept.folder()));
  ASSERT_TRUE(QDir().rename(kept.folder() + ".aside", kept.folder()));

  // Moved; then as after a kill between the kept events and the memos (the first memo back as
  // it was): done again, the same; and once more: nothing to do.
  for (const int expected : {3, 1, 0}) {
    SCOPED_TRACE(expected);
    move = MoveCalendarMemos(engine_, dir_.path());
    EXPECT_TRUE(move.problem.ok());
    EXPECT_EQ(move.moved, expected);
    for (uint32_t r = 1; r <= rows.size(); ++r) {
      const Row& row = rows[r - 1];
      EXPECT_EQ(Memo(r), row.text) << r;
      const std::optional<KeptEvent> k = kept.Get(id(static_cast<int>(r)));
      ASSERT_EQ(k.has_value(), !row.uid.isEmpty()) << r;
      if (!k) continue;
      EXPECT_EQ(k->uid, row.uid);
      EXPECT_EQ(k->series, row.series);
    }
    EXPECT_EQ(Rest(), rest);
    const std::optional<KeptEvent> k1 = kept.Get(id(1));
    EXPECT_EQ(k1->synced.memo, "Room 4");
    EXPECT_EQ(k1->resource, synced.resource);
    if (expected == 3) {
      const int again = data::OpenTable(engine_, data::CalendarPath(dir_.path()), "T", data::kModeShared);
      ASSERT_OK(engine_.Area(again)->Go(1));
      ASSERT_OK(engine_.Area(again)->ReplaceMemo("COMMENT", rows[0].memo));
      ASSERT_OK(engine_.Area(again)->Commit());
      ASSERT_OK(engine_.Area(again)->Unlock(1));
      data::CloseTableIfOpen(engine_, "T");
    }
  }
}

}  // namespace

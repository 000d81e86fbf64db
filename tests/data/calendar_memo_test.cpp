#include "data/calendar_memo.h"

#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/table_handle.h"
#include "libs/xbase/test_util.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

using namespace chimewise;

namespace {

// The calendar part of an earlier version's memo goes to the kept events once and safely: the
// memo keeps its text byte for byte, nothing else in the record changes, a marker followed by
// anything but calendar lines (with a UID or a start) is the user's text. The kept events are
// on the disk before a memo is cut: unwritable, no memo changes; after a kill between the two, it
// is done again the same; then there is nothing to do.
TEST(CalendarMemo, ThePartMovesToTheKeptEventsOnceAndSafely) {
  const struct {
    std::string memo;
    std::string text;  // what the memo keeps
    QString uid;
    QStringList series;
  } rows[] = {
      {"Room 4\n\n[iCalendar]\nUID:a@x\nDTSTART;TZID=Europe/Berlin:20270105T093000\nRRULE:FREQ=WEEKLY\n"
       "X-CHIMEWISE-LEAD:600\n",
       "Room 4",
       "a@x",
       {"DTSTART;TZID=Europe/Berlin:20270105T093000", "RRULE:FREQ=WEEKLY", "X-CHIMEWISE-LEAD:600"}},
      {"[iCalendar]\nUID:b@x\nDTSTART;VALUE=DATE:20270105\n", "", "b@x", {"DTSTART;VALUE=DATE:20270105"}},
      {"caf\xe9 \x80 bill\n\n[iCalendar]\nUID:c@x\n", "caf\xe9 \x80 bill", "c@x", {}},
      {"Notes\n\n[iCalendar]\nsee the attached file", "Notes\n\n[iCalendar]\nsee the attached file", {}, {}},
      {"Notes\n\n[iCalendar]\nUID:x\nNote: call back", "Notes\n\n[iCalendar]\nUID:x\nNote: call back", {}, {}},
      {"Notes\n[iCalendar]\nRRULE:FREQ=DAILY", "Notes\n[iCalendar]\nRRULE:FREQ=DAILY", {}, {}},
      {"about [iCalendar]\nUID:x", "about [iCalendar]\nUID:x", {}, {}},
  };
  qputenv("CHIMEWISE_SOURCE_DIR", CHIMEWISE_TEST_SOURCE_DIR);
  QTemporaryDir dir;
  testsupport::CopyEmptyCalendar(dir.path());
  xbase::Engine engine;
  data::ApplyStartupSettings(engine);
  // Each record with what `each` does to it.
  const auto records = [&](const std::function<void(xbase::WorkArea&, size_t)>& each) {
    const data::TableHandle table(engine, data::CalendarPath(dir.path()), "T", data::kModeShared);
    ASSERT_TRUE(table.ok());
    for (size_t i = 0; i < std::size(rows); ++i) {
      xbase::WorkArea& wa = *table;
      if (i >= wa.RecCount()) ASSERT_OK(wa.AppendBlank());
      ASSERT_OK(wa.Go(static_cast<uint32_t>(i + 1)));
      each(wa, i);
    }
  };
  records([&](xbase::WorkArea& wa, size_t i) {
    ASSERT_OK(wa.Replace("REC_NO", "E" + std::to_string(i)));
    ASSERT_OK(wa.Replace("APPT_TEXT", "Reminder " + std::to_string(i)));
    ASSERT_OK(wa.ReplaceMemo("COMMENT", rows[i].memo));
    ASSERT_OK(wa.Commit());
    ASSERT_OK(wa.Unlock(wa.RecNo()));
  });
  // Every field as the table holds it, the memo apart.
  const auto table = [&](std::vector<std::string>* memos) {
    std::vector<std::string> rest;
    records([&](xbase::WorkArea& wa, size_t) {
      std::string v;
      EXPECT_OK(wa.GetMemo("COMMENT", &v));
      memos->push_back(v);
      for (const xbase::FieldDef& f : wa.Fields())
        if (f.name != "COMMENT" && wa.GetString(f.name, &v).ok()) rest.push_back(f.name + '=' + v);
    });
    return rest;
  };
  const KeptEvents kept(dir.path());
  const auto id = [](size_t i) { return ("E" + QByteArray::number(qulonglong(i))).leftJustified(13, ' '); };
  KeptEvent synced;  // kept by a sync before: what it read in as held the part too
  synced.uid = "a@x";
  synced.resource = "BEGIN:VCALENDAR\r\n";
  synced.hasSynced = true;
  synced.synced.memo = QString::fromLatin1(rows[0].memo.c_str());
  ASSERT_TRUE(kept.Put(id(0), synced).ok());
  std::vector<std::string> memos;
  const std::vector<std::string> rest = table(&memos);

  ASSERT_TRUE(QDir().rename(kept.folder(), kept.folder() + ".aside"));
  testsupport::Touch(kept.folder(), "not a folder");
  MemoMove move = MoveCalendarMemos(engine, dir.path());
  EXPECT_FALSE(move.problem.ok());
  memos.clear();
  table(&memos);
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(memos[i], rows[i].memo);
  ASSERT_TRUE(QFile::remove(kept.folder()));
  ASSERT_TRUE(QDir().rename(kept.folder() + ".aside", kept.folder()));

  for (const int expected : {3, 1, 0}) {
    SCOPED_TRACE(expected);
    move = MoveCalendarMemos(engine, dir.path());
    EXPECT_TRUE(move.problem.ok());
    EXPECT_EQ(move.moved, expected);
    memos.clear();
    EXPECT_EQ(table(&memos), rest);
    for (size_t i = 0; i < std::size(rows); ++i) {
      EXPECT_EQ(memos[i], rows[i].text) << i;
      const std::optional<KeptEvent> k = kept.Get(id(i));
      ASSERT_EQ(k.has_value(), !rows[i].uid.isEmpty()) << i;
      if (k) {
        EXPECT_EQ(std::pair(k->uid, k->series), std::pair(rows[i].uid, rows[i].series));
      }
    }
    EXPECT_EQ(kept.Get(id(0))->synced.memo, "Room 4");
    EXPECT_EQ(kept.Get(id(0))->resource, synced.resource);
    if (expected == 3)  // a kill between the kept events and the memos: the first memo as it was
      records([&](xbase::WorkArea& wa, size_t i) {
        if (i > 0) return;
        ASSERT_OK(wa.ReplaceMemo("COMMENT", rows[0].memo));
        ASSERT_OK(wa.Commit());
        ASSERT_OK(wa.Unlock(wa.RecNo()));
      });
  }
}

}  // namespace

#include "data/calendar_memo.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(CalendarMemo, TheCalendarPartComesBackAsItWasPut) {
  for (const QString& text : {QString(), QString("Room 4"), QString("two\nlines\n"), QString("ends\n\n")}) {
    const CalendarMemo in{text, "abc@example.org", {"DTSTART:20270105T090000Z", "RRULE:FREQ=WEEKLY;INTERVAL=2"}};
    const CalendarMemo out = SplitCalendarMemo(JoinCalendarMemo(in));
    EXPECT_EQ(out.text, in.text);
    EXPECT_EQ(out.uid, in.uid);
    EXPECT_EQ(out.series, in.series);
  }
  EXPECT_EQ(JoinCalendarMemo({"just text", {}, {}}), "just text");
}

TEST(CalendarMemo, TextThatOnlyLooksLikeItStaysText) {
  // The marker followed by prose is the user's own writing, and so is a marker mid-line.
  for (const QString& memo : {QString("Notes\n\n[iCalendar]\nsee the attached file, please"),
                              QString("Notes\n\n[iCalendar]\nUID:x\nNote: call back"),
                              QString("about [iCalendar]\nUID:x"), QString("UID:x")}) {
    const CalendarMemo m = SplitCalendarMemo(memo);
    EXPECT_EQ(m.text, memo);
    EXPECT_TRUE(m.uid.isEmpty());
    EXPECT_TRUE(m.series.isEmpty());
  }
  // Only the last calendar part counts.
  EXPECT_EQ(SplitCalendarMemo("a\n[iCalendar]\nUID:old\n\n[iCalendar]\nUID:new\n").uid, "new");
}

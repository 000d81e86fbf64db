#include "core/timer_tick.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
QDateTime at(int h, int m, int s = 0) { return QDateTime(QDate(2026, 12, 6), QTime(h, m, s)); }
TickInputs range(QTime start, QTime end) { return {.timeRangeOn = true, .rangeStart = start, .rangeEnd = end}; }
// What a tick decides: Announce, Reschedule the announcement, Scan the alarms, check Mail.
std::string tick(const TickInputs& in, const QDateTime& now) {
  const TickDecision d = DecideTick(in, now);
  return std::string(d.announce ? "A" : "-") + (d.rescheduleAnnouncement ? "R" : "-") + (d.scanAlarms ? "S" : "-") +
         (d.checkMail ? "M" : "-");
}
}  // namespace

TEST(TickDecision, TheRangeBoundsTheScheduledTimeInclusively) {
  EXPECT_EQ(ClockValue(QTime(0, 30)), 30);
  EXPECT_EQ(ClockValue(QTime(23, 59, 59)), 2359);
  TickInputs in = range(QTime(7, 0), QTime(21, 0));
  in.nextAnnounceTime = at(21, 0);
  EXPECT_EQ(tick(in, at(21, 0, 3)), "A---");
  in.nextAnnounceTime = at(7, 0);
  EXPECT_EQ(tick(in, at(7, 0, 1)), "A---");
  in.nextAnnounceTime = at(21, 1);
  EXPECT_EQ(tick(in, at(21, 1, 3)), "-R--");
  in.nextAnnounceTime = at(6, 59);
  EXPECT_EQ(tick(in, at(7, 30)), "-R--");  // inside the range now, but the scheduled time was not
  // An inverted range admits nothing and moves on; without a range anything goes.
  in = range(QTime(22, 0), QTime(6, 0));
  for (auto t : {at(23, 0), at(2, 0), at(22, 0), at(6, 0), at(12, 0)}) {
    in.nextAnnounceTime = t;
    EXPECT_EQ(tick(in, t.addSecs(5)), "-R--") << t.toString().toStdString();
  }
  in.timeRangeOn = false;
  in.nextAnnounceTime = at(23, 0);
  EXPECT_EQ(tick(in, at(23, 0, 5)), "A---");
}

TEST(TickDecision, EachDutyOnlyOnceItsMomentHasPassed) {
  TickInputs in = range(QTime(7, 0), QTime(21, 0));
  in.nextAnnounceTime = at(10, 0);
  in.nextAlarmTime = at(10, 0);
  EXPECT_EQ(tick(in, at(10, 0)), "----");  // equal is not yet "earlier than now"
  EXPECT_EQ(tick(in, at(10, 0, 1)), "A-S-");
  // Nothing scheduled and no alarm pending: never. Mail: not yet, due, not while the last runs.
  in = TickInputs{.timeRangeOn = false};
  EXPECT_EQ(tick(in, at(12, 0)), "----");
  in.nextMailCheck = at(10, 10);
  EXPECT_EQ(tick(in, at(10, 10)), "----");
  EXPECT_EQ(tick(in, at(10, 10, 1)), "---M");
  in.mailCheckRunning = true;
  EXPECT_EQ(tick(in, at(10, 30)), "----");
  in.mailCheckRunning = false;
  in.nextAlarmTime = at(10, 0);
  in.nextAnnounceTime = at(10, 0);
  EXPECT_EQ(tick(in, at(10, 30)), "A-SM");  // all three in one tick
}

#include "core/timer_tick.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
QDateTime at(int h, int m, int s = 0) { return QDateTime(QDate(2026, 12, 6), QTime(h, m, s)); }
TickInputs range(QTime start, QTime end) {
  TickInputs in;
  in.timeRangeOn = true;
  in.rangeStart = start;
  in.rangeEnd = end;
  return in;
}
}  // namespace

TEST(ClockValue, HourWithoutLeadingZeroThenMinutes) {
  EXPECT_EQ(ClockValue(QTime(7, 5)), 705);
  EXPECT_EQ(ClockValue(QTime(21, 0)), 2100);
  EXPECT_EQ(ClockValue(QTime(0, 30)), 30);
  EXPECT_EQ(ClockValue(QTime(23, 59, 59)), 2359);
}

TEST(TickDecision, RangeBoundsAreInclusiveOnTheScheduledTime) {
  TickInputs in = range(QTime(7, 0), QTime(21, 0));
  in.nextAnnounceTime = at(21, 0);
  auto d = DecideTick(in, at(21, 0, 3));
  EXPECT_TRUE(d.announce);
  EXPECT_FALSE(d.rescheduleAnnouncement);

  in.nextAnnounceTime = at(7, 0);
  EXPECT_TRUE(DecideTick(in, at(7, 0, 1)).announce);

  in.nextAnnounceTime = at(21, 1);
  d = DecideTick(in, at(21, 1, 3));
  EXPECT_FALSE(d.announce);
  EXPECT_TRUE(d.rescheduleAnnouncement);

  in.nextAnnounceTime = at(6, 59);
  d = DecideTick(in, at(7, 30));  // it is inside the range now, but the scheduled time was not
  EXPECT_FALSE(d.announce);
  EXPECT_TRUE(d.rescheduleAnnouncement);
}

TEST(TickDecision, NothingBeforeTheScheduledMoment) {
  TickInputs in = range(QTime(7, 0), QTime(21, 0));
  in.nextAnnounceTime = at(10, 0);
  in.nextAlarmTime = at(10, 0);
  auto d = DecideTick(in, at(10, 0));  // equal is not yet "earlier than now"
  EXPECT_FALSE(d.announce);
  EXPECT_FALSE(d.rescheduleAnnouncement);
  EXPECT_FALSE(d.scanAlarms);
  d = DecideTick(in, at(10, 0, 1));
  EXPECT_TRUE(d.announce);
  EXPECT_TRUE(d.scanAlarms);  // both due in one tick: the caller announces first
}

TEST(TickDecision, InvertedRangeAdmitsNothingAndMovesOn) {
  TickInputs in = range(QTime(22, 0), QTime(6, 0));
  for (auto t : {at(23, 0), at(2, 0), at(22, 0), at(6, 0), at(12, 0)}) {
    in.nextAnnounceTime = t;
    auto d = DecideTick(in, t.addSecs(5));
    EXPECT_FALSE(d.announce) << t.toString().toStdString();
    EXPECT_TRUE(d.rescheduleAnnouncement);
  }
  in.timeRangeOn = false;
  in.nextAnnounceTime = at(23, 0);
  EXPECT_TRUE(DecideTick(in, at(23, 0, 5)).announce);
}

TEST(TickDecision, NoScheduleNeverTriggers) {
  TickInputs in = range(QTime(0, 0), QTime(23, 59));
  in.nextAnnounceTime = QDateTime();  // none scheduled (0)
  in.nextAlarmTime = QDateTime();     // none pending (-1)
  auto d = DecideTick(in, at(12, 0));
  EXPECT_FALSE(d.announce);
  EXPECT_FALSE(d.rescheduleAnnouncement);
  EXPECT_FALSE(d.scanAlarms);
  in.timeRangeOn = false;
  EXPECT_FALSE(DecideTick(in, at(12, 0)).announce);
}

TEST(TickDecision, MailCheckOnceItsMomentHasPassedAndNoneRuns) {
  TickInputs in;
  EXPECT_FALSE(DecideTick(in, at(10, 0)).checkMail);  // checking is off
  in.nextMailCheck = at(10, 10);
  EXPECT_FALSE(DecideTick(in, at(10, 10)).checkMail);
  auto d = DecideTick(in, at(10, 10, 1));
  EXPECT_TRUE(d.checkMail);
  EXPECT_FALSE(d.announce);
  EXPECT_FALSE(d.scanAlarms);
  in.mailCheckRunning = true;  // the previous check has not answered yet
  EXPECT_FALSE(DecideTick(in, at(10, 30)).checkMail);
  in.mailCheckRunning = false;
  in.nextAlarmTime = at(10, 0);
  in.nextAnnounceTime = at(10, 0);
  in.timeRangeOn = false;
  d = DecideTick(in, at(10, 30));
  EXPECT_TRUE(d.announce && d.scanAlarms && d.checkMail);  // all three in one tick
}

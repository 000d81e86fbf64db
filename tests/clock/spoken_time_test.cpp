#include "clock/spoken_time.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
QDateTime at(int h, int m, int s = 0, QDate d = QDate(2026, 12, 4)) { return QDateTime(d, QTime(h, m, s)); }
}  // namespace

TEST(SpokenTime, PhrasesOfAFridayAfternoon) {
  const QDateTime now = at(15, 5);
  EXPECT_EQ(SpokenTime(now, "h:mm am/pm"), "3:05 pm");
  EXPECT_EQ(SpokenTime(now, "h:mm"), "15:05");
  EXPECT_EQ(SpokenWeekday(now.date()), "Friday");
  EXPECT_EQ(SpokenDate(now.date()), "December 4th, 2026");
  EXPECT_EQ(SpokenTime(at(0, 7), "h:mm am/pm"), "12:07 am");
  EXPECT_EQ(SpokenTime(at(12, 0), "h:mm am/pm"), "12:00 pm");
}

TEST(SpokenTime, OrdinalSuffixes) {
  const char* expected[32] = {"",   "st", "nd", "rd", "th", "th", "th", "th", "th", "th", "th",
                              "th", "th", "th", "th", "th", "th", "th", "th", "th", "th", "st",
                              "nd", "rd", "th", "th", "th", "th", "th", "th", "th", "st"};
  for (int d = 1; d <= 31; ++d) EXPECT_EQ(OrdinalSuffix(d), expected[d]) << d;
  EXPECT_EQ(SpokenDate(QDate(2027, 1, 1)), "January 1st, 2027");
  EXPECT_EQ(SpokenDate(QDate(2026, 3, 22)), "March 22nd, 2026");
}

TEST(SpokenTime, PartOfDayBoundaries) {
  for (int h = 0; h < 24; ++h) EXPECT_EQ(PartOfDayWord(h), h < 12 ? "Morning" : h < 17 ? "Afternoon" : "Evening") << h;
}

TEST(AnnouncementSchedule, NextWholeStepStrictlyAfterTheCurrentMinute) {
  EXPECT_EQ(NextAnnouncementTime(at(10, 7, 40), "1", 3), at(10, 15));
  EXPECT_EQ(NextAnnouncementTime(at(10, 15, 0), "1", 3), at(10, 30));
  EXPECT_EQ(NextAnnouncementTime(at(10, 59, 59), "1", 3), at(11, 0));
  EXPECT_EQ(NextAnnouncementTime(at(10, 0, 5), "1", 6), at(11, 0));
  EXPECT_EQ(NextAnnouncementTime(at(10, 40), "1", 6), at(11, 0));
  EXPECT_EQ(NextAnnouncementTime(at(10, 7, 40), "1", 0), at(10, 8));
  EXPECT_EQ(NextAnnouncementTime(at(10, 20), "1", 4), at(10, 40));
  EXPECT_EQ(NextAnnouncementTime(at(10, 29, 59), "1", 5), at(10, 30));
  // across midnight
  EXPECT_EQ(NextAnnouncementTime(at(23, 59, 30), "1", 1), at(0, 0, 0, QDate(2026, 12, 5)));
}

TEST(AnnouncementSchedule, OnOffAndDamagedIndexes) {
  EXPECT_FALSE(NextAnnouncementTime(at(10, 0), "0", 6).isValid());
  EXPECT_TRUE(NextAnnouncementTime(at(10, 0), "", 6).isValid());  // empty counts as on
  EXPECT_TRUE(NextAnnouncementTime(at(10, 0), "00", 6).isValid());
  // A damaged index never schedules the current minute (which would speak on every tick).
  for (int bad : {-1, 7, 300}) EXPECT_EQ(NextAnnouncementTime(at(10, 7), "1", bad), at(11, 0)) << bad;
}

#include "core/time_format.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(DateText, ReadsTheFormsTheProgramMeets) {
  EXPECT_EQ(ParseDateText("2026-12-26 10:15:45"), QDateTime(QDate(2026, 12, 26), QTime(10, 15, 45)));
  EXPECT_EQ(ParseDateText("2026-12-26"), QDateTime(QDate(2026, 12, 26), QTime(0, 0)));
  EXPECT_EQ(ParseDateText("1-JAN-1980 00:01"), QDateTime(QDate(1980, 1, 1), QTime(0, 1)));
  EXPECT_EQ(ParseDateText("12/6/2026 9:05:00 PM"), QDateTime(QDate(2026, 12, 6), QTime(21, 5)));
  EXPECT_EQ(ParseDateText("1"), QDateTime(QDate(1899, 12, 31), QTime(0, 0)));  // long past
  EXPECT_EQ(ParseDateText("0.5"), QDateTime(QDate(1899, 12, 30), QTime(12, 0)));
  const QDateTime t(QDate(2027, 2, 28), QTime(23, 59, 59));
  EXPECT_EQ(ParseDateText(FormatDateText(t)), t);
}

TEST(DateText, RejectsWhatIsNotADate) {
  for (const char* t :
       {"", "soon", "2026-13-01", "2026-02-30", "31-FOO-2020", "2026-01-01 25:00", "1e9", "99999999", "13/13/2020"})
    EXPECT_FALSE(ParseDateText(t).has_value()) << t;
}

TEST(TimeText, TwelveAndTwentyFourHourForms) {
  EXPECT_EQ(ParseTimeText("7:00:00 AM"), QTime(7, 0));
  EXPECT_EQ(ParseTimeText("07:00"), QTime(7, 0));  // what the Options dialog writes
  EXPECT_EQ(ParseTimeText("9:00:00 PM"), QTime(21, 0));
  EXPECT_EQ(ParseTimeText("21:00"), QTime(21, 0));
  EXPECT_EQ(ParseTimeText("12:30 am"), QTime(0, 30));
  EXPECT_EQ(ParseTimeText("12:30 PM"), QTime(12, 30));
  EXPECT_EQ(ParseTimeText("7 pm"), QTime(19, 0));
  for (const char* t : {"", "7", "25:00", "13:00 PM", "0:10 AM", "noon", "7:60"})
    EXPECT_FALSE(ParseTimeText(t).has_value()) << t;
}

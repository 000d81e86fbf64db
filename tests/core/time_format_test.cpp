#include "core/time_format.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(TimeFormat, PatternsOfTheTimeFormatSetting) {
  EXPECT_EQ(FormatTime(QTime(0, 40), "h:mm am/pm"), "12:40 am");
  EXPECT_EQ(FormatTime(QTime(12, 5), "h:mm am/pm"), "12:05 pm");
  EXPECT_EQ(FormatTime(QTime(23, 59), "h:mm AM/PM"), "11:59 PM");
  EXPECT_EQ(FormatTime(QTime(7, 5), "h:mm"), "7:05");
  EXPECT_EQ(FormatTime(QTime(7, 5, 9), "hh:nn:ss"), "07:05:09");
  EXPECT_EQ(FormatTime(QTime(19, 5), "h:mm a/p"), "7:05 p");
}

TEST(TimeFormat, DisplayTextsReadBackToTheSameMoment) {
  for (const char* pattern : {"h:mm am/pm", "h:mm", "hh:mm AM/PM"}) {
    for (const QDateTime& t : {QDateTime(QDate(2026, 12, 6), QTime(0, 40)), QDateTime(QDate(1999, 1, 31), QTime(12, 0)),
                              QDateTime(QDate(2101, 7, 4), QTime(23, 59))}) {
      const QString text = FormatDateTimeText(t, pattern);
      EXPECT_EQ(ParseDateTimeText(text, pattern), t) << text.toStdString();
    }
  }
  EXPECT_TRUE(FormatShortDate(QDate(2026, 12, 6)).contains("2026"));  // four-digit year, always
  EXPECT_FALSE(ParseDateTimeText("not a date", "h:mm"));
}

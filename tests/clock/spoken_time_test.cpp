#include "clock/spoken_time.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
QDateTime at(int h, int m, int s = 0, QDate d = QDate(2026, 12, 4)) { return QDateTime(d, QTime(h, m, s)); }
}  // namespace

TEST(SpokenTime, PhrasesOfTimeDateAndPartOfDay) {
  EXPECT_EQ(SpokenTime(at(15, 5), "h:mm am/pm"), "3:05 pm");
  EXPECT_EQ(SpokenTime(at(15, 5), "h:mm"), "15:05");
  EXPECT_EQ(SpokenTime(at(0, 7), "h:mm am/pm"), "12:07 am");
  EXPECT_EQ(SpokenTime(at(12, 0), "h:mm am/pm"), "12:00 pm");
  EXPECT_EQ(SpokenDate(QDate(2027, 1, 22)), "January 22nd, 2027");
  for (const char* o : {"1st", "2nd", "3rd", "4th", "11th", "12th", "13th", "21st", "22nd", "23rd", "31st"})
    EXPECT_EQ(QString::number(std::atoi(o)) + OrdinalSuffix(std::atoi(o)), o);
  for (int h = 0; h < 24; ++h) EXPECT_EQ(PartOfDayWord(h), h < 12 ? "Morning" : h < 17 ? "Afternoon" : "Evening") << h;
}

TEST(AnnouncementSchedule, NextWholeStepStrictlyAfterTheCurrentMinute) {
  const struct {
    QDateTime now;
    QString on;
    int index;
    QDateTime next;  // invalid: off
  } cases[] = {{at(10, 7, 40), "1", 3, at(10, 15)},
               {at(10, 15, 0), "1", 3, at(10, 30)},
               {at(10, 59, 59), "1", 3, at(11, 0)},
               {at(10, 0, 5), "1", 6, at(11, 0)},
               {at(10, 7, 40), "1", 0, at(10, 8)},
               {at(10, 29, 59), "1", 5, at(10, 30)},
               {at(23, 59, 30), "1", 1, at(0, 0, 0, QDate(2026, 12, 5))},
               {at(10, 0), "0", 6, {}},
               {at(10, 0), "", 6, at(11, 0)},
               {at(10, 0), "00", 6, at(11, 0)},
               // A damaged index never schedules the current minute (which would speak on every tick).
               {at(10, 7), "1", -1, at(11, 0)},
               {at(10, 7), "1", 7, at(11, 0)}};
  for (const auto& c : cases)
    EXPECT_EQ(NextAnnouncementTime(c.now, c.on, c.index), c.next) << c.now.toString().toStdString() << c.index;
}

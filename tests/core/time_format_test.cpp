#include "core/time_format.h"

#include <QLocale>
#include <QScopeGuard>
#include <ctime>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDate kSpring(2026, 3, 29);   // Europe/Berlin: 02:00 CET becomes 03:00 CEST
const QDate kAutumn(2026, 10, 25);  // Europe/Berlin: 03:00 CEST becomes 02:00 CET

QDateTime utc(int h, int m, QDate d) { return QDateTime(d, QTime(h, m), Qt::UTC).toLocalTime(); }

}  // namespace

TEST(TimeFormat, PatternsOfTheSettingAndOneDisplayFormInEveryLocale) {
  EXPECT_EQ(FormatTime(QTime(0, 40), "h:mm am/pm"), "12:40 am");
  EXPECT_EQ(FormatTime(QTime(12, 5), "h:mm AM/PM"), "12:05 PM");
  EXPECT_EQ(FormatTime(QTime(7, 5, 9), "hh:nn:ss"), "07:05:09");
  EXPECT_EQ(FormatTime(QTime(19, 5), "h:mm a/p"), "7:05 p");
  const auto restore = qScopeGuard([saved = QLocale()] { QLocale::setDefault(saved); });
  const QDateTime late(QDate(2026, 12, 31), QTime(12, 59));
  for (const char* name : {"en_GB", "de_DE", "C"}) {
    QLocale::setDefault(QLocale(QString::fromLatin1(name)));
    EXPECT_EQ(FormatDateTimeText(late, "h:mm am/pm"), "12/31/2026 12:59 pm") << name;
    EXPECT_EQ(FormatDateTimeText(QDateTime(QDate(2026, 1, 2), QTime(0, 40)), "h:mm"), "01/02/2026 0:40") << name;
    EXPECT_EQ(FormatShortDate(QDate(987, 6, 5)), "06/05/0987") << name;
  }
  EXPECT_LE(FormatDateTimeText(late, "hh:mm:ss AM/PM").size(), 60);  // fits ALARMTEXT and DATETEXT
  // The wall-clock minute: twenty to one is 40; alarm minutes roll over into the next or last day.
  EXPECT_EQ(MinuteOfDay(QDateTime(QDate(2026, 12, 6), QTime(0, 40, 59))), 40);
  EXPECT_EQ(AlarmMoment(QDate(2026, 12, 6), 1445), QDateTime(QDate(2026, 12, 7), QTime(0, 5)));
  EXPECT_EQ(AlarmMoment(QDate(2026, 12, 6), -5), QDateTime(QDate(2026, 12, 5), QTime(23, 55)));
}

TEST(DaylightSaving, DurationsAreRealTime) {
  // Spring 01:30 CET to 03:00 CEST is half an hour; autumn 02:30 CEST to the second 02:30 an hour.
  EXPECT_EQ(MinuteBoundaries(QDateTime(kSpring, QTime(1, 30)), QDateTime(kSpring, QTime(3, 0))), 30);
  EXPECT_EQ(MinuteBoundaries(utc(0, 30, kAutumn), utc(1, 30, kAutumn)), 60);
  EXPECT_EQ(MinuteBoundaries(QDateTime(kSpring, QTime(3, 0, 59)), QDateTime(kSpring, QTime(1, 59, 1))), -1);
  EXPECT_EQ(
      MinuteBoundaries(QDateTime(QDate(2026, 12, 4), QTime(10, 0, 45)), QDateTime(QDate(2026, 12, 4), QTime(9, 50))),
      -10);
}

TEST(DaylightSaving, WallTimesAtBothChanges) {
  // The skipped 02:30 is the same wall time after the change, and says so.
  EXPECT_EQ(AlarmMoment(kSpring, 2 * 60 + 30), utc(1, 30, kSpring));
  EXPECT_TRUE(WallTimeSkipped(kSpring, 2 * 60 + 30));
  EXPECT_TRUE(WallTimeSkipped(kSpring.addDays(-1), 1440 + 2 * 60));  // rolled over into the gap
  EXPECT_FALSE(WallTimeSkipped(kSpring, 3 * 60));
  EXPECT_FALSE(WallTimeSkipped(kSpring, 1 * 60 + 59));
  EXPECT_FALSE(WallTimeSkipped(kAutumn, 2 * 60 + 30));
  EXPECT_EQ(AlarmMoment(kSpring, 1 * 60 + 59), utc(0, 59, kSpring));
  // A repeated wall time is its first run (CEST, UTC+2).
  EXPECT_EQ(AlarmMoment(kAutumn, 2 * 60 + 30), utc(0, 30, kAutumn));
  EXPECT_EQ(AlarmMoment(kAutumn, 2 * 60), utc(0, 0, kAutumn));
  EXPECT_EQ(AlarmMoment(kAutumn, 3 * 60), utc(2, 0, kAutumn));
}

// Every minute of the autumn night has a stored form that reads back as that minute: the second
// run of the repeated hour is written as minutes past the end of the day before. A wall time typed
// during the second run means the second run; typed before, the first.
TEST(DaylightSaving, EveryMinuteIsStoredAndTypedTimesMeanTheNearerRun) {
  EXPECT_EQ(StoredWallTime(utc(1, 35, kAutumn)).date, kAutumn.addDays(-1));
  EXPECT_EQ(StoredWallTime(utc(1, 35, kAutumn)).minutes, 1440 + 2 * 60 + 35);
  EXPECT_EQ(StoredWallTime(utc(0, 35, kAutumn)).minutes, 2 * 60 + 35);
  EXPECT_EQ(StorableMoment(QDateTime(kSpring, QTime(3, 0, 40))), QDateTime(kSpring, QTime(3, 0)));
  for (int m = -90; m < 180; m += 7) {
    const QDateTime t = utc(0, 0, kAutumn).addSecs(60LL * m);
    const StoredWall w = StoredWallTime(t);
    EXPECT_EQ(AlarmMoment(w.date, w.minutes), t) << m;
    EXPECT_EQ(StorableMoment(t), t) << m;
    EXPECT_EQ(WallReading(w.date, w.minutes), WallReading(t)) << m;  // the same wall time either way
  }
  struct Case {
    QDateTime now;
    QTime typed;
    QDateTime means;
  } cases[] = {
      {utc(23, 50, kAutumn.addDays(-1)), QTime(2, 25), utc(0, 25, kAutumn)},  // before the hour: its first run
      {utc(0, 10, kAutumn), QTime(2, 25), utc(0, 25, kAutumn)},               // in the first run, ahead
      {utc(1, 10, kAutumn), QTime(2, 25), utc(1, 25, kAutumn)},               // in the second run, ahead
      {utc(1, 10, kAutumn), QTime(2, 5), utc(1, 5, kAutumn)},                 // in the second run, just gone
      {utc(1, 10, kAutumn), QTime(3, 5), utc(2, 5, kAutumn)},                 // after the hour: once only
  };
  for (const Case& c : cases)
    EXPECT_EQ(TypedMoment(kAutumn, c.typed, c.now), c.means) << c.typed.toString().toStdString();
}

// New York goes back at 02:00 EDT to 01:00 EST on 7 November 2027: the same rules hold.
TEST(DaylightSaving, NewYorkRepeatsItsOneOClockHour) {
  const QByteArray was = qgetenv("TZ");
  qputenv("TZ", "America/New_York");
  tzset();
  const auto restore = qScopeGuard([&] {
    qputenv("TZ", was);
    tzset();
  });
  const QDate back(2027, 11, 7);
  const QDateTime second = QDateTime(back, QTime(6, 20), Qt::UTC).toLocalTime();  // 01:20 EST
  const StoredWall w = StoredWallTime(second);
  EXPECT_EQ(w.date, back.addDays(-1));
  EXPECT_EQ(AlarmMoment(w.date, w.minutes), second);
  EXPECT_EQ(AlarmMoment(back, 80), second.addSecs(-3600));  // 01:20 EDT, the first run
  EXPECT_EQ(TypedMoment(back, QTime(1, 35), second), second.addSecs(15 * 60));
}

#include "core/moment_words.h"

#include "support/qt_print.h"

#include <QStringList>
#include <cstdio>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// The moments the table stands at (Europe/Berlin).
const QDateTime kNows[] = {
    {QDate(2026, 12, 8), QTime(10, 15, 30)},  // a Tuesday before noon (seconds are dropped)
    {QDate(2026, 12, 8), QTime(20, 0)},       // that evening
    {QDate(2026, 12, 8), QTime(23, 59)},      // a minute to midnight
    {QDate(2027, 3, 27), QTime(10, 0)},       // Saturday: at 02:00 next night the clocks go forward
    {QDate(2026, 12, 31), QTime(15, 0)},      // New Year's Eve, a Thursday
    {QDate(2028, 2, 29), QTime(10, 0)},       // a leap day, a Tuesday
};

// A moment as the table writes it: "MM-dd HH:mm", with the year in front when it is not now's.
QString cell(const MomentReading& r, const QDateTime& now) {
  if (!r.ok()) return QStringLiteral("x");
  const QString day =
      r.moment.date().year() == now.date().year() ? QStringLiteral("MM-dd HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm");
  return r.moment.toString(day);
}

// A table row's cells, trimmed.
QStringList Cells(const char* row) {
  QStringList cells = QString::fromUtf8(row).split(u'|');
  for (QString& c : cells) c = c.trimmed();
  return cells;
}

// "phrase | A | E | M | D | Y | L": the moment at each of kNows, "x" refused. A phrase starting
// "US:" or "GB:" is read in that locale only, any other in both.
const char* const kOnce[] = {
#include "moment_words_table.inc"
};

}  // namespace

TEST(MomentWords, EachPhraseAtEachMomentInBothLocales) {
  const bool dump = qEnvironmentVariableIsSet("MOMENT_WORDS_DUMP");
  int phrases = 0;
  for (const char* row : kOnce) {
    const QStringList cells = Cells(row);
    ASSERT_EQ(cells.size(), 7) << row;
    QString phrase = cells[0];
    QStringList locales{"en_US", "en_GB"};
    if (phrase.startsWith(QLatin1String("US:")) || phrase.startsWith(QLatin1String("GB:"))) {
      locales = {phrase.startsWith(u'U') ? "en_US" : "en_GB"};
      phrase = phrase.mid(3).trimmed();
    }
    ++phrases;
    for (const QString& locale : locales) {
      QStringList got{phrase};
      for (int n = 0; n < 6; ++n) {
        const MomentReading r = ReadMoment(phrase, kNows[n], QLocale(locale));
        got << cell(r, kNows[n]);
        if (!dump) {
          EXPECT_EQ(got.back(), cells[n + 1]) << phrase.toStdString() << " in " << locale.toStdString() << " at "
                                              << kNows[n].toString().toStdString() << ": " << r.refusal.toStdString();
        }
      }
      if (dump) std::printf("%s\n", qPrintable(got.join(QStringLiteral(" | "))));
    }
  }
  EXPECT_GE(phrases, 200);
}

// "phrase | RRULE | how it reads back | first moment at kNows[0] | at kNows[1]" ("x": refused).
const char* const kRepeats[] = {
    "every day at 8 | FREQ=DAILY | every day | 12-09 08:00 | 12-09 08:00",
    "every day at 6 | FREQ=DAILY | every day | 12-08 18:00 | 12-09 18:00",
    "every day | FREQ=DAILY | every day | 12-09 09:00 | 12-09 09:00",
    "daily at 21:00 | FREQ=DAILY | every day | 12-08 21:00 | 12-08 21:00",
    "every other day at 7pm | FREQ=DAILY;INTERVAL=2 | every 2 days | 12-08 19:00 | 12-09 19:00",
    "every weekday at 9:30 | FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR | every weekday | 12-09 09:30 | 12-09 09:30",
    "every weekend | FREQ=WEEKLY;BYDAY=SA,SU | every Saturday and Sunday | 12-12 09:00 | 12-12 09:00",
    "every monday and thursday | FREQ=WEEKLY;BYDAY=MO,TH | every Monday and Thursday | 12-10 09:00 | 12-10 09:00",
    "every mon, wed and fri at 8am | FREQ=WEEKLY;BYDAY=MO,WE,FR | every Monday, Wednesday and Friday | 12-09 08:00 | "
    "12-09 08:00",
    "every tuesday at 10 | FREQ=WEEKLY;BYDAY=TU | every Tuesday | 12-15 10:00 | 12-15 10:00",
    "every tuesday at 11 | FREQ=WEEKLY;BYDAY=TU | every Tuesday | 12-08 11:00 | 12-15 11:00",
    "every 2 weeks on monday | FREQ=WEEKLY;INTERVAL=2;BYDAY=MO | every 2 weeks on Monday | 12-14 09:00 | 12-14 09:00",
    "weekly | FREQ=WEEKLY | every week | 12-09 09:00 | 12-09 09:00",
    "every month at noon | FREQ=MONTHLY | every month | 12-08 12:00 | 12-09 12:00",
    "every year on 24 dec | FREQ=YEARLY | every year | 12-24 09:00 | 12-24 09:00",
    "every morning | FREQ=DAILY | every day | 12-09 09:00 | 12-09 09:00",
    "every evening at 7 | FREQ=DAILY | every day | 12-08 19:00 | 12-09 19:00",
    "every hour | FREQ=HOURLY | every hour | 12-08 11:15 | 12-08 21:00",
    "every 30 minutes | FREQ=MINUTELY;INTERVAL=30 | every 30 minutes | 12-08 10:45 | 12-08 20:30",
    "every 2 hours from 9 to 5 | FREQ=DAILY;BYHOUR=9,11,13,15,17;BYMINUTE=0 | every 2 hours from 9 am to 5 pm | "
    "12-08 11:00 | 12-09 09:00",
    "every 3 hours between 8 am and 8 pm | FREQ=DAILY;BYHOUR=8,11,14,17,20;BYMINUTE=0 | every 3 hours from 8 am to "
    "8 pm | 12-08 11:00 | 12-09 08:00",
    "every hour from 9:30 to 11:30 | FREQ=DAILY;BYHOUR=9,10,11;BYMINUTE=30 | every hour from 9:30 to 11:30 | "
    "12-08 10:30 | 12-09 09:30",
    "every 90 minutes from 9 to 5 | x | x | x | x",
    "every day in 2 hours | x | x | x | x",
    "every fortnight | x | x | x | x",
};

TEST(MomentWords, RepeatsGiveTheirRuleAndFirstMoment) {
  for (const char* row : kRepeats) {
    const QStringList cells = Cells(row);
    ASSERT_EQ(cells.size(), 5) << row;
    for (int n = 0; n < 2; ++n) {
      const MomentReading r = ReadMoment(cells[0], kNows[n], QLocale(QStringLiteral("en_US")));
      EXPECT_EQ(r.ok() ? r.repeat : QStringLiteral("x"), cells[1]) << row << ": " << r.refusal.toStdString();
      EXPECT_EQ(r.ok() ? r.repeatText : QStringLiteral("x"), cells[2]) << row;
      EXPECT_EQ(cell(r, kNows[n]), cells[3 + n]) << row;
    }
  }
}

// "line | activity | moment at kNows[0] | how the character says it" ("x": refused).
const char* const kLines[] = {
    "Call mom tomorrow at 9 | Call mom | 12-09 09:00 | tomorrow at 9 am",
    "in 2 minutes call mom | call mom | 12-08 10:17 | in 2 minutes",
    "Meet Ann at 9 | Meet Ann | 12-08 21:00 | today at 9 pm",
    "Dentist on Friday at 3:30pm. | Dentist | 12-11 15:30 | on Friday at 3:30 pm",
    "Water plants every day at 8 | Water plants | 12-09 08:00 | tomorrow at 8 am",
    "Pay rent - 1 jan | Pay rent | 2027-01-01 09:00 | on 1 January 2027 at 9 am",
    "Tomorrow at noon: lunch with Bo | lunch with Bo | 12-09 12:00 | tomorrow at noon",
    "Call Mom in 20 minutes | Call Mom | 12-08 10:35 | in 20 minutes",
    "Buy a gift by 24 dec | Buy a gift | 12-24 09:00 | on 24 December at 9 am",
    "Ship it next monday at 9:30 | Ship it | 12-14 09:30 | on Monday at 9:30 am",
    "Plan 2027 on 20 dec at 9:30 | Plan 2027 | 12-20 09:30 | on 20 December at 9:30 am",
    "Stretch now | Stretch | 12-08 10:15 | now",
    "Read chapter 7 | x | x | x",
    "Report due 2026-12-01 | x | x | x",
    "tomorrow at 9 | | 12-09 09:00 | tomorrow at 9 am",
};

TEST(MomentWords, ALineIsAnActivityAndATimeAtItsEndOrStart) {
  for (const char* row : kLines) {
    const QStringList cells = Cells(row);
    ASSERT_EQ(cells.size(), 4) << row;
    const LineReading r = ReadMomentLine(cells[0], kNows[0], QLocale(QStringLiteral("en_GB")));
    EXPECT_EQ(r.moment.ok() ? r.activity : QStringLiteral("x"), cells[1]) << row;
    EXPECT_EQ(cell(r.moment, kNows[0]), cells[2]) << row << ": " << r.moment.refusal.toStdString();
    EXPECT_EQ(r.moment.ok() ? SpokenMoment(r.moment.moment, kNows[0]) : QStringLiteral("x"), cells[3]) << row;
  }
  EXPECT_EQ(LongMomentText(QDateTime(QDate(2026, 12, 9), QTime(9, 0)), "h:mm am/pm"),
            "Wednesday 9 December 2026, 9:00 am");
  EXPECT_EQ(ShortMomentText(QDateTime(QDate(2026, 12, 9), QTime(21, 5)), "hh:mm"), "Wed 9 Dec, 21:05");
}

TEST(MomentWords, RefusalsNameTheWordsNotUnderstood) {
  const QLocale us(QStringLiteral("en_US"));
  EXPECT_EQ(ReadMoment("tomorrow at 9 soonish", kNows[0], us).refusal, "not understood: \"soonish\"");
  EXPECT_EQ(ReadMoment("blah tomorrow bleh bleh", kNows[0], us).refusal, "not understood: \"blah\", \"bleh bleh\"");
  EXPECT_EQ(ReadMoment("tomorrow friday", kNows[0], us).refusal, "\"tomorrow\" and \"friday\" both say the day");
  EXPECT_EQ(ReadMoment("2026-12-01", kNows[0], us).refusal, "\"2026-12-01\" is past");
  EXPECT_TRUE(ReadMomentLine("call mom", kNows[0], us).moment.refusal.startsWith("no time found in \"call mom\""));
  EXPECT_FALSE(ReadMoment(QString(300, u'9'), kNows[0], us).ok());
}

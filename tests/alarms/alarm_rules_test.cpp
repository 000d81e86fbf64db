#include "alarms/alarm_rules.h"
#include "core/time_format.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDate kDay(2026, 12, 4);  // a Friday
QDateTime at(int h, int m, int s = 0, QDate d = kDay) { return QDateTime(d, QTime(h, m, s)); }

ReminderFacts reminder(QDateTime activity, QDateTime alarm) {
  ReminderFacts r;
  r.activityText = "Call the dentist";
  r.memo = "Ask about Tuesday";
  r.sound = 3;
  r.activity = activity;
  r.eventDate = activity.date();
  r.startTime = MinuteOfDay(activity);
  r.timeText = FormatTime(activity.time(), "h:mm am/pm");
  r.alarmDate = alarm.date();
  r.alarmTime = MinuteOfDay(alarm);
  return r;
}

AnnounceSettings noRepeat() { return {0, 5, "h:mm am/pm"}; }

}  // namespace

TEST(Remark, TextsOfLatenessAndOfTimeToGo) {
  EXPECT_EQ(RemarkText(125, true), ". Your 2 Hours  and 5 minutes late.");
  EXPECT_EQ(RemarkText(1, true), ". Your 1 minute late.");
  EXPECT_EQ(RemarkText(1440, false), ". In 1 Day ");
  EXPECT_EQ(RemarkText(2880, false), ". In 2 Days ");
  EXPECT_EQ(RemarkText(90, false), ". In 1 Hour  and 30 minutes");
  EXPECT_EQ(RemarkText(1441, true), ". Your 1 Day  and 1 minute late.");
  EXPECT_EQ(RemarkText(1500, false), ". In 1 Day 1 Hour ");
  EXPECT_EQ(RemarkText(0, false), "");
}

TEST(Announcement, LateReminderRepeatsAfterTheWaitTime) {
  const AnnounceSettings repeat{1, 5, "h:mm am/pm"};
  auto r = reminder(at(9, 50), at(9, 50));
  auto plan = PlanAnnouncement(r, repeat, 1, 1, AnnounceMode::Alarm, at(10, 0, 45));
  EXPECT_TRUE(plan.due);
  EXPECT_EQ(plan.remark, ". Your 10 minutes late.");
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(plan.alarm->date, kDay);
  EXPECT_EQ(plan.alarm->minutes, 10 * 60 + 6);  // 10:00:45 rounds up to 10:01, plus 5
  EXPECT_EQ(plan.alarm->text, "12/04/2026 10:06 am");
  EXPECT_EQ(plan.sound, 3);
  EXPECT_EQ(plan.sayTexts, (std::vector<QString>{"Call the dentist. Your 10 minutes late.", "Ask about Tuesday"}));

  plan = PlanAnnouncement(r, repeat, 1, 1, AnnounceMode::Alarm, at(10, 0, 15));
  EXPECT_EQ(plan.alarm->minutes, 10 * 60 + 5);
}

TEST(Announcement, DueNowWithAndWithoutCountdown) {
  auto r = reminder(at(10, 0), at(9, 55));
  auto plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::Alarm, at(10, 0, 20));
  EXPECT_TRUE(plan.due);
  EXPECT_EQ(plan.remark, "");  // no countdown: no remark unless late
  EXPECT_EQ(plan.sayTexts, (std::vector<QString>{"Call the dentist"}));
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(plan.alarm->minutes, 10 * 60 + 5);  // a past alarm always moves into the future

  r.countdown = 10;
  plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::Alarm, at(10, 0, 20));
  EXPECT_TRUE(plan.due);
  EXPECT_EQ(plan.remark, ". Is Due Now!");
  EXPECT_EQ(plan.alarm->minutes, 10 * 60 + 10);
}

TEST(Announcement, CountdownAheadMovesByItsStep) {
  auto r = reminder(at(11, 30), at(9, 58));
  r.countdown = 15;
  auto plan = PlanAnnouncement(r, {1, 5, "h:mm"}, 1, 0, AnnounceMode::Alarm, at(10, 0, 50));
  EXPECT_FALSE(plan.due);
  EXPECT_EQ(plan.remark, ". In 1 Hour  and 30 minutes");
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(plan.alarm->minutes, 10 * 60 + 15);  // now's minute plus the countdown, no rounding

  // A countdown two days ahead, alarm not yet reached: said, not moved.
  r = reminder(at(10, 0, 0, kDay.addDays(2)), at(10, 30));
  r.countdown = 60;
  plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::ReadFromViewer, at(10, 0));
  EXPECT_EQ(plan.remark, ". In 2 Days ");
  EXPECT_FALSE(plan.alarm);
}

TEST(Announcement, AlarmsPastMidnightRollOverToTheNextDay) {
  auto r = reminder(at(23, 0), at(23, 0));
  auto plan = PlanAnnouncement(r, {1, 10, "h:mm"}, 1, 0, AnnounceMode::Alarm, at(23, 57, 40));
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(plan.alarm->date, kDay.addDays(1));
  EXPECT_EQ(plan.alarm->minutes, 8);  // 23:58 + 10 minutes = 0:08 the next day

  r = reminder(at(23, 59, 0, kDay.addDays(1)), at(23, 50));
  r.countdown = 30;
  plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::Alarm, at(23, 55));
  EXPECT_EQ(plan.alarm->date, kDay.addDays(1));
  EXPECT_EQ(plan.alarm->minutes, 25);

  r = reminder(at(12, 0, 0, kDay.addDays(1)), at(23, 56));
  plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::Alarm, at(23, 58));
  EXPECT_EQ(plan.alarm->date, kDay.addDays(1));
  EXPECT_EQ(plan.alarm->minutes, 3);  // the five-minute fallback rolls over too
}

TEST(Announcement, OldAlarmDateComesToToday) {
  // An early alarm left from yesterday for an activity tomorrow, no repeat: today, or five
  // minutes from now if today's time has passed too.
  auto r = reminder(at(9, 0, 0, kDay.addDays(1)), at(14, 0, 0, kDay.addDays(-1)));
  auto plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::TextsOnly, at(10, 0));
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(plan.alarm->date, kDay);
  EXPECT_EQ(plan.alarm->minutes, 14 * 60);
  EXPECT_EQ(plan.sound, 0);  // read from the viewer's menu: no sound
  plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::TextsOnly, at(15, 0));
  EXPECT_EQ(plan.alarm->minutes, 15 * 60 + 5);
}

TEST(Announcement, DatePhraseAndWhatIsRead) {
  auto r = reminder(at(15, 5), at(15, 0));
  r.sayDate = 1;
  r.sayTime = 1;
  auto plan = PlanAnnouncement(r, noRepeat(), 1, 1, AnnounceMode::Alarm, at(15, 0));
  EXPECT_EQ(plan.datePhrase, "Friday, December 4, 2026 at 3:05 pm");
  EXPECT_EQ(plan.sayTexts.at(0), "Reminder, you have an activity scheduled for Friday, December 4, 2026 at 3:05 pm");
  EXPECT_EQ(plan.sayTexts.at(1), "Call the dentist");

  r.sayTime = 0;
  EXPECT_EQ(PlanAnnouncement(r, noRepeat(), 1, 1, AnnounceMode::Alarm, at(15, 0)).datePhrase,
            "Friday, December 4, 2026 ");
  r.sayDate = 0;
  r.sayTime = 1;
  EXPECT_EQ(PlanAnnouncement(r, noRepeat(), 1, 1, AnnounceMode::Alarm, at(15, 0)).datePhrase, "3:05 pm");
  r.startTime = -1;  // an activity without a time
  plan = PlanAnnouncement(r, noRepeat(), 1, 1, AnnounceMode::Alarm, at(15, 0));
  EXPECT_EQ(plan.datePhrase, "");
  EXPECT_EQ(plan.sayTexts.size(), 2u);  // no "Reminder, you have..." sentence

  // memo only; neither (the activity is still read); sound only
  plan = PlanAnnouncement(r, noRepeat(), 0, 1, AnnounceMode::TextsOnly, at(15, 0));
  EXPECT_EQ(plan.sayTexts, (std::vector<QString>{"Ask about Tuesday"}));
  plan = PlanAnnouncement(r, noRepeat(), 0, 0, AnnounceMode::Alarm, at(15, 0));
  EXPECT_EQ(plan.sayTexts, (std::vector<QString>{"Call the dentist"}));
  // A calendar's UID and repeat rule below the memo are not read out.
  r.memo = "Ask about Tuesday\n\n[iCalendar]\nUID:x@example.org\nRRULE:FREQ=WEEKLY";
  plan = PlanAnnouncement(r, noRepeat(), 0, 1, AnnounceMode::TextsOnly, at(15, 0));
  EXPECT_EQ(plan.sayTexts, (std::vector<QString>{"Ask about Tuesday"}));
  plan = PlanAnnouncement(r, noRepeat(), 0, 0, AnnounceMode::SoundOnly, at(15, 0));
  EXPECT_TRUE(plan.sayTexts.empty());
  EXPECT_EQ(plan.sound, 3);
}

TEST(Announcement, DamagedDateTextFallsBackToTheActivityFields) {
  ReminderFacts r = reminder(at(10, 0), at(10, 0));
  r.activity = QDateTime();
  const auto plan = PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::Alarm, at(10, 3));
  EXPECT_TRUE(plan.due);
}

TEST(Snooze, RoundsToTheMinuteAndMovesTheActivityOnlyWhenPassed) {
  auto p = PlanSnooze(2, at(12, 0), at(10, 15, 45));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->alarm, at(10, 26));
  EXPECT_FALSE(p->moveActivity);
  EXPECT_EQ(PlanSnooze(2, at(12, 0), at(10, 15, 20))->alarm, at(10, 25));
  EXPECT_EQ(PlanSnooze(2, at(12, 0), at(10, 15, 30))->alarm, at(10, 25));  // 30 seconds do not round up

  p = PlanSnooze(8, at(12, 0, 0, QDate(2026, 12, 5)), at(23, 50, 0, QDate(2026, 12, 3)));
  EXPECT_EQ(p->alarm, at(23, 50, 0, QDate(2026, 12, 10)));
  EXPECT_TRUE(p->moveActivity);
  EXPECT_EQ(PlanSnooze(5, at(23, 0), at(10, 0))->alarm, at(13, 0));  // "3 Hours" waits three hours
  EXPECT_EQ(PlanSnooze(6, at(23, 0), at(10, 0))->alarm, at(15, 0));
  EXPECT_TRUE(PlanSnooze(0, at(10, 0), at(10, 0, 10))->moveActivity);
  EXPECT_FALSE(PlanSnooze(0, at(10, 1), at(10, 0, 10))->moveActivity);  // same minute: not before
  EXPECT_FALSE(PlanSnooze(9, at(10, 0), at(10, 0)));
  EXPECT_FALSE(PlanSnooze(-1, at(10, 0), at(10, 0)));
}

TEST(RecordId, ShapeAndTimeEncoding) {
  const std::string id = NewRecordId(at(10, 15, 45), 0.123456789);
  ASSERT_EQ(id.size(), 13u);
  EXPECT_EQ(id[0], 'E');
  EXPECT_EQ(id.substr(5), "12345678");
  for (char c : id.substr(1, 4)) {
    EXPECT_NE(c, '\0');
    EXPECT_NE(c, '\'');
    EXPECT_NE(c, '"');
    EXPECT_NE(c, '\t');
  }
  // 1 January 1990 at 00:00:10 is second 10 of the count: the last byte is 10, the rest 0 -> 1.
  EXPECT_EQ(NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(0, 0, 10)), 0.0),
            std::string("E\x01\x01\x01\x0a") + "00000000");
  // A byte that would be a quote, a double quote or a tab (39, 34, 9) is stored as 2, 3 and 4:
  // ids are written into filter expressions between quotes.
  EXPECT_EQ(NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(0, 0, 39)), 0.0).substr(4, 1), "\x02");
  EXPECT_EQ(NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(0, 0, 34)), 0.0).substr(4, 1), "\x03");
  EXPECT_EQ(NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(0, 0, 9)), 0.0).substr(4, 1), "\x04");
  // After noon the day counts as the next one: 12:00:01 on 1 Jan 1990 is 86400 + 43201.
  // 129601: 65, then 129601/256 = 506.25 rounds to 506 -> 250, then 506/256 rounds to 2 -> 2,
  // then 0 -> 1. Each step rounds the quotient rather than cutting it.
  const std::string noon = NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(12, 0, 1)), 0.5);
  EXPECT_EQ(noon.substr(1, 4), std::string("\x01\x02\xfa\x41", 4));
  EXPECT_EQ(noon.substr(5), "50000000");
  EXPECT_NE(NewRecordId(at(10, 15, 45), 0.1), NewRecordId(at(10, 15, 46), 0.1));
}

namespace {

const QDate kSpring(2026, 3, 29);   // Europe/Berlin: 02:00 CET becomes 03:00 CEST
const QDate kAutumn(2026, 10, 25);  // Europe/Berlin: 03:00 CEST becomes 02:00 CET, 02:00-03:00 twice

// A moment given in UTC: on the autumn night 00:xx UTC is the first run of 02:xx, 01:xx the second.
QDateTime utc(int h, int m, int s = 0, QDate d = kAutumn) {
  return QDateTime(d, QTime(h, m, s), Qt::UTC).toLocalTime();
}

QDateTime storedAlarm(const AlarmWrite& a) { return AlarmMoment(a.date, a.minutes); }

}  // namespace

TEST(DaylightSaving, LatenessIsRealTimeWhenTheClocksGoForward) {
  const auto r = reminder(at(1, 30, 0, kSpring), at(1, 30, 0, kSpring));
  EXPECT_EQ(PlanAnnouncement(r, noRepeat(), 1, 0, AnnounceMode::Alarm, at(3, 0, 0, kSpring)).remark,
            ". Your 30 minutes late.");
  const auto early = reminder(at(3, 15, 0, kSpring), at(1, 50, 0, kSpring));
  auto ahead = early;
  ahead.countdown = 10;
  EXPECT_EQ(PlanAnnouncement(ahead, noRepeat(), 1, 0, AnnounceMode::Alarm, at(1, 45, 0, kSpring)).remark,
            ". In 30 minutes");
}

TEST(DaylightSaving, SnoozeAcrossBothChanges) {
  // Spring: an hour from 01:45 is 03:45, and a day from 02:30 the day before is the skipped 02:30,
  // which is 03:30.
  auto p = PlanSnooze(4, QDateTime(), at(1, 45, 0, kSpring));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->alarm, at(3, 45, 0, kSpring));
  p = PlanSnooze(7, QDateTime(), at(2, 30, 0, kSpring.addDays(-1)));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->alarm, at(3, 30, 0, kSpring));
  EXPECT_EQ(AlarmMoment(p->alarm.date(), MinuteOfDay(p->alarm)), p->alarm);

  // Autumn: five minutes from 02:30 in the second run of the repeated hour. The wall time 02:35
  // means the first run, an hour before now; the alarm goes to the end of the repeated hour.
  p = PlanSnooze(1, QDateTime(), utc(1, 30, 10));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->alarm, utc(2, 0));
  EXPECT_EQ(AlarmMoment(p->alarm.date(), MinuteOfDay(p->alarm)), p->alarm);
  // In the first run, the same snooze is five real minutes.
  EXPECT_EQ(PlanSnooze(1, QDateTime(), utc(0, 30, 10))->alarm, utc(0, 35));
  // Thirty minutes from 02:45 in the first run is 02:15 in the second: again the hour's end.
  EXPECT_EQ(PlanSnooze(3, QDateTime(), utc(0, 45))->alarm, utc(2, 0));
}

TEST(DaylightSaving, RepeatsAcrossBothChanges) {
  const AnnounceSettings repeat{1, 5, "h:mm am/pm"};
  // Spring: five minutes after 01:58 is 03:03.
  auto r = reminder(at(1, 0, 0, kSpring), at(1, 58, 0, kSpring));
  auto plan = PlanAnnouncement(r, repeat, 1, 0, AnnounceMode::Alarm, at(1, 58, 5, kSpring));
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(storedAlarm(*plan.alarm), at(3, 3, 0, kSpring));
  EXPECT_EQ(plan.alarm->text, "03/29/2026 3:03 am");
  // Autumn: five minutes after 02:58 in the first run lies in the second run; stored as a wall time
  // it would read back as an hour before now, so it goes to the end of the repeated hour.
  r = reminder(at(1, 0, 0, kAutumn), AlarmMoment(kAutumn, 2 * 60 + 58));
  plan = PlanAnnouncement(r, repeat, 1, 0, AnnounceMode::Alarm, utc(0, 58, 5));
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(storedAlarm(*plan.alarm), utc(2, 0));
}

TEST(DaylightSaving, TheRepeatedHourNeverGivesAnAlarmAtOrBeforeNowNorFiresTwice) {
  // Every kind of reminder, announced at every moment of the autumn night: the alarm it keeps or
  // gets lies after now, read back as the wall time it is stored as.
  for (const int countdown : {0, 10}) {
    for (const AnnounceSettings& s : {AnnounceSettings{1, 5, "h:mm"}, AnnounceSettings{0, 5, "h:mm"}}) {
      for (QDateTime now = utc(23, 30, 0, kAutumn.addDays(-1)); now < utc(2, 30); now = now.addSecs(47)) {
        auto r = reminder(AlarmMoment(kAutumn, 2 * 60 + 15), now);
        r.alarmDate = now.date();
        r.alarmTime = MinuteOfDay(now);
        r.countdown = countdown;
        const auto plan = PlanAnnouncement(r, s, 1, 0, AnnounceMode::Alarm, now);
        const QDateTime next = plan.alarm ? storedAlarm(*plan.alarm) : AlarmMoment(r.alarmDate, r.alarmTime);
        EXPECT_GT(next, now) << now.toString(Qt::ISODateWithMs).toStdString() << " countdown " << countdown;
      }
    }
  }

  // A reminder repeating every five minutes, watched tick by tick through the night: it goes off
  // at least five minutes apart, and never falls silent for longer than the repeated hour.
  const AnnounceSettings repeat{1, 5, "h:mm"};
  auto r = reminder(AlarmMoment(kAutumn, 1 * 60 + 50), AlarmMoment(kAutumn, 1 * 60 + 50));
  std::vector<QDateTime> fired;
  for (QDateTime now = utc(23, 45, 0, kAutumn.addDays(-1)); now < utc(3, 0); now = now.addSecs(20)) {
    if (AlarmMoment(r.alarmDate, r.alarmTime) > now) continue;
    fired.push_back(now);
    const auto plan = PlanAnnouncement(r, repeat, 1, 0, AnnounceMode::Alarm, now);
    ASSERT_TRUE(plan.alarm);
    r.alarmDate = plan.alarm->date;
    r.alarmTime = plan.alarm->minutes;
  }
  ASSERT_GE(fired.size(), 10u);
  EXPECT_EQ(fired.front(), utc(23, 50, 0, kAutumn.addDays(-1)));
  for (size_t i = 1; i < fired.size(); ++i) {
    const qint64 gap = fired[i - 1].secsTo(fired[i]);
    EXPECT_GE(gap, 5 * 60 - 30) << fired[i].toString(Qt::ISODate).toStdString();
    EXPECT_LE(gap, 66 * 60) << fired[i].toString(Qt::ISODate).toStdString();
  }
}

TEST(Announcement, AnAlarmAtNowItselfMovesOn) {
  // Announced at the very second its alarm falls due, a reminder must not keep that alarm: the
  // next tick would find it due again.
  const auto plan = PlanAnnouncement(reminder(at(10, 0), at(10, 0)), noRepeat(), 1, 0, AnnounceMode::Alarm, at(10, 0));
  ASSERT_TRUE(plan.alarm);
  EXPECT_EQ(plan.alarm->minutes, 10 * 60 + 5);
}

TEST(AlarmTime, TwentyToOneIsStoredAsForty) {
  // ALARMTIME counts minutes after midnight on the wall clock: 00:40 is 40, not 0.
  const auto plan = PlanSnooze(0, QDateTime(), at(0, 39));
  ASSERT_TRUE(plan);
  EXPECT_EQ(MinuteOfDay(plan->alarm), 40);
  const auto r = reminder(at(0, 40), at(0, 40));
  EXPECT_EQ(r.alarmTime, 40);
  EXPECT_EQ(AlarmMoment(r.alarmDate, r.alarmTime), at(0, 40));
}

TEST(SeriesMove, AGoneOccurrenceMovesToTheNextWithItsLead) {
  ReminderFacts r = reminder(at(9, 30), at(9, 20));
  const QString calendar = "Room 4\n\n[iCalendar]\nUID:review\nDTSTART:20261120T083000Z\nRRULE:FREQ=WEEKLY\n";
  QDateTime askedAfter;
  const auto weekLater = [&](const QStringList& series, const QDateTime& after) -> std::optional<SeriesOccurrence> {
    askedAfter = after;
    if (!series.contains("RRULE:FREQ=WEEKLY")) return std::nullopt;
    return SeriesOccurrence{false, {}, at(9, 30, 0, kDay.addDays(7))};
  };
  // Not a series, or still to come: nothing moves.
  EXPECT_FALSE(PlanSeriesMove(r, at(10, 0), weekLater));
  r.memo = calendar + "X-CHIMEWISE-LEAD:600\n";
  EXPECT_FALSE(PlanSeriesMove(r, at(9, 29), weekLater));

  const auto move = PlanSeriesMove(r, at(9, 35), weekLater);
  ASSERT_TRUE(move);
  EXPECT_EQ(move->activity, at(9, 30, 0, kDay.addDays(7)));
  EXPECT_EQ(move->alarm, at(9, 20, 0, kDay.addDays(7)));
  EXPECT_EQ(askedAfter, at(9, 35));  // not before now
  // A day late, the occurrence after the one gone by is asked for from now on.
  ASSERT_TRUE(PlanSeriesMove(r, at(9, 35, 0, kDay.addDays(1)), weekLater));
  EXPECT_EQ(askedAfter, at(9, 35, 0, kDay.addDays(1)));

  // Without a lead the alarm is at the activity; an ended series leaves the reminder where it is.
  r.memo = calendar;
  EXPECT_EQ(PlanSeriesMove(r, at(9, 35), weekLater)->alarm, at(9, 30, 0, kDay.addDays(7)));
  EXPECT_FALSE(PlanSeriesMove(r, at(9, 35),
                              [](const QStringList&, const QDateTime&) { return std::optional<SeriesOccurrence>(); }));
}

TEST(SeriesMove, AnAllDaySeriesKeepsItsTimeOfDay) {
  ReminderFacts r = reminder(at(9, 0), at(9, 0));
  r.memo = "[iCalendar]\nUID:bins\nDTSTART;VALUE=DATE:20261120\nRRULE:FREQ=WEEKLY\nX-CHIMEWISE-LEAD:54000\n";
  const auto move = PlanSeriesMove(r, at(12, 0), [](const QStringList&, const QDateTime&) {
    return std::optional<SeriesOccurrence>(SeriesOccurrence{true, kDay.addDays(7), {}});
  });
  ASSERT_TRUE(move);
  EXPECT_EQ(move->activity, at(9, 0, 0, kDay.addDays(7)));
  EXPECT_EQ(move->alarm, at(18, 0, 0, kDay.addDays(6)));  // 15 hours before
}

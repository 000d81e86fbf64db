#include "alarms/alarm_rules.h"
#include "core/time_format.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDate kDay(2026, 12, 4);      // a Friday
const QDate kSpring(2026, 3, 29);   // Europe/Berlin: 02:00 CET becomes 03:00 CEST
const QDate kAutumn(2026, 10, 25);  // Europe/Berlin: 03:00 CEST becomes 02:00 CET, 02:00-03:00 twice
QDateTime at(int h, int m, int s = 0, QDate d = kDay) { return QDateTime(d, QTime(h, m, s)); }
// A moment given in UTC: on the autumn night 00:xx UTC is the first run of 02:xx, 01:xx the second.
QDateTime utc(int h, int m, int s = 0, QDate d = kAutumn) {
  return QDateTime(d, QTime(h, m, s), Qt::UTC).toLocalTime();
}

ReminderFacts reminder(QDateTime activity, QDateTime alarm, int countdown = 0) {
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
  r.countdown = countdown;
  return r;
}

const AnnounceSettings kNoRepeat{0, 5, "h:mm am/pm"};
const AnnounceSettings kRepeat{1, 5, "h:mm am/pm"};

AnnouncementPlan plan(const ReminderFacts& r, const QDateTime& now, const AnnounceSettings& s = kNoRepeat,
                      AnnounceMode mode = AnnounceMode::Alarm, int readActivity = 1, int readMemos = 0) {
  return PlanAnnouncement(r, s, readActivity, readMemos, mode, now);
}
// Where the plan puts the alarm, read back as the wall time it is stored as; invalid if kept.
QDateTime nextAlarm(const AnnouncementPlan& p) {
  return p.alarm ? AlarmMoment(p.alarm->date, p.alarm->minutes) : QDateTime();
}

}  // namespace

TEST(Remark, TextsOfLatenessAndOfTimeToGo) {
  EXPECT_EQ(RemarkText(1, true), ". You're 1 minute late.");
  EXPECT_EQ(RemarkText(942, true), ". You're 15 hours and 42 minutes late.");
  EXPECT_EQ(RemarkText(1441, true), ". You're 1 day and 1 minute late.");
  EXPECT_EQ(RemarkText(2 * 1440 + 61, true), ". You're 2 days 1 hour and 1 minute late.");
  EXPECT_EQ(RemarkText(1500, false), ". In 1 day and 1 hour");
  EXPECT_EQ(RemarkText(0, false), "");
}

TEST(Announcement, WhereTheAlarmGoesNext) {
  // A late reminder repeats after the wait time: 10:00:45 rounds up to 10:01, 10:00:15 down.
  auto p = PlanAnnouncement(reminder(at(9, 50), at(9, 50)), kRepeat, 1, 1, AnnounceMode::Alarm, at(10, 0, 45));
  EXPECT_TRUE(p.due);
  EXPECT_EQ(p.remark, ". You're 10 minutes late.");
  ASSERT_TRUE(p.alarm);
  EXPECT_EQ(p.alarm->text, "12/04/2026 10:06 am");
  EXPECT_EQ(nextAlarm(p), at(10, 6));
  EXPECT_EQ(nextAlarm(plan(reminder(at(9, 50), at(9, 50)), at(10, 0, 15), kRepeat)), at(10, 5));

  const struct {
    ReminderFacts r;
    QDateTime now;
    AnnounceSettings s;
    QDateTime alarm;  // invalid: kept where it is
  } cases[] = {
      {reminder(at(10, 0), at(9, 55)), at(10, 0, 20), kNoRepeat, at(10, 5)},             // due: a past alarm moves on
      {reminder(at(10, 0), at(9, 55), 10), at(10, 0, 20), kNoRepeat, at(10, 10)},        // by the countdown's step
      {reminder(at(11, 30), at(9, 58), 15), at(10, 0, 50), {1, 5, "h:mm"}, at(10, 15)},  // now's minute + step
      {reminder(at(10, 0, 0, kDay.addDays(2)), at(10, 30), 60), at(10, 0), kNoRepeat, {}},  // not reached
      {reminder(at(10, 0), at(10, 0)), at(10, 0), kNoRepeat, at(10, 5)},                    // alarm at now itself
      {reminder(at(23, 0), at(23, 0)), at(23, 57, 40), {1, 10, "h:mm"}, at(0, 8, 0, kDay.addDays(1))},
      {reminder(at(23, 59, 0, kDay.addDays(1)), at(23, 50), 30), at(23, 55), kNoRepeat, at(0, 25, 0, kDay.addDays(1))},
      {reminder(at(12, 0, 0, kDay.addDays(1)), at(23, 56)), at(23, 58), kNoRepeat, at(0, 3, 0, kDay.addDays(1))},
      {reminder(at(9, 0, 0, kDay.addDays(1)), at(14, 0, 0, kDay.addDays(-1))), at(15, 0), kNoRepeat, at(15, 5)},
      {reminder(at(0, 40), at(0, 35)), at(0, 36), kNoRepeat, at(0, 41)}};  // 00:40 is minute 40
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(nextAlarm(plan(cases[i].r, cases[i].now, cases[i].s)), cases[i].alarm) << "case " << i;
  EXPECT_EQ(plan(reminder(at(10, 0), at(9, 55)), at(10, 0, 20)).remark, "");  // no countdown: only lateness
  EXPECT_EQ(plan(reminder(at(10, 0), at(9, 55), 10), at(10, 0, 20)).remark, ". Is Due Now!");
  EXPECT_FALSE(plan(reminder(at(11, 30), at(9, 58), 15), at(10, 0, 50)).due);
  // An activity whose moment cannot be read counts as due.
  ReminderFacts damaged = reminder(at(10, 0), at(10, 0));
  damaged.activity = QDateTime();
  EXPECT_TRUE(plan(damaged, at(10, 3)).due);
}

TEST(Announcement, DatePhraseAndWhatIsRead) {
  auto r = reminder(at(15, 5), at(15, 0));
  r.sayDate = 1;
  r.sayTime = 1;
  auto p = plan(r, at(15, 0), kNoRepeat, AnnounceMode::Alarm, 1, 1);
  EXPECT_EQ(p.sayTexts, (std::vector<QString>{"Reminder, you have an activity scheduled for Friday, December 4, 2026 "
                                              "at 3:05 pm",
                                              "Call the dentist", "Ask about Tuesday"}));
  r.sayDate = 0;
  EXPECT_EQ(plan(r, at(15, 0)).datePhrase, "3:05 pm");
  r.startTime = -1;  // an activity without a time
  EXPECT_EQ(plan(r, at(15, 0)).datePhrase, "");

  EXPECT_EQ(plan(r, at(15, 0), kNoRepeat, AnnounceMode::Alarm, 0, 0).sayTexts,
            std::vector<QString>{"Call the dentist"});  // the activity is read all the same
  // From the viewer's menu, no sound.
  p = plan(r, at(15, 0), kNoRepeat, AnnounceMode::TextsOnly, 0, 1);
  EXPECT_EQ(p.sayTexts, std::vector<QString>{"Ask about Tuesday"});
  EXPECT_EQ(p.sound, 0);
  p = plan(r, at(15, 0), kNoRepeat, AnnounceMode::SoundOnly, 0, 0);
  EXPECT_TRUE(p.sayTexts.empty());
  EXPECT_EQ(p.sound, 3);
}

TEST(Snooze, RoundsToTheMinuteAndMovesTheActivityOnlyWhenPassed) {
  const struct {
    int choice;
    QDateTime activity, now, alarm;
    bool moveActivity;
  } cases[] = {
      {2, at(12, 0), at(10, 15, 45), at(10, 26), false},
      {2, at(12, 0), at(10, 15, 20), at(10, 25), false},
      {2, at(12, 0), at(10, 15, 30), at(10, 25), false},  // 30 seconds do not round up
      {8, at(12, 0, 0, kDay.addDays(1)), at(23, 50, 0, kDay.addDays(-1)), at(23, 50, 0, kDay.addDays(6)), true},
      {5, at(23, 0), at(10, 0), at(13, 0), false},  // "3 Hours" waits three hours
      {0, at(10, 0), at(10, 0, 10), at(10, 1), true},
      {0, at(10, 1), at(10, 0, 10), at(10, 1), false},  // same minute: not before
      {0, QDateTime(), at(0, 39), at(0, 40), true},     // 00:40 is stored as minute 40
      // Spring: an hour from 01:45 is 03:45; a day from 02:30 the day before is the skipped 02:30, so 03:30.
      {4, QDateTime(), at(1, 45, 0, kSpring), at(3, 45, 0, kSpring), true},
      {7, QDateTime(), at(2, 30, 0, kSpring.addDays(-1)), at(3, 30, 0, kSpring), true},
      // Autumn: N minutes are N minutes of real time, in either run of the repeated hour and across.
      {0, QDateTime(), utc(1, 30, 10), utc(1, 31), true},
      {1, QDateTime(), utc(0, 30, 10), utc(0, 35), true},
      {3, QDateTime(), utc(0, 45), utc(1, 15), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.now.toString(Qt::ISODate).toStdString() + " choice " + std::to_string(c.choice));
    const auto p = PlanSnooze(c.choice, c.activity, c.now);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->alarm, c.alarm);
    const StoredWall stored = StoredWallTime(p->alarm);
    EXPECT_EQ(AlarmMoment(stored.date, stored.minutes), p->alarm);
    EXPECT_EQ(p->moveActivity, c.moveActivity);
  }
  EXPECT_FALSE(PlanSnooze(9, at(10, 0), at(10, 0)));
  EXPECT_FALSE(PlanSnooze(-1, at(10, 0), at(10, 0)));
}

TEST(RecordId, ShapeAndTimeEncoding) {
  const std::string id = NewRecordId(at(10, 15, 45), 0.123456789);
  ASSERT_EQ(id.size(), 13u);
  EXPECT_EQ(id[0], 'E');
  EXPECT_EQ(id.substr(5), "12345678");
  EXPECT_EQ(id.substr(1, 4).find_first_of(std::string("\0'\"\t", 4)), std::string::npos);
  const auto second = [](int s) { return NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(0, 0, s)), 0.0); };
  // Second 10 of 1 January 1990: the last byte 10, the rest 0 -> 1.
  EXPECT_EQ(second(10), std::string("E\x01\x01\x01\x0a") + "00000000");
  // Quote, double quote and tab (39, 34, 9) become 2, 3 and 4: ids go into filters between quotes.
  EXPECT_EQ(second(39).substr(4, 1), "\x02");
  EXPECT_EQ(second(34).substr(4, 1), "\x03");
  EXPECT_EQ(second(9).substr(4, 1), "\x04");
  // After noon the day counts as the next: 86400 + 43201 = 129601 -> 65, then 506.25 rounds to 506
  // -> 250, then 506/256 rounds to 2, then 0 -> 1. Each step rounds the quotient.
  const std::string noon = NewRecordId(QDateTime(QDate(1990, 1, 1), QTime(12, 0, 1)), 0.5);
  EXPECT_EQ(noon.substr(1, 4), std::string("\x01\x02\xfa\x41", 4));
  EXPECT_EQ(noon.substr(5), "50000000");
  EXPECT_NE(NewRecordId(at(10, 15, 45), 0.1), NewRecordId(at(10, 15, 46), 0.1));
}

TEST(DaylightSaving, LatenessAndRepeatsAcrossBothChanges) {
  // Lateness is real time: 01:30 CET to 03:00 CEST is 30 minutes.
  EXPECT_EQ(plan(reminder(at(1, 30, 0, kSpring), at(1, 30, 0, kSpring)), at(3, 0, 0, kSpring)).remark,
            ". You're 30 minutes late.");
  EXPECT_EQ(plan(reminder(at(3, 15, 0, kSpring), at(1, 50, 0, kSpring), 10), at(1, 45, 0, kSpring)).remark,
            ". In 30 minutes");
  // Spring: five minutes after 01:58 is 03:03.
  auto p = plan(reminder(at(1, 0, 0, kSpring), at(1, 58, 0, kSpring)), at(1, 58, 5, kSpring), kRepeat);
  EXPECT_EQ(nextAlarm(p), at(3, 3, 0, kSpring));
  EXPECT_EQ(p.alarm->text, "03/29/2026 3:03 am");
  // Autumn: five minutes after 02:58 in the first run is 02:03 in the second, stored as such.
  p = plan(reminder(at(1, 0, 0, kAutumn), AlarmMoment(kAutumn, 2 * 60 + 58)), utc(0, 58, 5), kRepeat);
  EXPECT_EQ(nextAlarm(p), utc(1, 3));
  EXPECT_EQ(p.alarm->date, kAutumn.addDays(-1));
  EXPECT_EQ(p.alarm->minutes, 1440 + 2 * 60 + 3);
  // And on through the second run: five minutes after 02:20 of it is 02:25 of it.
  p = plan(reminder(at(1, 0, 0, kAutumn), utc(1, 20)), utc(1, 20, 5), kRepeat);
  EXPECT_EQ(nextAlarm(p), utc(1, 25));
}

TEST(DaylightSaving, TheRepeatedHourNeverGivesAnAlarmAtOrBeforeNowNorFiresTwice) {
  // Every kind of reminder, announced at every moment of the autumn night: its next alarm lies after now.
  for (const int countdown : {0, 10}) {
    for (const AnnounceSettings& s : {AnnounceSettings{1, 5, "h:mm"}, AnnounceSettings{0, 5, "h:mm"}}) {
      for (QDateTime now = utc(23, 30, 0, kAutumn.addDays(-1)); now < utc(2, 30); now = now.addSecs(47)) {
        const auto r = reminder(AlarmMoment(kAutumn, 2 * 60 + 15), now, countdown);
        const auto p = plan(r, now, s);
        const QDateTime next = p.alarm ? nextAlarm(p) : AlarmMoment(r.alarmDate, r.alarmTime);
        EXPECT_GT(next, now) << now.toString(Qt::ISODateWithMs).toStdString() << " countdown " << countdown;
      }
    }
  }
  // Repeating every five minutes through the night: never closer, never silent longer than the hour.
  auto r = reminder(AlarmMoment(kAutumn, 1 * 60 + 50), AlarmMoment(kAutumn, 1 * 60 + 50));
  std::vector<QDateTime> fired;
  for (QDateTime now = utc(23, 45, 0, kAutumn.addDays(-1)); now < utc(3, 0); now = now.addSecs(20)) {
    if (AlarmMoment(r.alarmDate, r.alarmTime) > now) continue;
    fired.push_back(now);
    const auto p = plan(r, now, {1, 5, "h:mm"});
    ASSERT_TRUE(p.alarm);
    r.alarmDate = p.alarm->date;
    r.alarmTime = p.alarm->minutes;
  }
  ASSERT_GE(fired.size(), 10u);
  EXPECT_EQ(fired.front(), utc(23, 50, 0, kAutumn.addDays(-1)));
  for (size_t i = 1; i < fired.size(); ++i) {
    const qint64 gap = fired[i - 1].secsTo(fired[i]);
    EXPECT_TRUE(gap >= 5 * 60 - 30 && gap <= 66 * 60) << fired[i].toString(Qt::ISODate).toStdString();
  }
}

TEST(SeriesMove, AGoneOccurrenceMovesToTheNextWithItsLead) {
  ReminderFacts r = reminder(at(9, 30), at(9, 20));
  const QStringList calendar{"DTSTART:20261120T083000Z", "RRULE:FREQ=WEEKLY"};
  QDateTime askedAfter;
  const auto weekLater = [&](const QStringList& series, const QDateTime& after) -> std::optional<SeriesOccurrence> {
    askedAfter = after;
    if (!series.contains("RRULE:FREQ=WEEKLY")) return std::nullopt;
    return SeriesOccurrence{false, {}, at(9, 30, 0, kDay.addDays(7))};
  };
  EXPECT_FALSE(PlanSeriesMove(r, {"DTSTART:20261120T083000Z"}, at(10, 0), weekLater));  // not a series
  const QStringList led = calendar + QStringList{"X-CHIMEWISE-LEAD:600"};
  EXPECT_FALSE(PlanSeriesMove(r, led, at(9, 29), weekLater));  // still to come
  const auto move = PlanSeriesMove(r, led, at(9, 35), weekLater);
  ASSERT_TRUE(move);
  EXPECT_EQ(std::pair(move->activity, move->alarm),
            std::pair(at(9, 30, 0, kDay.addDays(7)), at(9, 20, 0, kDay.addDays(7))));
  EXPECT_EQ(askedAfter, at(9, 35));  // not before now
  // Without a lead the alarm is at the activity; an ended series leaves the reminder where it is.
  EXPECT_EQ(PlanSeriesMove(r, calendar, at(9, 35), weekLater)->alarm, at(9, 30, 0, kDay.addDays(7)));
  EXPECT_FALSE(PlanSeriesMove(r, calendar, at(9, 35),
                              [](const QStringList&, const QDateTime&) { return std::optional<SeriesOccurrence>(); }));
  // An all-day series keeps its time of day; a lead of 15 hours.
  r.activity = at(9, 0);
  const auto allDay =
      PlanSeriesMove(r, {"DTSTART;VALUE=DATE:20261120", "RRULE:FREQ=WEEKLY", "X-CHIMEWISE-LEAD:54000"}, at(12, 0),
                     [](const QStringList&, const QDateTime&) {
                       return std::optional<SeriesOccurrence>(SeriesOccurrence{true, kDay.addDays(7), {}});
                     });
  ASSERT_TRUE(allDay);
  EXPECT_EQ(std::pair(allDay->activity, allDay->alarm),
            std::pair(at(9, 0, 0, kDay.addDays(7)), at(18, 0, 0, kDay.addDays(6))));
}

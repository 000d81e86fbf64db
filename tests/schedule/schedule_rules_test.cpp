// The Schedule Activity dialog's rules without a window: countdown steps, picker formats, the
// activity following the reminder, placement, and the values an edit starts from.
#include "schedule/schedule_rules.h"

#include "schedule/schedule_fixture.h"
#include "support/qt_app.h"
#include "support/qt_print.h"

#include <gtest/gtest.h>

#include <array>

using namespace chimewise;

namespace {

const QDate kDay(2026, 12, 4);
const QDateTime kNow(kDay, QTime(10, 0, 45));

TEST(ScheduleRules, CountdownStepsTheirMinutesAndTheBox) {
  EXPECT_EQ(CountdownMinutes(QStringLiteral("1 minute")), 1);
  EXPECT_EQ(CountdownMinutes(QStringLiteral("60 minutes")), 60);
  EXPECT_EQ(CountdownMinutes(QString()), 0);  // no selection: no countdown
  EXPECT_EQ(CountdownMinutes(QStringLiteral("minutes")), 0);
  const QList<int> minutes = {1, 2, 3, 5, 10, 15, 30, 60};
  ASSERT_EQ(CountdownSteps().size(), minutes.size());
  for (int i = 0; i < minutes.size(); ++i) {
    EXPECT_EQ(CountdownMinutes(CountdownSteps().at(i)), minutes.at(i));
    EXPECT_EQ(CountdownPosition(minutes.at(i)), i);
  }
  for (int odd : {0, 7, 4, 90, -1}) EXPECT_EQ(CountdownPosition(odd), -1) << odd;  // an old record's 7: nothing
  // Ticking offers "1 minute" when none is chosen and keeps a choice; unticking clears it.
  EXPECT_EQ(CountdownAfterToggle(true, -1), (CountdownList{true, 0}));
  EXPECT_EQ(CountdownAfterToggle(true, 5), (CountdownList{true, 5}));
  EXPECT_EQ(CountdownAfterToggle(false, 5), (CountdownList{false, -1}));
  EXPECT_EQ(CountdownAfterToggle(false, -1), (CountdownList{false, -1}));
  // Only the exact twelve-hour text, as the settings hold it, shows am/pm.
  EXPECT_EQ(PickerTimeFormat(QStringLiteral("h:mm am/pm")), QStringLiteral("h:mm ap"));
  for (const char* other : {"h:mm", "h:mm AM/PM", "hh:mm am/pm"})
    EXPECT_EQ(PickerTimeFormat(QString::fromLatin1(other)), QStringLiteral("h:mm")) << other;
}

TEST(ScheduleRules, TheActivityFollowsAReminderMovedPastIt) {
  EXPECT_EQ(DraggedActivityDate(kDay.addDays(3), kDay), kDay.addDays(3));
  EXPECT_EQ(DraggedActivityDate(kDay.addDays(-3), kDay), std::nullopt);  // earlier: left alone
  EXPECT_EQ(DraggedActivityDate(kDay, kDay), std::nullopt);
  EXPECT_EQ(DraggedActivityDate(QDate(), kDay), std::nullopt);
  const QTime nine(9, 0), five(17, 0);
  // The time follows only on the activity's day or later (the evening before a morning meeting
  // keeps its time), and seconds the pickers do not show never decide.
  EXPECT_EQ(DraggedActivityTime(kDay, five, kDay, nine), five);
  EXPECT_EQ(DraggedActivityTime(kDay, nine, kDay, five), std::nullopt);
  EXPECT_EQ(DraggedActivityTime(kDay, five, kDay.addDays(1), nine), std::nullopt);
  EXPECT_EQ(DraggedActivityTime(kDay.addDays(1), five, kDay, nine), five);
  EXPECT_EQ(DraggedActivityTime(kDay, QTime(9, 0, 59), kDay, QTime(9, 0, 10)), std::nullopt);
}

TEST(ScheduleRules, PlacementFollowsTheViewerAndStaysOnTheScreen) {
  const std::int32_t sw = 1920 * 15, sh = 1080 * 15, w = 600 * 15, h = 400 * 15;
  // At the viewer's top left; pulled back on screen only along the axis that runs over; centred
  // without a viewer; a dialog larger than the screen keeps its title bar reachable.
  EXPECT_EQ(ScheduleOrigin(TwipsRect{1500, 3000, 9000, 6000}, w, h, sw, sh), (TwipsPoint{1500, 3000}));
  EXPECT_EQ(ScheduleOrigin(TwipsRect{1700 * 15, 900 * 15, 3000, 3000}, w, h, sw, sh), (TwipsPoint{sw - w, sh - h}));
  EXPECT_EQ(ScheduleOrigin(TwipsRect{100, 900 * 15, 3000, 3000}, w, h, sw, sh), (TwipsPoint{100, sh - h}));
  EXPECT_EQ(ScheduleOrigin(std::nullopt, w, h, sw, sh), (TwipsPoint{(sw - w) / 2, (sh - h) / 2}));
  EXPECT_EQ(ScheduleOrigin(TwipsRect{100, 100, 3000, 3000}, sw + 3000, sh + 3000, sw, sh), (TwipsPoint{0, 0}));
  EXPECT_EQ(ScheduleOrigin(std::nullopt, sw + 3000, sh + 3000, sw, sh), (TwipsPoint{0, 0}));
}

TEST(ScheduleRules, TypedDatesAndPlusMinutes) {
  // A typed date that names no day is refused, not moved to another; a real day or a text not in
  // the full form leaves the picker's own date.
  for (const char* text : {"02/31/2026", "02/29/2026", "04/31/2026", "13/01/2026", "00/10/2026", "12/00/2026"}) {
    EXPECT_TRUE(NamesNoDay(QString::fromLatin1(text))) << text;
    EXPECT_FALSE(TypedPickerDate(QString::fromLatin1(text), kDay).isValid()) << text;
  }
  for (const char* text : {"02/28/2026", "02/29/2028", "12/31/2026", "2/3/2026", ""}) {
    EXPECT_FALSE(NamesNoDay(QString::fromLatin1(text))) << text;
    EXPECT_EQ(TypedPickerDate(QString::fromLatin1(text), kDay), kDay) << text;
  }
  // "+N" counts from now, to the minute.
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+15"), kNow), QDateTime(kDay, QTime(10, 15)));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+0"), kNow), QDateTime(kDay, QTime(10, 0)));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+90"), QDateTime(kDay, QTime(23, 0))),
            QDateTime(kDay.addDays(1), QTime(0, 30)));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+9999"), kNow), QDateTime(kDay, QTime(10, 0)).addSecs(9999 * 60));
  for (const char* text : {"15", "+", "+12345", "-5", "+1a", "+ 5"})
    EXPECT_EQ(MinutesFromNow(QString::fromLatin1(text), kNow), std::nullopt) << text;
}

TEST(ScheduleRules, TimeStepsCarryLikeAClock) {
  const struct {
    QTime from;
    TimeStep step;
    int by;
    PickerMoment to;
  } cases[] = {{QTime(12, 59), TimeStep::Minute, 1, {kDay, QTime(13, 0)}},
               {QTime(13, 0), TimeStep::Minute, -1, {kDay, QTime(12, 59)}},
               {QTime(23, 59, 45), TimeStep::Minute, 1, {kDay.addDays(1), QTime(0, 0, 45)}},
               {QTime(0, 0), TimeStep::Minute, -1, {kDay.addDays(-1), QTime(23, 59)}},
               {QTime(23, 30), TimeStep::Hour, 1, {kDay.addDays(1), QTime(0, 30)}},
               {QTime(0, 30), TimeStep::Hour, -1, {kDay.addDays(-1), QTime(23, 30)}},
               {QTime(9, 15), TimeStep::Hour, 12, {kDay, QTime(21, 15)}},
               {QTime(9, 15), TimeStep::Minute, 3 * 1440, {kDay.addDays(3), QTime(9, 15)}}};
  for (const auto& c : cases)
    EXPECT_EQ(SteppedTime(kDay, c.from, c.step, c.by), c.to) << c.from.toString().toStdString() << " " << c.by;
}

TEST(ScheduleRules, OnlyAReminderInAnEarlierMinuteThanNowAsksToRemindNow) {
  EventInput in;
  in.activity = QStringLiteral("Call Anna");
  in.activityDate = kDay;
  in.activityTime = QTime(11, 0);
  const auto at = [&](const QDate& d, const QTime& t) {
    EventInput e = in;
    e.remindDate = d;
    e.remindTime = t;
    return e;
  };
  EXPECT_FALSE(AsksToRemindNow(at(kDay, QTime(10, 0)), kNow));  // this minute is now
  EXPECT_FALSE(AsksToRemindNow(at(kDay, QTime(10, 1)), kNow));
  EXPECT_TRUE(AsksToRemindNow(at(kDay, QTime(9, 59)), kNow));
  EXPECT_TRUE(AsksToRemindNow(at(kDay.addDays(-1), QTime(23, 0)), kNow));
  EXPECT_FALSE(AsksToRemindNow(at(kDay.addDays(1), QTime(0, 0)), kNow));
  // An entry that will be refused anyway (blank activity, a date missing) is not asked about.
  EventInput refused = at(kDay, QTime(9, 0));
  refused.activity = QStringLiteral("   ");
  EXPECT_FALSE(AsksToRemindNow(refused, kNow));
  EXPECT_FALSE(AsksToRemindNow(at(QDate(), QTime(9, 0)), kNow));
  refused = at(kDay, QTime(9, 0));
  refused.activityDate = QDate();
  EXPECT_FALSE(AsksToRemindNow(refused, kNow));
  // Yes: the reminder moves to this minute, everything else stays as typed.
  const EventInput yes = RemindingNow(at(kDay.addDays(-2), QTime(8, 0)), kNow);
  EXPECT_EQ(QDateTime(yes.remindDate, yes.remindTime), QDateTime(kDay, QTime(10, 0)));
  EXPECT_EQ(QDateTime(yes.activityDate, yes.activityTime), QDateTime(kDay, QTime(11, 0)));
  EXPECT_EQ(yes.activity, QStringLiteral("Call Anna"));
  EXPECT_FALSE(AsksToRemindNow(yes, kNow));
}

class EditEntryTest : public ::testing::Test {
 protected:
  const bool app = (testsupport::EnsureQtApp(), true);  // before the folder
  std::optional<EventInput> read(qint64 rec) {
    return ReadEditEntry(folder.engine, folder.state.AppFolder, rec, &problem);
  }
  EventInput stretch() const {
    EventInput in;
    in.activity = QStringLiteral("Stretch");
    in.activityDate = kDay;
    in.activityTime = QTime(12, 0);
    in.remindDate = kDay;
    in.remindTime = QTime(11, 0);
    return in;
  }
  testsupport::CalendarFolder folder{kNow};
  Problem problem;
};

TEST_F(EditEntryTest, AnEditStartsFromTheStoredMomentsNotTheDisplayTexts) {
  EventInput in = stretch();
  in.event = QStringLiteral("Travel");
  in.memo = QStringLiteral("Platform 7\nCar 21");
  in.activityDate = kDay.addDays(2);
  in.remindDate = kDay.addDays(1);
  in.remindTime = QTime(0, 40);
  in.sound = 4;
  in.sayTime = 1;
  in.countdown = 15;
  in.countdownOn = true;
  const qint64 rec = folder.add(in);
  // Display texts that no longer match (another time format since) are not read.
  folder.withRecord(rec, [](xbase::WorkArea& wa) {
    ASSERT_TRUE(wa.Replace("TIMETEXT", "11:11 pm").ok());
    ASSERT_TRUE(wa.Replace("ALARMTEXT", "01/01/2001 1:01 am").ok());
    ASSERT_TRUE(wa.Commit().ok());
  });
  const std::optional<EventInput> got = read(rec);
  ASSERT_TRUE(got) << Describe(problem).text.toStdString();
  EXPECT_EQ(QStringList({got->event, got->activity, got->memo}), QStringList({in.event, in.activity, in.memo}));
  EXPECT_EQ(QDateTime(got->activityDate, got->activityTime), QDateTime(in.activityDate, in.activityTime));
  EXPECT_EQ(QDateTime(got->remindDate, got->remindTime), QDateTime(in.remindDate, QTime(0, 40)));
  EXPECT_EQ((std::array{got->sound, got->sayDate, got->sayTime, got->countdown}), (std::array{4, 0, 1, 15}));
  EXPECT_TRUE(got->countdownOn);
  EXPECT_EQ(folder.engine.WorkAreaOf(data::kAliasOneTime), 0);  // closed again: the save's alias is free
}

TEST_F(EditEntryTest, ACountdownNoStepHasIsNotOnAndMissingRecordsAreTold) {
  EventInput in = stretch();
  in.countdown = 7;
  in.countdownOn = true;
  const qint64 rec = folder.add(in);
  const auto got = read(rec);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->countdown, 7);
  EXPECT_FALSE(got->countdownOn);
  EXPECT_FALSE(read(rec + 1));
  EXPECT_EQ(problem.kind, ProblemKind::NoSuchReminder);
  EXPECT_EQ(problem.number, rec + 1);
  EXPECT_EQ(folder.engine.WorkAreaOf(data::kAliasOneTime), 0);
  QDir(folder.dir.filePath("data")).removeRecursively();
  EXPECT_FALSE(read(rec));
  EXPECT_EQ(problem.kind, ProblemKind::MissingFolder);
}

// Dealt with (its alarm date cleared), with an alarm minute another program left out of range.
TEST_F(EditEntryTest, AReminderWithoutAnAlarmDateStillShowsATimeOfDay) {
  const qint64 rec = folder.add(stretch());
  for (const auto& [minutes, shown] : {std::pair{1500, QTime(23, 59)}, std::pair{-30, QTime(0, 0)}}) {
    folder.withRecord(rec, [minutes](xbase::WorkArea& wa) {
      ASSERT_TRUE(wa.Replace("ALARMDATE", "").ok());
      ASSERT_TRUE(wa.ReplaceInteger("ALARMTIME", minutes).ok());
      ASSERT_TRUE(wa.Commit().ok());
    });
    const auto got = read(rec);
    ASSERT_TRUE(got) << Describe(problem).text.toStdString();
    EXPECT_FALSE(got->remindDate.isValid());
    EXPECT_EQ(got->remindTime, shown) << minutes;
  }
}

}  // namespace

// The Schedule Activity dialog's rules without a window: countdown steps, picker formats, the
// activity following the reminder, placement, and the values an edit starts from.
#include "schedule/schedule_rules.h"

#include "schedule/schedule_fixture.h"
#include "support/qt_print.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDate kDay(2026, 12, 4);

TEST(ScheduleRules, CountdownTextsGiveTheirLeadingNumberAndBackToTheirPosition) {
  EXPECT_EQ(CountdownMinutes(QStringLiteral("1 minute")), 1);
  EXPECT_EQ(CountdownMinutes(QStringLiteral("15 minutes")), 15);
  EXPECT_EQ(CountdownMinutes(QStringLiteral("60 minutes")), 60);
  EXPECT_EQ(CountdownMinutes(QString()), 0);  // no selection: no countdown
  EXPECT_EQ(CountdownMinutes(QStringLiteral("minutes")), 0);
  const QList<int> minutes = {1, 2, 3, 5, 10, 15, 30, 60};
  ASSERT_EQ(CountdownSteps().size(), minutes.size());
  for (int i = 0; i < minutes.size(); ++i) {
    EXPECT_EQ(CountdownMinutes(CountdownSteps().at(i)), minutes.at(i));
    EXPECT_EQ(CountdownPosition(minutes.at(i)), i);
  }
  // Values no step has (an old record's 7, none at all) select nothing.
  for (int odd : {0, 7, 4, 90, -1}) EXPECT_EQ(CountdownPosition(odd), -1) << odd;
}

TEST(ScheduleRules, CountdownBoxEnablesTheListAndUncheckingClearsIt) {
  EXPECT_EQ(CountdownAfterToggle(true, -1), (CountdownList{true, 0}));  // "1 minute" when none chosen
  EXPECT_EQ(CountdownAfterToggle(true, 5), (CountdownList{true, 5}));   // a choice is kept
  EXPECT_EQ(CountdownAfterToggle(false, 5), (CountdownList{false, -1}));
  EXPECT_EQ(CountdownAfterToggle(false, -1), (CountdownList{false, -1}));
}

TEST(ScheduleRules, OnlyTheTwelveHourPatternShowsAmPm) {
  EXPECT_EQ(PickerTimeFormat(QStringLiteral("h:mm am/pm")), QStringLiteral("h:mm ap"));
  EXPECT_EQ(PickerTimeFormat(QStringLiteral("h:mm")), QStringLiteral("h:mm"));
  // The choice is made on the exact text, as the settings hold it.
  EXPECT_EQ(PickerTimeFormat(QStringLiteral("h:mm AM/PM")), QStringLiteral("h:mm"));
  EXPECT_EQ(PickerTimeFormat(QStringLiteral("hh:mm am/pm")), QStringLiteral("h:mm"));
}

TEST(ScheduleRules, TheActivityDateFollowsAReminderMovedPastIt) {
  EXPECT_EQ(DraggedActivityDate(kDay.addDays(3), kDay), kDay.addDays(3));
  EXPECT_EQ(DraggedActivityDate(kDay.addDays(-3), kDay), std::nullopt);  // earlier: left alone
  EXPECT_EQ(DraggedActivityDate(kDay, kDay), std::nullopt);
  EXPECT_EQ(DraggedActivityDate(QDate(), kDay), std::nullopt);
}

TEST(ScheduleRules, TheActivityTimeFollowsOnlyOnTheActivitysDayOrLater) {
  const QTime nine(9, 0), five(17, 0);
  // Same day, reminder after the activity: the activity moves along.
  EXPECT_EQ(DraggedActivityTime(kDay, five, kDay, nine), five);
  // Same day, reminder before it: nothing moves.
  EXPECT_EQ(DraggedActivityTime(kDay, nine, kDay, five), std::nullopt);
  // The evening before a morning meeting: the meeting keeps its time.
  EXPECT_EQ(DraggedActivityTime(kDay, five, kDay.addDays(1), nine), std::nullopt);
  // A reminder on a later day than the activity (the date was not dragged): the time follows.
  EXPECT_EQ(DraggedActivityTime(kDay.addDays(1), five, kDay, nine), five);
  // Seconds the pickers do not show never decide.
  EXPECT_EQ(DraggedActivityTime(kDay, QTime(9, 0, 59), kDay, QTime(9, 0, 10)), std::nullopt);
}

TEST(ScheduleRules, PlacementFollowsTheViewerAndStaysOnTheScreen) {
  const std::int32_t sw = 1920 * 15, sh = 1080 * 15, w = 600 * 15, h = 400 * 15;
  // Beside a viewer with room: at the viewer's top left corner.
  EXPECT_EQ(ScheduleOrigin(TwipsRect{1500, 3000, 9000, 6000}, w, h, sw, sh), (TwipsPoint{1500, 3000}));
  // A viewer near the bottom right: pulled up and left to end at the screen's edges.
  EXPECT_EQ(ScheduleOrigin(TwipsRect{1700 * 15, 900 * 15, 3000, 3000}, w, h, sw, sh), (TwipsPoint{sw - w, sh - h}));
  // Only the axis that runs over moves.
  EXPECT_EQ(ScheduleOrigin(TwipsRect{100, 900 * 15, 3000, 3000}, w, h, sw, sh), (TwipsPoint{100, sh - h}));
  // No viewer: centred.
  EXPECT_EQ(ScheduleOrigin(std::nullopt, w, h, sw, sh), (TwipsPoint{(sw - w) / 2, (sh - h) / 2}));
  // A dialog larger than the screen keeps its title bar reachable.
  EXPECT_EQ(ScheduleOrigin(TwipsRect{100, 100, 3000, 3000}, sw + 3000, sh + 3000, sw, sh), (TwipsPoint{0, 0}));
  EXPECT_EQ(ScheduleOrigin(std::nullopt, sw + 3000, sh + 3000, sw, sh), (TwipsPoint{0, 0}));
}

TEST(ScheduleRules, AnActivityOfBlanksIsNone) {
  EXPECT_TRUE(ActivityIsBlank(QString()));
  EXPECT_TRUE(ActivityIsBlank(QStringLiteral("  \t ")));
  EXPECT_FALSE(ActivityIsBlank(QStringLiteral(" x ")));
}

TEST(ScheduleRules, ATypedDateThatNamesNoDayIsRefusedNotMovedToAnother) {
  const QDate picker(2026, 12, 4);
  for (const char* text : {"02/31/2026", "02/29/2026", "04/31/2026", "13/01/2026", "00/10/2026", "12/00/2026"}) {
    EXPECT_TRUE(NamesNoDay(QString::fromLatin1(text))) << text;
    EXPECT_FALSE(TypedPickerDate(QString::fromLatin1(text), picker).isValid()) << text;
  }
  // A real day, and any text not in the picker's full form, leave the picker's own date.
  for (const char* text : {"02/28/2026", "02/29/2028", "12/31/2026", "2/3/2026", ""}) {
    EXPECT_FALSE(NamesNoDay(QString::fromLatin1(text))) << text;
    EXPECT_EQ(TypedPickerDate(QString::fromLatin1(text), picker), picker) << text;
  }
}

TEST(ScheduleRules, PlusMinutesCountFromNowToTheMinute) {
  const QDateTime now(kDay, QTime(10, 0, 45));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+15"), now), QDateTime(kDay, QTime(10, 15)));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+0"), now), QDateTime(kDay, QTime(10, 0)));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+90"), QDateTime(kDay, QTime(23, 0))),
            QDateTime(kDay.addDays(1), QTime(0, 30)));
  EXPECT_EQ(MinutesFromNow(QStringLiteral("+9999"), now), QDateTime(kDay, QTime(10, 0)).addSecs(9999 * 60));
  for (const char* text : {"15", "+", "+12345", "-5", "+1a", "+ 5"})
    EXPECT_EQ(MinutesFromNow(QString::fromLatin1(text), now), std::nullopt) << text;
}

TEST(ScheduleRules, TimeStepsCarryLikeAClock) {
  EXPECT_EQ(SteppedTime(kDay, QTime(12, 59), TimeStep::Minute, 1), (PickerMoment{kDay, QTime(13, 0)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(13, 0), TimeStep::Minute, -1), (PickerMoment{kDay, QTime(12, 59)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(23, 59, 45), TimeStep::Minute, 1),
            (PickerMoment{kDay.addDays(1), QTime(0, 0, 45)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(0, 0), TimeStep::Minute, -1), (PickerMoment{kDay.addDays(-1), QTime(23, 59)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(23, 30), TimeStep::Hour, 1), (PickerMoment{kDay.addDays(1), QTime(0, 30)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(0, 30), TimeStep::Hour, -1), (PickerMoment{kDay.addDays(-1), QTime(23, 30)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(9, 15), TimeStep::Hour, 12), (PickerMoment{kDay, QTime(21, 15)}));
  EXPECT_EQ(SteppedTime(kDay, QTime(9, 15), TimeStep::Minute, 3 * 1440), (PickerMoment{kDay.addDays(3), QTime(9, 15)}));
}

TEST(ScheduleRules, OnlyAReminderInAnEarlierMinuteThanNowAsksToRemindNow) {
  const QDateTime now(kDay, QTime(10, 0, 45));
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
  EXPECT_FALSE(AsksToRemindNow(at(kDay, QTime(10, 0)), now));  // this minute is now
  EXPECT_FALSE(AsksToRemindNow(at(kDay, QTime(10, 1)), now));
  EXPECT_TRUE(AsksToRemindNow(at(kDay, QTime(9, 59)), now));
  EXPECT_TRUE(AsksToRemindNow(at(kDay.addDays(-1), QTime(23, 0)), now));
  EXPECT_FALSE(AsksToRemindNow(at(kDay.addDays(1), QTime(0, 0)), now));
  // An entry that will be refused anyway is not asked about.
  EventInput blank = at(kDay, QTime(9, 0));
  blank.activity = QStringLiteral("   ");
  EXPECT_FALSE(AsksToRemindNow(blank, now));
  EXPECT_FALSE(AsksToRemindNow(at(QDate(), QTime(9, 0)), now));
  EventInput noActivityDate = at(kDay, QTime(9, 0));
  noActivityDate.activityDate = QDate();
  EXPECT_FALSE(AsksToRemindNow(noActivityDate, now));

  // Yes: the reminder moves to this minute, everything else stays as typed.
  const EventInput yes = RemindingNow(at(kDay.addDays(-2), QTime(8, 0)), now);
  EXPECT_EQ(yes.remindDate, kDay);
  EXPECT_EQ(yes.remindTime, QTime(10, 0));
  EXPECT_EQ(yes.activityDate, kDay);
  EXPECT_EQ(yes.activityTime, QTime(11, 0));
  EXPECT_EQ(yes.activity, QStringLiteral("Call Anna"));
  EXPECT_FALSE(AsksToRemindNow(yes, now));
}

class EditEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "schedule-rules-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    folder = std::make_unique<testsupport::CalendarFolder>(QDateTime(kDay, QTime(10, 0, 45)));
  }
  std::unique_ptr<testsupport::CalendarFolder> folder;
};

TEST_F(EditEntryTest, AnEditStartsFromTheStoredMomentsNotTheDisplayTexts) {
  EventInput in;
  in.event = QStringLiteral("Travel");
  in.activity = QStringLiteral("Train to Hamburg");
  in.memo = QStringLiteral("Platform 7\nCar 21");
  in.activityDate = kDay.addDays(2);
  in.activityTime = QTime(7, 15);
  in.remindDate = kDay.addDays(1);
  in.remindTime = QTime(0, 40);
  in.sound = 4;
  in.sayTime = 1;
  in.countdown = 15;
  in.countdownOn = true;
  const qint64 rec = folder->add(in);
  // Display texts that no longer match (another time format since): they are not read.
  folder->withRecord(rec, [](xbase::WorkArea& wa) {
    ASSERT_TRUE(wa.Replace("TIMETEXT", "11:11 pm").ok());
    ASSERT_TRUE(wa.Replace("ALARMTEXT", "01/01/2001 1:01 am").ok());
    ASSERT_TRUE(wa.Commit().ok());
  });

  Problem problem;
  const std::optional<EventInput> got = ReadEditEntry(folder->engine, folder->state.AppFolder, rec, &problem);
  ASSERT_TRUE(got) << Describe(problem).text.toStdString();
  EXPECT_EQ(got->event, in.event);
  EXPECT_EQ(got->activity, in.activity);
  EXPECT_EQ(got->memo, in.memo);
  EXPECT_EQ(got->activityDate, in.activityDate);
  EXPECT_EQ(got->activityTime, in.activityTime);
  EXPECT_EQ(got->remindDate, in.remindDate);
  EXPECT_EQ(got->remindTime, QTime(0, 40));
  EXPECT_EQ(got->sound, 4);
  EXPECT_EQ(got->sayDate, 0);
  EXPECT_EQ(got->sayTime, 1);
  EXPECT_EQ(got->countdown, 15);
  EXPECT_TRUE(got->countdownOn);
  // The table is closed again: the save's alias is free.
  EXPECT_EQ(folder->engine.WorkAreaOf(data::kAliasOneTime), 0);
}

TEST_F(EditEntryTest, ACountdownNoStepHasIsNotOnAndMissingRecordsAreTold) {
  EventInput in;
  in.activity = QStringLiteral("Stretch");
  in.activityDate = kDay;
  in.activityTime = QTime(12, 0);
  in.remindDate = kDay;
  in.remindTime = QTime(11, 0);
  in.countdown = 7;
  in.countdownOn = true;
  const qint64 rec = folder->add(in);
  Problem problem;
  const auto got = ReadEditEntry(folder->engine, folder->state.AppFolder, rec, &problem);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->countdown, 7);
  EXPECT_FALSE(got->countdownOn);

  EXPECT_FALSE(ReadEditEntry(folder->engine, folder->state.AppFolder, rec + 1, &problem));
  EXPECT_EQ(problem.kind, ProblemKind::NoSuchReminder);
  EXPECT_EQ(problem.number, rec + 1);
  EXPECT_EQ(folder->engine.WorkAreaOf(data::kAliasOneTime), 0);

  QDir(folder->dir.filePath("data")).removeRecursively();
  EXPECT_FALSE(ReadEditEntry(folder->engine, folder->state.AppFolder, rec, &problem));
  EXPECT_EQ(problem.kind, ProblemKind::MissingFolder);
}

TEST_F(EditEntryTest, AReminderWithoutAnAlarmDateStillShowsATimeOfDay) {
  // Dealt with (its alarm date cleared), with an alarm minute another program left out of range.
  EventInput in;
  in.activity = QStringLiteral("Water the plants");
  in.activityDate = kDay;
  in.activityTime = QTime(9, 0);
  in.remindDate = kDay;
  in.remindTime = QTime(8, 30);
  const qint64 rec = folder->add(in);
  Problem problem;
  for (const auto& [minutes, shown] : {std::pair{1500, QTime(23, 59)}, std::pair{-30, QTime(0, 0)}}) {
    folder->withRecord(rec, [minutes](xbase::WorkArea& wa) {
      ASSERT_TRUE(wa.Replace("ALARMDATE", "").ok());
      ASSERT_TRUE(wa.ReplaceInteger("ALARMTIME", minutes).ok());
      ASSERT_TRUE(wa.Commit().ok());
    });
    const auto got = ReadEditEntry(folder->engine, folder->state.AppFolder, rec, &problem);
    ASSERT_TRUE(got) << Describe(problem).text.toStdString();
    EXPECT_FALSE(got->remindDate.isValid());
    EXPECT_EQ(got->remindTime, shown) << minutes;
  }
}

}  // namespace

namespace {

TEST_F(EditEntryTest, AnEmptyActivityIsRefusedAndNothingIsStored) {
  EventInput in;
  in.activity = QStringLiteral("  ");
  in.activityDate = kDay.addDays(1);
  in.activityTime = QTime(9, 0);
  in.remindDate = kDay.addDays(1);
  in.remindTime = QTime(8, 0);
  const SaveResult r = folder->saver->SaveEvent(in);
  EXPECT_FALSE(r.saved);
  EXPECT_EQ(r.refused, SaveField::Activity);
  EXPECT_EQ(r.problem.kind, ProblemKind::EmptyActivity);
  EXPECT_EQ(Describe(r.problem).title, QStringLiteral("Enter Activity"));
  EXPECT_EQ(folder->recordCount(), 0u);
  // Invalid dates are still told first.
  in.remindDate = QDate();
  EXPECT_EQ(folder->saver->SaveEvent(in).refused, SaveField::RemindDate);
}

}  // namespace

// The Schedule Activity dialog driven as a user drives it, offscreen, over a real reminder table.
#include "schedule/schedule_dialog.h"
#include "schedule/schedule_windows.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "schedule/schedule_fixture.h"
#include "support/access_keys.h"
#include "support/accessible_names.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"
#include "support/table_lock_holder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDateTime kNow(QDate(2026, 12, 4), QTime(10, 0, 45));

class ScheduleDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    folder = std::make_unique<testsupport::CalendarFolder>(kNow);
    settings = std::make_unique<SettingsStore>(folder->dir.filePath("settings.ini"));
    windows = std::make_unique<ScheduleWindows>(folder->state, *settings, prompter, folder->clock, folder->engine,
                                                *folder->saver, *folder->alarms, folder->speaker, folder->viewer,
                                                [this](const QString& path) { helpOpened << path; });
  }

  // Opens the dialog for `record` (none: a new reminder), runs `body` on it while it is shown
  // modally and cancels it if still open, so a failing check cannot hang the test; OpenSchedule's
  // result.
  template <typename F>
  bool run(std::optional<qint64> record, F body) {
    bool ran = false;
    windows->onShown = [&](ScheduleDialog& d) {
      ran = true;
      EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
      body(d);
      if (d.isVisible()) d.reject();
    };
    const bool saved = windows->OpenSchedule(record);
    EXPECT_TRUE(ran || record);
    return saved;
  }

  EventInput reminder(const QString& text, int countdown = 0) const {
    EventInput in;
    in.event = QStringLiteral("Meeting");
    in.activity = text;
    in.activityDate = kNow.date().addDays(1);
    in.activityTime = QTime(14, 30);
    in.remindDate = kNow.date().addDays(1);
    in.remindTime = QTime(14, 0);
    in.countdown = countdown;
    in.countdownOn = countdown > 0;
    return in;
  }

  std::unique_ptr<testsupport::CalendarFolder> folder;
  std::unique_ptr<SettingsStore> settings;
  ScriptedPrompter prompter;
  QStringList helpOpened;
  std::unique_ptr<ScheduleWindows> windows;
};

TEST_F(ScheduleDialogTest, ANewReminderEnteredInTheDialogIsStoredFieldByField) {
  bool openWhileShown = false;
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    openWhileShown = windows->ScheduleOpen();
    d.remindDate->setDate(QDate(2026, 12, 10));
    d.remindTime->setTime(QTime(0, 40));
    d.activityTime->setTime(QTime(9, 30));
    d.type->setCurrentIndex(d.type->findText(QStringLiteral("Travel")));
    QTest::keyClicks(d.activity, QStringLiteral("Catch the train"));
    QTest::keyClicks(d.memo, QStringLiteral("Platform 7"));
    d.audio->setCurrentIndex(3);
    d.sayDate->setChecked(true);
    d.countdown->setChecked(true);
    d.countdownList->setCurrentIndex(5);
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  });
  EXPECT_TRUE(saved);
  EXPECT_TRUE(openWhileShown);
  EXPECT_FALSE(windows->ScheduleOpen());
  EXPECT_TRUE(prompter.asked.empty());
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(QStringList({TableText(wa, "APPT_TEXT"), TableText(wa, "EVENT"), TableMemo(wa, "COMMENT")}),
              QStringList({"Catch the train", "Travel", "Platform 7"}));
    // The reminder date moved past the activity's and took it along; its time stayed.
    EXPECT_EQ(TableDate(wa, "ALARMDATE"), QDate(2026, 12, 10));
    EXPECT_EQ(TableDate(wa, "EVENTDATE"), QDate(2026, 12, 10));
    EXPECT_EQ((std::vector<int>{TableInt(wa, "ALARMTIME"), TableInt(wa, "STARTTIME"), TableInt(wa, "SOUND"),
                                TableInt(wa, "SAYDATE"), TableInt(wa, "SAYTIME"), TableInt(wa, "COUNTDOWN")}),
              (std::vector<int>{40, 9 * 60 + 30, 3, 1, 0, 15}));
    EXPECT_EQ(TableText(wa, "REC_NO").size(), 13);
  });
  // The character wrote it down; the sound chosen is remembered; the next alarm is this one.
  EXPECT_TRUE(folder->speaker.lines.contains(QStringLiteral("Play: write")));
  EXPECT_EQ(settings->read(settings::LastSound), QStringLiteral("3"));
  EXPECT_EQ(folder->alarms->nextAlarm(), QDateTime(QDate(2026, 12, 10), QTime(0, 40)));
}

// A new dialog starts at now with the lists at their first choices; ticking the countdown offers one
// minute, unticking clears it and stores none.
TEST_F(ScheduleDialogTest, ANewDialogStartsAtNowAndAnUntickedCountdownStoresZero) {
  settings->write(settings::LastSound, QStringLiteral("5"));
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    for (QDateEdit* e : {d.remindDate, d.activityDate}) EXPECT_EQ(e->date(), kNow.date());
    EXPECT_EQ(d.remindTime->text(), QStringLiteral("10:00 am"));
    EXPECT_EQ(d.activityTime->time().toString("HH:mm"), "10:00");
    EXPECT_EQ(d.type->currentText(), QStringLiteral("Meeting"));
    EXPECT_EQ(d.audio->currentText(), QStringLiteral("None"));  // the last sound is not read back
    EXPECT_FALSE(d.countdown->isChecked() || d.countdownList->isEnabled());
    EXPECT_EQ(d.countdownList->currentIndex(), -1);
    d.activity->setText(QStringLiteral("Stretch"));
    QTest::mouseClick(d.countdown, Qt::LeftButton);
    EXPECT_TRUE(d.countdownList->isEnabled());
    EXPECT_EQ(d.countdownList->currentText(), QStringLiteral("1 minute"));
    d.countdownList->setCurrentIndex(5);
    QTest::mouseClick(d.countdown, Qt::LeftButton);
    EXPECT_FALSE(d.countdownList->isEnabled());
    EXPECT_EQ(d.countdownList->currentIndex(), -1);
    QTest::mouseClick(d.countdown, Qt::LeftButton);
    EXPECT_EQ(d.countdownList->currentText(), QStringLiteral("1 minute"));
    QTest::mouseClick(d.countdown, Qt::LeftButton);
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  });
  EXPECT_TRUE(saved);
  folder->withRecord(1, [](xbase::WorkArea& wa) { EXPECT_EQ(TableInt(wa, "COUNTDOWN"), 0); });
  // The 24-hour format shows no am/pm in either time picker.
  folder->options.timeFormat = QStringLiteral("h:mm");
  folder->clock.set(QDateTime(kNow.date(), QTime(15, 5)));
  run(std::nullopt, [&](ScheduleDialog& d) {
    EXPECT_EQ(d.remindTime->text(), QStringLiteral("15:05"));
    EXPECT_EQ(d.activityTime->text(), QStringLiteral("15:05"));
  });
}

// An edit shows the record (a countdown no step has as none) and saves it in place; Cancel, Escape
// and the close box leave it byte for byte and look for the next alarm again.
TEST_F(ScheduleDialogTest, AnEditSavesInPlaceAndCancelEscapeAndTheCloseBoxLeaveTheRecord) {
  const qint64 rec = folder->add(reminder(QStringLiteral("Dentist"), 7));
  QString idBefore;
  folder->withRecord(rec, [&](xbase::WorkArea& wa) { idBefore = TableText(wa, "REC_NO"); });
  EXPECT_TRUE(run(rec, [&](ScheduleDialog& d) {
    EXPECT_EQ(d.activity->text(), QStringLiteral("Dentist"));
    EXPECT_EQ(d.remindTime->time(), QTime(14, 0));
    EXPECT_EQ(QDateTime(d.activityDate->date(), d.activityTime->time()),
              QDateTime(kNow.date().addDays(1), QTime(14, 30)));
    EXPECT_FALSE(d.countdown->isChecked() || d.countdownList->isEnabled());
    EXPECT_EQ(d.countdownList->currentIndex(), -1);
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  }));
  EXPECT_EQ(folder->recordCount(), 1u);
  folder->withRecord(rec, [&](xbase::WorkArea& wa) {
    EXPECT_EQ(TableInt(wa, "COUNTDOWN"), 0);
    EXPECT_EQ(TableText(wa, "REC_NO"), idBefore);
  });
  const QByteArray dbf = testsupport::Slurp(data::CalendarPath(folder->state.AppFolder));
  const QByteArray fpt = testsupport::Slurp(folder->dir.filePath("data/CALENDAR.FPT"));
  const QString sound = settings->read(settings::LastSound);
  const std::function<void(ScheduleDialog&)> closers[] = {
      [](ScheduleDialog& d) { QTest::mouseClick(d.cancelButton, Qt::LeftButton); },
      [](ScheduleDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
      [](ScheduleDialog& d) { d.close(); },
      [this](ScheduleDialog&) { windows->CloseSchedule(); },
  };
  // The alarms forget the next alarm: a lookup where there is no table finds none.
  const auto forgetNextAlarm = [this] {
    const QString appFolder = folder->state.AppFolder;
    folder->state.AppFolder = folder->dir.filePath(QStringLiteral("nowhere"));
    static_cast<void>(folder->alarms->FindNextAlarm());
    folder->state.AppFolder = appFolder;
    ASSERT_EQ(folder->alarms->nextAlarm(), std::nullopt);
  };
  for (const auto& close : closers) {
    forgetNextAlarm();
    const bool saved = run(rec, [&](ScheduleDialog& d) {
      QTest::keyClicks(d.activity, QStringLiteral(" tomorrow"));
      d.countdown->setChecked(true);
      d.audio->setCurrentIndex(2);
      close(d);
      EXPECT_FALSE(d.isVisible());
    });
    EXPECT_FALSE(saved);
    EXPECT_FALSE(windows->ScheduleOpen());
    // Every close looks for the next alarm again.
    EXPECT_EQ(folder->alarms->nextAlarm(), QDateTime(kNow.date().addDays(1), QTime(14, 0)));
  }
  EXPECT_EQ(testsupport::Slurp(data::CalendarPath(folder->state.AppFolder)), dbf);
  EXPECT_EQ(testsupport::Slurp(folder->dir.filePath("data/CALENDAR.FPT")), fpt);
  EXPECT_EQ(settings->read(settings::LastSound), sound);
}

// The pickers as the keyboard drives them (what they compute is the rules' test): the activity
// follows the reminder forward, "t" sets a picker to now, a step carries into the picker's date,
// "+N" counts from now when the picker is left and Escape drops it.
TEST_F(ScheduleDialogTest, ThePickersFollowTheReminderAndTakeTodayStepsAndPlusMinutes) {
  run(std::nullopt, [&](ScheduleDialog& d) {
    d.remindDate->setDate(kNow.date().addDays(5));
    EXPECT_EQ(d.activityDate->date(), kNow.date().addDays(5));
    d.remindDate->setDate(kNow.date().addDays(2));
    EXPECT_EQ(d.activityDate->date(), kNow.date().addDays(5));  // earlier: left alone
    d.activityTime->setTime(QTime(9, 0));
    d.remindTime->setTime(QTime(17, 0));  // the day before: the activity keeps its time
    EXPECT_EQ(d.activityTime->time(), QTime(9, 0));
    d.remindDate->setDate(d.activityDate->date());
    d.remindTime->setTime(QTime(17, 30));
    EXPECT_EQ(d.activityTime->time(), QTime(17, 30));

    const QDateTime later(QDate(2027, 3, 1), QTime(16, 20, 5));
    folder->clock.set(later);
    d.activityDate->setDate(QDate(2027, 6, 1));
    d.remindDate->setDate(QDate(2027, 5, 1));
    QTest::keyClick(d.remindDate, Qt::Key_T);  // "t"
    EXPECT_EQ(d.remindDate->date(), later.date());
    EXPECT_EQ(d.activityDate->date(), QDate(2027, 6, 1));         // only the picker the key went to
    QTest::keyClick(d.remindTime, Qt::Key_T, Qt::ShiftModifier);  // "T"
    QTest::keyClick(d.activityTime, 'T');
    for (QTimeEdit* t : {d.remindTime, d.activityTime}) EXPECT_EQ(t->time().toString("HH:mm"), "16:20");
    QTest::keyClick(d.activityDate, 'x');  // other letters are no shortcut to now
    EXPECT_EQ(d.activityDate->date(), QDate(2027, 6, 1));

    d.activityDate->setDate(QDate(2027, 1, 20));
    d.remindDate->setDate(QDate(2027, 1, 10));
    d.remindTime->setFocus();
    d.remindTime->setTime(QTime(23, 59));
    d.remindTime->setCurrentSection(QDateTimeEdit::MinuteSection);
    QTest::keyClick(d.remindTime, Qt::Key_Up);
    EXPECT_EQ(d.remindTime->time().toString("HH:mm"), "00:00");
    EXPECT_EQ(d.remindDate->date(), QDate(2027, 1, 11));
    d.remindTime->setCurrentSection(QDateTimeEdit::HourSection);
    QTest::keyClick(d.remindTime, Qt::Key_Down);
    EXPECT_EQ(d.remindDate->date(), QDate(2027, 1, 10));
    d.remindTime->setCurrentSection(QDateTimeEdit::AmPmSection);  // am and pm of the same day
    QTest::keyClick(d.remindTime, Qt::Key_Up);
    EXPECT_EQ(d.remindTime->time().toString("HH:mm"), "11:00");
    EXPECT_EQ(d.remindDate->date(), QDate(2027, 1, 10));
    d.activityTime->setTime(QTime(9, 59));
    d.activityTime->setCurrentSection(QDateTimeEdit::MinuteSection);
    d.activityTime->stepBy(2);
    EXPECT_EQ(d.activityTime->time().toString("HH:mm"), "10:01");

    folder->clock.set(QDateTime(QDate(2027, 3, 1), QTime(23, 50, 30)));
    d.remindTime->setFocus();
    QTest::keyClicks(d.remindTime, QStringLiteral("+15"));
    EXPECT_EQ(d.remindTime->text(), QStringLiteral("+15"));  // shown while typed
    QTest::keyClick(d.remindTime, Qt::Key_Tab);
    EXPECT_EQ(d.remindTime->time().toString("HH:mm"), "00:05");
    EXPECT_EQ(d.remindDate->date(), QDate(2027, 3, 2));
    d.activityTime->setTime(QTime(7, 0));
    d.activityTime->setFocus();
    QTest::keyClicks(d.activityTime, QStringLiteral("+45"));
    QTest::keyClick(d.activityTime, Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.activityTime->text(), QStringLiteral("7:00 am"));
    QTest::keyClicks(d.activityTime, QStringLiteral("+45"));
    QTest::keyClick(d.activityTime, Qt::Key_Backspace);
    d.activity->setFocus();  // leaving takes "+4"
    QApplication::processEvents();
    EXPECT_EQ(d.activityTime->time().toString("HH:mm"), "23:54");
  });
}
// Enter in the memo makes a new line; in the activity line it saves, or with no activity is
// refused and keeps what was typed.
TEST_F(ScheduleDialogTest, TheMemoTakesEnterAndTheActivityLineSavesWithItOrIsRefusedEmpty) {
  bool stayedOpen = false, focused = false;
  QString memoKept;
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    EXPECT_TRUE(d.okButton->isDefault());
    d.memo->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(d.okButton->isDefault());
    QTest::keyClicks(d.memo, QStringLiteral("first line"));
    QTest::keyClick(d.memo, Qt::Key_Return);
    QTest::keyClicks(d.memo, QStringLiteral("second line"));
    EXPECT_TRUE(d.isVisible());
    d.activity->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(d.okButton->isDefault());
    QTest::keyClicks(d.activity, QStringLiteral("   "));
    QTest::keyClick(d.activity, Qt::Key_Return);
    stayedOpen = d.isVisible();
    focused = d.activity->hasFocus();
    memoKept = d.memo->toPlainText();
    QTest::keyClicks(d.activity, QStringLiteral("Sign the contract"));  // typed now, the same Enter saves
    QTest::keyClick(d.activity, Qt::Key_Return);
  });
  EXPECT_TRUE(stayedOpen && focused);
  EXPECT_EQ(memoKept, QStringLiteral("first line\nsecond line"));
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].title, QStringLiteral("Enter Activity"));
  EXPECT_FALSE(prompter.asked[0].yesNo);
  EXPECT_TRUE(saved);
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(TableText(wa, "APPT_TEXT"), QStringLiteral("   Sign the contract"));
    EXPECT_EQ(TableMemo(wa, "COMMENT"), QStringLiteral("first line\nsecond line"));
  });
}

TEST_F(ScheduleDialogTest, ASaveWhileAnotherProgramHoldsTheTableSaysSoAndKeepsWhatWasTyped) {
  folder->engine.settings().lock_wait_ms = data::kInteractiveLockWaitMs;  // as the program waits
  testsupport::TableLockHolder holder(data::CalendarPath(folder->state.AppFolder).toStdString());
  bool stayedOpen = false;
  QString activityKept, memoKept;
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    QTest::keyClicks(d.memo, QStringLiteral("Bring the contract"));
    d.activity->setText(QStringLiteral("Sign the contract"));
    ASSERT_TRUE(holder.holdTable());
    QTest::mouseClick(d.okButton, Qt::LeftButton);
    stayedOpen = d.isVisible();
    activityKept = d.activity->text();
    memoKept = d.memo->toPlainText();
    // The same entries are saved once the table is free.
    holder.release();
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  });
  EXPECT_FALSE(holder.guardFired()) << "the save waited for the table without a deadline";
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(activityKept, QStringLiteral("Sign the contract"));
  EXPECT_EQ(memoKept, QStringLiteral("Bring the contract"));
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.startsWith(QStringLiteral("Another program is using the reminder table")))
      << prompter.asked[0].text.toStdString();
  EXPECT_TRUE(prompter.asked[0].text.contains(QStringLiteral("The reminder was not saved. What you entered is kept")))
      << prompter.asked[0].text.toStdString();
  EXPECT_TRUE(saved);
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(TableText(wa, "APPT_TEXT"), QStringLiteral("Sign the contract"));
    EXPECT_EQ(TableMemo(wa, "COMMENT"), QStringLiteral("Bring the contract"));
  });
}

// A past time asks; No leaves the dialog open for correction, Yes stores the reminder for now.
TEST_F(ScheduleDialogTest, APastTimeAsksAndNoLeavesTheDialogOpenAndYesStoresItForNow) {
  bool openWhileAsked = false, okWhileAsked = true, openAfterNo = false, timeFocused = false;
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    d.activity->setText(QStringLiteral("Water the plants"));
    d.remindDate->setDate(kNow.date().addDays(-3));
    d.remindTime->setTime(QTime(8, 0));
    d.activityDate->setDate(kNow.date().addDays(1));
    d.activityTime->setTime(QTime(18, 0));
    prompter.answers = {false, true};
    QTest::mouseClick(d.okButton, Qt::LeftButton);
    // The question holds nothing up: the dialog is still there, OK not offered twice, nothing saved.
    openWhileAsked = d.isVisible();
    okWhileAsked = d.okButton->isEnabled();
    EXPECT_EQ(folder->recordCount(), 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.okButton->isEnabled(); }));
    openAfterNo = d.isVisible();
    timeFocused = d.remindTime->hasFocus();
    EXPECT_EQ(folder->recordCount(), 0u);
    QTest::mouseClick(d.okButton, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }));
  });
  EXPECT_TRUE(openWhileAsked && openAfterNo && timeFocused);
  EXPECT_FALSE(okWhileAsked);
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text, QStringLiteral("This time has already passed. Remind you now?"));
  EXPECT_TRUE(prompter.asked[0].yesNo);
  EXPECT_TRUE(saved);
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(TableDate(wa, "ALARMDATE"), kNow.date());
    EXPECT_EQ(TableInt(wa, "ALARMTIME"), 10 * 60);
    EXPECT_EQ(TableDate(wa, "EVENTDATE"), kNow.date().addDays(1));
    EXPECT_EQ(TableInt(wa, "STARTTIME"), 18 * 60);
  });
  EXPECT_EQ(folder->alarms->nextAlarm(), QDateTime(kNow.date(), QTime(10, 0)));
}

TEST_F(ScheduleDialogTest, AnImpossibleDateStaysTypedAndIsRefused) {
  QString shownAfterLeaving, shownAfterRefusal;
  bool focused = false;
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    d.activity->setText(QStringLiteral("Pay the rent"));
    d.remindDate->setFocus();
    QTest::keyClick(d.remindDate, Qt::Key_Home);
    QTest::keyClicks(d.remindDate, QStringLiteral("02/31/2027"));
    EXPECT_EQ(d.remindDate->text(), QStringLiteral("02/31/2027"));
    d.activity->setFocus();
    QApplication::processEvents();
    shownAfterLeaving = d.remindDate->text();
    QTest::mouseClick(d.okButton, Qt::LeftButton);
    shownAfterRefusal = d.remindDate->text();
    focused = d.remindDate->hasFocus();
    EXPECT_TRUE(d.isVisible());
    // Enter in the picker itself is refused the same way.
    QTest::keyClick(d.remindDate, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.remindDate->text(), QStringLiteral("02/31/2027"));
    // "T" puts today back in place of the text.
    QTest::keyClick(d.remindDate, Qt::Key_T);
    EXPECT_EQ(d.remindDate->text(), kNow.date().toString(QStringLiteral("MM/dd/yyyy")));
    QTest::keyClick(d.remindDate, Qt::Key_Home);
    QTest::keyClicks(d.remindDate, QStringLiteral("02/31/2027"));
    // Corrected, it saves.
    QTest::keyClick(d.remindDate, Qt::Key_Home);
    QTest::keyClicks(d.remindDate, QStringLiteral("02/28"));
    EXPECT_EQ(d.remindDate->date(), QDate(2027, 2, 28));
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  });
  EXPECT_EQ(shownAfterLeaving + shownAfterRefusal, QStringLiteral("02/31/202702/31/2027"));
  EXPECT_TRUE(focused);
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text + prompter.asked[1].text,
            QStringLiteral("Invalid Date EnteredInvalid Date Entered"));
  EXPECT_TRUE(saved);
  folder->withRecord(1, [](xbase::WorkArea& wa) { EXPECT_EQ(TableDate(wa, "ALARMDATE"), QDate(2027, 2, 28)); });
}

TEST_F(ScheduleDialogTest, EveryAccessKeyReachesItsControlAndTabRunsTopToBottom) {
  run(std::nullopt, [&](ScheduleDialog& d) {
    // A screen reader names every control, each its own; Tab runs down the frames, then the rows.
    EXPECT_TRUE(testsupport::NoProblems(testsupport::NameProblems(&d)));
    EXPECT_TRUE(testsupport::NoProblems(testsupport::TabOrderProblems(
        {d.remindDate, d.remindTime, d.sayDate, d.sayTime, d.activityDate, d.activityTime, d.type, d.activity, d.memo,
         d.audio, d.soundButton, d.countdown, d.helpButton, d.okButton, d.cancelButton})));
    // Every control has a key of its own: a key two captions shared would only move between them,
    // and what is typed next would land in the wrong one.
    const std::vector<std::pair<Qt::Key, QWidget*>> keys = {
        {Qt::Key_O, d.remindDate}, {Qt::Key_A, d.remindTime}, {Qt::Key_N, d.activityDate}, {Qt::Key_T, d.activityTime},
        {Qt::Key_P, d.type},       {Qt::Key_Y, d.sayDate},    {Qt::Key_M, d.sayTime},      {Qt::Key_U, d.audio},
        {Qt::Key_V, d.activity},   {Qt::Key_E, d.memo},       {Qt::Key_C, d.countdown},
    };
    for (const auto& [key, target] : keys) {
      for (int twice = 0; twice < 2; ++twice) {
        QTest::keyClick(&d, key, Qt::AltModifier);
        EXPECT_TRUE(target->hasFocus()) << "Alt+" << QKeySequence(key).toString().toStdString() << " -> "
                                        << target->metaObject()->className();
      }
    }
    // Typed after its key, the memo's text is the memo's.
    d.memo->clear();
    QTest::keyClick(&d, Qt::Key_E, Qt::AltModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Bring the forms"));
    EXPECT_EQ(d.memo->toPlainText(), QStringLiteral("Bring the forms"));
    // A check box whose key is its own is ticked by it.
    d.sayTime->setChecked(false);
    QTest::keyClick(&d, Qt::Key_M, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.sayTime->isChecked(); }, 2000));
  });
}

TEST_F(ScheduleDialogTest, BesideAViewerNearTheBottomRightTheDialogIsPulledOnScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  folder->viewer.open = true;
  folder->viewer.frame = QRect(screen.right() - 100, screen.bottom() - 80, 400, 300);
  run(std::nullopt, [&](ScheduleDialog& d) {
    const QRect at = d.frameGeometry();
    EXPECT_TRUE(screen.contains(at)) << at.x() << "," << at.y() << " " << at.width() << "x" << at.height();
    EXPECT_NEAR(at.right(), screen.right(), 2);
    EXPECT_NEAR(at.bottom(), screen.bottom(), 2);
  });
  folder->viewer.frame = QRect(screen.left() + 40, screen.top() + 30, 400, 300);
  run(std::nullopt, [&](ScheduleDialog& d) {
    EXPECT_NEAR(d.frameGeometry().left(), screen.left() + 40, 2);
    EXPECT_NEAR(d.frameGeometry().top(), screen.top() + 30, 2);
  });
}

TEST_F(ScheduleDialogTest, HelpSoundAndTheTourHook) {
  // Without a tour, Help opens the help page at once.
  run(std::nullopt, [&](ScheduleDialog& d) {
    QTest::mouseClick(d.helpButton, Qt::LeftButton);
    d.audio->setCurrentIndex(6);
    QTest::mouseClick(d.soundButton, Qt::LeftButton);
  });
  EXPECT_EQ(helpOpened, QStringList{folder->state.AppFolder + "/helpfile/activity.htm"});
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_TRUE(folder->speaker.lines.contains(QStringLiteral("Sound: 6")));

  // With one: it runs on the first activation while ShowHelp is "1", and Help offers it.
  int tours = 0;
  windows->setTour([&](ScheduleDialog&) {
    ++tours;
    settings->write(settings::ScheduleShowHelp, QStringLiteral("0"));
  });
  helpOpened.clear();
  prompter.answers = {true, false};
  run(std::nullopt, [&](ScheduleDialog& d) {
    QTest::qWait(20);
    EXPECT_EQ(tours, 1);
    QTest::mouseClick(d.helpButton, Qt::LeftButton);  // Yes: the tour
    EXPECT_EQ(tours, 2);
    QTest::mouseClick(d.helpButton, Qt::LeftButton);  // No: the page
  });
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(prompter.asked[0].yesNo);
  EXPECT_EQ(helpOpened.size(), 1);
  // ShowHelp is now "0": no tour on the next opening.
  run(std::nullopt, [&](ScheduleDialog&) { QTest::qWait(20); });
  EXPECT_EQ(tours, 2);
}

TEST_F(ScheduleDialogTest, AnEditOfAMissingRecordTellsWhyAndOpensNothing) {
  const bool saved = run(42, [](ScheduleDialog&) { ADD_FAILURE() << "the dialog opened"; });
  EXPECT_FALSE(saved);
  EXPECT_FALSE(windows->ScheduleOpen());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, QStringLiteral("There is no reminder number 42."));
  // Record 0 is no reminder either (only -1 asks for a new one).
  EXPECT_FALSE(run(0, [](ScheduleDialog&) { ADD_FAILURE() << "the dialog opened"; }));
  EXPECT_EQ(prompter.asked.size(), 2u);
}

// Renders the dialog for a person to look at, in both time formats and with the longest entries
// of its lists chosen, and checks that no caption or value is cut short.
TEST_F(ScheduleDialogTest, EveryCaptionAndChoiceHasRoomForItsText) {
  for (const QString& format : {QStringLiteral("h:mm am/pm"), QStringLiteral("h:mm")}) {
    folder->options.timeFormat = format;
    folder->clock.set(QDateTime(QDate(2026, 12, 30), QTime(12, 58)));
    run(std::nullopt, [&](ScheduleDialog& d) {
      d.type->setCurrentIndex(d.type->findText(QStringLiteral("Anniversary")));
      d.audio->setCurrentIndex(d.audio->findText(QStringLiteral("Explode")));
      d.countdown->setChecked(true);
      d.countdownList->setCurrentIndex(d.countdownList->count() - 1);
      QApplication::processEvents();
      EXPECT_TRUE(testsupport::NoProblems(testsupport::CutShort(&d)));
      const QString out = qEnvironmentVariable("CHIMEWISE_BINARY_DIR");
      if (!out.isEmpty()) {
        d.grab().save(out + (format == QStringLiteral("h:mm") ? "/schedule_dialog_24h.png" : "/schedule_dialog.png"));
      }
    });
  }
}

}  // namespace

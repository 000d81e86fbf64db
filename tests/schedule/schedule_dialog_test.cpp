// The Schedule Activity dialog driven offscreen over a real table, and its rules without a window.
#include "schedule/schedule_dialog.h"
#include "schedule/schedule_rules.h"
#include "schedule/schedule_windows.h"

#include "core/repeat_rule.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/table_handle.h"
#include "schedule/repeat_choice.h"
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
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <gtest/gtest.h>

#include <array>

using namespace chimewise;

namespace {

const QDate kDay(2026, 12, 4);
const QDateTime kNow(kDay, QTime(10, 0, 45));

class ScheduleDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    folder = std::make_unique<testsupport::CalendarFolder>(kNow);
    settings = std::make_unique<SettingsStore>(folder->dir.filePath("settings.ini"));
    windows = std::make_unique<ScheduleWindows>(folder->state, *settings, prompter, folder->clock, folder->engine,
                                                *folder->saver, *folder->alarms, folder->speaker);
  }
  // Runs `body` on the dialog for `record` (none: new) while shown, cancelling it after; whether a
  // reminder was saved once it has closed.
  template <typename F>
  bool run(std::optional<qint64> record, F body) {
    bool ran = false, closed = false, saved = false;
    const QMetaObject::Connection shown =
        QObject::connect(windows.get(), &ScheduleWindows::shown, [&](ScheduleDialog* d) {
          ran = true;
          EXPECT_TRUE(QTest::qWaitForWindowActive(d));
          body(*d);
          if (d->isVisible()) d->reject();
        });
    if (windows->OpenSchedule(record, [&](bool s) { closed = true, saved = s; })) {
      EXPECT_FALSE(ran) << "the dialog was waited for";
      EXPECT_TRUE(QTest::qWaitFor([&] { return closed; }));
    }
    QObject::disconnect(shown);
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
  // What an edit of `rec` starts from, read from the table; a failure in `problem`.
  std::optional<EventInput> read(qint64 rec) {
    return ReadEditEntry(folder->engine, folder->state.AppFolder, rec, &problem);
  }
  Problem problem;
  std::unique_ptr<testsupport::CalendarFolder> folder;
  std::unique_ptr<SettingsStore> settings;
  ScriptedPrompter prompter;
  std::unique_ptr<ScheduleWindows> windows;
};

TEST_F(ScheduleDialogTest, ANewReminderEnteredInTheDialogIsStoredFieldByField) {
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
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
  EXPECT_TRUE(prompter.asked.empty());
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(QStringList({TableText(wa, "APPT_TEXT"), TableText(wa, "EVENT"), TableMemo(wa, "COMMENT")}),
              QStringList({"Catch the train", "Travel", "Platform 7"}));
    EXPECT_EQ(TableDate(wa, "ALARMDATE"), QDate(2026, 12, 10));
    EXPECT_EQ(TableDate(wa, "EVENTDATE"), QDate(2026, 12, 10));
    EXPECT_EQ((std::vector<int>{TableInt(wa, "ALARMTIME"), TableInt(wa, "STARTTIME"), TableInt(wa, "SOUND"),
                                TableInt(wa, "SAYDATE"), TableInt(wa, "SAYTIME"), TableInt(wa, "COUNTDOWN")}),
              (std::vector<int>{40, 9 * 60 + 30, 3, 1, 0, 15}));
    EXPECT_EQ(TableText(wa, "REC_NO").size(), 13);
  });
  EXPECT_EQ(settings->read(settings::LastSound), QStringLiteral("3"));
  EXPECT_EQ(folder->alarms->nextAlarm(), QDateTime(QDate(2026, 12, 10), QTime(0, 40)));
}

// An edit saves in place; Cancel, Escape, the close box and closing leave the record byte for byte.
TEST_F(ScheduleDialogTest, AnEditSavesInPlaceAndCancelEscapeAndTheCloseBoxLeaveTheRecord) {
  const qint64 rec = folder->add(reminder(QStringLiteral("Dentist"), 7));
  QString idBefore;
  folder->withRecord(rec, [&](xbase::WorkArea& wa) { idBefore = TableText(wa, "REC_NO"); });
  EXPECT_TRUE(run(rec, [&](ScheduleDialog& d) {
    EXPECT_EQ(d.activity->text(), QStringLiteral("Dentist"));
    EXPECT_EQ(QDateTime(d.activityDate->date(), d.activityTime->time()),
              QDateTime(kNow.date().addDays(1), QTime(14, 30)));
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
    EXPECT_EQ(folder->alarms->nextAlarm(), QDateTime(kNow.date().addDays(1), QTime(14, 0)));
  }
  EXPECT_EQ(testsupport::Slurp(data::CalendarPath(folder->state.AppFolder)), dbf);
  EXPECT_EQ(testsupport::Slurp(folder->dir.filePath("data/CALENDAR.FPT")), fpt);
  EXPECT_EQ(settings->read(settings::LastSound), sound);
}

// The time pickers call their rule: "+N" or a phrase is taken when the picker is left.
TEST_F(ScheduleDialogTest, ThePickersFollowTheReminderAndTakePlusMinutes) {
  run(std::nullopt, [&](ScheduleDialog& d) {
    folder->clock.set(QDateTime(QDate(2027, 3, 1), QTime(23, 50, 30)));
    d.remindTime->setFocus();
    QTest::keyClicks(d.remindTime, QStringLiteral("+15"));
    QTest::keyClick(d.remindTime, Qt::Key_Tab);
    EXPECT_EQ(d.remindTime->time().toString("HH:mm"), "00:05");
    EXPECT_EQ(d.remindDate->date(), QDate(2027, 3, 2));
    d.activityTime->setFocus();
    QTest::keyClicks(d.activityTime, QStringLiteral("friday at 2"));
    QTest::keyClick(d.activityTime, Qt::Key_Tab);
    EXPECT_EQ(d.activityTime->time().toString("HH:mm"), "14:00");
    EXPECT_EQ(d.activityDate->date(), QDate(2027, 3, 5));
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
    holder.release();
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  });
  EXPECT_FALSE(holder.guardFired()) << "the save waited for the table without a deadline";
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(activityKept, QStringLiteral("Sign the contract"));
  EXPECT_EQ(memoKept, QStringLiteral("Bring the contract"));
  EXPECT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(saved);
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(TableText(wa, "APPT_TEXT"), QStringLiteral("Sign the contract"));
    EXPECT_EQ(TableMemo(wa, "COMMENT"), QStringLiteral("Bring the contract"));
  });
}

// The open viewer holds the table (as the program's does, in the same engine): a save whose text
// the table's code page lacks needs it alone to convert it, so the viewer lets go first and reads
// it again after.
TEST_F(ScheduleDialogTest, TextInAnyScriptIsSavedWhileTheViewerHoldsTheTable) {
  struct HoldingViewer final : NoWindows {
    HoldingViewer(xbase::Engine& e, const QString& f) : engine(e), folder(f) { hold(); }
    void hold() { table.emplace(data::TableHandle::Calendar(engine, folder, QStringLiteral("VIEWER"))); }
    bool ViewerOpen() const override { return true; }
    void LetGoOfTable() override { table.reset(); }
    void RefreshViewer() override {
      if (!table) hold();
    }
    xbase::Engine& engine;
    QString folder;
    std::optional<data::TableHandle> table;
  } viewer(folder->engine, folder->state.AppFolder);
  ASSERT_TRUE(viewer.table && viewer.table->ok());
  windows->setViewer(&viewer);
  const QString text = QString::fromUtf8("Встреча с Анной ☕");
  EXPECT_TRUE(run(std::nullopt, [&](ScheduleDialog& d) {
    d.remindDate->setDate(kDay.addDays(1));
    d.activityDate->setDate(kDay.addDays(1));
    d.activity->setText(text);
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  })) << prompter.asked.size();
  EXPECT_TRUE(viewer.table && viewer.table->ok()) << "the viewer did not get the table back";
  windows.reset();
  ASSERT_EQ(folder->recordCount(), 1u);
  folder->withRecord(1, [&](xbase::WorkArea& wa) { EXPECT_EQ(TableText(wa, "APPT_TEXT"), text); });
  const std::optional<EventInput> properties = read(1);  // what Properties opens with
  ASSERT_TRUE(properties) << Describe(problem).text.toStdString();
  EXPECT_EQ(properties->activity, text);
}

// A past time asks; No leaves the dialog open for correction, Yes stores the reminder for now.
TEST_F(ScheduleDialogTest, APastTimeAsksAndNoLeavesTheDialogOpenAndYesStoresItForNow) {
  const bool saved = run(std::nullopt, [&](ScheduleDialog& d) {
    d.activity->setText(QStringLiteral("Water the plants"));
    d.remindDate->setDate(kNow.date().addDays(-3));
    d.remindTime->setTime(QTime(8, 0));
    d.activityTime->setTime(QTime(18, 0));
    prompter.answers = {false, true};
    QTest::mouseClick(d.okButton, Qt::LeftButton);
    EXPECT_FALSE(d.okButton->isEnabled());  // while asked
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.okButton->isEnabled(); }));
    EXPECT_TRUE(d.isVisible() && folder->recordCount() == 0u);
    QTest::mouseClick(d.okButton, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }));
  });
  EXPECT_TRUE(saved);
  ASSERT_EQ(prompter.asked.size(), 2u);
  folder->withRecord(1, [](xbase::WorkArea& wa) {
    EXPECT_EQ(TableDate(wa, "ALARMDATE"), kNow.date());
    EXPECT_EQ(TableInt(wa, "ALARMTIME"), 10 * 60);
    EXPECT_EQ(TableInt(wa, "STARTTIME"), 18 * 60);
  });
  EXPECT_EQ(folder->alarms->nextAlarm(), QDateTime(kNow.date(), QTime(10, 0)));
}

// Every control has room for its text, a name of its own and a key of its own.
// Every Repeat choice in turn (the last with custom minutes in a window, ending on a date): each
// control with room and a name, the dialog on a 1366x768 screen, and the keyboard reaching what
// shows. With CHIMEWISE_SCREENSHOT_DIR set, each choice is saved there as a picture.
TEST_F(ScheduleDialogTest, EveryControlHasRoomANameAndAnAccessKey) {
  run(std::nullopt, [&](ScheduleDialog& d) {
    d.countdown->setChecked(true);
    d.activity->setText(QStringLiteral("Take the pills"));
    const QString shots = qEnvironmentVariable("CHIMEWISE_SCREENSHOT_DIR");
    for (int i = 0; i < d.repeatChoice->count(); ++i) {
      d.repeatChoice->setCurrentIndex(i);
      if (i == 3) d.repeatDays[0]->setChecked(true), d.repeatDays[3]->setChecked(true);
      if (i == d.repeatChoice->count() - 1) {
        d.repeatUnit->setCurrentIndex(0);
        d.repeatEvery->setValue(30);
        d.repeatWindow->setChecked(true);
        d.repeatEnd->setCurrentIndex(1);
      }
      d.adjustSize();
      QApplication::processEvents();
      const QString name = d.repeatChoice->currentText();
      EXPECT_TRUE(testsupport::NoProblems(testsupport::CutShort(&d))) << name.toStdString();
      EXPECT_TRUE(testsupport::NoProblems(testsupport::NameProblems(&d))) << name.toStdString();
      EXPECT_LE(d.frameGeometry().width(), 1366) << name.toStdString();
      EXPECT_LE(d.frameGeometry().height(), 768 - 48) << name.toStdString();  // above a panel
      if (!shots.isEmpty()) d.grab().save(QDir(shots).filePath(QStringLiteral("schedule-repeat-%1.png").arg(i)));
    }
    // The day boxes are reached with Tab (seven letters of their own are not to be had).
    QList<QWidget*> exempt{d.okButton, d.cancelButton};
    for (QCheckBox* box : d.repeatDays) exempt << box;
    EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckAccessKeys({&d}, {}, exempt)));
    EXPECT_TRUE(testsupport::NoProblems(testsupport::TabOrderProblems(
        {d.remindDate,  d.remindTime,   d.sayDate,       d.sayTime,    d.activityDate, d.activityTime,
         d.type,        d.repeatChoice, d.repeatEvery,   d.repeatUnit, d.repeatWindow, d.repeatFrom,
         d.repeatTo,    d.repeatEnd,    d.repeatEndDate, d.activity,   d.memo,         d.audio,
         d.soundButton, d.countdown,    d.countdownList, d.helpButton, d.okButton,     d.cancelButton})));
  });
}

// The dialog makes the rule its controls show, says it in words as they change, and shows the rule
// of a reminder being edited from its kept event: one no choice can show as Custom in its own
// words, given back unchanged until a Repeat control changes.
TEST_F(ScheduleDialogTest, RepeatMakesItsRuleSaysItAndKeepsARuleItCannotShow) {
  run(std::nullopt, [&](ScheduleDialog& d) {
    d.fill(reminder(QStringLiteral("Stand-up")));  // the activity at 2:30 pm on Saturday 5 December
    EXPECT_EQ(d.repeatSummary->text(), QStringLiteral("Does not repeat"));
    EXPECT_EQ(d.entry().repeat, QString());
    d.repeatChoice->setCurrentIndex(static_cast<int>(RepeatKind::Weekly));
    d.repeatDays[3]->setChecked(true);
    d.repeatDays[0]->setChecked(true);
    EXPECT_EQ(d.repeatSummary->text(), QStringLiteral("Every Monday and Thursday at 2:30 pm"));
    d.repeatEnd->setCurrentIndex(static_cast<int>(RepeatEnd::AfterCount));
    EXPECT_EQ(d.entry().repeat, QStringLiteral("FREQ=WEEKLY;BYDAY=MO,TH;COUNT=10"));
    d.activityTime->setTime(QTime(9, 5));
    EXPECT_EQ(d.repeatSummary->text(), QStringLiteral("Every Monday and Thursday at 9:05 am, 10 times"));
  });
  EventInput in = reminder(QStringLiteral("Rota"));
  const qint64 rec = folder->add(in);
  std::string id;
  folder->withRecord(rec, [&](xbase::WorkArea& wa) { ASSERT_TRUE(wa.GetString("REC_NO", &id).ok()); });
  const auto keep = [&](const QString& rule) {
    KeptEvent k;
    k.series = QStringList{QStringLiteral("DTSTART;TZID=Europe/Berlin:20261205T143000"),
                           QStringLiteral("RRULE:") + rule, QStringLiteral("X-CHIMEWISE-LEAD:1800")};
    ASSERT_TRUE(KeptEvents::BesideTable(data::CalendarPath(folder->state.AppFolder))
                    .Put(QByteArray::fromStdString(id), k)
                    .ok());
  };
  const QString odd = QStringLiteral("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TH;WKST=SU");
  keep(odd);
  run(rec, [&](ScheduleDialog& d) {
    EXPECT_EQ(d.repeatChoice->currentIndex(), static_cast<int>(RepeatKind::Custom));
    EXPECT_EQ(d.repeatSummary->text(), QStringLiteral("Every 2 weeks on Monday and Thursday at 2:30 pm"));
    EXPECT_EQ(d.entry().repeat, odd);
    d.repeatEvery->setValue(3);  // now the controls say what it is: every 3 days
    EXPECT_EQ(d.entry().repeat, QStringLiteral("FREQ=DAILY;INTERVAL=3"));
  });
  keep(QStringLiteral("FREQ=MONTHLY;BYDAY=1SA;UNTIL=20270331T215959Z"));
  run(rec, [&](ScheduleDialog& d) {
    EXPECT_EQ(d.repeatChoice->currentText(), QStringLiteral("Every month on the 1st Saturday"));
    EXPECT_EQ(d.repeatEndDate->date(), QDate(2027, 3, 31));
    EXPECT_EQ(d.repeatSummary->text(),
              QStringLiteral("On the 1st Saturday of every month at 2:30 pm, until 31 March 2027"));
  });
}

// Each choice makes its rule (from a series starting on the first Friday of December) and reads
// back from it; rules no choice makes are left to be kept as they are.
TEST(ScheduleRules, RepeatChoicesAndTheirRules) {
  const QDateTime start(QDate(2026, 12, 4), QTime(8, 0));
  const auto choice = [](RepeatKind kind) {
    RepeatChoice c;
    c.kind = kind;
    return c;
  };
  RepeatChoice weekly = choice(RepeatKind::Weekly), yearly = choice(RepeatKind::Yearly);
  weekly.weekdays = {1, 4};
  yearly.end = RepeatEnd::AfterCount;
  RepeatChoice hours = choice(RepeatKind::Custom), minutes, days = choice(RepeatKind::Custom);
  hours.unit = RepeatUnit::Hours, hours.every = 2, hours.window = true;
  minutes = hours, minutes.unit = RepeatUnit::Minutes, minutes.every = 15;
  days.every = 3, days.end = RepeatEnd::OnDate, days.endDate = QDate(2027, 3, 31);
  const std::pair<RepeatChoice, const char*> made[] = {
      {choice(RepeatKind::Daily), "FREQ=DAILY"},
      {choice(RepeatKind::Weekdays), "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR"},
      {weekly, "FREQ=WEEKLY;BYDAY=MO,TH"},
      {choice(RepeatKind::MonthlyDay), "FREQ=MONTHLY"},
      {choice(RepeatKind::MonthlyWeekday), "FREQ=MONTHLY;BYDAY=1FR"},
      {yearly, "FREQ=YEARLY;COUNT=10"},
      {hours, "FREQ=HOURLY;INTERVAL=2;BYHOUR=9,10,11,12,13,14,15,16,17"},
      {minutes, "FREQ=MINUTELY;INTERVAL=15;BYHOUR=9,10,11,12,13,14,15,16"},
      {days, "FREQ=DAILY;INTERVAL=3;UNTIL=20270331T215959Z"},  // the end of 31 March in Berlin
  };
  EXPECT_EQ(RepeatRuleOf(choice(RepeatKind::Never), start), QString());
  for (const auto& [c, rule] : made) {
    EXPECT_EQ(RepeatRuleOf(c, start), QLatin1String(rule));
    EXPECT_EQ(ChoiceOfRule(QLatin1String(rule), start), c) << rule;
  }
  EXPECT_EQ(ChoiceOfRule("FREQ=MONTHLY;BYDAY=-1FR", QDateTime(QDate(2026, 12, 25), QTime(8, 0)))->kind,
            RepeatKind::MonthlyWeekday);
  for (const char* kept : {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TH", "FREQ=MONTHLY;BYMONTHDAY=15", "FREQ=DAILY;BYHOUR=8,20",
                           "FREQ=MONTHLY;BYDAY=2FR", "FREQ=YEARLY;BYWEEKNO=1", "FREQ=HOURLY;BYHOUR=9,12", "nonsense"})
    EXPECT_FALSE(ChoiceOfRule(QLatin1String(kept), start)) << kept;
  EXPECT_EQ(RepeatRuleLine({"DTSTART;TZID=Europe/Berlin:20261204T080000", "RRULE:FREQ=DAILY;COUNT=3", "EXDATE:x"}),
            QStringLiteral("FREQ=DAILY;COUNT=3"));
}

TEST(ScheduleRules, CountdownStepsTheirMinutesAndTheBox) {
  EXPECT_EQ(CountdownMinutes(QString()), 0);  // no selection: no countdown
  EXPECT_EQ(CountdownMinutes(QStringLiteral("minutes")), 0);
  const QList<int> minutes = {1, 2, 3, 5, 10, 15, 30, 60};  // the steps stored records hold
  ASSERT_EQ(CountdownSteps().size(), minutes.size());
  for (int i = 0; i < minutes.size(); ++i) EXPECT_EQ(CountdownPosition(minutes.at(i)), i) << minutes.at(i);
  for (int odd : {0, 7, 4, 90, -1}) EXPECT_EQ(CountdownPosition(odd), -1) << odd;  // an old record's 7: nothing
  EXPECT_EQ(CountdownAfterToggle(true, -1), (CountdownList{true, 0}));
  EXPECT_EQ(CountdownAfterToggle(true, 5), (CountdownList{true, 5}));
  EXPECT_EQ(CountdownAfterToggle(false, 5), (CountdownList{false, -1}));
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
  EXPECT_EQ(DraggedActivityTime(kDay, five, kDay, nine), five);
  EXPECT_EQ(DraggedActivityTime(kDay, nine, kDay, five), std::nullopt);
  EXPECT_EQ(DraggedActivityTime(kDay, five, kDay.addDays(1), nine), std::nullopt);
  EXPECT_EQ(DraggedActivityTime(kDay.addDays(1), five, kDay, nine), five);
  EXPECT_EQ(DraggedActivityTime(kDay, QTime(9, 0, 59), kDay, QTime(9, 0, 10)), std::nullopt);
}

TEST(ScheduleRules, TypedDatesAndPlusMinutes) {
  for (const char* text : {"02/31/2026", "02/29/2026", "04/31/2026", "13/01/2026", "00/10/2026", "12/00/2026"}) {
    EXPECT_TRUE(NamesNoDay(QString::fromLatin1(text))) << text;
    EXPECT_FALSE(TypedPickerDate(QString::fromLatin1(text), kDay).isValid()) << text;
  }
  for (const char* text : {"02/28/2026", "02/29/2028", "12/31/2026", "2/3/2026", ""}) {
    EXPECT_FALSE(NamesNoDay(QString::fromLatin1(text))) << text;
    EXPECT_EQ(TypedPickerDate(QString::fromLatin1(text), kDay), kDay) << text;
  }
  // A time picker's typed text: "+N", "T" and the phrases of when; a repeat or a past moment is none.
  const QLocale us(QStringLiteral("en_US"));
  const QDateTime late(kDay, QTime(23, 0, 40));
  EXPECT_EQ(TypedWhen(QStringLiteral("+15"), kNow, us), (PickerMoment{kDay, QTime(10, 15)}));
  EXPECT_EQ(TypedWhen(QStringLiteral("+90"), late, us), (PickerMoment{kDay.addDays(1), QTime(0, 30)}));
  EXPECT_EQ(TypedWhen(QStringLiteral("T"), late, us), (PickerMoment{kDay, QTime(23, 0)}));
  EXPECT_EQ(TypedWhen(QStringLiteral("tomorrow at 9"), late, us), (PickerMoment{kDay.addDays(1), QTime(9, 0)}));
  for (const char* text : {"15", "+", "+12345", "-5", "+1a", "+ 5", "every day at 8", "2020-01-01", "soon"})
    EXPECT_EQ(TypedWhen(QString::fromLatin1(text), kNow, us), std::nullopt) << text;
}

TEST(ScheduleRules, TimeStepsCarryLikeAClock) {
  const struct {
    QTime from;
    TimeStep step;
    int by;
    PickerMoment to;
  } cases[] = {{QTime(23, 59, 45), TimeStep::Minute, 1, {kDay.addDays(1), QTime(0, 0, 45)}},
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
  EventInput refused = at(kDay, QTime(9, 0));
  refused.activity = QStringLiteral("   ");
  EXPECT_FALSE(AsksToRemindNow(refused, kNow));
  EXPECT_FALSE(AsksToRemindNow(at(QDate(), QTime(9, 0)), kNow));
  refused = at(kDay, QTime(9, 0));
  refused.activityDate = QDate();
  EXPECT_FALSE(AsksToRemindNow(refused, kNow));
  const EventInput yes = RemindingNow(at(kDay.addDays(-2), QTime(8, 0)), kNow);
  EXPECT_EQ(QDateTime(yes.remindDate, yes.remindTime), QDateTime(kDay, QTime(10, 0)));
  EXPECT_EQ(QDateTime(yes.activityDate, yes.activityTime), QDateTime(kDay, QTime(11, 0)));
  EXPECT_FALSE(AsksToRemindNow(yes, kNow));
}

TEST_F(ScheduleDialogTest, AnEditStartsFromTheStoredMomentsNotTheDisplayTexts) {
  EventInput in = reminder(QStringLiteral("Stretch"), 15);
  in.memo = QStringLiteral("Platform 7\nCar 21");
  in.activityDate = kDay.addDays(2);
  in.remindTime = QTime(0, 40);
  in.sound = 4;
  in.sayTime = 1;
  const qint64 rec = folder->add(in);
  folder->withRecord(rec, [](xbase::WorkArea& wa) {
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
  EXPECT_EQ(folder->engine.WorkAreaOf(data::kAliasOneTime), 0);  // closed again: the save's alias is free
}

TEST_F(ScheduleDialogTest, ACountdownNoStepHasIsNotOnAndMissingRecordsAreTold) {
  EventInput in = reminder(QStringLiteral("Stretch"));
  in.countdown = 7;
  in.countdownOn = true;
  const qint64 rec = folder->add(in);
  const auto got = read(rec);
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->countdown == 7 && !got->countdownOn);
  EXPECT_FALSE(read(rec + 1));
  EXPECT_EQ(problem.kind, ProblemKind::NoSuchReminder);
  EXPECT_EQ(problem.number, rec + 1);
  EXPECT_EQ(folder->engine.WorkAreaOf(data::kAliasOneTime), 0);
  QDir(folder->dir.filePath("data")).removeRecursively();
  EXPECT_FALSE(read(rec));
  EXPECT_EQ(problem.kind, ProblemKind::MissingFolder);
}

// Dealt with (its alarm date cleared), with an alarm minute another program left out of range.
TEST_F(ScheduleDialogTest, AReminderWithoutAnAlarmDateStillShowsATimeOfDay) {
  const qint64 rec = folder->add(reminder(QStringLiteral("Stretch")));
  for (const auto& [minutes, shown] : {std::pair{1500, QTime(23, 59)}, std::pair{-30, QTime(0, 0)}}) {
    folder->withRecord(rec, [minutes](xbase::WorkArea& wa) {
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

// While the dialog is open over a reminder, reminders are heard and others write to the record (a
// sync changes its memo and alarm); a save then writes only what the user changed over them.
TEST_F(ScheduleDialogTest, ASaveWhileOpenKeepsWhatWasWrittenMeanwhileAndRemindersAreHeard) {
  const qint64 rec = folder->add(reminder(QStringLiteral("Dentist")));
  EventInput due = reminder(QStringLiteral("Call the plumber"));
  due.activityDate = due.remindDate = kNow.date();
  due.activityTime = due.remindTime = QTime(10, 0);
  EXPECT_TRUE(run(rec, [&](ScheduleDialog& d) {
    EXPECT_TRUE(windows->ScheduleOpen());
    folder->add(due);
    EXPECT_TRUE(folder->alarms->ScanDueAlarms().ok());
    EventInput synced = reminder(QStringLiteral("Dentist"));
    synced.memo = QStringLiteral("Bring the card");
    synced.remindTime = QTime(13, 15);
    EXPECT_TRUE(folder->saver->SaveEvent(synced, rec).saved);
    d.activity->setText(QStringLiteral("Dentist, Dr Lee"));
    QTest::mouseClick(d.okButton, Qt::LeftButton);
  }));
  EXPECT_TRUE(folder->speaker.lines.join('\n').contains(QStringLiteral("Call the plumber")));
  folder->withRecord(rec, [](xbase::WorkArea& wa) {
    EXPECT_EQ(TableText(wa, "APPT_TEXT"), QStringLiteral("Dentist, Dr Lee"));
    EXPECT_EQ(TableMemo(wa, "COMMENT"), QStringLiteral("Bring the card"));
    EXPECT_EQ(TableInt(wa, "ALARMTIME"), 13 * 60 + 15);
  });
}

// The reminder being edited is deleted meanwhile (in the viewer, or by another program that then
// packs the table, so another reminder takes its place): OK asks, and writes over no record. No
// drops the entry; Yes stores it as a new reminder, the deleted one staying deleted.
TEST_F(ScheduleDialogTest, AReminderDeletedWhileEditedIsNeverWrittenOverAndYesSavesItAsNew) {
  for (const bool packed : {false, true}) {
    SCOPED_TRACE(packed);
    SetUp();
    folder->saver->randomFraction = [n = 0.0]() mutable { return n += 0.25; };  // identifiers of their own
    const qint64 rec = folder->add(reminder(QStringLiteral("Dentist")));
    EventInput plumber = reminder(QStringLiteral("Plumber"));
    plumber.memo = QStringLiteral("Under the sink");
    folder->add(plumber);
    const bool saved = run(rec, [&](ScheduleDialog& d) {
      folder->withRecord(rec, [](xbase::WorkArea& wa) { ASSERT_TRUE(wa.Delete().ok() && wa.Commit().ok()); });
      xbase::Engine other;
      EXPECT_TRUE(!packed || data::RebuildDatabase(other, folder->state.AppFolder).ok());
      d.activity->setText(QStringLiteral("Dentist, Dr Lee"));
      prompter.answers = {packed};
      QTest::mouseClick(d.okButton, Qt::LeftButton);
      EXPECT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }));
    });
    EXPECT_TRUE(prompter.asked.size() == 1u && prompter.asked[0].text.contains("deleted while you were editing"));
    EXPECT_EQ(saved, packed);
    QStringList live;
    for (uint32_t r = 1; r <= folder->recordCount(); ++r)
      folder->withRecord(r, [&](xbase::WorkArea& wa) {
        if (!wa.Deleted()) live << TableText(wa, "APPT_TEXT") + "|" + TableMemo(wa, "COMMENT");
      });
    EXPECT_EQ(live,
              QStringList({"Plumber|Under the sink"}) + (packed ? QStringList{"Dentist, Dr Lee|"} : QStringList()));
    prompter.asked.clear();
  }
}

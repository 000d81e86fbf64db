// The program put together: the parts built before the viewer (the alarm side, the Schedule
// Activity dialog) reach it once it exists.
#include "shell/program.h"

#include "core/clock.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "schedule/schedule_dialog.h"
#include "support/add_reminder.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/scripted_prompter.h"
#include "viewer/reminder_list_model.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(Program, AnAnnouncedReminderOpensTheViewerAndAReminderSavedInTheDialogShowsInIt) {
  testsupport::EnsureQtApp();
  QTemporaryDir dir;
  SharedState state;
  state.AppFolder = dir.path();
  testsupport::CopyEmptyCalendar(dir.path());
  SettingsStore settings(dir.filePath("settings.ini"));
  ScriptedPrompter prompter;
  const QDateTime now(QDate(2026, 12, 8), QTime(10, 0, 30));
  ManualClock clock(now);
  Program program(state, settings, prompter, clock, ProgramSetup{{}, dir.filePath("windows"), true, std::nullopt});
  program.SetUpDataEngine();
  testsupport::AddReminder(program.saver(), {"Dentist", now.date(), QTime(10, 0), now.date(), QTime(10, 0)});
  program.ScanDueAlarms();
  viewer::ViewerWindow* viewer = testsupport::Shown<viewer::ViewerWindow>();
  ASSERT_NE(viewer, nullptr) << "the announced reminder did not open the viewer";
  const int rows = viewer->model()->rowCount();
  ASSERT_TRUE(program.commands().Run(Command::AddReminder));
  ScheduleDialog* dialog = testsupport::Shown<ScheduleDialog>();
  ASSERT_NE(dialog, nullptr);
  dialog->activityDate->setDate(now.date().addDays(1));
  dialog->remindDate->setDate(now.date().addDays(1));
  dialog->activity->setText(QStringLiteral("Water the plants"));
  QTest::mouseClick(dialog->okButton, Qt::LeftButton);
  EXPECT_EQ(viewer->model()->rowCount(), rows + 1) << "the viewer did not read the saved reminder again";
}

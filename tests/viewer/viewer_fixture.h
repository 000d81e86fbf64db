#pragma once
// A reminder table in a temporary folder with the program's logic over it, and the viewer port
// that shows the real Reminder Viewer window offscreen.

#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "schedule/save_event.h"
#include "support/add_reminder.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"
#include "viewer/reminder_list_model.h"
#include "viewer/viewer_windows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <xbase/engine.h>

#include <memory>
#include <vector>

namespace chimewise::testsupport {

inline const QDateTime kViewerNow(QDate(2026, 12, 4), QTime(10, 0, 45));

// The Schedule Activity dialog as the viewer sees it: every opening is logged, and it answers
// as told (saved or cancelled).
class LoggedSchedule final : public SchedulePort {
 public:
  bool OpenSchedule(std::optional<qint64> record) override {
    opened.push_back(record);
    if (onOpen) onOpen(record);
    return answer;
  }
  void CloseSchedule() override {}
  std::vector<std::optional<qint64>> opened;
  std::function<void(std::optional<qint64>)> onOpen;
  bool answer = false;
};

class ViewerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApp();
    state.AppFolder = dir.path();
    testsupport::CopyEmptyCalendar(dir.path());
    if (::testing::Test::HasFatalFailure()) return;
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, clock, engine, speaker, noWindows, noWindows);
    saver = std::make_unique<EventSaver>(state, clock, engine, speaker, *alarms, noWindows);
    saver->randomFraction = [] { return 0.5; };
  }
  void TearDown() override {
    viewers.reset();
    EXPECT_TRUE(engine.CloseAll().ok());
  }

  ViewerWindows& port() {
    if (!viewers)
      viewers = std::make_unique<ViewerWindows>(state, settings, prompter, clock, engine, *alarms, speaker, schedule,
                                                noWindows, hooks);
    return *viewers;
  }
  viewer::ViewerWindow& open() {
    port().ShowViewer();
    return *port().window();
  }

  // Saves a reminder as the Schedule Activity dialog does; returns its record number.
  qint64 add(const QString& text, const QDateTime& activity, const QDateTime& remind, const QString& memo = {}) {
    return AddReminder(*saver, {text, activity.date(), activity.time(), remind.date(), remind.time(), memo});
  }
  QDateTime today(int h, int m) const { return QDateTime(kViewerNow.date(), QTime(h, m)); }

  // A field of a record, read afresh from the files by an engine of its own (another process).
  QString field(qint64 recno, const char* name) {
    xbase::Engine fresh;
    data::ApplyStartupSettings(fresh);
    int area = 0;
    if (!fresh.Use(data::CalendarPath(state.AppFolder).toStdString(), "CHECK", xbase::OpenMode::kShared, &area).ok())
      return "<cannot open>";
    xbase::WorkArea* wa = fresh.Current();
    if (!wa->Go(static_cast<uint32_t>(recno)).ok()) return "<no record>";
    if (QString::fromLatin1(name) == "COMMENT") return TableMemo(*wa, name);
    if (QString::fromLatin1(name) == "DELETED") return wa->Deleted() ? "yes" : "no";
    return TableText(*wa, name);
  }
  // The texts of the grid's rows in one column.
  QStringList column(viewer::ViewerWindow& w, int c) {
    QStringList out;
    for (int r = 0; r < w.model()->rowCount(); ++r) out << w.model()->index(r, c).data().toString();
    return out;
  }

  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  ManualClock clock{kViewerNow};
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  NoWindows noWindows;
  LoggedSchedule schedule;
  viewer::ViewerHooks hooks;
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<EventSaver> saver;
  std::unique_ptr<ViewerWindows> viewers;
};

}  // namespace chimewise::testsupport

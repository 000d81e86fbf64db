#pragma once
// A reminder table in a temporary folder with the program's logic over it, and the viewer's port.

#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/program_options.h"
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

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <xbase/engine.h>

#include <functional>
#include <memory>
#include <vector>

namespace chimewise::testsupport {

inline const QDateTime kViewerNow(QDate(2026, 12, 4), QTime(10, 0, 45));

// The Schedule Activity dialog as the viewer sees it: never saves.
class NoSchedule final : public SchedulePort {
 public:
  bool OpenSchedule(std::optional<qint64>, std::function<void(bool)>) override { return false; }
  void CloseSchedule() override {}
  bool ScheduleOpen() const override { return false; }
};

class ViewerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApp();
    state.AppFolder = dir.path();
    testsupport::CopyEmptyCalendar(dir.path());
    if (::testing::Test::HasFatalFailure()) return;
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, speaker, noWindows);
    saver = std::make_unique<EventSaver>(state, options, clock, engine);
    saver->randomFraction = [] { return 0.5; };
  }
  void TearDown() override {
    viewers.reset();
    EXPECT_TRUE(engine.CloseAll().ok());
  }
  ViewerWindows& port() {
    if (!viewers)
      viewers = std::make_unique<ViewerWindows>(state, settings, prompter, clock, engine, *alarms, speaker, schedule,
                                                noWindows);
    return *viewers;
  }
  viewer::ViewerWindow& open() {
    port().ShowViewer();
    return *port().window();
  }
  qint64 add(const QString& text, const QDateTime& activity, const QDateTime& remind, const QString& memo = {}) {
    return AddReminder(*saver, {text, activity.date(), activity.time(), remind.date(), remind.time(), memo});
  }
  QDateTime today(int h, int m) const { return QDateTime(kViewerNow.date(), QTime(h, m)); }
  // Runs `use` on record `recno` as another program would, through an engine of its own.
  xbase::Status otherProgram(qint64 recno, const std::function<xbase::Status(xbase::WorkArea&)>& write,
                             int lockWaitMs = -1) {
    xbase::Engine other;
    data::ApplyStartupSettings(other);
    if (lockWaitMs >= 0) other.settings().lock_wait_ms = lockWaitMs;
    int area = 0;
    xbase::Status s =
        other.Use(data::CalendarPath(state.AppFolder).toStdString(), "ONETIME", xbase::OpenMode::kShared, &area);
    if (s.ok() && recno > 0) s = other.Current()->Go(static_cast<uint32_t>(recno));
    if (s.ok()) s = write(*other.Current());
    EXPECT_TRUE(other.CloseAll().ok());
    return s;
  }
  // Another program stores `value` in field `name` of record `recno`; its outcome.
  xbase::Status otherWrites(qint64 recno, const char* name, const char* value, int lockWaitMs = -1) {
    return otherProgram(
        recno,
        [&](xbase::WorkArea& wa) {
          xbase::Status s = wa.Replace(name, value);
          return s.ok() ? wa.Commit() : s;
        },
        lockWaitMs);
  }
  // A field of a record, read afresh from the files.
  QString field(qint64 recno, const char* name) {
    QString out = "<cannot read>";
    otherProgram(recno, [&](xbase::WorkArea& wa) {
      const QString n = QString::fromLatin1(name);
      out = n == "COMMENT"   ? TableMemo(wa, name)
            : n == "DELETED" ? (wa.Deleted() ? QStringLiteral("yes") : QStringLiteral("no"))
                             : TableText(wa, name);
      return xbase::Status();
    }).IgnoreError();  // a record that cannot be read leaves "<cannot read>"
    return out;
  }
  // The texts of the grid's rows in one column.
  QStringList column(viewer::ViewerWindow& w, int c) {
    QStringList out;
    for (int r = 0; r < w.model()->rowCount(); ++r) out << w.model()->index(r, c).data().toString();
    return out;
  }
  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  ManualClock clock{kViewerNow};
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  NoWindows noWindows;
  NoSchedule schedule;
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<EventSaver> saver;
  std::unique_ptr<ViewerWindows> viewers;
};

}  // namespace chimewise::testsupport

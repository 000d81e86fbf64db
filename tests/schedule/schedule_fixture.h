#pragma once
// A reminder table in a temporary folder with the alarm side and the saver over it.

#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/program_options.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "schedule/save_event.h"
#include "support/files.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include <xbase/engine.h>

namespace chimewise::testsupport {

struct CalendarFolder {
  explicit CalendarFolder(const QDateTime& now) : clock(now) {
    state.AppFolder = dir.path();
    testsupport::CopyEmptyCalendar(dir.path());
    if (::testing::Test::HasFatalFailure()) return;
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, speaker, viewer);
    saver = std::make_unique<EventSaver>(state, options, clock, engine);
    saver->randomFraction = [] { return 0.5; };
  }
  // Adds a reminder straight through the saver; its record number.
  qint64 add(EventInput in) {
    const SaveResult r = saver->SaveEvent(in);
    EXPECT_TRUE(r.saved) << Describe(r.problem).text.toStdString();
    return r.recno;
  }
  // Runs `read` on record `recno` of the table, opened afresh by an engine of its own.
  template <typename F>
  void withRecord(qint64 recno, F read) {
    xbase::Engine fresh;
    data::ApplyStartupSettings(fresh);
    int area = 0;
    ASSERT_TRUE(
        fresh.Use(data::CalendarPath(state.AppFolder).toStdString(), "PROBE", xbase::OpenMode::kShared, &area).ok());
    ASSERT_TRUE(fresh.Current()->Go(static_cast<uint32_t>(recno)).ok());
    read(*fresh.Current());
  }
  uint32_t recordCount() {
    xbase::Engine fresh;
    int area = 0;
    if (!fresh.Use(data::CalendarPath(state.AppFolder).toStdString(), "PROBE", xbase::OpenMode::kShared, &area).ok())
      return 0;
    return fresh.Current()->RecCount();
  }
  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  ManualClock clock;
  TranscriptSpeaker speaker;
  NoWindows viewer;
  xbase::Engine engine;
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<EventSaver> saver;
};

}  // namespace chimewise::testsupport

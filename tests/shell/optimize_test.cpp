// Optimize: the rebuild of the reminder table with the windows around it.
#include "shell/optimize.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/scripted_prompter.h"
#include "support/xbase_raw_files.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <gtest/gtest.h>
#include <utility>

using namespace chimewise;

namespace {

class OptimizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    state.AppFolder = dir.path();
    testsupport::CopyEmptyCalendar(dir.path());
    if (::testing::Test::HasFatalFailure()) return;
    data::ApplyStartupSettings(engine);
    settings.write(settings::LastOptimize, kBefore);
  }
  bool rebuild() {
    return RebuildDatabase(state, settings, prompter, clock, engine, speaker, windows, windows, schedule);
  }
  xbase::Status use(xbase::Engine& e, const char* alias) {
    int area = 0;
    return e.Use(data::CalendarPath(state.AppFolder).toStdString(), alias, xbase::OpenMode::kShared, &area);
  }
  const QString kBefore = QStringLiteral("2026-11-01 00:00:00");
  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  ManualClock clock{QDateTime(QDate(2026, 12, 6), QTime(10, 0))};
  TranscriptSpeaker speaker;
  // The windows, logging into the speaker's transcript.
  struct LoggedWindows final : NoWindows {
    QStringList& lines;
    bool viewerOpen = false;
    explicit LoggedWindows(QStringList& l) : lines(l) {}
    void CloseDialogs() override { lines << "CloseDialogs"; }
    bool CloseViewer() override {
      lines << "CloseViewer";
      return std::exchange(viewerOpen, false);
    }
    void ReopenViewer() override {
      lines << "ReopenViewer";
      viewerOpen = true;
    }
  } windows{speaker.lines};
  struct LoggedSchedule final : SchedulePort {
    QStringList& lines;
    explicit LoggedSchedule(QStringList& l) : lines(l) {}
    bool OpenSchedule(std::optional<qint64>, std::function<void(bool)>) override { return false; }
    void CloseSchedule() override { lines << "CloseSchedule"; }
    bool ScheduleOpen() const override { return false; }
  } schedule{speaker.lines};
  xbase::Engine engine;
};

}  // namespace

TEST_F(OptimizeTest, OnlyASuccessfulRebuildPutsTheSuggestionOff) {
  xbase::Engine other;  // holds the table open, so it cannot be taken for sole use
  ASSERT_TRUE(use(other, "OTHER").ok());
  EXPECT_FALSE(rebuild());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(settings.read(settings::LastOptimize), kBefore);
  EXPECT_TRUE(other.CloseAll().ok());
  EXPECT_TRUE(rebuild());
  EXPECT_EQ(settings.read(settings::LastOptimize), FormatDateText(clock.now().addDays(20)));
}

// Every window that holds the table is closed before the rebuild; an open viewer comes back after.
TEST_F(OptimizeTest, ARebuildClosesTheDialogsAndTheViewerFirstAndBringsAnOpenViewerBack) {
  for (const bool open : {true, false}) {
    speaker.lines.clear();
    windows.viewerOpen = open;
    EXPECT_TRUE(rebuild());
    EXPECT_EQ(speaker.lines.filter(QRegularExpression("^(Close|Reopen)")).join(' '),
              QString("CloseDialogs CloseSchedule CloseViewer") + (open ? " ReopenViewer" : ""));
  }
}

TEST_F(OptimizeTest, ARebuildOfATableWithADamagedCountKeepsEveryRecordAndSaysSo) {
  {
    xbase::Engine writer;
    ASSERT_TRUE(use(writer, "W").ok());
    for (const char* text : {"one", "two", "three"}) {
      ASSERT_TRUE(writer.Current()->AppendBlank().ok());
      ASSERT_TRUE(writer.Current()->Replace("APPT_TEXT", text).ok());
      ASSERT_TRUE(writer.Current()->Commit().ok());
    }
  }
  xbase::testing::SetHeaderRecordCount(dir.filePath("data/CALENDAR.DBF").toStdString(), 1);
  EXPECT_TRUE(rebuild());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.contains("said it holds 1 reminders, but the file holds 3"))
      << prompter.asked[0].text.toStdString();
  xbase::Engine check;
  ASSERT_TRUE(use(check, "C").ok());
  EXPECT_EQ(check.Current()->RecCount(), 3u);
  EXPECT_FALSE(check.Current()->Repair().has_value());
}

// A table shared with another program: the user is told once that its index was replaced.
TEST_F(OptimizeTest, AForeignIndexIsReplacedAndThatIsToldOnce) {
  xbase::testing::WriteAll(dir.filePath("data/CALENDAR.CDX").toStdString(), xbase::testing::ForeignIndex());
  EXPECT_TRUE(rebuild());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.startsWith("CALENDAR.CDX")) << prompter.asked[0].text.toStdString();
  EXPECT_TRUE(rebuild());
  EXPECT_EQ(prompter.asked.size(), 1u);
}

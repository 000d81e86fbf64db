// The Reminder Viewer over a table of 100,000 reminders: opening it and painting it the first
// time (every reminder listed, and only the current ones), and scrolling it a page at a time.
// Run offscreen: QT_QPA_PLATFORM=offscreen build/bench/viewer/bench_viewer_open
#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/program_options.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "support/big_calendar.h"
#include "viewer/reminder_list_model.h"
#include "viewer/viewer_windows.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <benchmark/benchmark.h>

#include <cstdio>

using namespace chimewise;

namespace {

constexpr int kReminders = 100000;
constexpr int kDue = 100;
const QDateTime kNow(QDate(2026, 12, 4), QTime(12, 0, 30));

QString tableFolder() { return bench::BigCalendarFolder(kReminders, kDue, kNow); }

class NoSchedule final : public SchedulePort {
 public:
  bool OpenSchedule(std::optional<qint64>, std::function<void(bool)>) override { return false; }
  void CloseSchedule() override {}
  bool ScheduleOpen() const override { return false; }
};

class SilentPrompter final : public Prompter {
 public:
  void notice(const QString& text, const QString&, PromptIcon, std::function<void()> closed) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    if (closed) closed();
  }
  void ask(const QString&, const QString&, PromptIcon, std::function<void(bool)> answered) override { answered(false); }
};

struct Program {
  QTemporaryDir home;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{home.filePath("settings.ini")};
  SilentPrompter prompter;
  ManualClock clock{kNow};
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  NoWindows windows;
  NoSchedule schedule;
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<ViewerWindows> viewers;
  explicit Program(bool showFuture) {
    state.AppFolder = tableFolder();
    data::ApplyStartupSettings(engine);
    settings.write(settings::ShowFuture, showFuture ? "1" : "0");
    settings.write("ReminderView", "Width", "10000");
    settings.write("ReminderView", "Height", "7000");
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, speaker, windows);
    viewers =
        std::make_unique<ViewerWindows>(state, settings, prompter, clock, engine, *alarms, speaker, schedule, windows);
  }
};

// From ShowViewer to the first picture of the window, table opened and list read.
void openAndPaint(benchmark::State& st, bool showFuture) {
  Program p(showFuture);
  int rows = 0;
  int read = 0;
  for (auto _ : st) {
    p.viewers->ShowViewer();
    benchmark::DoNotOptimize(p.viewers->window()->grab());
    st.PauseTiming();
    rows = p.viewers->window()->model()->rowCount();
    read = p.viewers->window()->model()->recordsRead();
    p.viewers->Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    st.ResumeTiming();
  }
  st.counters["rows"] = rows;
  st.counters["records_read"] = read;
}

void BM_OpenAndPaintAll(benchmark::State& st) { openAndPaint(st, true); }
BENCHMARK(BM_OpenAndPaintAll)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_OpenAndPaintCurrent(benchmark::State& st) { openAndPaint(st, false); }
BENCHMARK(BM_OpenAndPaintCurrent)->Unit(benchmark::kMillisecond)->Iterations(10);

// One page down and its picture, over the whole list of 100,000 in jumps of 1/200.
void BM_ScrollAPage(benchmark::State& st) {
  Program p(true);
  p.viewers->ShowViewer();
  QTableView* grid = p.viewers->window()->grid();
  QScrollBar* bar = grid->verticalScrollBar();
  int step = 0;
  for (auto _ : st) {
    bar->setValue((bar->maximum() / 200) * (step++ % 200));
    benchmark::DoNotOptimize(p.viewers->window()->grab());
  }
  st.counters["records_read"] = p.viewers->window()->model()->recordsRead();
}
BENCHMARK(BM_ScrollAPage)->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

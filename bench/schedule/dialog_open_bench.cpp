// Opening the Schedule Activity dialog: building it, showing it and painting it the first time,
// as the tray's Add Reminder does. Run offscreen: QT_QPA_PLATFORM=offscreen
// build/bench/schedule/bench_schedule_dialog
#include "core/clock.h"
#include "schedule/schedule_dialog.h"

#include <QApplication>
#include <QPixmap>
#include <benchmark/benchmark.h>

using namespace chimewise;

namespace {

void BM_ScheduleDialogOpenAndPaint(benchmark::State& st) {
  ManualClock clock(QDateTime(QDate(2026, 12, 4), QTime(12, 0, 30)));
  for (auto _ : st) {
    ScheduleDialog dialog(clock, QStringLiteral("h:mm am/pm"));
    dialog.show();
    QApplication::processEvents();
    const QPixmap painted = dialog.grab();  // the first paint of every control
    benchmark::DoNotOptimize(painted.cacheKey());
  }
}
BENCHMARK(BM_ScheduleDialogOpenAndPaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// The alarm scan over a table of 100,000 reminders of which 100 are due, the next-alarm lookup
// over the same table, and the read of one reminder's kept calendar event (its series), which an
// announcement makes for the reminder it announces. Run: build/bench/alarms/bench_due_scan
#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "support/big_calendar.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <benchmark/benchmark.h>

#include <cstdio>

using namespace chimewise;

namespace {

constexpr int kReminders = 100000;
constexpr int kDue = 100;
const QDateTime kNow(QDate(2026, 12, 4), QTime(12, 0, 30));

QString pristineFolder() { return bench::BigCalendarFolder(kReminders, kDue, kNow); }

void copyTable(const QString& from, const QString& to) {
  QDir().mkpath(to + "/data");
  for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"}) {
    QFile::remove(to + "/data/" + f);
    QFile::copy(from + "/data/" + f, to + "/data/" + f);
  }
}

void BM_DueScan(benchmark::State& st) {
  const QString pristine = pristineFolder();
  QTemporaryDir work;
  SharedState state;
  ProgramOptions options;
  state.AppFolder = work.path();
  ManualClock clock(kNow);
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  data::ApplyStartupSettings(engine);
  NoWindows windows;
  AlarmService alarms(state, options, clock, engine, speaker, windows);
  size_t spoken = 0;
  int problems = 0;
  for (auto _ : st) {
    st.PauseTiming();
    copyTable(pristine, work.path());
    speaker.lines.clear();
    st.ResumeTiming();
    if (!alarms.ScanDueAlarms().ok()) ++problems;
    spoken = speaker.lines.size();
  }
  st.counters["spoken_lines"] = static_cast<double>(spoken);
  st.counters["problems"] = problems;
}
BENCHMARK(BM_DueScan)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FindNextAlarm(benchmark::State& st) {
  const QString pristine = pristineFolder();
  SharedState state;
  ProgramOptions options;
  state.AppFolder = pristine;
  ManualClock clock(kNow);
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  data::ApplyStartupSettings(engine);
  NoWindows windows;
  AlarmService alarms(state, options, clock, engine, speaker, windows);
  for (auto _ : st) benchmark::DoNotOptimize(alarms.FindNextAlarm());
  st.counters["found"] = alarms.nextAlarm() ? 1 : 0;
}
BENCHMARK(BM_FindNextAlarm)->Unit(benchmark::kMillisecond);

// A series event as a phone keeps it (about 1.5 KB with its zone and alarms), and one reminder
// that keeps nothing (the file is not there).
void BM_KeptSeriesGet(benchmark::State& st) {
  QTemporaryDir work;
  const KeptEvents kept(work.path());
  KeptEvent k;
  k.uid = QStringLiteral("weekly-review@phone.example");
  k.series = {QStringLiteral("DTSTART;TZID=Europe/Berlin:20270105T093000"), QStringLiteral("RRULE:FREQ=WEEKLY"),
              QStringLiteral("X-CHIMEWISE-LEAD:600")};
  k.resource = QByteArray("BEGIN:VCALENDAR\r\n") + QByteArray(1400, 'x') + "\r\nEND:VCALENDAR\r\n";
  k.hasSynced = true;
  if (!kept.Put("E0000series1", k).ok()) st.SkipWithError("the kept event cannot be written");
  const QByteArray id = st.range(0) ? QByteArray("E0000series1") : QByteArray("E0000nothing");
  for (auto _ : st) benchmark::DoNotOptimize(kept.Get(id));
}
BENCHMARK(BM_KeptSeriesGet)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

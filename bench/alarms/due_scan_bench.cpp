// The alarm scan over a table of 100,000 reminders of which 100 are due, and the next-alarm
// lookup over the same table. Run: build/bench/alarms/bench_due_scan
#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "data/calendar.h"

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

// A pristine table, built once: 100 reminders due this morning, the rest spread over next year.
QString pristineFolder() {
  static QTemporaryDir dir;
  static bool built = false;
  if (built) return dir.path();
  QDir().mkpath(dir.filePath("data"));
  for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT"})
    QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/data/") + f, dir.filePath("data/") + f);
  for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT"})
    QFile(dir.filePath("data/") + f).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  xbase::Engine engine;
  int area = 0;
  xbase::Status s =
      engine.Use(dir.filePath("data/CALENDAR.DBF").toStdString(), "BUILD", xbase::OpenMode::kExclusive, &area);
  xbase::WorkArea* wa = engine.Current();
  for (int i = 0; s.ok() && i < kReminders; ++i) {
    const bool due = i % (kReminders / kDue) == 0;
    const QDate day = due ? kNow.date() : QDate(2027, 1, 1).addDays(i % 365);
    const int minutes = due ? 8 * 60 + i % 180 : (i * 7) % 1440;
    const std::string ymd = day.toString("yyyyMMdd").toStdString();
    s = wa->AppendBlank();
    if (s.ok()) s = wa->Replace("APPT_TEXT", "Reminder number " + std::to_string(i));
    if (s.ok()) s = wa->Replace("EVENTDATE", due ? kNow.date().addDays(1).toString("yyyyMMdd").toStdString() : ymd);
    if (s.ok()) s = wa->Replace("ALARMDATE", ymd);
    if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", minutes);
    if (s.ok()) s = wa->ReplaceInteger("STARTTIME", minutes);
    if (s.ok()) s = wa->Replace("USERID", "  1");
    if (s.ok()) s = wa->Replace("STATUS", "S");
  }
  engine.CloseAll();
  if (s.ok()) s = data::RebuildDatabase(engine, dir.path());
  if (!s.ok()) std::fprintf(stderr, "building the table failed: %s\n", s.ToString().c_str());
  built = true;
  return dir.path();
}

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
  state.AppFolder = work.path();
  ManualClock clock(kNow);
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  data::ApplyStartupSettings(engine);
  NoWindows windows;
  AlarmService alarms(state, clock, engine, speaker, windows, windows);
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
  state.AppFolder = pristine;
  ManualClock clock(kNow);
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  data::ApplyStartupSettings(engine);
  NoWindows windows;
  AlarmService alarms(state, clock, engine, speaker, windows, windows);
  for (auto _ : st) alarms.FindNextAlarm();
  st.counters["found"] = state.NextAlarmTime.isValid() ? 1 : 0;
}
BENCHMARK(BM_FindNextAlarm)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// The reminder table at 100,000 reminders: the program's hot paths against a
// plain read of the same file.
//   bench_xbase [--benchmark_filter=...]      (table built once in $TMPDIR)
// Targets: open + lowest ALARM key < 5 ms; current-reminders query < 100 ms;
// one append with commit and index upkeep < 2 ms; pack + 13 tags < 3 s; the start-up check
// of every index entry < 2 s.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "data/calendar.h"
#include "data/table_handle.h"
#include "support/must.h"

namespace fs = std::filesystem;
using namespace chimewise::data;

namespace {

constexpr int kReminders = 100000;

struct Fixture {
  fs::path app;
  QString appq;
  std::string table;
  Fixture() {
    char tmpl[] = "/tmp/xbase-bench-XXXXXX";
    app = mkdtemp(tmpl);
    appq = QString::fromStdString(app.string());
    fs::create_directory(app / "data");
    for (const char* name : {"CALENDAR.DBF", "CALENDAR.FPT"}) {
      fs::copy_file(fs::path(CHIMEWISE_SOURCE_DIR) / "assets/data" / name, app / "data" / name);
      fs::permissions(app / "data" / name, fs::perms::owner_read | fs::perms::owner_write);
    }
    table = (app / "data/CALENDAR.DBF").string();
    xbase::Engine e;
    int area = OpenTable(e, appq + "/data/CALENDAR.DBF", kAliasAlarm, kModeExclusive);
    xbase::WorkArea* wa = e.Area(area);
    std::mt19937 rng(1);
    auto r = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    char date[9], alarm[9];
    for (int i = 0; i < kReminders; ++i) {
      std::snprintf(date, sizeof date, "20%02u%02u%02u", 20 + r(10), 1 + r(12), 1 + r(28));
      std::snprintf(alarm, sizeof alarm, "20%02u%02u%02u", 20 + r(10), 1 + r(12), 1 + r(28));
      Must(wa->AppendBlank());
      Must(wa->Replace("REC_NO", "E" + std::to_string(100000000 + i)));
      Must(wa->Replace("USERID", "  1"));
      Must(wa->Replace("STATUS", "S"));
      Must(wa->Replace("EVENT", "Meeting"));
      Must(wa->Replace("APPT_TEXT", "Reminder number " + std::to_string(i)));
      if (i % 3 == 0) Must(wa->ReplaceMemo("COMMENT", "A memo for reminder " + std::to_string(i)));
      for (const char* f : {"EVENTDATE", "STARTDATE", "ENDDATE", "LASTEDIT"}) Must(wa->Replace(f, date));
      for (const char* f : {"STARTTIME", "ENDTIME", "EDITTIME"})
        Must(wa->ReplaceInteger(f, static_cast<int>(rng() % 1440)));
      if (i % 10 != 0) Must(wa->Replace("ALARMDATE", alarm));
      Must(wa->ReplaceInteger("ALARMTIME", static_cast<int>(rng() % 1440)));
      Must(wa->Replace("ALARMTEXT", "1/2/2026 10:00 am"));
      Must(wa->Replace("DATETEXT", "1/2/2026 10:00 am"));
      Must(wa->Replace("TIMETEXT", "10:00 am"));
      if (i % 50 == 0) Must(wa->Delete());
      Must(wa->Commit());
    }
    Must(e.CloseAll());
    Backup();
    Must(RebuildDatabase(e, appq));
  }
  void Backup() {
    for (const char* n : {"CALENDAR.DBF", "CALENDAR.FPT"})
      fs::copy_file(app / "data" / n, app / (std::string(n) + ".orig"), fs::copy_options::overwrite_existing);
  }
  void Restore() {
    for (const char* n : {"CALENDAR.DBF", "CALENDAR.FPT"})
      fs::copy_file(app / (std::string(n) + ".orig"), app / "data" / n, fs::copy_options::overwrite_existing);
    fs::remove(app / "data/CALENDAR.CDX");
  }
  ~Fixture() { fs::remove_all(app); }
};

Fixture& Table() {
  static Fixture f;
  return f;
}

void BM_OpenAndFindLowestAlarm(benchmark::State& state) {
  Fixture& f = Table();
  for (auto _ : state) {
    xbase::Engine e;
    ApplyStartupSettings(e);
    const TableHandle table(e, f.appq + "/data/CALENDAR.DBF", kAliasTimer, kModeShared);
    xbase::WorkArea* wa = table.get();
    Must(wa->SetOrder(wa->TagArea("ALARM")));
    Must(wa->GoTop());
    std::string date;
    Must(wa->GetTrimString("ALARMDATE", &date));
    benchmark::DoNotOptimize(date);
    if (date.size() != 8) state.SkipWithError("no alarm found");
  }
}
BENCHMARK(BM_OpenAndFindLowestAlarm)->Unit(benchmark::kMillisecond);

void BM_CurrentRemindersQuery(benchmark::State& state) {
  Fixture& f = Table();
  xbase::Engine e;
  ApplyStartupSettings(e);
  int area = OpenTable(e, f.appq + "/data/CALENDAR.DBF", kAliasAlarm, kModeShared);
  xbase::WorkArea* wa = e.Area(area);
  Must(wa->SetOrder(wa->TagArea("ALARM")));
  const std::string q = CurrentRemindersQuery(QDateTime(QDate(2025, 6, 1), QTime(12, 0))).toStdString();
  for (auto _ : state) {
    xbase::Status s = wa->Query(q);
    if (!s.ok()) state.SkipWithError(s.ToString().c_str());
  }
  state.counters["passing"] = wa->QueryRecCount();
}
BENCHMARK(BM_CurrentRemindersQuery)->Unit(benchmark::kMillisecond);

void BM_AppendWithCommitAndIndexUpkeep(benchmark::State& state) {
  Fixture& f = Table();
  xbase::Engine e;
  ApplyStartupSettings(e);
  int i = 0;
  for (auto _ : state) {
    const TableHandle table(e, f.appq + "/data/CALENDAR.DBF", kAliasOneTime, kModeShared);
    xbase::WorkArea* wa = table.get();
    state.PauseTiming();
    state.ResumeTiming();
    Must(wa->AppendBlank());
    Must(wa->Replace("REC_NO", "E" + std::to_string(900000000 + i++)));
    Must(wa->Replace("USERID", "  1"));
    Must(wa->Replace("STATUS", "S"));
    Must(wa->Replace("EVENT", "Phone Call"));
    Must(wa->Replace("APPT_TEXT", "Call the bank"));
    Must(wa->ReplaceMemo("COMMENT", "About the card"));
    for (const char* fld : {"EVENTDATE", "STARTDATE", "ENDDATE", "LASTEDIT", "ALARMDATE"})
      Must(wa->Replace(fld, "20261206"));
    for (const char* fld : {"STARTTIME", "ENDTIME", "EDITTIME", "ALARMTIME"}) Must(wa->ReplaceInteger(fld, 600));
    Must(wa->Replace("ALARMTEXT", "12/6/2026 10:00 am"));
    xbase::Status s = wa->Commit();
    if (!s.ok()) state.SkipWithError(s.ToString().c_str());
    Must(wa->Unlock(wa->RecNo()));
  }
}
BENCHMARK(BM_AppendWithCommitAndIndexUpkeep)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_PackAndThirteenTags(benchmark::State& state) {
  Fixture& f = Table();
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    xbase::Engine e;
    xbase::Status s = RebuildDatabase(e, f.appq);
    if (!s.ok()) state.SkipWithError(s.ToString().c_str());
  }
}
BENCHMARK(BM_PackAndThirteenTags)->Unit(benchmark::kMillisecond)->Iterations(3);

// The program's start-up check: the tag list, and every entry of the thirteen tags compared
// with the records.
void BM_StartUpIndexCheck(benchmark::State& state) {
  Fixture& f = Table();
  for (auto _ : state) {
    xbase::Engine e;
    xbase::Status s = CalendarIndexProblem(e, f.appq + "/data/CALENDAR.DBF");
    if (!s.ok()) state.SkipWithError(s.ToString().c_str());
  }
}
BENCHMARK(BM_StartUpIndexCheck)->Unit(benchmark::kMillisecond)->Iterations(3);

// Baselines: the table file read end to end, and the engine walking every record.
// The table file read end to end into memory: the floor for any walk of the table.
size_t PlainRead(const std::string& path) {
  static std::vector<char> buf(1 << 20);
  std::ifstream in(path, std::ios::binary);
  size_t total = 0;
  while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0)
    total += static_cast<size_t>(in.gcount());
  return total;
}

void BM_PlainReadOfTheTableFile(benchmark::State& state) {
  Fixture& f = Table();
  for (auto _ : state) {
    size_t total = PlainRead(f.table);
    benchmark::DoNotOptimize(total);
    state.counters["bytes"] = static_cast<double>(total);
  }
}
BENCHMARK(BM_PlainReadOfTheTableFile)->Unit(benchmark::kMillisecond);

// Every record through the engine in natural order. The counter x_plain_read is the
// walk's time over a plain read of the file measured in the same run (target: <= 10).
void BM_EngineNaturalOrderScan(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Fixture& f = Table();
  xbase::Engine e;
  ApplyStartupSettings(e);
  int area = OpenTable(e, f.appq + "/data/CALENDAR.DBF", kAliasCalendar, kModeShared);
  xbase::WorkArea* wa = e.Area(area);
  double plain = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(PlainRead(f.table));
    plain = std::min(plain, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  double walk = 1e9;
  size_t n = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    n = 0;
    for (Must(wa->GoTop()); !wa->Eof(); Must(wa->Skip(1))) ++n;
    benchmark::DoNotOptimize(n);
    walk = std::min(walk, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  state.counters["records"] = static_cast<double>(n);
  state.counters["plain_read_ms"] = plain * 1e3;
  state.counters["x_plain_read"] = walk / plain;
}
BENCHMARK(BM_EngineNaturalOrderScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

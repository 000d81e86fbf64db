// Reading a calendar file of 10,000 ordinary events in, as chimewise-cli import does it: into an
// empty reminder table, and the same file again (every event unchanged). Goals: 2 s and 1 s. Then
// what a sync does next in the program: each reminder's kept event read, by a process that did not
// write them. Each runs three times; CPU is the whole process's.
// Run: build/bench/exchange/bench_import
#include "cli/cli.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

using namespace chimewise;

namespace {

constexpr int kEvents = 10000;
const QString kNow = "2027-01-04 08:00:00";

void Fail(const QString& why) {
  std::fprintf(stderr, "%s\n", qPrintable(why));
  std::abort();
}

struct Setup {
  QTemporaryDir dir;
  QString file = dir.filePath("events.ics");
  int tables = 0;

  Setup() {
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath("share").toUtf8());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    QByteArray ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n";
    for (int i = 0; i < kEvents; ++i)
      ics += "BEGIN:VEVENT\r\nUID:bench-" + QByteArray::number(i) +
             "@example.org\r\nDTSTAMP:20270101T000000Z\r\nDTSTART:202702" + QByteArray::number(10 + i % 18) + "T" +
             QByteArray::number(100000 + (i % 50) * 100) + "Z\r\nSUMMARY:Reminder number " + QByteArray::number(i) +
             "\r\nDESCRIPTION:Bring the papers for case " + QByteArray::number(i) + "\r\nEND:VEVENT\r\n";
    ics += "END:VCALENDAR\r\n";
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(ics) != ics.size()) Fail("cannot write the calendar");
  }
  // A folder with the empty reminder table the program ships.
  QString freshApp() {
    const QString app = dir.filePath(QStringLiteral("app%1").arg(++tables));
    QDir().mkpath(app + "/data");
    for (const char* name : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"}) {
      const QString to = app + "/data/" + name;
      if (!QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/data/") + name, to)) Fail("cannot copy the table");
      QFile(to).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return app;
  }
  void import(const QString& app, const char* expected) {
    QString o, e;
    QTextStream out(&o), err(&e);
    if (RunCli({"--app-folder", app, "--now", kNow, "import", file}, out, err) != 0 || !o.startsWith(expected))
      Fail("chimewise-cli import: " + o + e);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

QString g_app;

void BM_ImportTenThousand(benchmark::State& st) {
  Setup& s = Shared();
  for (auto _ : st) {
    st.PauseTiming();
    g_app = s.freshApp();
    st.ResumeTiming();
    s.import(g_app, "imported 10000,");
  }
}

void BM_ReimportTenThousandUnchanged(benchmark::State& st) {
  Setup& s = Shared();
  for (auto _ : st) s.import(g_app, "imported 0, updated 0, deleted 0, unchanged 10000");
}

std::vector<QByteArray> RecordIds(const QString& app) {
  xbase::Engine engine;
  std::vector<QByteArray> ids;
  const data::TableHandle table = data::TableHandle::Calendar(engine, app, "IDS");
  if (!table) Fail("cannot open the table");
  xbase::WorkArea& wa = *table;
  for (xbase::Status s = wa.GoTop(); s.ok() && !wa.Eof(); s = wa.Skip(1)) {
    std::string id;
    if (wa.GetString("REC_NO", &id).ok()) ids.push_back(QByteArray::fromStdString(id));
  }
  return ids;
}

void BM_ReadTenThousandKept(benchmark::State& st) {
  Setup& s = Shared();
  const std::vector<QByteArray> ids = RecordIds(g_app);
  for (auto _ : st) {
    st.PauseTiming();
    // A folder this process has not read yet, as the program finds what the tool wrote.
    const QString app = s.freshApp();
    const QString from = KeptEvents(g_app).folder(), to = KeptEvents(app).folder();
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files))
      if (!QFile::copy(from + "/" + name, to + "/" + name)) Fail("cannot copy " + name);
    st.ResumeTiming();
    const KeptEvents kept(app);
    int found = 0;
    for (const QByteArray& id : ids) found += kept.Get(id) ? 1 : 0;
    if (found != kEvents) Fail(QStringLiteral("%1 kept events read").arg(found));
  }
}

}  // namespace

BENCHMARK(BM_ImportTenThousand)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ReimportTenThousandUnchanged)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ReadTenThousandKept)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("Olm Chimewise");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Two-way sync of 1,000 reminders with a real Radicale on 127.0.0.1, as chimewise-cli sync does
// it: the first sync that puts all of them on the server, a second one with nothing changed, and a
// first sync on another computer that takes all of them in. The goal is each under 10 s.
// Run: build/bench/exchange/bench_sync
#include "cli/cli.h"
#include "support/radicale_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

using namespace chimewise;

namespace {

constexpr int kReminders = 1000;
const QString kNow = "2027-01-04 08:00:00";

struct Setup {
  QTemporaryDir dir;
  std::unique_ptr<testsupport::RadicaleServer> server;
  QString collection;

  Setup() {
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath("share").toUtf8());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    qputenv("CHIMEWISE_SYNC_PASSWORD", "pw");
    server = std::make_unique<testsupport::RadicaleServer>(testsupport::RadicaleOptions{"anna", "pw", {}, {}});
    if (!server->ready()) fail("Radicale did not start: " + server->error());
    collection = server->url("/anna/reminders/").toString();
    QProcess curl;
    curl.start("curl", {"-s", "-f", "-u", "anna:pw", "-X", "MKCALENDAR", collection});
    if (!curl.waitForFinished(30000) || curl.exitCode() != 0) fail("MKCALENDAR failed");
  }
  static void fail(const QString& why) {
    std::fprintf(stderr, "%s\n", qPrintable(why));
    std::abort();
  }
  int cli(const QString& app, const QStringList& args) {
    QString o, e;
    QTextStream out(&o), err(&e);
    const int code = RunCli(QStringList{"--app-folder", app, "--now", kNow} + args, out, err);
    if (code != 0) fail("chimewise-cli " + args.join(' ') + ": " + e);
    return code;
  }
  void fill(const QString& app) {
    QByteArray ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n";
    for (int i = 0; i < kReminders; ++i)
      ics += "BEGIN:VEVENT\r\nUID:bench-" + QByteArray::number(i) +
             "@example.org\r\nDTSTAMP:20270101T000000Z\r\nDTSTART:202702" + QByteArray::number(10 + i % 18) + "T" +
             QByteArray::number(100000 + (i % 50) * 100) + "Z\r\nSUMMARY:Reminder number " + QByteArray::number(i) +
             "\r\nEND:VEVENT\r\n";
    ics += "END:VCALENDAR\r\n";
    QFile f(dir.filePath("fill.ics"));
    if (!f.open(QIODevice::WriteOnly) || f.write(ics) != ics.size()) fail("cannot write the calendar");
    f.close();
    cli(app, {"import", f.fileName()});
  }
  void sync(const QString& app) { cli(app, {"sync", "--server", collection, "--user", "anna"}); }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_SyncPutsAThousand(benchmark::State& st) {
  Setup& s = Shared();
  const QString app = s.dir.filePath("desk");
  s.fill(app);
  for (auto _ : st) s.sync(app);
}

void BM_SyncWithNothingChanged(benchmark::State& st) {
  Setup& s = Shared();
  for (auto _ : st) s.sync(s.dir.filePath("desk"));
}

void BM_SyncTakesAThousandIn(benchmark::State& st) {
  Setup& s = Shared();
  const QString app = s.dir.filePath("laptop");
  for (auto _ : st) s.sync(app);
}

}  // namespace

// In this order, once each: the second and third need what the first put on the server.
BENCHMARK(BM_SyncPutsAThousand)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_SyncWithNothingChanged)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_SyncTakesAThousandIn)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("Olm Chimewise");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

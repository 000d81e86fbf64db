// One mail check on request over a Maildir of 10,000 and of 100,000 unread messages, as the
// program runs it: the mailbox read on the worker, the message files written and the messages
// marked read there too, the rows listed on the thread that owns the reader. Reports the whole
// check's time and the longest the owning thread's event loop went without turning (a timer asks
// every 10 ms), and the CPU time of both threads (the wall time suffers on a busy machine).
// Target: 100,000 messages in under 10 s, the loop never held for long.
// Run: build/bench/mail/bench_mail_check
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "mail/mail_account.h"
#include "mail/mail_reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

using namespace chimewise;

// User and system time of the whole process, both threads: the work itself, whatever else the
// machine is doing.
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class NoVault final : public PasswordVault {
 public:
  Lookup Find(const QString&, const QString&) override { return {}; }
  bool Keep(const QString&, const QString&, const QString&) override { return false; }
};

class Rows final : public MailList {
 public:
  void Load() override {}
  int rowCount() const override { return static_cast<int>(rows.size()); }
  void AddRow(const MailRow& row) override { rows.push_back(row); }
  void PlaceAndShow() override {}
  std::vector<MailRow> rows;
};

void FillMaildir(const QString& root, int count) {
  for (const char* sub : {"cur", "new", "tmp"}) QDir(root).mkpath(QString::fromLatin1(sub));
  for (int i = 0; i < count; ++i) {
    const QByteArray message = "From: Anna <anna@example.org>\r\nSubject: Lunch " + QByteArray::number(i) +
                               "\r\nDate: Fri, 4 Dec 2026 12:00:00 +0100\r\nContent-Type: text/plain; "
                               "charset=utf-8\r\n\r\nAt one?\r\n";
    QFile f(root + QStringLiteral("/new/%1.M%2P1.bench").arg(1796382000 + i).arg(i));
    if (!f.open(QIODevice::WriteOnly) || f.write(message) != message.size()) std::abort();
  }
}

void BM_MailCheckOnRequest(benchmark::State& st) {
  const int count = static_cast<int>(st.range(0));
  for (auto _ : st) {
    st.PauseTiming();
    QTemporaryDir dir;
    FillMaildir(dir.filePath(QStringLiteral("Maildir")), count);
    SharedState state;
    SettingsStore settings(dir.filePath(QStringLiteral("settings.ini")));
    settings.write(settings::Mailbox, dir.filePath(QStringLiteral("Maildir")));
    ManualClock clock(QDateTime(QDate(2026, 12, 6), QTime(10, 41, 37)));
    TranscriptSpeaker speaker;
    NoVault vault;
    MailAccount account(settings, vault);
    Rows rows;
    NoWindows windows;
    MailReader reader(state, settings, clock, speaker, windows, account,
                      MessageFiles(dir.filePath(QStringLiteral("NewMail"))));
    reader.setList(&rows);
    QEventLoop loop;
    QObject::connect(&reader, &MailReader::checkFinished, &loop, &QEventLoop::quit);
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
    st.ResumeTiming();

    QElapsedTimer whole;
    whole.start();
    const double cpuBefore = ProcessCpuSeconds();
    sinceTick.start();
    tick.start();
    reader.CheckNewMail(false, true);
    loop.exec();
    tick.stop();
    longestStall = std::max(longestStall, sinceTick.elapsed());
    const double seconds = static_cast<double>(whole.nsecsElapsed()) / 1e9;
    const double cpu = ProcessCpuSeconds() - cpuBefore;

    st.PauseTiming();
    if (rows.rows.size() != static_cast<size_t>(count) || !rows.rows.back().fileProblem.isEmpty())
      st.SkipWithError("not every message was listed");
    st.counters["check_s"] = seconds;
    st.counters["process_cpu_s"] = cpu;
    st.counters["longest_ui_stall_ms"] = static_cast<double>(longestStall);
    st.counters["rows"] = static_cast<double>(rows.rows.size());
    st.ResumeTiming();
  }
}
BENCHMARK(BM_MailCheckOnRequest)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

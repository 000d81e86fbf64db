// Counting the unread messages of a Maildir of 10,000 messages (a third of them read), as every
// mail check does first. Target: at most 100 ms. Run: build/bench/mail/bench_maildir_count
#include "mailbox/mailbox.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kMessages = 10000;

// A Maildir with kMessages small messages: the newest tenth still in new/, the rest in cur/,
// every third one of those marked seen.
void FillMaildir(const QString& root) {
  for (const char* sub : {"cur", "new", "tmp"}) QDir(root).mkpath(QString::fromLatin1(sub));
  const QByteArray body =
      "From: Anna <anna@example.org>\r\nSubject: Lunch\r\nDate: Fri, 4 Dec 2026 12:00:00 +0100\r\n\r\nAt one?\r\n";
  for (int i = 0; i < kMessages; ++i) {
    const QString unique = QStringLiteral("%1.M%2P1.bench").arg(1796382000 + i).arg(i);
    QString path;
    if (i >= kMessages * 9 / 10)
      path = root + QStringLiteral("/new/") + unique;
    else
      path = root + QStringLiteral("/cur/") + unique + (i % 3 == 0 ? QStringLiteral(":2,S") : QStringLiteral(":2,"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(body) != body.size()) std::abort();
  }
}

void BM_MaildirUnseenCount(benchmark::State& st) {
  QTemporaryDir dir;
  FillMaildir(dir.path());
  const auto box = mailbox::OpenMaildir(dir.path());
  int count = 0;
  for (auto _ : st) {
    mailbox::Failure failure;
    count = box->UnseenCount(&failure).value_or(-1);
    benchmark::DoNotOptimize(count);
  }
  if (count != kMessages - (kMessages * 9 / 10 + 2) / 3) st.SkipWithError("wrong count");
  st.counters["unread"] = count;
}
BENCHMARK(BM_MaildirUnseenCount)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

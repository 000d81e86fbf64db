// Reading a message must take time in proportion to its size, whatever its shape: many parts, as
// deep as is read with text at each level, a hostile header of nothing but "=?" and lines of
// nothing but "--", and HTML of unclosed tags. Each shape runs at several sizes; Google Benchmark
// fits the growth (the "BigO" line should say N, and eight times the size about eight times the
// time). Run: build/bench/mail/bench_mime_growth
#include <mailbox/mail_message.h>

#include <QByteArray>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

QByteArray Wide(int n) {
  QByteArray body;
  for (int i = 0; i < n; ++i) body += "--b\r\nContent-Type: text/plain\r\n\r\nPart " + QByteArray::number(i) + "\r\n";
  return "Subject: wide\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n" + body + "--b--\r\n";
}

QByteArray Deep(int n) {
  QByteArray head, tail;
  for (int i = 0; i < mailbox::kMaxMimeNesting - 1; ++i) {
    head += "--b" + QByteArray::number(i) + "\r\nContent-Type: multipart/mixed; boundary=b" +
            QByteArray::number(i + 1) + "\r\n\r\n" + QByteArray(n, 'x') + "\r\n";
    tail.prepend("--b" + QByteArray::number(i) + "--\r\n");
  }
  return "Subject: deep\r\nContent-Type: multipart/mixed; boundary=b0\r\n\r\n" + head + tail;
}

QByteArray Hostile(int n) {
  return "Subject: " + QByteArray(n, '=').replace("==", "=?") + "\r\nContent-Type: multipart/mixed\r\n\r\n" +
         QByteArray(n, '-').replace("-----", "--\r\n-");
}

QByteArray Html(int n) {
  QByteArray body;
  while (body.size() < n) body += "<head><title>x<p>text<br>&amp; <b";
  return "Subject: html\r\nContent-Type: text/html\r\n\r\n" + body;
}

template <QByteArray (*Make)(int)>
void BM_Read(benchmark::State& st) {
  const QByteArray raw = Make(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    const mailbox::MailMessage m = mailbox::ParseMessage(raw);
    if (!m.problem.isEmpty()) std::abort();
    benchmark::DoNotOptimize(m.body);
  }
  st.SetComplexityN(st.range(0));
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * raw.size());
}

BENCHMARK(BM_Read<Wide>)->RangeMultiplier(2)->Range(1000, 8000)->Complexity();
BENCHMARK(BM_Read<Deep>)->RangeMultiplier(2)->Range(20000, 160000)->Complexity();
BENCHMARK(BM_Read<Hostile>)->RangeMultiplier(2)->Range(200000, 1600000)->Complexity();
BENCHMARK(BM_Read<Html>)->RangeMultiplier(2)->Range(100000, 800000)->Complexity();

}  // namespace

BENCHMARK_MAIN();

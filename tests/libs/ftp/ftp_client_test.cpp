// The FTP client against a real pyftpdlib server on 127.0.0.1.

#include "support/ftp_wait.h"
#include "update/ftp_server.h"

#include <ftp/ftp_client.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using chimewise::testsupport::AwaitReply;
using chimewise::testsupport::FtpServer;
using chimewise::testsupport::RunEventsFor;
using chimewise::testsupport::RunEventsUntil;

class FtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "ftp-tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    (void)app;
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("srv/pub/updrmind")));
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("local")));
  }
  // Puts a file in the server's /pub/updrmind/ (or in the local folder).
  void put(const QString& name, const QByteArray& bytes, const char* where = "srv/pub/updrmind/") {
    QFile f(m_dir.filePath(where + name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QString local(const QString& rel) const { return m_dir.filePath("local/" + rel); }
  QByteArray localBytes(const QString& rel) const {
    QFile f(local(rel));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
  }
  ftp::ServerOptions optionsFor(int port) const {
    ftp::ServerOptions o;
    o.host = QStringLiteral("127.0.0.1");
    o.port = port;
    o.user = QStringLiteral("Anonymous");
    o.password = QStringLiteral("QbrTaxn@");
    o.connectTimeoutSeconds = 10;
    return o;
  }
  QTemporaryDir m_dir;
};

TEST_F(FtpClientTest, FailuresCarryCurlsCodeAndText) {
  put("big.exe", QByteArray(5000, 'b'));
  put("exists.exe", "mine", "local/");
  FtpServer server(m_dir.filePath("srv"));
  ASSERT_TRUE(server.ready());
  ftp::FtpClient client(optionsFor(server.port()));
  const struct {
    std::function<bool()> start;
    int code;
    const char* says;
  } cases[] = {
      {[&] { return client.download("/pub/updrmind/missing.exe", local("m.exe"), 1 << 20); }, ftp::kRemoteFileMissing,
       ""},
      {[&] { return client.list("/pub/nothere/"); }, 9, ""},  // CURLE_REMOTE_ACCESS_DENIED: no such folder
      // Larger than allowed: a write error that says why.
      {[&] { return client.download("/pub/updrmind/big.exe", local("big.exe"), 1000); }, ftp::kWriteError, "1000"},
      // An existing local file is never written over.
      {[&] { return client.download("/pub/updrmind/big.exe", local("exists.exe"), 1 << 20); }, ftp::kWriteError, ""},
      {[&] { return client.list("/pub/updrmind/", 4); }, ftp::kWriteError, ""},  // a listing beyond its bound
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.start());
    const ftp::Result r = AwaitReply(client).result;
    EXPECT_EQ(r.code, c.code) << r.text.toStdString();
    EXPECT_TRUE(!r.text.isEmpty() && r.text.contains(c.says)) << r.text.toStdString();
  }
  EXPECT_EQ(localBytes("exists.exe"), "mine");

  ftp::FtpClient refused(optionsFor(FtpServer::FreePort()));
  refused.probe();
  const ftp::Result r = AwaitReply(refused).result;
  EXPECT_EQ(r.code, ftp::kCouldNotConnect);
  EXPECT_FALSE(r.text.isEmpty());
}

// A slow download stops on abort(); a client destroyed while it downloads stops the transfer
// and delivers nothing afterwards.
TEST_F(FtpClientTest, AbortAndDestroyingTheClientStopASlowDownload) {
  put("slow.exe", QByteArray(400000, 's'));
  FtpServer server(m_dir.filePath("srv"), {.bytesPerSecond = 20000});
  ASSERT_TRUE(server.ready());
  ftp::FtpClient client(optionsFor(server.port()));
  bool abortedOnce = false;
  QObject::connect(&client, &ftp::FtpClient::progress, [&](qint64 received, qint64) {
    if (received > 0 && !abortedOnce) {
      abortedOnce = true;
      client.abort();
    }
  });
  client.download(QStringLiteral("/pub/updrmind/slow.exe"), local("aborted.exe"), 1 << 20);
  EXPECT_EQ(AwaitReply(client).result.code, ftp::kAborted);
  EXPECT_TRUE(abortedOnce);
  EXPECT_LT(QFileInfo(local("aborted.exe")).size(), 400000);

  auto doomed = std::make_unique<ftp::FtpClient>(optionsFor(server.port()));
  int finished = 0;
  qint64 received = 0;
  QObject context;
  QObject::connect(doomed.get(), &ftp::FtpClient::finished, &context, [&] { ++finished; });
  QObject::connect(doomed.get(), &ftp::FtpClient::progress, &context, [&](qint64 n, qint64) { received = n; });
  ASSERT_TRUE(doomed->download(QStringLiteral("/pub/updrmind/slow.exe"), local("slow.exe"), 1 << 20));
  ASSERT_TRUE(RunEventsUntil([&] { return received > 0; }));
  doomed.reset();
  RunEventsFor(300);
  EXPECT_EQ(finished, 0);
  EXPECT_LT(QFileInfo(local("slow.exe")).size(), 400000);
}

// A caller chains its operations from finished(): each starts from the handler of the one before,
// and each ends with exactly one finished(), never inside the call that started it. One operation
// runs at a time.
TEST_F(FtpClientTest, ListsSizesAndDownloadsEachFromTheEndOfTheOneBefore) {
  put("105.exe", QByteArray(70000, 'a'));
  put("with space.txt", "x");
  put("other.txt", "y", "srv/pub/");
  FtpServer server(m_dir.filePath("srv"));
  ASSERT_TRUE(server.ready());
  ftp::FtpClient client(optionsFor(server.port()));
  QList<ftp::Reply> replies;
  bool inStart = false, finishedInsideStart = false;
  auto start = [&](const std::function<bool()>& op) {
    inStart = true;
    EXPECT_TRUE(op());
    inStart = false;
  };
  const std::function<bool()> next[] = {
      [&] { return client.list(QStringLiteral("/pub/updrmind/")); },
      [&] { return client.size(QStringLiteral("/pub/updrmind/105.exe")); },
      [&] { return client.download(QStringLiteral("/pub/updrmind/105.exe"), local("a.exe"), 1 << 20); },
      [&] { return client.download(QStringLiteral("/pub/updrmind/with space.txt"), local("b.txt"), 10); },
  };
  // The last progress report comes before the end: a caller showing progress stops at finished().
  qint64 lastProgress = -1, progressAtEnd = -1;
  QObject::connect(&client, &ftp::FtpClient::progress, [&](qint64 received, qint64) { lastProgress = received; });
  QObject::connect(&client, &ftp::FtpClient::finished, [&](const ftp::Reply& reply) {
    finishedInsideStart |= inStart;
    replies << reply;
    if (replies.size() == 4) progressAtEnd = lastProgress;
    if (replies.size() <= 4) start(next[replies.size() - 1]);
  });
  start([&] { return client.probe(); });
  EXPECT_TRUE(client.busy());
  EXPECT_FALSE(client.list(QStringLiteral("/pub/")));
  ASSERT_TRUE(RunEventsUntil([&] { return replies.size() == 5; }));
  RunEventsFor(200);  // nothing more comes
  ASSERT_EQ(replies.size(), 5);
  EXPECT_FALSE(finishedInsideStart);
  for (const ftp::Reply& r : replies) EXPECT_TRUE(r.result.ok()) << r.result.text.toStdString();
  replies[1].names.sort();
  EXPECT_EQ(replies[1].names, QStringList({"105.exe", "with space.txt"}));
  EXPECT_EQ(replies[2].size, 70000);
  EXPECT_EQ(progressAtEnd, 70000);
  EXPECT_EQ(localBytes("a.exe"), QByteArray(70000, 'a'));
  EXPECT_EQ(localBytes("b.txt"), "x");
  EXPECT_FALSE(client.busy());
}

TEST_F(FtpClientTest, UrlsEncodeEachSegmentAndStartAtTheRoot) {
  ftp::ServerOptions o = optionsFor(2121);
  ftp::FtpClient client(o);
  EXPECT_EQ(client.urlFor("/pub/updrmind/"), "ftp://127.0.0.1:2121/%2Fpub/updrmind/");
  EXPECT_EQ(client.urlFor("/pub/a b#?.exe"), "ftp://127.0.0.1:2121/%2Fpub/a%20b%23%3F.exe");
  EXPECT_EQ(client.urlFor("/"), "ftp://127.0.0.1:2121/");
  o.host = QStringLiteral("::1");
  EXPECT_EQ(ftp::FtpClient(o).urlFor("/x"), "ftp://[::1]:2121/%2Fx");
}

}  // namespace

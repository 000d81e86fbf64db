// The FTP client against a real pyftpdlib server on 127.0.0.1.

#include "support/ftp_wait.h"
#include "update/ftp_server.h"

#include <ftp/ftp_client.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using chimewise::testsupport::AwaitReply;
using chimewise::testsupport::FtpServer;

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "ftp-tests";
  static char* argv[] = {name, nullptr};
  static auto* app = new QCoreApplication(argc, argv);
  return *app;
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

class FtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(m_dir.isValid());
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("srv/pub/updrmind")));
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("local")));
  }
  QString srv(const QString& rel) const { return m_dir.filePath("srv/" + rel); }
  QString local(const QString& rel) const { return m_dir.filePath("local/" + rel); }
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

TEST_F(FtpClientTest, ListsSizesAndDownloadsFromAnAbsoluteFolder) {
  Write(srv("pub/updrmind/105.exe"), QByteArray(70000, 'a'));
  Write(srv("pub/updrmind/with space.txt"), "x");
  Write(srv("pub/other.txt"), "y");
  FtpServer server(m_dir.filePath("srv"));
  ASSERT_TRUE(server.ready());
  ftp::FtpClient client(optionsFor(server.port()));

  ASSERT_TRUE(client.probe());
  EXPECT_TRUE(client.busy());
  EXPECT_FALSE(client.list(QStringLiteral("/pub/")));  // one operation at a time
  EXPECT_TRUE(AwaitReply(client).result.ok());

  ASSERT_TRUE(client.list(QStringLiteral("/pub/updrmind/")));
  ftp::Reply r = AwaitReply(client);
  ASSERT_TRUE(r.result.ok()) << r.result.text.toStdString();
  QStringList names = r.names;
  names.sort();
  EXPECT_EQ(names, QStringList({"105.exe", "with space.txt"}));

  ASSERT_TRUE(client.size(QStringLiteral("/pub/updrmind/105.exe")));
  r = AwaitReply(client);
  EXPECT_TRUE(r.result.ok());
  EXPECT_EQ(r.size, 70000);

  // The last progress report comes before the end: a caller showing progress stops at finished().
  qint64 lastProgress = -1;
  qint64 progressAtEnd = -1;
  QObject::connect(&client, &ftp::FtpClient::progress, [&](qint64 received, qint64) { lastProgress = received; });
  const auto atEnd = QObject::connect(&client, &ftp::FtpClient::finished, [&] { progressAtEnd = lastProgress; });
  ASSERT_TRUE(client.download(QStringLiteral("/pub/updrmind/105.exe"), local("a.exe"), 1 << 20));
  r = AwaitReply(client);
  ASSERT_TRUE(r.result.ok()) << r.result.text.toStdString();
  EXPECT_EQ(progressAtEnd, 70000);
  QObject::disconnect(atEnd);
  QFile a(local("a.exe"));
  ASSERT_TRUE(a.open(QIODevice::ReadOnly));
  EXPECT_EQ(a.readAll(), QByteArray(70000, 'a'));

  ASSERT_TRUE(client.download(QStringLiteral("/pub/updrmind/with space.txt"), local("b.txt"), 10));
  EXPECT_TRUE(AwaitReply(client).result.ok());
}

TEST_F(FtpClientTest, FailuresCarryCurlsCodeAndText) {
  Write(srv("pub/updrmind/big.exe"), QByteArray(5000, 'b'));
  Write(local("exists.exe"), "mine");
  FtpServer server(m_dir.filePath("srv"));
  ASSERT_TRUE(server.ready());
  ftp::FtpClient client(optionsFor(server.port()));

  client.download(QStringLiteral("/pub/updrmind/missing.exe"), local("m.exe"), 1 << 20);
  ftp::Result r = AwaitReply(client).result;
  EXPECT_EQ(r.code, ftp::kRemoteFileMissing);
  EXPECT_FALSE(r.text.isEmpty());

  client.list(QStringLiteral("/pub/nothere/"));
  EXPECT_EQ(AwaitReply(client).result.code, 9);  // CURLE_REMOTE_ACCESS_DENIED: no such folder

  // A file larger than allowed stops with a write error that says why.
  client.download(QStringLiteral("/pub/updrmind/big.exe"), local("big.exe"), 1000);
  r = AwaitReply(client).result;
  EXPECT_EQ(r.code, ftp::kWriteError);
  EXPECT_TRUE(r.text.contains("1000")) << r.text.toStdString();

  // An existing local file is never written over.
  client.download(QStringLiteral("/pub/updrmind/big.exe"), local("exists.exe"), 1 << 20);
  EXPECT_EQ(AwaitReply(client).result.code, ftp::kWriteError);
  QFile mine(local("exists.exe"));
  ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
  EXPECT_EQ(mine.readAll(), "mine");

  // A listing beyond its bound.
  client.list(QStringLiteral("/pub/updrmind/"), 4);
  EXPECT_EQ(AwaitReply(client).result.code, ftp::kWriteError);

  ftp::FtpClient refused(optionsFor(FtpServer::FreePort()));
  refused.probe();
  r = AwaitReply(refused).result;
  EXPECT_EQ(r.code, ftp::kCouldNotConnect);
  EXPECT_FALSE(r.text.isEmpty());
}

TEST_F(FtpClientTest, AbortStopsASlowDownload) {
  Write(srv("pub/updrmind/slow.exe"), QByteArray(400000, 's'));
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
  client.download(QStringLiteral("/pub/updrmind/slow.exe"), local("slow.exe"), 1 << 20);
  const ftp::Result r = AwaitReply(client).result;
  EXPECT_TRUE(abortedOnce);
  EXPECT_EQ(r.code, ftp::kAborted);
  EXPECT_LT(QFileInfo(local("slow.exe")).size(), 400000);
}

// A caller chains its operations from finished(): each starts from the handler of the one before,
// and each ends with exactly one finished(), never inside the call that started it.
TEST_F(FtpClientTest, EachOperationStartsFromTheEndOfTheOneBefore) {
  Write(srv("pub/updrmind/110.exe"), QByteArray(3000, 'c'));
  FtpServer server(m_dir.filePath("srv"));
  ASSERT_TRUE(server.ready());
  ftp::FtpClient client(optionsFor(server.port()));
  QList<ftp::Reply> replies;
  bool inStart = false;
  bool finishedInsideStart = false;
  auto start = [&](const std::function<bool()>& op) {
    inStart = true;
    EXPECT_TRUE(op());
    inStart = false;
  };
  QObject::connect(&client, &ftp::FtpClient::finished, [&](const ftp::Reply& reply) {
    finishedInsideStart |= inStart;
    replies << reply;
    switch (replies.size()) {
      case 1: start([&] { return client.list(QStringLiteral("/pub/updrmind/")); }); break;
      case 2: start([&] { return client.size(QStringLiteral("/pub/updrmind/110.exe")); }); break;
      case 3:
        start([&] { return client.download(QStringLiteral("/pub/updrmind/110.exe"), local("c.exe"), 1 << 20); });
        break;
      default: break;
    }
  });
  start([&] { return client.probe(); });
  ASSERT_TRUE(chimewise::testsupport::RunEventsUntil([&] { return replies.size() == 4; }));
  chimewise::testsupport::RunEventsFor(200);  // nothing more comes
  ASSERT_EQ(replies.size(), 4);
  EXPECT_FALSE(finishedInsideStart);
  for (const ftp::Reply& r : replies) EXPECT_TRUE(r.result.ok()) << r.result.text.toStdString();
  EXPECT_EQ(replies[1].names, QStringList({"110.exe"}));
  EXPECT_EQ(replies[2].size, 3000);
  EXPECT_EQ(QFileInfo(local("c.exe")).size(), 3000);
  EXPECT_FALSE(client.busy());
}

// The client may go while it downloads: its destructor stops the transfer at once and nothing is
// delivered afterwards.
TEST_F(FtpClientTest, DestroyingTheClientDuringADownloadStopsItAndDeliversNothing) {
  Write(srv("pub/updrmind/slow.exe"), QByteArray(400000, 's'));
  FtpServer server(m_dir.filePath("srv"), {.bytesPerSecond = 20000});
  ASSERT_TRUE(server.ready());
  auto client = std::make_unique<ftp::FtpClient>(optionsFor(server.port()));
  int finished = 0;
  qint64 received = 0;
  QObject context;
  QObject::connect(client.get(), &ftp::FtpClient::finished, &context, [&] { ++finished; });
  QObject::connect(client.get(), &ftp::FtpClient::progress, &context, [&](qint64 n, qint64) { received = n; });
  ASSERT_TRUE(client->download(QStringLiteral("/pub/updrmind/slow.exe"), local("slow.exe"), 1 << 20));
  ASSERT_TRUE(chimewise::testsupport::RunEventsUntil([&] { return received > 0; }));
  QElapsedTimer destroying;
  destroying.start();
  client.reset();
  EXPECT_LT(destroying.elapsed(), 5000) << "the destructor waited for the transfer to run on";
  chimewise::testsupport::RunEventsFor(300);
  EXPECT_EQ(finished, 0);
  EXPECT_LT(QFileInfo(local("slow.exe")).size(), 400000);
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

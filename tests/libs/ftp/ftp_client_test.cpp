// The FTP client against a real pyftpdlib server on 127.0.0.1.

#include "support/files.h"
#include "support/ftp_wait.h"
#include "update/ftp_server.h"

#include <ftp/ftp_client.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

using chimewise::testsupport::AwaitReply;
using chimewise::testsupport::FtpServer;

class FtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "ftp-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("srv/pub/updrmind")) && QDir().mkpath(m_dir.filePath("local")));
  }
  // Puts a file in the server's /pub/updrmind/ (or in the local folder).
  void put(const QString& name, const QByteArray& bytes, const char* where = "srv/pub/updrmind/") {
    chimewise::testsupport::Touch(m_dir.filePath(where + name), bytes);
  }
  QString local(const QString& rel) const { return m_dir.filePath("local/" + rel); }
  static ftp::ServerOptions optionsFor(int port) {
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
  EXPECT_EQ(chimewise::testsupport::Slurp(local("exists.exe")), "mine");
}

TEST_F(FtpClientTest, UrlsEncodeEachSegmentAndStartAtTheRoot) {
  ftp::ServerOptions o = optionsFor(2121);
  EXPECT_EQ(ftp::FtpClient(o).urlFor("/pub/a b#?.exe"), "ftp://127.0.0.1:2121/%2Fpub/a%20b%23%3F.exe");
  EXPECT_EQ(ftp::FtpClient(o).urlFor("/"), "ftp://127.0.0.1:2121/");
  o.host = QStringLiteral("::1");
  EXPECT_EQ(ftp::FtpClient(o).urlFor("/x"), "ftp://[::1]:2121/%2Fx");
}

}  // namespace

#pragma once
// A real FTP server on 127.0.0.1 for the tests (pyftpdlib, see ftp_server.py): started on a free
// port, ready once it accepts connections, killed when the object goes.

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

namespace chimewise::testsupport {

struct FtpServerOptions {
  int bytesPerSecond = 0;  // 0: full speed
  bool noSize = false;     // SIZE answers 550
};

class FtpServer {
 public:
  using Options = FtpServerOptions;

  // Serves `folder`; check ready() before use.
  explicit FtpServer(const QString& folder, Options options = {}) {
    m_port = FreePort();
    QStringList args = {QStringLiteral(FTP_SERVER_SCRIPT), QStringLiteral("--port"), QString::number(m_port),
                        QStringLiteral("--dir"), folder};
    if (options.bytesPerSecond) args << QStringLiteral("--bytes-per-second") << QString::number(options.bytesPerSecond);
    if (options.noSize) args << QStringLiteral("--no-size");
    // The server's log goes to the test's output only when asked for (CHIMEWISE_FTP_LOG=1).
    if (qEnvironmentVariableIsSet("CHIMEWISE_FTP_LOG"))
      m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    else
      m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process.waitForStarted(10000)) return;
    // Ready once it accepts; until then a connection is refused at once, so wait a little
    // between tries (pyftpdlib starts in well under a second).
    for (int attempt = 0; attempt < 200 && m_process.state() == QProcess::Running; ++attempt) {
      QTcpSocket probe;
      probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
      if (probe.waitForConnected(1000)) {
        m_ready = true;
        return;
      }
      QThread::msleep(50);
    }
  }
  ~FtpServer() {
    m_process.kill();
    m_process.waitForFinished(5000);
  }
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  bool ready() const { return m_ready; }
  int port() const { return m_port; }
  QString address() const { return QStringLiteral("ftp://127.0.0.1:%1").arg(m_port); }

  // A port nothing listens on (for the refused connection).
  static int FreePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
  }

 private:
  QProcess m_process;
  int m_port = 0;
  bool m_ready = false;
};

}  // namespace chimewise::testsupport

#pragma once
// A real FTP server (ftp_server.py) on a free port; it tells which downloads ended, and their bytes.

#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace chimewise::testsupport {

struct FtpServerOptions {
  int bytesPerSecond = 0;  // 0: full speed
  bool noSize = false;     // SIZE answers 550
};

// A download as the server ended it: to its last byte, or cut off when the client went.
struct FtpTransfer {
  bool complete = false;
  qint64 bytes = 0;  // sent to the client
};

class FtpServer {
 public:
  using Options = FtpServerOptions;

  explicit FtpServer(const QString& folder, Options options = {}) {
    m_port = FreePort();
    QStringList args = {QStringLiteral(FTP_SERVER_SCRIPT), QStringLiteral("--port"), QString::number(m_port),
                        QStringLiteral("--dir"), folder};
    if (options.bytesPerSecond) args << QStringLiteral("--bytes-per-second") << QString::number(options.bytesPerSecond);
    if (options.noSize) args << QStringLiteral("--no-size");
    args << QStringLiteral("--transfer-log") << transferLog();
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    m_process.waitForStarted(10000);
    // Ready once it accepts; until then a connection is refused at once, so wait between tries.
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
  bool ready() const { return m_ready; }
  int port() const { return m_port; }
  QString address() const { return QStringLiteral("ftp://127.0.0.1:%1").arg(m_port); }

  // The downloads of `file` (a name without blanks) the server has ended so far, oldest first.
  QList<FtpTransfer> transfers(const QString& file) const {
    QList<FtpTransfer> found;
    QFile log(transferLog());
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text)) return found;
    for (const QString& line : QString::fromUtf8(log.readAll()).split(u'\n')) {
      const QStringList parts = line.split(u' ');
      if (parts.size() == 3 && parts[0] == file) found.append({parts[1] == QLatin1String("1"), parts[2].toLongLong()});
    }
    return found;
  }

  // A port nothing listens on (for the refused connection).
  static int FreePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
  }

 private:
  QString transferLog() const { return m_logDir.filePath(QStringLiteral("transfers.log")); }

  QTemporaryDir m_logDir;
  QProcess m_process;
  int m_port = 0;
  bool m_ready = false;
};

}  // namespace chimewise::testsupport

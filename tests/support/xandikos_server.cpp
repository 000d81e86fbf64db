#include "support/xandikos_server.h"

#include "support/radicale_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>

namespace chimewise::testsupport {

namespace {
const QString kXandikos = QStringLiteral("/usr/bin/xandikos");
}

QString XandikosServer::Unavailable() {
  if (!QFileInfo(kXandikos).isExecutable())
    return QStringLiteral("%1 is missing (the Debian package xandikos)").arg(kXandikos);
  return {};
}

XandikosServer::XandikosServer() {
  for (int attempt = 0; attempt < 3 && !m_ready && m_dir.isValid(); ++attempt)
    m_ready = start(RadicaleServer::FreePort());
}

bool XandikosServer::start(int port) {
  m_port = port;
  const QString log = m_dir.filePath(QStringLiteral("log"));
  m_process.setStandardOutputFile(log, QIODevice::Append);
  m_process.setStandardErrorFile(log, QIODevice::Append);
  m_process.start(kXandikos,
                  {QStringLiteral("-d"), m_dir.filePath(QStringLiteral("store")), QStringLiteral("--defaults"),
                   QStringLiteral("-l"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port)});
  // It takes about two seconds to come up; a slow, shared machine gets thirty.
  QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired() && m_process.waitForStarted(10000) && m_process.state() == QProcess::Running) {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
    if (probe.waitForConnected(1000)) return true;
    QThread::msleep(50);
  }
  QFile f(log);
  m_error = QStringLiteral("Xandikos did not come up on port %1: %2")
                .arg(m_port)
                .arg(f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.read(64 * 1024)) : m_process.errorString());
  kill();
  return false;
}

void XandikosServer::kill() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.kill();
  m_process.waitForFinished(10000);
}

QUrl XandikosServer::url(const QString& path) const {
  QUrl url;
  url.setScheme(QStringLiteral("http"));
  url.setHost(QStringLiteral("127.0.0.1"));
  url.setPort(m_port);
  url.setPath(path);
  return url;
}

}  // namespace chimewise::testsupport

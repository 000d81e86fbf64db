#include "support/xandikos_server.h"

#include "support/radicale_server.h"

#include <QFile>
#include <QFileInfo>

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
  m_error = WaitUntilListening(m_process, m_port, log, QStringLiteral("Xandikos"));
  if (m_error.isEmpty()) return true;
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

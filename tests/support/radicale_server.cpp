#include "support/radicale_server.h"

#include <QDir>

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace chimewise::testsupport {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace

QString RadicaleServer::Unavailable() {
  if (!QFile::exists(kPython)) return QStringLiteral("%1 is missing").arg(kPython);
  QProcess probe;
  probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import radicale")});
  if (!probe.waitForFinished(20000)) {
    probe.kill();
    probe.waitForFinished(5000);
    return QStringLiteral("python3 did not answer");
  }
  if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
    return QStringLiteral("Radicale is not installed (the Debian package radicale)");
  return {};
}

int RadicaleServer::FreePort() {
  QTcpServer s;
  s.listen(QHostAddress::LocalHost, 0);
  return s.serverPort();
}

RadicaleServer::RadicaleServer(RadicaleOptions options) : m_options(std::move(options)) {
  if (!m_dir.isValid()) {
    m_error = QStringLiteral("no temporary folder");
    return;
  }
  // The free port may be taken by someone else before Radicale binds it: try again on another.
  for (int attempt = 0; attempt < 3 && !m_ready; ++attempt) m_ready = start(m_options, FreePort());
}

bool RadicaleServer::restart() {
  kill();
  m_ready = start(m_options, m_port);
  return m_ready;
}

QString RadicaleServer::storage(const QString& collectionPath) const {
  return QDir::cleanPath(m_dir.filePath(QStringLiteral("collections/collection-root/") + collectionPath));
}

bool RadicaleServer::start(const RadicaleOptions& options, int port) {
  m_port = port;
  QByteArray config = "[server]\nhosts = 127.0.0.1:" + QByteArray::number(m_port) + "\n";
  m_tls = !options.certificate.isEmpty() && !options.key.isEmpty();
  if (m_tls)
    config += "ssl = True\ncertificate = " + options.certificate.toUtf8() + "\nkey = " + options.key.toUtf8() + "\n";
  config += "\n[auth]\n";
  if (options.user.isEmpty()) {
    config += "type = none\n";
  } else {
    const QString users = m_dir.filePath(QStringLiteral("users"));
    if (!WriteFile(users, (options.user + u':' + options.password + u'\n').toUtf8())) {
      m_error = QStringLiteral("cannot write %1").arg(users);
      return false;
    }
    config += "type = htpasswd\nhtpasswd_filename = " + users.toUtf8() + "\nhtpasswd_encryption = plain\ndelay = 0\n";
  }
  config += "\n[rights]\ntype = owner_only\n\n[storage]\nfilesystem_folder = " +
            m_dir.filePath(QStringLiteral("collections")).toUtf8() +
            "\n\n[web]\ntype = none\n\n[logging]\nlevel = warning\n";
  const QString configFile = m_dir.filePath(QStringLiteral("config"));
  if (!WriteFile(configFile, config)) {
    m_error = QStringLiteral("cannot write %1").arg(configFile);
    return false;
  }
  m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
  m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
  m_process.start(kPython, {QStringLiteral("-m"), QStringLiteral("radicale"), QStringLiteral("--config"), configFile});
  if (!m_process.waitForStarted(10000)) {
    m_error = QStringLiteral("python3 did not start: %1").arg(m_process.errorString());
    return false;
  }
  // Ready once it accepts; until then a connection is refused at once. Radicale starts in about
  // a second; a slow, shared machine gets thirty.
  QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired()) {
    if (m_process.state() != QProcess::Running) break;
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
    if (probe.waitForConnected(1000)) return true;
    QThread::msleep(50);
  }
  m_error = QStringLiteral("Radicale did not come up on port %1: %2").arg(m_port).arg(log());
  kill();
  return false;
}

RadicaleServer::~RadicaleServer() { kill(); }

void RadicaleServer::kill() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.kill();
  m_process.waitForFinished(10000);
}

QUrl RadicaleServer::url(const QString& path) const {
  QUrl url;
  url.setScheme(m_tls ? QStringLiteral("https") : QStringLiteral("http"));
  url.setHost(QStringLiteral("127.0.0.1"));
  url.setPort(m_port);
  url.setPath(path);
  return url;
}

QString RadicaleServer::log() const {
  const QString path = m_dir.filePath(QStringLiteral("log"));
  if (!QFileInfo(path).isFile()) return {};
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.read(64 * 1024));
}

}  // namespace chimewise::testsupport

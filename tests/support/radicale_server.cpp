#include "support/radicale_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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
  QProcess probe;
  probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import radicale")});
  if (!probe.waitForFinished(20000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
    return QStringLiteral("%1 cannot import radicale (the Debian package radicale)").arg(kPython);
  return {};
}

int RadicaleServer::FreePort() {
  QTcpServer s;
  s.listen(QHostAddress::LocalHost, 0);
  return s.serverPort();
}

RadicaleServer::RadicaleServer(RadicaleOptions options) : m_options(std::move(options)) {
  // The free port may be taken by someone else before Radicale binds it: try again on another.
  for (int attempt = 0; attempt < 3 && !m_ready && m_dir.isValid(); ++attempt) m_ready = start(FreePort());
}

QString RadicaleServer::storage(const QString& collectionPath) const {
  return QDir::cleanPath(m_dir.filePath(QStringLiteral("collections/collection-root/") + collectionPath));
}

bool RadicaleServer::start(int port) {
  m_port = port;
  QByteArray config = "[server]\nhosts = 127.0.0.1:" + QByteArray::number(m_port) + "\n";
  if (!m_options.certificate.isEmpty())
    config +=
        "ssl = True\ncertificate = " + m_options.certificate.toUtf8() + "\nkey = " + m_options.key.toUtf8() + "\n";
  const QString users = m_dir.filePath(QStringLiteral("users"));
  if (m_options.user.isEmpty())
    config += "[auth]\ntype = none\n";
  else if (WriteFile(users, (m_options.user + u':' + m_options.password + u'\n').toUtf8()))
    config +=
        "[auth]\ntype = htpasswd\nhtpasswd_filename = " + users.toUtf8() + "\nhtpasswd_encryption = plain\ndelay = 0\n";
  config += "[rights]\ntype = owner_only\n[storage]\nfilesystem_folder = " +
            m_dir.filePath(QStringLiteral("collections")).toUtf8() +
            "\n[web]\ntype = none\n[logging]\nlevel = warning\n";
  const QString configFile = m_dir.filePath(QStringLiteral("config"));
  const QString log = m_dir.filePath(QStringLiteral("log"));
  if (!WriteFile(configFile, config)) {
    m_error = QStringLiteral("cannot write %1").arg(configFile);
    return false;
  }
  m_process.setStandardOutputFile(log, QIODevice::Append);
  m_process.setStandardErrorFile(log, QIODevice::Append);
  m_process.start(kPython, {QStringLiteral("-m"), QStringLiteral("radicale"), QStringLiteral("--config"), configFile});
  m_error = WaitUntilListening(m_process, m_port, log, QStringLiteral("Radicale"));
  if (m_error.isEmpty()) return true;
  kill();
  return false;
}

QString WaitUntilListening(QProcess& process, int port, const QString& log, const QString& name) {
  // Ready once it accepts; until then a connection is refused at once. Radicale and Xandikos start
  // in a second or two; a slow, shared machine gets thirty.
  QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired() && process.waitForStarted(10000) && process.state() == QProcess::Running) {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (probe.waitForConnected(1000)) return {};
    QThread::msleep(50);
  }
  QFile f(log);
  return QStringLiteral("%1 did not come up on port %2: %3")
      .arg(name)
      .arg(port)
      .arg(f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.read(64 * 1024)) : process.errorString());
}

void RadicaleServer::kill() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.kill();
  m_process.waitForFinished(10000);
}

QUrl RadicaleServer::url(const QString& path) const {
  QUrl url;
  url.setScheme(m_options.certificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"));
  url.setHost(QStringLiteral("127.0.0.1"));
  url.setPort(m_port);
  url.setPath(path);
  return url;
}

}  // namespace chimewise::testsupport

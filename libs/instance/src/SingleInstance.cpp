#include "instance/SingleInstance.h"

#include "instance/Channel.h"

#include <QLocalSocket>

namespace instance {

SingleInstance::SingleInstance(QString key, QObject* parent) : QObject(parent), m_key(std::move(key)) {
  connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::~SingleInstance() {
  m_server.close();
  if (m_lock) m_lock->unlock();
}

QString SingleInstance::serverName() const { return ChannelPath(m_key); }

bool SingleInstance::becomePrimary() {
  const QString name = serverName();
  m_lock = std::make_unique<QLockFile>(name.chopped(5) + QStringLiteral(".lock"));
  m_lock->setStaleLockTime(0);  // a lock whose process has died is stale, however recent
  if (!m_lock->tryLock(0)) {
    m_lock.reset();
    return false;
  }
  QLocalServer::removeServer(name);  // left behind by a crashed instance
  m_server.setSocketOptions(QLocalServer::UserAccessOption);
  m_server.listen(name);
  return true;
}

bool SingleInstance::sendToPrimary(const QString& commandLine, int timeoutMs) const {
  return SendToRunning(m_key, commandLine, timeoutMs);
}

void SingleInstance::onNewConnection() {
  while (QLocalSocket* s = m_server.nextPendingConnection()) {
    connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    connect(s, &QLocalSocket::readyRead, this, [this, s] {
      while (s->canReadLine()) {
        const QByteArray line = s->readLine(64 * 1024).trimmed();
        emit commandLineReceived(QString::fromUtf8(line));
      }
      if (s->bytesAvailable() > 64 * 1024) s->abort();  // nobody sends that much: not one of ours
    });
  }
}

}  // namespace instance

#include "instance/single_instance.h"

#include "instance/channel.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace instance {

namespace {
// Nobody sends a line that long: a connection that does is not one of ours.
constexpr qsizetype kMaxLine = 64 * 1024;
}  // namespace

SingleInstance::SingleInstance(QString key, QObject* parent) : QObject(parent), m_key(std::move(key)) {}

SingleInstance::~SingleInstance() {
  while (!m_connections.empty()) closeConnection(m_connections.begin()->first);
  if (m_listener >= 0) {
    delete m_listening;
    ::close(m_listener);
    QFile::remove(serverName());
  }
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
  const QByteArray path = QFile::encodeName(name);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (size_t(path.size()) >= sizeof address.sun_path) return true;  // primary, but no one can reach it
  std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
  ::unlink(path.constData());  // left behind by a crashed instance
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return true;
  // Only this user may talk to the instance: the socket is made with no access for others.
  const mode_t old = ::umask(0077);
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(old);
  if (!bound || ::listen(fd, 16) != 0) {
    ::close(fd);
    return true;
  }
  m_listener = fd;
  m_listening = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(m_listening, &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
  return true;
}

bool SingleInstance::sendToPrimary(const QString& commandLine, int timeoutMs) const {
  return SendToRunning(m_key, commandLine, timeoutMs);
}

void SingleInstance::onNewConnection() {
  for (;;) {
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: nobody else waiting; anything else: tried again when told
    }
    Connection& c = m_connections[fd];
    c.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(c.notifier, &QSocketNotifier::activated, this, [this, fd] { onReadable(fd); });
  }
}

void SingleInstance::onReadable(int fd) {
  auto it = m_connections.find(fd);
  if (it == m_connections.end()) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      QByteArray& pending = it->second.pending;
      pending.append(buffer, n);
      qsizetype end;
      while ((end = pending.indexOf('\n')) >= 0) {
        const QByteArray line = pending.left(end).trimmed();
        pending.remove(0, end + 1);
        emit commandLineReceived(QString::fromUtf8(line));
        // A handler may have ended this instance's listening; the connection may be gone.
        it = m_connections.find(fd);
        if (it == m_connections.end()) return;
      }
      if (it->second.pending.size() > kMaxLine) {
        closeConnection(fd);
        return;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // The sender is done (or gone): a last line without its line end still counts.
    const QByteArray rest = it->second.pending.trimmed();
    closeConnection(fd);
    if (!rest.isEmpty()) emit commandLineReceived(QString::fromUtf8(rest));
    return;
  }
}

void SingleInstance::closeConnection(int fd) {
  auto it = m_connections.find(fd);
  if (it == m_connections.end()) return;
  // Called from the notifier's own signal: it goes once that is over.
  it->second.notifier->setEnabled(false);
  it->second.notifier->deleteLater();
  ::close(fd);
  m_connections.erase(it);
}

}  // namespace instance

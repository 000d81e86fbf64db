#include "instance/channel.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace instance {

namespace {

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, int(deadline.remainingTime()));
    if (r > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0 || (p.revents & events);
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

QString ChannelPath(const QString& key) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return dir + u'/' + key + QStringLiteral(".sock");
}

bool SendToRunning(const QString& key, const QString& commandLine, int timeoutMs) {
  const QDeadlineTimer deadline(std::max(0, timeoutMs));
  const QByteArray path = QFile::encodeName(ChannelPath(key));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (size_t(path.size()) >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

  const Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.get() < 0) return false;
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // A listener with a full backlog answers EAGAIN; anything else means nobody listens.
    if (errno != EAGAIN && errno != EINPROGRESS) return false;
    if (!WaitFor(socket.get(), POLLOUT, deadline)) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  QByteArray payload = commandLine.toUtf8();
  payload.replace('\n', ' ');
  payload += '\n';
  qsizetype sent = 0;
  while (sent < payload.size()) {
    const ssize_t n = ::send(socket.get(), payload.constData() + sent, size_t(payload.size() - sent), MSG_NOSIGNAL);
    if (n > 0) {
      sent += n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(socket.get(), POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace instance

#pragma once
// A tiny HTTP server on 127.0.0.1 for answers no real server gives: every connection gets the same
// scripted answer (cut short, oversized, malformed, or silence) and is closed. Runs on a thread of
// its own, joined when the object goes; keeps the head of each request it read.

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace chimewise::testsupport {

struct ScriptedAnswer {
  QByteArray head;       // sent as it is (with {PORT} the server's port): status line, headers, blank line, body
  qint64 fillBytes = 0;  // then this many bytes of 'x' (stopped early when the client goes)
  bool silent = false;   // instead: each connection is taken and held, never read or answered
};

class ScriptedHttpServer {
 public:
  explicit ScriptedHttpServer(ScriptedAnswer answer) : m_answer(std::move(answer)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    m_port = ntohs(address.sin_port);
    m_answer.head.replace("{PORT}", QByteArray::number(m_port));
    m_thread = std::thread([this] { serve(); });
  }
  ~ScriptedHttpServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener >= 0) ::close(m_listener);
  }
  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

  bool ready() const { return m_port != 0; }
  QUrl url(const QString& path = QStringLiteral("/")) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
  }
  int connections() const { return m_connections; }
  QList<QByteArray> requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
  }

 private:
  void serve() {
    std::vector<int> held;
    while (!m_stop) {
      pollfd p{m_listener, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++m_connections;
      if (m_answer.silent) {
        held.push_back(client);
        continue;
      }
      answer(client);
      ::close(client);
    }
    for (const int client : held) ::close(client);
  }

  void answer(int client) {
    // The request's head and as much of its body as its Content-Length says (bounded).
    QByteArray request;
    char buffer[16384];
    qsizetype headEnd = -1;
    qint64 bodyLength = 0;
    while (!m_stop && request.size() < (1 << 20)) {
      if (headEnd >= 0 && request.size() >= headEnd + 4 + bodyLength) break;
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, n);
      if (headEnd < 0 && (headEnd = request.indexOf("\r\n\r\n")) >= 0) {
        for (const QByteArray& line : request.left(headEnd).split('\n'))
          if (line.toLower().startsWith("content-length:")) bodyLength = line.mid(15).trimmed().toLongLong();
      }
    }
    {
      std::lock_guard lock(m_mutex);
      m_requests << request.left(headEnd);
    }
    if (!sendAll(client, m_answer.head.constData(), m_answer.head.size())) return;
    const QByteArray fill(64 * 1024, 'x');
    for (qint64 left = m_answer.fillBytes; left > 0 && !m_stop;) {
      const qint64 n = qMin<qint64>(left, fill.size());
      if (!sendAll(client, fill.constData(), n)) return;
      left -= n;
    }
  }

  static bool sendAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= n;
    }
    return true;
  }

  ScriptedAnswer m_answer;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_connections{0};
  mutable std::mutex m_mutex;
  QList<QByteArray> m_requests;
  std::thread m_thread;
};

}  // namespace chimewise::testsupport

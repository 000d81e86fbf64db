#pragma once
// An IMAP server on 127.0.0.1 that misbehaves in the one way it was made for, a thread per connection;
// what it sent is counted, so a test can prove the fault was offered.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

class ScriptedImapServer {
 public:
  enum class Fault {
    None,          // one unseen message, answered properly
    Flood,         // endless untagged lines after the greeting
    DripGreeting,  // the greeting one byte at a time, slowly
    HugeLiteral,   // the first FETCH answer announces a 4 GB literal, then floods it
    AbsurdExists,  // 4,000,000,000 messages in the inbox
    AbsurdUnseen,  // one message, 2^31 of them unseen
    DeepNesting,   // the first FETCH answer carries a BODYSTRUCTURE nested 100,000 deep
  };

  explicit ScriptedImapServer(Fault fault) : m_fault(fault) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 4);
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { serve(); });
  }
  ~ScriptedImapServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
  }
  int port() const { return m_port; }
  long long bytesSent() const { return m_sent; }

 private:
  bool send(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size() && !m_stop) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
      m_sent += n;
    }
    return !m_stop;
  }

  bool readLine(int fd, std::string& buffer, std::string& line) {
    while (true) {
      const size_t nl = buffer.find('\n');
      if (nl != std::string::npos) {
        line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      if (m_stop) return false;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer.append(chunk, static_cast<size_t>(n));
    }
  }

  void flood(int fd, const std::string& unit) {
    while (send(fd, unit)) continue;
  }

  void converse(int fd) {
    if (m_fault == Fault::DripGreeting) {
      for (char c : std::string("* OK IMAP4rev1 ready\r\n")) {
        if (!send(fd, std::string(1, c))) return;
        for (int i = 0; i < 5 && !m_stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    } else if (!send(fd, "* OK IMAP4rev1 ready\r\n")) {
      return;
    }
    if (m_fault == Fault::Flood) return flood(fd, "* OK " + std::string(1000, 'x') + "\r\n");
    std::string buffer, line;
    while (readLine(fd, buffer, line)) {
      const size_t sp = line.find(' ');
      const std::string tag = line.substr(0, sp);
      std::string command = sp == std::string::npos ? std::string() : line.substr(sp + 1);
      command = command.substr(0, command.find(' '));
      for (char& c : command) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
      const std::string done = tag + " OK done\r\n";
      std::string reply = done;
      if (command == "CAPABILITY") {
        reply = "* CAPABILITY IMAP4rev1\r\n" + done;
      } else if (command == "LIST") {
        reply = "* LIST (\\Noselect) \"/\" \"\"\r\n" + done;
      } else if (command == "STARTTLS") {
        reply = tag + " NO not here\r\n";
      } else if (command == "SELECT" || command == "EXAMINE") {
        reply = std::string("* ") + (m_fault == Fault::AbsurdExists ? "4000000000" : "1") +
                " EXISTS\r\n* 0 RECENT\r\n* FLAGS (\\Seen)\r\n" + done;
      } else if (command == "STATUS") {
        reply = std::string("* STATUS INBOX (MESSAGES 1 UNSEEN ") +
                (m_fault == Fault::AbsurdUnseen ? "2147483648" : "1") + ")\r\n" + done;
      } else if (command == "FETCH" || command == "UID") {
        if (m_fault == Fault::DeepNesting) {
          send(fd, "* 1 FETCH (UID 1 FLAGS () BODYSTRUCTURE " + std::string(100000, '(') + "\r\n");
          return;  // and gone
        }
        if (m_fault == Fault::HugeLiteral) {
          if (send(fd, "* 1 FETCH (UID 1 RFC822.SIZE 100 FLAGS () BODY[HEADER] {4000000000}\r\n"))
            flood(fd, std::string(65536, 'y'));
          return;
        }
        reply = "* 1 FETCH (UID 1 RFC822.SIZE 60 FLAGS ())\r\n" + done;
      } else if (command == "LOGOUT") {
        return (void)send(fd, "* BYE\r\n" + done);
      }
      if (!send(fd, reply)) return;
    }
  }

  void serve() {
    while (!m_stop) {
      pollfd p{m_listen, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int fd = ::accept(m_listen, nullptr, nullptr);
      if (fd < 0) continue;
      // The client opens a second connection for the folder while the first stays open.
      m_sessions.emplace_back([this, fd] {
        converse(fd);
        ::close(fd);
      });
    }
    for (std::thread& t : m_sessions) t.join();
  }

  Fault m_fault;
  int m_listen = -1, m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<long long> m_sent{0};
  std::vector<std::thread> m_sessions;
  std::thread m_thread;
};

}  // namespace testsupport

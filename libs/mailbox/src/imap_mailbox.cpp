// The INBOX of an IMAP account through vmime. Counting asks the server for the folder's unseen
// count; messages are fetched with peek, so reading them leaves them unseen.

#include "mailbox/mailbox.h"
#include "vmime_setup.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <limits>
#include <memory>
#include <vmime/security/cert/certificateException.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>
#include <vmime/security/cert/serverIdentityException.hpp>
#include <vmime/vmime.hpp>

namespace mailbox {

namespace {

// What one mail check may spend: time from the start, bytes received, and the largest literal a
// server may announce. Shared by the session's timeout handlers, its sockets and its tracer, so
// whichever sees the limit first stops the exchange; once spent, every further read fails at
// once (closing the session must not wait on a hostile server either). Stopping throws: the
// library's socket and tracer calls have no other way to fail, and the exception goes no further
// than the calls in this file that drive the session, where `spent` words it as a Failure.
struct Budget {
  enum Spent { None, Time, Bytes, Literal, Count, Nesting };
  std::chrono::steady_clock::time_point deadline;
  qint64 maxBytes = 0;
  std::atomic<qint64> received{0};
  std::atomic<int> spent{None};
  std::atomic<qint64> announced{0};  // the literal or count that was refused

  bool overTime() const { return std::chrono::steady_clock::now() > deadline; }
  [[noreturn]] void stop(Spent why) {
    int none = None;
    spent.compare_exchange_strong(none, why);
    throw vmime::exceptions::operation_timed_out();
  }
  void check() {
    if (spent != None) throw vmime::exceptions::operation_timed_out();
    if (overTime()) stop(Time);
  }
};

// The longest silence is the account's timeout; the whole exchange ends with the budget.
class Timeout final : public vmime::net::timeoutHandler {
 public:
  Timeout(int seconds, std::shared_ptr<Budget> budget) : m_limit(seconds), m_budget(std::move(budget)) {
    resetTimeOut();
  }
  bool isTimeOut() override {
    if (m_budget->spent != Budget::None) return true;
    if (m_budget->overTime()) {
      int none = Budget::None;
      m_budget->spent.compare_exchange_strong(none, Budget::Time);
      return true;
    }
    return std::chrono::steady_clock::now() - m_start > m_limit;
  }
  void resetTimeOut() override { m_start = std::chrono::steady_clock::now(); }
  bool handleTimeOut() override { return false; }  // give up

 private:
  std::chrono::seconds m_limit;
  std::chrono::steady_clock::time_point m_start;
  std::shared_ptr<Budget> m_budget;
};

class TimeoutFactory final : public vmime::net::timeoutHandlerFactory {
 public:
  TimeoutFactory(int seconds, std::shared_ptr<Budget> budget) : m_seconds(seconds), m_budget(std::move(budget)) {}
  vmime::shared_ptr<vmime::net::timeoutHandler> create() override {
    return vmime::make_shared<Timeout>(m_seconds, m_budget);
  }

 private:
  int m_seconds;
  std::shared_ptr<Budget> m_budget;
};

// The connection's socket, counting what it receives against the budget. Under TLS it sits below
// the encryption and counts the bytes on the wire. Waits are cut into short slices so the time
// budget is looked at even while the server says nothing.
class BudgetSocket final : public vmime::net::socket {
 public:
  BudgetSocket(vmime::shared_ptr<vmime::net::socket> inner, std::shared_ptr<Budget> budget)
      : m_inner(std::move(inner)), m_budget(std::move(budget)) {}
  void connect(const vmime::string& address, const vmime::port_t port) override {
    m_budget->check();
    m_inner->connect(address, port);
  }
  void disconnect() override { m_inner->disconnect(); }
  bool isConnected() const override { return m_inner->isConnected(); }
  bool waitForRead(const int msecs) override { return m_inner->waitForRead(std::min(msecs, 500)); }
  bool waitForWrite(const int msecs) override { return m_inner->waitForWrite(std::min(msecs, 500)); }
  void receive(vmime::string& buffer) override {
    m_budget->check();
    m_inner->receive(buffer);
    count(buffer.size());
  }
  size_t receiveRaw(vmime::byte_t* buffer, const size_t n) override {
    m_budget->check();
    const size_t got = m_inner->receiveRaw(buffer, n);
    count(got);
    return got;
  }
  void send(const vmime::string& buffer) override { m_inner->send(buffer); }
  void send(const char* str) override { m_inner->send(str); }
  void sendRaw(const vmime::byte_t* buffer, const size_t n) override { m_inner->sendRaw(buffer, n); }
  size_t sendRawNonBlocking(const vmime::byte_t* buffer, const size_t n) override {
    return m_inner->sendRawNonBlocking(buffer, n);
  }
  size_t getBlockSize() const override { return m_inner->getBlockSize(); }
  unsigned int getStatus() const override { return m_inner->getStatus(); }
  const vmime::string getPeerName() const override { return m_inner->getPeerName(); }
  const vmime::string getPeerAddress() const override { return m_inner->getPeerAddress(); }
  vmime::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override { return m_inner->getTimeoutHandler(); }
  void setTracer(vmime::shared_ptr<vmime::net::tracer> tracer) override { m_inner->setTracer(tracer); }
  vmime::shared_ptr<vmime::net::tracer> getTracer() override { return m_inner->getTracer(); }

 private:
  void count(size_t n) {
    if (m_budget->received.fetch_add(static_cast<qint64>(n)) + static_cast<qint64>(n) > m_budget->maxBytes)
      m_budget->stop(Budget::Bytes);
  }
  vmime::shared_ptr<vmime::net::socket> m_inner;
  std::shared_ptr<Budget> m_budget;
};

class BudgetSocketFactory final : public vmime::net::socketFactory {
 public:
  BudgetSocketFactory(vmime::shared_ptr<vmime::net::socketFactory> inner, std::shared_ptr<Budget> budget)
      : m_inner(std::move(inner)), m_budget(std::move(budget)) {}
  vmime::shared_ptr<vmime::net::socket> create() override {
    return vmime::make_shared<BudgetSocket>(m_inner->create(), m_budget);
  }
  vmime::shared_ptr<vmime::net::socket> create(vmime::shared_ptr<vmime::net::timeoutHandler> th) override {
    return vmime::make_shared<BudgetSocket>(m_inner->create(th), m_budget);
  }

 private:
  vmime::shared_ptr<vmime::net::socketFactory> m_inner;
  std::shared_ptr<Budget> m_budget;
};

// Sees each response line before the parser reads what it announces: a literal ("{N}" at the end
// of a line, RFC 3501 4.3) larger than any message read is refused before a byte of it is held,
// and so are a message number larger than any mailbox holds and lists nested past all reason.
class LiteralGuard final : public vmime::net::tracer {
 public:
  explicit LiteralGuard(std::shared_ptr<Budget> budget) : m_budget(std::move(budget)) {}
  void traceSend(const vmime::string&) override {}
  void traceReceive(const vmime::string& line) override {
    checkCount(line);
    checkNesting(line);
    if (line.empty() || line.back() != '}') return;
    const size_t open = line.rfind('{');
    if (open == vmime::string::npos) return;
    std::string digits = line.substr(open + 1, line.size() - open - 2);
    if (!digits.empty() && digits.back() == '+') digits.pop_back();  // LITERAL+
    if (digits.empty() || digits.size() > 18 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) return;
    const qint64 size = std::stoll(digits);
    // A header or a whole message, with room for the response around it.
    if (size > kMaxMessageBytes + 65536) {
      m_budget->announced = size;
      m_budget->stop(Budget::Literal);
    }
  }

 private:
  // "* 4000000000 EXISTS": the library would make room for every message it announces before
  // a byte more is read, so a message number no mailbox reaches is refused on sight.
  void checkCount(const vmime::string& line) {
    if (line.size() < 3 || line[0] != '*' || line[1] != ' ' || !::isdigit(static_cast<unsigned char>(line[2]))) return;
    size_t end = 2;
    while (end < line.size() && end < 24 && ::isdigit(static_cast<unsigned char>(line[end]))) ++end;
    const qint64 n = end - 2 > 18 ? std::numeric_limits<qint64>::max() : std::stoll(line.substr(2, end - 2));
    if (n > kMaxMailboxMessages) {
      m_budget->announced = n;
      m_budget->stop(Budget::Count);
    }
  }

  // The library parses parenthesised lists (a BODYSTRUCTURE) by recursion: a server nesting
  // them without end would exhaust the stack. A response goes on across the lines that follow a
  // literal; anything else starts a new one.
  void checkNesting(const vmime::string& line) {
    constexpr int kDeepest = 64;
    if (!m_continued) m_depth = 0;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (quoted) {
        if (c == '\\')
          ++i;
        else if (c == '"')
          quoted = false;
      } else if (c == '"') {
        quoted = true;
      } else if (c == '(') {
        if (++m_depth > kDeepest) m_budget->stop(Budget::Nesting);
      } else if (c == ')' && m_depth > 0) {
        --m_depth;
      }
    }
    m_continued = !line.empty() && line.back() == '}';
  }

  std::shared_ptr<Budget> m_budget;
  int m_depth = 0;
  bool m_continued = false;
};

class LiteralGuardFactory final : public vmime::net::tracerFactory {
 public:
  explicit LiteralGuardFactory(std::shared_ptr<Budget> budget) : m_budget(std::move(budget)) {}
  vmime::shared_ptr<vmime::net::tracer> create(vmime::shared_ptr<vmime::net::service>, const int) override {
    return vmime::make_shared<LiteralGuard>(m_budget);
  }

 private:
  std::shared_ptr<Budget> m_budget;
};

// The system's trusted authorities, for checking the server's certificate.
std::vector<vmime::shared_ptr<vmime::security::cert::X509Certificate>> SystemRootCertificates() {
  std::vector<vmime::shared_ptr<vmime::security::cert::X509Certificate>> roots;
  QFile f(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"));
  if (!f.open(QIODevice::ReadOnly)) return roots;
  const QByteArray all = f.readAll();
  static const QByteArray begin = "-----BEGIN CERTIFICATE-----";
  static const QByteArray end = "-----END CERTIFICATE-----";
  for (qsizetype at = all.indexOf(begin); at >= 0; at = all.indexOf(begin, at + 1)) {
    const qsizetype stop = all.indexOf(end, at);
    if (stop < 0) break;
    const QByteArray pem = all.mid(at, stop + end.size() - at);
    try {
      if (auto cert = vmime::security::cert::X509Certificate::import(
              reinterpret_cast<const vmime::byte_t*>(pem.constData()), static_cast<size_t>(pem.size())))
        roots.push_back(cert);
    } catch (const std::exception&) {
    }
  }
  return roots;
}

Failure FailureOf(const std::exception& e, const ImapAccount& account) {
  const QString what = QString::fromUtf8(e.what());
  if (dynamic_cast<const vmime::exceptions::authentication_error*>(&e) ||
      dynamic_cast<const vmime::exceptions::authentication_exception*>(&e) ||
      dynamic_cast<const vmime::exceptions::no_auth_information*>(&e))
    return {FailureKind::LoginRefused, QStringLiteral("the server refused the user name or password")};
  if (dynamic_cast<const vmime::exceptions::operation_timed_out*>(&e))
    return {FailureKind::Unreachable, QStringLiteral("the server %1 did not answer in time").arg(account.host)};
  if (dynamic_cast<const vmime::security::cert::serverIdentityException*>(&e))
    return {FailureKind::Insecure, QStringLiteral("the server's certificate is not made out to %1").arg(account.host)};
  if (dynamic_cast<const vmime::security::cert::certificateException*>(&e))
    return {FailureKind::Insecure, QStringLiteral("the server's certificate cannot be trusted")};
  if (dynamic_cast<const vmime::exceptions::tls_exception*>(&e))
    return {FailureKind::Insecure, QStringLiteral("no secure connection could be made to %1").arg(account.host)};
  if (dynamic_cast<const vmime::exceptions::command_error*>(&e) && what.contains(QStringLiteral("STARTTLS")))
    return {FailureKind::Insecure, QStringLiteral("the server %1 offers no secure connection").arg(account.host)};
  if (dynamic_cast<const vmime::exceptions::connection_error*>(&e) ||
      dynamic_cast<const vmime::exceptions::socket_exception*>(&e) ||
      dynamic_cast<const vmime::exceptions::connection_greeting_error*>(&e) ||
      dynamic_cast<const vmime::exceptions::not_connected*>(&e))
    return {FailureKind::Unreachable, QStringLiteral("the server %1 could not be reached").arg(account.host)};
  if (dynamic_cast<const vmime::exceptions::folder_not_found*>(&e))
    return {FailureKind::NotFound, QStringLiteral("the account has no inbox")};
  // The library's own wording (and the server's, inside it) is no sentence for the user.
  return {FailureKind::Other, QStringLiteral("the server %1 answered with an error").arg(account.host)};
}

// Why the budget stopped the exchange, when it did.
std::optional<Failure> BudgetFailure(const Budget& budget, const ImapAccount& account) {
  switch (budget.spent.load()) {
    case Budget::None: return std::nullopt;
    case Budget::Time:
      return Failure{FailureKind::Unreachable,
                     QStringLiteral("the server %1 took longer than %2 seconds to give the mail")
                         .arg(account.host)
                         .arg(account.totalSeconds)};
    case Budget::Bytes:
      return Failure{FailureKind::Protocol, QStringLiteral("the server %1 sent more than %2 megabytes")
                                                .arg(account.host)
                                                .arg(account.maxBytes / (1024 * 1024))};
    case Budget::Literal:
      return Failure{FailureKind::Protocol, QStringLiteral("the server %1 announced a message of %2 bytes")
                                                .arg(account.host)
                                                .arg(budget.announced.load())};
    case Budget::Count:
      return Failure{FailureKind::Protocol,
                     QStringLiteral("the server %1 claimed %2 messages, more than any mailbox holds")
                         .arg(account.host)
                         .arg(budget.announced.load())};
    case Budget::Nesting:
      return Failure{FailureKind::Protocol,
                     QStringLiteral("the server %1 sent an answer nested too deeply").arg(account.host)};
  }
  return std::nullopt;
}

class ImapMailbox final : public Mailbox {
 public:
  explicit ImapMailbox(ImapAccount account) : m_account(std::move(account)), m_budget(std::make_shared<Budget>()) {
    m_budget->maxBytes = m_account.maxBytes;
  }
  ~ImapMailbox() override {
    // Each step on its own: after a failed check the server may be gone or the budget spent.
    try {
      if (m_folder && m_folder->isOpen()) m_folder->close(false);
    } catch (const std::exception&) {
    }
    try {
      if (m_store && m_store->isConnected()) m_store->disconnect();
    } catch (const std::exception&) {
    }
    release();
  }

  Failure Open() override {
    if (m_store && m_store->isConnected()) return {};
    detail::EnsureVmime();
    // The check's budget runs from the first time the server is asked.
    if (m_budget->deadline == std::chrono::steady_clock::time_point())
      m_budget->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_account.totalSeconds);
    try {
      auto session = vmime::net::session::create();
      const int port = m_account.port > 0 ? m_account.port : (m_account.implicitTls ? 993 : 143);
      const vmime::utility::url url(m_account.implicitTls ? "imaps" : "imap", m_account.host.toStdString(),
                                    static_cast<vmime::port_t>(port), "", m_account.user.toStdString(),
                                    m_account.password.toStdString());
      m_store = session->getStore(url);
      // The plain LOGIN command, inside TLS: one attempt, where trying each SASL mechanism in turn
      // makes a refused password take seconds to be known.
      m_store->setProperty("options.sasl", false);
      if (!m_account.implicitTls) {
        m_store->setProperty("connection.tls", true);
        m_store->setProperty("connection.tls.required", !m_account.allowPlain);
      }
      auto verifier = vmime::make_shared<vmime::security::cert::defaultCertificateVerifier>();
      verifier->setX509RootCAs(SystemRootCertificates());
      m_store->setCertificateVerifier(verifier);
      m_store->setTimeoutHandlerFactory(vmime::make_shared<TimeoutFactory>(m_account.timeoutSeconds, m_budget));
      m_store->setSocketFactory(vmime::make_shared<BudgetSocketFactory>(m_store->getSocketFactory(), m_budget));
      m_store->setTracerFactory(vmime::make_shared<LiteralGuardFactory>(m_budget));
      m_store->connect();
      m_folder = m_store->getDefaultFolder();
      m_folder->open(vmime::net::folder::MODE_READ_WRITE);
      return {};
    } catch (const std::exception& e) {
      release();
      return failureOf(e);
    }
  }

  std::optional<int> UnseenCount(Failure* failure) override {
    if (Failure f = Open(); !f.ok()) return fail(failure, f);
    try {
      size_t count = 0, unseen = 0;
      m_folder->status(count, unseen);
      if (unseen > static_cast<size_t>(kMaxMailboxMessages)) refuseCount(unseen);
      return static_cast<int>(unseen);
    } catch (const std::exception& e) {
      return fail(failure, failureOf(e));
    }
  }

  std::optional<std::vector<MailMessage>> UnseenMessages(Failure* failure, const QDateTime& onlyAfter) override {
    if (Failure f = Open(); !f.ok()) return fail(failure, f);
    try {
      std::vector<MailMessage> out;
      const size_t total = m_folder->getMessageCount();
      if (total > static_cast<size_t>(kMaxMailboxMessages)) refuseCount(total);
      // In slices, so what is held at a time does not grow with the mailbox.
      constexpr size_t kSlice = 1000;
      for (size_t first = 1; first <= total; first += kSlice) {
        const size_t last = std::min(total, first + kSlice - 1);
        auto messages = m_folder->getMessages(vmime::net::messageSet::byNumber(first, last));
        m_folder->fetchMessages(messages, vmime::net::fetchAttributes::FLAGS | vmime::net::fetchAttributes::UID |
                                              vmime::net::fetchAttributes::SIZE |
                                              (onlyAfter.isValid() ? vmime::net::fetchAttributes::FULL_HEADER : 0));
        for (const auto& msg : messages) {
          if (msg->getFlags() & vmime::net::message::FLAG_SEEN) continue;
          out.push_back(read(*msg, onlyAfter));
        }
      }
      return out;
    } catch (const std::exception& e) {
      return fail(failure, failureOf(e));
    }
  }

  Failure MarkSeen(const QStringList& ids) override {
    if (ids.isEmpty()) return {};
    if (Failure f = Open(); !f.ok()) return f;
    try {
      for (const QString& id : ids)
        m_folder->setMessageFlags(vmime::net::messageSet::byUID(id.toStdString()), vmime::net::message::FLAG_SEEN,
                                  vmime::net::message::FLAG_MODE_ADD);
      return {};
    } catch (const std::exception& e) {
      return failureOf(e);
    }
  }

 private:
  MailMessage read(vmime::net::message& msg, const QDateTime& onlyAfter) {
    MailMessage m;
    if (onlyAfter.isValid()) {
      // The header tells when the message came; only the newer ones are fetched whole.
      const MailMessage head = ParseMessage(QByteArray::fromStdString(msg.getHeader()->generate()) + "\r\n");
      m.received = head.received.isValid() ? head.received : head.sent;
    }
    if (onlyAfter.isValid() && m.received.isValid() && m.received <= onlyAfter) {
      // Not wanted: known by its time alone.
    } else if (msg.getSize() > static_cast<size_t>(kMaxMessageBytes)) {
      m.problem = QStringLiteral("it is too large to read");
    } else {
      std::string raw;
      vmime::utility::outputStreamStringAdapter os(raw);
      msg.extract(os, nullptr, 0, static_cast<size_t>(-1), true);  // peek: stays unseen
      m = ParseMessage(QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
    }
    m.id = QString::fromStdString(static_cast<std::string>(msg.getUID()));
    m.seen = false;
    // Without a Received field the Date stands in; without either the time stays unknown.
    if (!m.received.isValid()) m.received = m.sent;
    return m;
  }

  // The store goes before its folder: a store still connected tells the folders it knows of that
  // it disconnects, and a folder holds the store only weakly.
  void release() {
    m_store.reset();
    m_folder.reset();
  }

  [[noreturn]] void refuseCount(size_t count) {
    m_budget->announced = static_cast<qint64>(count);
    m_budget->stop(Budget::Count);
  }

  Failure failureOf(const std::exception& e) const {
    if (auto spent = BudgetFailure(*m_budget, m_account)) return *spent;
    return FailureOf(e, m_account);
  }

  static std::nullopt_t fail(Failure* out, const Failure& f) {
    if (out) *out = f;
    return std::nullopt;
  }

  ImapAccount m_account;
  std::shared_ptr<Budget> m_budget;
  vmime::shared_ptr<vmime::net::store> m_store;
  vmime::shared_ptr<vmime::net::folder> m_folder;
};

}  // namespace

std::unique_ptr<Mailbox> OpenImap(const ImapAccount& account) { return std::make_unique<ImapMailbox>(account); }

}  // namespace mailbox

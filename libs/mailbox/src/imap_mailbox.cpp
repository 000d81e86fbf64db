// The INBOX of an IMAP account through vmime. Counting asks the server for the folder's unseen
// count; messages are fetched with peek, so reading them leaves them unseen.

#include "mailbox/mailbox.h"
#include "vmime_setup.h"

#include <QFile>
#include <QTimeZone>
#include <chrono>
#include <vmime/security/cert/certificateException.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>
#include <vmime/security/cert/serverIdentityException.hpp>
#include <vmime/vmime.hpp>

namespace mailbox {

namespace {

class Timeout final : public vmime::net::timeoutHandler {
 public:
  explicit Timeout(int seconds) : m_limit(seconds) { resetTimeOut(); }
  bool isTimeOut() override { return std::chrono::steady_clock::now() - m_start > m_limit; }
  void resetTimeOut() override { m_start = std::chrono::steady_clock::now(); }
  bool handleTimeOut() override { return false; }  // give up

 private:
  std::chrono::seconds m_limit;
  std::chrono::steady_clock::time_point m_start;
};

class TimeoutFactory final : public vmime::net::timeoutHandlerFactory {
 public:
  explicit TimeoutFactory(int seconds) : m_seconds(seconds) {}
  vmime::shared_ptr<vmime::net::timeoutHandler> create() override { return vmime::make_shared<Timeout>(m_seconds); }

 private:
  int m_seconds;
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
  return {FailureKind::Other, QStringLiteral("the server %1 answered with an error (%2)").arg(account.host, what)};
}

class ImapMailbox final : public Mailbox {
 public:
  explicit ImapMailbox(ImapAccount account) : m_account(std::move(account)) {}
  ~ImapMailbox() override {
    try {
      if (m_folder && m_folder->isOpen()) m_folder->close(false);
      if (m_store && m_store->isConnected()) m_store->disconnect();
    } catch (const std::exception&) {
    }
  }

  Failure Open() override {
    if (m_store && m_store->isConnected()) return {};
    detail::EnsureVmime();
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
      m_store->setTimeoutHandlerFactory(vmime::make_shared<TimeoutFactory>(m_account.timeoutSeconds));
      m_store->connect();
      m_folder = m_store->getDefaultFolder();
      m_folder->open(vmime::net::folder::MODE_READ_WRITE);
      return {};
    } catch (const std::exception& e) {
      m_folder.reset();
      m_store.reset();
      return FailureOf(e, m_account);
    }
  }

  std::optional<int> UnseenCount(Failure* failure) override {
    if (Failure f = Open(); !f.ok()) return fail(failure, f);
    try {
      size_t count = 0, unseen = 0;
      m_folder->status(count, unseen);
      return static_cast<int>(unseen);
    } catch (const std::exception& e) {
      return fail(failure, FailureOf(e, m_account));
    }
  }

  std::optional<std::vector<MailMessage>> UnseenMessages(Failure* failure, const QDateTime& onlyAfter) override {
    if (Failure f = Open(); !f.ok()) return fail(failure, f);
    try {
      std::vector<MailMessage> out;
      if (m_folder->getMessageCount() == 0) return out;
      auto messages = m_folder->getMessages(vmime::net::messageSet::byNumber(1, -1));
      m_folder->fetchMessages(messages, vmime::net::fetchAttributes::FLAGS | vmime::net::fetchAttributes::UID |
                                            vmime::net::fetchAttributes::SIZE |
                                            (onlyAfter.isValid() ? vmime::net::fetchAttributes::FULL_HEADER : 0));
      for (const auto& msg : messages) {
        if (msg->getFlags() & vmime::net::message::FLAG_SEEN) continue;
        MailMessage m;
        if (onlyAfter.isValid()) {
          // The header tells when the message came; only the newer ones are fetched whole.
          const MailMessage head = ParseMessage(QByteArray::fromStdString(msg->getHeader()->generate()) + "\r\n");
          m.received = head.received.isValid() ? head.received : head.sent;
        }
        if (onlyAfter.isValid() && m.received.isValid() && m.received <= onlyAfter) {
          // Not wanted: known by its time alone.
        } else if (msg->getSize() > static_cast<size_t>(kMaxMessageBytes)) {
          m.problem = QStringLiteral("it is too large to read");
        } else {
          std::string raw;
          vmime::utility::outputStreamStringAdapter os(raw);
          msg->extract(os, nullptr, 0, static_cast<size_t>(-1), true);  // peek: stays unseen
          m = ParseMessage(QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
        }
        m.id = QString::fromStdString(static_cast<std::string>(msg->getUID()));
        m.seen = false;
        if (!m.received.isValid()) m.received = m.sent;
        // Without a date of its own a message counts as just come, so it is never passed over.
        if (!m.received.isValid()) m.received = QDateTime::currentDateTime();
        out.push_back(std::move(m));
      }
      return out;
    } catch (const std::exception& e) {
      return fail(failure, FailureOf(e, m_account));
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
      return FailureOf(e, m_account);
    }
  }

 private:
  static std::nullopt_t fail(Failure* out, const Failure& f) {
    if (out) *out = f;
    return std::nullopt;
  }

  ImapAccount m_account;
  vmime::shared_ptr<vmime::net::store> m_store;
  vmime::shared_ptr<vmime::net::folder> m_folder;
};

}  // namespace

std::unique_ptr<Mailbox> OpenImap(const ImapAccount& account) { return std::make_unique<ImapMailbox>(account); }

}  // namespace mailbox

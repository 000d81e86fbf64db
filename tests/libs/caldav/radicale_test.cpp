// The CalDAV session and client against a real Radicale on 127.0.0.1: what only a real server
// answers (ETags and tokens, TLS), and the client's queue.

#include "support/event_wait.h"
#include "support/radicale_server.h"

#include <caldav/caldav_client.h>
#include <caldav/caldav_session.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <optional>

namespace {

using caldav::Error;
using chimewise::testsupport::RadicaleOptions;
using chimewise::testsupport::RadicaleServer;
using chimewise::testsupport::RunEventsUntil;

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "caldav-tests";
  static char* argv[] = {name, nullptr};
  static auto* app = new QCoreApplication(argc, argv);
  return *app;
}

QByteArray Todo(const QByteArray& uid, const QByteArray& summary) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Olm//Chimewise tests//EN\r\nBEGIN:VTODO\r\nUID:" + uid +
         "\r\nDTSTAMP:20260101T090000Z\r\nSUMMARY:" + summary + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
}

std::string Why(const caldav::Status& s) {
  return (caldav::ErrorName(s.error) + QStringLiteral(" (HTTP %1): ").arg(s.httpStatus) + s.message).toStdString();
}

class RadicaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    CHIMEWISE_REQUIRE_SERVER(RadicaleServer::Unavailable());
    m_server.emplace(options());
    ASSERT_TRUE(m_server->ready()) << m_server->error().toStdString();
  }
  virtual RadicaleOptions options() const { return {}; }

  caldav::Settings settings(const QString& path = QStringLiteral("/")) const {
    caldav::Settings s;
    s.url = m_server->url(path);
    s.user = QStringLiteral("jo");
    s.connectTimeoutMs = 10000;
    s.requestTimeoutMs = 60000;
    return s;
  }
  QUrl href(const QString& name) const { return m_server->url(QStringLiteral("/jo/work/") + name); }

  std::optional<RadicaleServer> m_server;
};

// The refusals a sync acts on: a resource that exists, a stale ETag (412), one that is gone, a
// token the server never gave.
TEST_F(RadicaleTest, CreateListUpdateDeleteAndTheirRefusals) {
  const QUrl calendar = m_server->url(QStringLiteral("/jo/work/"));
  caldav::Session session(settings());
  ASSERT_TRUE(session.makeCalendar(calendar, QStringLiteral("Work")).ok());
  // An href with a space and an @, as servers and other clients make them.
  const QUrl todo = href(QStringLiteral("call mum@home.ics"));
  const caldav::WriteResult created = session.create(todo, Todo("call-mum@home", "Call mum"));
  ASSERT_TRUE(created.status.ok()) << Why(created.status);
  EXPECT_EQ(created.href, todo);
  EXPECT_EQ(session.create(todo, Todo("call-mum@home", "Call mum")).status.error, Error::Conflict);
  const caldav::Changes initial = session.syncCollection(calendar, {});
  ASSERT_TRUE(initial.status.ok()) << Why(initial.status);
  ASSERT_EQ(initial.changed.size(), 1);
  EXPECT_EQ(initial.changed[0].href, todo);
  EXPECT_EQ(initial.changed[0].etag, created.etag);

  const caldav::WriteResult updated = session.update(todo, Todo("call-mum@home", "Call mum today"), created.etag);
  ASSERT_TRUE(updated.status.ok()) << Why(updated.status);
  EXPECT_NE(updated.etag, created.etag);
  const caldav::WriteResult stale = session.update(todo, Todo("call-mum@home", "Call mum now"), created.etag);
  EXPECT_EQ(stale.status.error, Error::Conflict) << Why(stale.status);
  EXPECT_EQ(stale.status.httpStatus, 412);

  const QUrl event = href(QStringLiteral("event.ics"));
  ASSERT_TRUE(session.create(event, Todo("e1", "Other")).status.ok());

  EXPECT_EQ(session.remove(todo, created.etag).error, Error::Conflict);
  const caldav::Status removed = session.remove(todo, updated.etag);
  ASSERT_TRUE(removed.ok()) << Why(removed);
  // Changes since the first listing: the event, and the to-do as removed.
  const caldav::Changes since = session.syncCollection(calendar, initial.syncToken);
  ASSERT_TRUE(since.status.ok()) << Why(since.status);
  ASSERT_EQ(since.changed.size(), 1);
  EXPECT_EQ(since.changed[0].href, event);
  EXPECT_EQ(since.removed, QList<QUrl>{todo});
  EXPECT_EQ(session.remove(todo, updated.etag).error, Error::NotFound);
  const caldav::Changes bogus = session.syncCollection(calendar, QStringLiteral("http://radicale.org/ns/sync/bogus"));
  EXPECT_EQ(bogus.status.error, Error::TokenInvalid) << Why(bogus.status);
}

TEST_F(RadicaleTest, TheClientRunsOperationsInOrderAndAnswersFromTheEventLoop) {
  caldav::CalDavClient client(settings());
  const QUrl calendar = m_server->url(QStringLiteral("/jo/work/"));
  const QUrl a = href(QStringLiteral("a.ics"));
  QStringList order;
  std::optional<caldav::Changes> listed;
  client.makeCalendar(calendar, QStringLiteral("Work"), [&](const caldav::Status&) { order << "made"; });
  client.create(a, Todo("a", "A"), [&](const caldav::WriteResult&) { order << "created"; });
  client.syncCollection(calendar, {}, [&](const caldav::Changes& c) {
    EXPECT_EQ(QThread::currentThread(), client.thread());
    order << "listed";
    listed = c;
  });
  EXPECT_TRUE(order.isEmpty());  // nothing is answered inside the calls
  ASSERT_TRUE(RunEventsUntil([&] { return client.pending() == 0; }, 60000));
  EXPECT_EQ(order, QStringList({"made", "created", "listed"}));
  ASSERT_TRUE(listed && listed->status.ok());
  EXPECT_EQ(listed->changed.size(), 1);

  // Destroyed with operations queued: none of them is answered.
  int answered = 0;
  {
    caldav::CalDavClient doomed(settings());
    for (int i = 0; i < 20; ++i) doomed.discover([&](const caldav::Discovery&) { ++answered; });
  }
  App().processEvents();
  EXPECT_EQ(answered, 0);
}

const QString kCertificate = QStringLiteral(CALDAV_TLS_DIR "/test_server.pem");
const QString kKey = QStringLiteral(CALDAV_TLS_DIR "/test_server.key");

class RadicaleOverTlsTest : public RadicaleTest {
 protected:
  RadicaleOptions options() const override { return {{}, {}, kCertificate, kKey}; }
};

TEST_F(RadicaleOverTlsTest, TheServerCertificateMustVerifyAgainstTheTrustedOnes) {
  ASSERT_EQ(m_server->url().scheme(), QStringLiteral("https"));
  const caldav::Discovery refused = caldav::Session(settings()).discover();
  EXPECT_EQ(refused.status.error, Error::CertificateRefused) << Why(refused.status);
  EXPECT_TRUE(refused.calendars.isEmpty());

  caldav::Settings trusting = settings();
  trusting.caFile = kCertificate;
  caldav::Session session(trusting);
  const caldav::Status made = session.makeCalendar(m_server->url(QStringLiteral("/jo/work/")), QStringLiteral("W"));
  ASSERT_TRUE(made.ok()) << Why(made);
  const caldav::Discovery found = session.discover();
  ASSERT_TRUE(found.status.ok()) << Why(found.status);
  EXPECT_EQ(found.calendars.size(), 1);
}

// An https server of the test's own redirects every request to Radicale on http, which is never asked.
TEST_F(RadicaleTest, ARedirectFromHttpsToHttpIsRefused) {
  const int port = RadicaleServer::FreePort();
  QProcess redirector;
  redirector.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(CALDAV_TLS_DIR "/../tls_redirect.py"), QString::number(port), kCertificate, kKey,
                    m_server->url(QStringLiteral("/jo/")).toString()});
  ASSERT_TRUE(RunEventsUntil([&] {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    return redirector.state() == QProcess::NotRunning || probe.waitForConnected(1000);
  }));
  caldav::Settings s = settings();
  s.url = QUrl(QStringLiteral("https://127.0.0.1:%1/cal/").arg(port));
  s.caFile = kCertificate;
  const caldav::Discovery found = caldav::Session(s).discover();
  EXPECT_EQ(found.status.error, Error::RedirectRefused) << Why(found.status);
  EXPECT_TRUE(found.principal.isEmpty());
  redirector.kill();
  redirector.waitForFinished(10000);
}

}  // namespace

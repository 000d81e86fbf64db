// The CalDAV session and client against a real Radicale on 127.0.0.1: what only a real server
// answers (discovery, ETags and tokens, batches, TLS). Wrong passwords and a server killed
// mid-sync are checked end to end in the cli sync tests, cut-short answers in the broken server
// tests.

#include "support/event_wait.h"
#include "support/radicale_server.h"

#include <caldav/caldav_client.h>
#include <caldav/caldav_session.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
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

QByteArray Event(const QByteArray& uid, const QByteArray& summary) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Olm//Chimewise tests//EN\r\nBEGIN:VEVENT\r\nUID:" + uid +
         "\r\nDTSTAMP:20260101T090000Z\r\nDTSTART:20260105T100000Z\r\nDURATION:PT1H\r\nSUMMARY:" + summary +
         "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

std::string Why(const caldav::Status& s) {
  return (caldav::ErrorName(s.error) + QStringLiteral(" (HTTP %1): ").arg(s.httpStatus) + s.message).toStdString();
}

class RadicaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    App();
    s_unavailable = RadicaleServer::Unavailable();
  }
  void SetUp() override {
    if (!s_unavailable.isEmpty()) GTEST_SKIP() << "Radicale cannot run here: " << s_unavailable.toStdString();
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
  // A calendar collection of jo's, made with MKCALENDAR.
  QUrl makeCalendar(const QString& name, const QString& displayName) {
    const QUrl url = m_server->url(QStringLiteral("/jo/%1/").arg(name));
    const caldav::Status made = caldav::Session(settings()).makeCalendar(url, displayName);
    EXPECT_TRUE(made.ok()) << Why(made);
    return url;
  }
  QUrl href(const QString& name) const { return m_server->url(QStringLiteral("/jo/work/") + name); }

  static inline QString s_unavailable;
  std::optional<RadicaleServer> m_server;
};

TEST_F(RadicaleTest, DiscoveryFindsTheCalendarsFromTheServerThePrincipalOrTheCalendarItself) {
  const QUrl work = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  const QUrl home = makeCalendar(QStringLiteral("at home"), QStringLiteral("Home & garden"));
  // An address book beside the calendars (an extended MKCOL, which the library has no use for) is
  // not listed.
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_server->port()));
  ASSERT_TRUE(socket.waitForConnected(10000));
  const QByteArray body =
      R"(<D:mkcol xmlns:D="DAV:" xmlns:A="urn:ietf:params:xml:ns:carddav"><D:set><D:prop><D:resourcetype>)"
      R"(<D:collection/><A:addressbook/></D:resourcetype></D:prop></D:set></D:mkcol>)";
  socket.write(
      "MKCOL /jo/contacts/ HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic am86\r\n"
      "Content-Type: application/xml\r\nConnection: close\r\nContent-Length: " +
      QByteArray::number(body.size()) + "\r\n\r\n" + body);
  QByteArray answer;
  while (!answer.contains("\r\n") && socket.waitForReadyRead(10000)) answer += socket.readAll();
  ASSERT_TRUE(answer.startsWith("HTTP/1.0 201") || answer.startsWith("HTTP/1.1 201")) << answer.toStdString();

  for (const QString& start : {QStringLiteral("/"), QStringLiteral("/jo/")}) {
    SCOPED_TRACE(start.toStdString());
    const caldav::Discovery found = caldav::Session(settings(start)).discover();
    ASSERT_TRUE(found.status.ok()) << Why(found.status);
    EXPECT_EQ(found.principal, m_server->url(QStringLiteral("/jo/")));
    EXPECT_EQ(found.calendarHome, m_server->url(QStringLiteral("/jo/")));
    ASSERT_EQ(found.calendars.size(), 2);
    const bool workFirst = found.calendars[0].url == work;
    const caldav::Calendar& w = found.calendars[workFirst ? 0 : 1];
    const caldav::Calendar& h = found.calendars[workFirst ? 1 : 0];
    EXPECT_EQ(w.url, work);
    EXPECT_EQ(w.displayName, QStringLiteral("Work"));
    EXPECT_TRUE(w.components.contains(QStringLiteral("VTODO")));
    EXPECT_TRUE(w.components.contains(QStringLiteral("VEVENT")));
    EXPECT_FALSE(w.syncToken.isEmpty());
    EXPECT_FALSE(w.ctag.isEmpty());
    EXPECT_EQ(h.url, home);
    EXPECT_EQ(h.url.path(), QStringLiteral("/jo/at home/"));
    EXPECT_EQ(h.displayName, QStringLiteral("Home & garden"));
  }

  const caldav::Discovery itself = caldav::Session(settings(QStringLiteral("/jo/work/"))).discover();
  ASSERT_TRUE(itself.status.ok()) << Why(itself.status);
  ASSERT_EQ(itself.calendars.size(), 1);
  EXPECT_EQ(itself.calendars[0].url, work);
  EXPECT_TRUE(itself.principal.isEmpty());
}

// The refusals a sync acts on: a resource that exists, a stale ETag (412), one that is gone, a
// token the server never gave. The plain pulls and pushes are checked end to end in the cli sync
// tests.
TEST_F(RadicaleTest, CreateListUpdateDeleteAndTheirRefusals) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Session session(settings());
  // An href with a space and an @, as servers and other clients make them.
  const QUrl todo = href(QStringLiteral("call mum@home.ics"));
  const caldav::WriteResult created = session.create(todo, Todo("call-mum@home", "Call mum"));
  ASSERT_TRUE(created.status.ok()) << Why(created.status);
  ASSERT_FALSE(created.etag.isEmpty());
  EXPECT_EQ(created.href, todo);
  EXPECT_EQ(session.create(todo, Todo("call-mum@home", "Call mum")).status.error, Error::Conflict);
  const caldav::Changes initial = session.syncCollection(calendar, {});
  ASSERT_TRUE(initial.status.ok()) << Why(initial.status);
  ASSERT_EQ(initial.changed.size(), 1);
  EXPECT_EQ(initial.changed[0].href, todo);
  EXPECT_EQ(initial.changed[0].etag, created.etag);

  const caldav::WriteResult updated = session.update(todo, Todo("call-mum@home", "Call mum today"), created.etag);
  ASSERT_TRUE(updated.status.ok()) << Why(updated.status);
  ASSERT_FALSE(updated.etag.isEmpty());
  EXPECT_NE(updated.etag, created.etag);
  const caldav::WriteResult stale = session.update(todo, Todo("call-mum@home", "Call mum now"), created.etag);
  EXPECT_EQ(stale.status.error, Error::Conflict) << Why(stale.status);
  EXPECT_EQ(stale.status.httpStatus, 412);

  // Listing without tokens finds events beside the to-dos.
  const QUrl event = href(QStringLiteral("event.ics"));
  ASSERT_TRUE(session.create(event, Event("e1", "Event")).status.ok());
  const caldav::Changes all = session.listMembers(calendar);
  ASSERT_TRUE(all.status.ok()) << Why(all.status);
  QList<QUrl> hrefs;
  for (const caldav::Member& m : all.changed) hrefs << m.href;
  std::sort(hrefs.begin(), hrefs.end(), [](const QUrl& a, const QUrl& b) { return a.path() < b.path(); });
  EXPECT_EQ(hrefs, QList<QUrl>({todo, event}));
  EXPECT_TRUE(all.syncToken.isEmpty());

  EXPECT_EQ(session.remove(todo, created.etag).error, Error::Conflict);
  const caldav::Status removed = session.remove(todo, updated.etag);
  ASSERT_TRUE(removed.ok()) << Why(removed);
  // Changes since the first listing: the event, and the to-do as removed.
  const caldav::Changes since = session.syncCollection(calendar, initial.syncToken);
  ASSERT_TRUE(since.status.ok()) << Why(since.status);
  ASSERT_EQ(since.changed.size(), 1);
  EXPECT_EQ(since.changed[0].href, event);
  EXPECT_EQ(since.removed, QList<QUrl>{todo});
  EXPECT_NE(since.syncToken, initial.syncToken);
  const caldav::Objects gone = session.fetch(calendar, {todo});
  ASSERT_TRUE(gone.status.ok()) << Why(gone.status);
  EXPECT_TRUE(gone.objects.isEmpty());
  EXPECT_EQ(gone.missing, QList<QUrl>{todo});
  EXPECT_EQ(session.remove(todo, updated.etag).error, Error::NotFound);
  const caldav::Changes bogus = session.syncCollection(calendar, QStringLiteral("http://radicale.org/ns/sync/bogus"));
  EXPECT_EQ(bogus.status.error, Error::TokenInvalid) << Why(bogus.status);
  EXPECT_TRUE(bogus.syncToken.isEmpty());
}

// Fetched in batches of two: every object comes, the missing one is named, and objects beyond the
// size limit are neither sent nor taken.
TEST_F(RadicaleTest, FetchingInBatchesGetsEveryObjectWithinTheSizeLimitAndNamesTheRest) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  const QUrl big = href(QStringLiteral("big.ics"));
  ASSERT_TRUE(caldav::Session(settings()).create(big, Todo("big", QByteArray(3000, 'b'))).status.ok());
  caldav::Settings s = settings();
  s.limits.multigetBatch = 2;
  s.limits.maxObjectBytes = 2000;
  caldav::Session session(s);
  QList<QUrl> hrefs;
  for (int i = 0; i < 5; ++i) {
    hrefs << href(QStringLiteral("%1.ics").arg(i));
    ASSERT_TRUE(session.create(hrefs.last(), Todo("uid-" + QByteArray::number(i), "Todo " + QByteArray::number(i)))
                    .status.ok());
  }
  EXPECT_EQ(session.create(href(QStringLiteral("big2.ics")), Todo("big2", QByteArray(3000, 'b'))).status.error,
            Error::LimitExceeded);

  const QUrl never = href(QStringLiteral("never.ics"));
  const caldav::Objects got = session.fetch(calendar, QList<QUrl>(hrefs) << big << never);
  ASSERT_TRUE(got.status.ok()) << Why(got.status);
  ASSERT_EQ(got.objects.size(), 5);
  for (const caldav::CalendarObject& o : got.objects) {
    const qsizetype i = hrefs.indexOf(o.href);
    ASSERT_GE(i, 0) << o.href.toString().toStdString();
    EXPECT_TRUE(o.data.contains("SUMMARY:Todo " + QByteArray::number(i)));
    EXPECT_FALSE(o.etag.isEmpty());
  }
  EXPECT_EQ(got.missing, QList<QUrl>{never});
  EXPECT_EQ(got.oversized, QList<QUrl>{big});
}

TEST_F(RadicaleTest, TheClientRunsOperationsInOrderAndAnswersFromTheEventLoop) {
  caldav::CalDavClient client(settings());
  const QUrl calendar = m_server->url(QStringLiteral("/jo/work/"));
  const QUrl a = href(QStringLiteral("a.ics"));
  QStringList order;
  std::optional<caldav::Changes> listed;
  client.makeCalendar(calendar, QStringLiteral("Work"), [&](const caldav::Status& s) {
    EXPECT_TRUE(s.ok()) << Why(s);
    order << QStringLiteral("made");
  });
  client.create(a, Todo("a", "A"), [&](const caldav::WriteResult& r) {
    EXPECT_TRUE(r.status.ok()) << Why(r.status);
    order << QStringLiteral("created");
  });
  client.syncCollection(calendar, {}, [&](const caldav::Changes& c) {
    EXPECT_EQ(QThread::currentThread(), client.thread());
    order << QStringLiteral("listed");
    listed = c;
  });
  EXPECT_EQ(client.pending(), 3);
  EXPECT_TRUE(order.isEmpty());  // nothing is answered inside the calls
  ASSERT_TRUE(RunEventsUntil([&] { return client.pending() == 0; }, 60000));
  EXPECT_EQ(order, QStringList({"made", "created", "listed"}));
  ASSERT_TRUE(listed && listed->status.ok());
  ASSERT_EQ(listed->changed.size(), 1);
  EXPECT_EQ(listed->changed[0].href, a);

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
  EXPECT_TRUE(caldav::Settings().verifyTls);
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
  ASSERT_EQ(found.calendars.size(), 1);
  EXPECT_EQ(found.calendars[0].url.scheme(), QStringLiteral("https"));
}

TEST_F(RadicaleTest, ARedirectFromHttpsToHttpIsRefused) {
  // An https server of the test's own redirects every request to Radicale on http, which is never
  // asked.
  const int port = RadicaleServer::FreePort();
  QProcess redirector;
  redirector.setStandardOutputFile(QProcess::nullDevice());
  redirector.setStandardErrorFile(QProcess::nullDevice());
  redirector.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(CALDAV_TLS_DIR "/../tls_redirect.py"), QString::number(port), kCertificate, kKey,
                    m_server->url(QStringLiteral("/jo/")).toString()});
  ASSERT_TRUE(redirector.waitForStarted(10000));
  ASSERT_TRUE(RunEventsUntil([&] {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    return redirector.state() != QProcess::Running || probe.waitForConnected(1000);
  }));
  ASSERT_EQ(redirector.state(), QProcess::Running);
  caldav::Settings s = settings();
  s.url = QUrl(QStringLiteral("https://127.0.0.1:%1/cal/").arg(port));
  s.caFile = kCertificate;
  const caldav::Discovery found = caldav::Session(s).discover();
  EXPECT_EQ(found.status.error, Error::RedirectRefused) << Why(found.status);
  EXPECT_TRUE(found.calendars.isEmpty());
  EXPECT_TRUE(found.principal.isEmpty());
  redirector.kill();
  redirector.waitForFinished(10000);
}

}  // namespace

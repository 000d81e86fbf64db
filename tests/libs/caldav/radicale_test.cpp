// The CalDAV session and client against a real Radicale on 127.0.0.1.

#include "support/event_wait.h"
#include "support/radicale_server.h"

#include <caldav/caldav_client.h>
#include <caldav/caldav_session.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

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

// The content lines of an object, sorted: Radicale stores objects in its own order of
// properties, and XML turns the CRLF line ends in calendar-data into LF unless escaped.
QList<QByteArray> Lines(QByteArray ics) {
  QList<QByteArray> lines = ics.replace("\r\n", "\n").split('\n');
  std::sort(lines.begin(), lines.end());
  return lines;
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
    caldav::Session session(settings());
    const QUrl url = m_server->url(QStringLiteral("/jo/%1/").arg(name));
    const caldav::Status made = session.makeCalendar(url, displayName);
    EXPECT_TRUE(made.ok()) << Why(made);
    return url;
  }

  static inline QString s_unavailable;
  std::optional<RadicaleServer> m_server;
};

TEST_F(RadicaleTest, DiscoveryFindsTheCalendarsFromTheServerThePrincipalOrTheCalendarItself) {
  const QUrl work = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  const QUrl home = makeCalendar(QStringLiteral("at home"), QStringLiteral("Home & garden"));

  for (const QString& start : {QStringLiteral("/"), QStringLiteral("/jo/")}) {
    SCOPED_TRACE(start.toStdString());
    caldav::Session session(settings(start));
    const caldav::Discovery found = session.discover();
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

  caldav::Session direct(settings(QStringLiteral("/jo/work/")));
  const caldav::Discovery itself = direct.discover();
  ASSERT_TRUE(itself.status.ok()) << Why(itself.status);
  ASSERT_EQ(itself.calendars.size(), 1);
  EXPECT_EQ(itself.calendars[0].url, work);
  EXPECT_TRUE(itself.principal.isEmpty());
}

TEST_F(RadicaleTest, ACollectionThatIsNoCalendarIsNotListed) {
  makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Session session(settings());
  // An address book beside the calendar (an extended MKCOL, which the library has no use for).
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
  const caldav::Discovery found = session.discover();
  ASSERT_TRUE(found.status.ok()) << Why(found.status);
  ASSERT_EQ(found.calendars.size(), 1);
  EXPECT_EQ(found.calendars[0].url.path(), QStringLiteral("/jo/work/"));
}

TEST_F(RadicaleTest, CreateListFetchUpdateConflictDeleteAndSyncAgain) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Session session(settings());
  // An href with a space and an @, as servers and other clients make them.
  const QUrl href = m_server->url(QStringLiteral("/jo/work/call mum@home.ics"));

  const caldav::WriteResult created = session.create(href, Todo("call-mum@home", "Call mum"));
  ASSERT_TRUE(created.status.ok()) << Why(created.status);
  ASSERT_FALSE(created.etag.isEmpty());
  EXPECT_EQ(created.href, href);
  const caldav::WriteResult again = session.create(href, Todo("call-mum@home", "Call mum"));
  EXPECT_EQ(again.status.error, Error::Conflict) << Why(again.status);

  const caldav::Changes initial = session.syncCollection(calendar, {});
  ASSERT_TRUE(initial.status.ok()) << Why(initial.status);
  ASSERT_EQ(initial.changed.size(), 1);
  EXPECT_EQ(initial.changed[0].href, href);
  EXPECT_EQ(initial.changed[0].etag, created.etag);
  EXPECT_TRUE(initial.removed.isEmpty());
  EXPECT_FALSE(initial.syncToken.isEmpty());

  const caldav::Objects fetched = session.fetch(calendar, {href});
  ASSERT_TRUE(fetched.status.ok()) << Why(fetched.status);
  ASSERT_EQ(fetched.objects.size(), 1);
  EXPECT_EQ(fetched.objects[0].href, href);
  EXPECT_EQ(fetched.objects[0].etag, created.etag);
  EXPECT_EQ(Lines(fetched.objects[0].data), Lines(Todo("call-mum@home", "Call mum")));

  const caldav::WriteResult updated = session.update(href, Todo("call-mum@home", "Call mum today"), created.etag);
  ASSERT_TRUE(updated.status.ok()) << Why(updated.status);
  ASSERT_FALSE(updated.etag.isEmpty());
  EXPECT_NE(updated.etag, created.etag);

  const caldav::WriteResult stale = session.update(href, Todo("call-mum@home", "Call mum now"), created.etag);
  EXPECT_EQ(stale.status.error, Error::Conflict) << Why(stale.status);
  EXPECT_EQ(stale.status.httpStatus, 412);

  const caldav::Changes sinceCreate = session.syncCollection(calendar, initial.syncToken);
  ASSERT_TRUE(sinceCreate.status.ok()) << Why(sinceCreate.status);
  ASSERT_EQ(sinceCreate.changed.size(), 1);
  EXPECT_EQ(sinceCreate.changed[0].etag, updated.etag);
  EXPECT_NE(sinceCreate.syncToken, initial.syncToken);

  EXPECT_EQ(session.remove(href, created.etag).error, Error::Conflict);
  const caldav::Status removed = session.remove(href, updated.etag);
  ASSERT_TRUE(removed.ok()) << Why(removed);

  const caldav::Changes afterRemoval = session.syncCollection(calendar, sinceCreate.syncToken);
  ASSERT_TRUE(afterRemoval.status.ok()) << Why(afterRemoval.status);
  EXPECT_TRUE(afterRemoval.changed.isEmpty());
  EXPECT_EQ(afterRemoval.removed, QList<QUrl>{href});

  const caldav::Objects gone = session.fetch(calendar, {href});
  ASSERT_TRUE(gone.status.ok()) << Why(gone.status);
  EXPECT_TRUE(gone.objects.isEmpty());
  EXPECT_EQ(gone.missing, QList<QUrl>{href});
  EXPECT_EQ(session.remove(href, updated.etag).error, Error::NotFound);
}

TEST_F(RadicaleTest, ATokenTheServerNeverGaveIsInvalid) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Session session(settings());
  const caldav::Changes changes = session.syncCollection(calendar, QStringLiteral("http://radicale.org/ns/sync/bogus"));
  EXPECT_EQ(changes.status.error, Error::TokenInvalid) << Why(changes.status);
  EXPECT_TRUE(changes.syncToken.isEmpty());
}

TEST_F(RadicaleTest, ListingWithoutTokensFindsEventsAndTodos) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Session session(settings());
  const QUrl todo = m_server->url(QStringLiteral("/jo/work/todo.ics"));
  const QUrl event = m_server->url(QStringLiteral("/jo/work/event.ics"));
  ASSERT_TRUE(session.create(todo, Todo("t1", "Todo")).status.ok());
  ASSERT_TRUE(session.create(event, Event("e1", "Event")).status.ok());

  const caldav::Changes all = session.listMembers(calendar);
  ASSERT_TRUE(all.status.ok()) << Why(all.status);
  QList<QUrl> hrefs;
  for (const caldav::Member& m : all.changed) {
    hrefs << m.href;
    EXPECT_FALSE(m.etag.isEmpty());
  }
  std::sort(hrefs.begin(), hrefs.end(), [](const QUrl& a, const QUrl& b) { return a.path() < b.path(); });
  EXPECT_EQ(hrefs, QList<QUrl>({event, todo}));
  EXPECT_TRUE(all.syncToken.isEmpty());
}

TEST_F(RadicaleTest, FetchingInBatchesGetsEveryObjectAndNamesTheMissingOnes) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Settings s = settings();
  s.limits.multigetBatch = 2;
  caldav::Session session(s);
  QList<QUrl> hrefs;
  for (int i = 0; i < 5; ++i) {
    const QByteArray uid = "uid-" + QByteArray::number(i);
    hrefs << m_server->url(QStringLiteral("/jo/work/%1.ics").arg(i));
    ASSERT_TRUE(session.create(hrefs.last(), Todo(uid, "Todo " + QByteArray::number(i))).status.ok());
  }
  const QUrl never = m_server->url(QStringLiteral("/jo/work/never.ics"));
  const caldav::Objects got = session.fetch(calendar, QList<QUrl>(hrefs) << never);
  ASSERT_TRUE(got.status.ok()) << Why(got.status);
  ASSERT_EQ(got.objects.size(), 5);
  for (const caldav::CalendarObject& o : got.objects) {
    const qsizetype i = hrefs.indexOf(o.href);
    ASSERT_GE(i, 0) << o.href.toString().toStdString();
    EXPECT_TRUE(o.data.contains("SUMMARY:Todo " + QByteArray::number(i)));
    EXPECT_FALSE(o.etag.isEmpty());
  }
  EXPECT_EQ(got.missing, QList<QUrl>{never});
}

TEST_F(RadicaleTest, ObjectsBeyondTheSizeLimitAreNeitherSentNorTaken) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  const QUrl big = m_server->url(QStringLiteral("/jo/work/big.ics"));
  const QUrl small = m_server->url(QStringLiteral("/jo/work/small.ics"));
  caldav::Session roomy(settings());
  ASSERT_TRUE(roomy.create(big, Todo("big", QByteArray(3000, 'b'))).status.ok());
  ASSERT_TRUE(roomy.create(small, Todo("small", "s")).status.ok());

  caldav::Settings tight = settings();
  tight.limits.maxObjectBytes = 2000;
  caldav::Session session(tight);
  EXPECT_EQ(session.create(m_server->url(QStringLiteral("/jo/work/big2.ics")), Todo("big2", QByteArray(3000, 'b')))
                .status.error,
            Error::LimitExceeded);
  const caldav::Objects got = session.fetch(calendar, {big, small});
  ASSERT_TRUE(got.status.ok()) << Why(got.status);
  ASSERT_EQ(got.objects.size(), 1);
  EXPECT_EQ(got.objects[0].href, small);
  EXPECT_EQ(got.oversized, QList<QUrl>{big});
}

// Between the client and Radicale: passes one connection through, both ways, until the answer
// has reached `cutAfter` bytes; then drops both sides and says so.
class CuttingRelay {
 public:
  CuttingRelay(int serverPort, qint64 cutAfter) : m_serverPort(serverPort), m_cutAfter(cutAfter) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 1) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { relay(); });
  }
  ~CuttingRelay() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener >= 0) ::close(m_listener);
  }
  int port() const { return m_port; }
  // The relay has ended.
  bool cut() const { return m_cut; }
  // It ended at cutAfter bytes, not because a side closed first.
  bool cutShort() const { return m_cutShort; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  void relay() {
    pollfd p{m_listener, POLLIN, 0};
    while (!m_stop && ::poll(&p, 1, 50) <= 0) {
    }
    if (m_stop) return;
    const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(m_serverPort);
    if (client >= 0 && server >= 0 &&
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      char buffer[16384];
      while (!m_stop && m_answered < m_cutAfter) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(fds, 2, 50) <= 0) continue;
        if (fds[0].revents) {
          const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
          if (n <= 0 || ::send(server, buffer, size_t(n), MSG_NOSIGNAL) != n) break;
        }
        if (fds[1].revents) {
          const ssize_t n = ::recv(server, buffer, size_t(qMin<qint64>(sizeof buffer, m_cutAfter - m_answered)), 0);
          if (n <= 0 || ::send(client, buffer, size_t(n), MSG_NOSIGNAL) != n) break;
          m_answered += n;
        }
      }
    }
    m_cutShort = m_answered >= m_cutAfter;
    m_cut = true;
    if (server >= 0) ::close(server);
    if (client >= 0) ::close(client);
  }

  int m_serverPort;
  qint64 m_cutAfter;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_cut{false};
  std::atomic<bool> m_cutShort{false};
  qint64 m_answered = 0;  // the relay's thread only
  std::thread m_thread;
};

TEST_F(RadicaleTest, AServerStoppedDuringALargeFetchGivesAnErrorAndNoneOfTheObjects) {
  const QUrl calendar = makeCalendar(QStringLiteral("work"), QStringLiteral("Work"));
  caldav::Settings s = settings();
  s.limits.multigetBatch = 1000;  // one request for all
  caldav::Session session(s);
  QList<QUrl> hrefs;
  // A description of about 150 KB of letters no compression shrinks much, folded into lines of
  // 75 octets.
  quint32 seed = 12345;
  const auto letters = [&seed](int n) {
    QByteArray text;
    for (int i = 0; i < n; ++i) {
      seed = seed * 1664525u + 1013904223u;
      text += char('a' + (seed >> 24) % 26);
    }
    return text;
  };
  QByteArray description = "DESCRIPTION:" + letters(63) + "\r\n";
  for (int line = 0; line < 2000; ++line) description += " " + letters(74) + "\r\n";
  for (int i = 0; i < 20; ++i) {
    hrefs << m_server->url(QStringLiteral("/jo/work/%1.ics").arg(i));
    QByteArray todo = Todo("big-" + QByteArray::number(i), "Big");
    todo.replace("SUMMARY:", description + "SUMMARY:");
    const caldav::WriteResult put = session.create(hrefs.last(), todo);
    ASSERT_TRUE(put.status.ok()) << Why(put.status);
  }

  // The answer is about 3 MB (some 2 MB compressed); it stops after 1 MB, and Radicale is killed.
  CuttingRelay relay(m_server->port(), 1 << 20);
  ASSERT_NE(relay.port(), 0);
  caldav::Settings relayed = s;
  relayed.url.setPort(relay.port());
  caldav::Session broken(relayed);
  QUrl relayedCalendar = calendar;
  relayedCalendar.setPort(relay.port());
  QList<QUrl> relayedHrefs;
  for (QUrl href : hrefs) {
    href.setPort(relay.port());
    relayedHrefs << href;
  }
  caldav::Objects got;
  std::thread worker([&] { got = broken.fetch(relayedCalendar, relayedHrefs); });
  ASSERT_TRUE(chimewise::testsupport::RunEventsUntil([&] { return relay.cut(); }, 60000));
  m_server->kill();
  worker.join();
  EXPECT_TRUE(relay.cutShort());
  EXPECT_NE(got.status.error, Error::None);
  EXPECT_TRUE(got.objects.isEmpty()) << Why(got.status);
  EXPECT_TRUE(got.missing.isEmpty());
  EXPECT_TRUE(got.oversized.isEmpty());
}

TEST_F(RadicaleTest, WithoutAUserTheServerRefusesAndNothingElseHappens) {
  caldav::Settings s = settings();
  s.user.clear();
  caldav::Session session(s);
  const caldav::Discovery found = session.discover();
  EXPECT_EQ(found.status.error, Error::AuthenticationRefused) << Why(found.status);
  EXPECT_TRUE(found.calendars.isEmpty());
}

TEST_F(RadicaleTest, AClosedPortIsUnreachable) {
  caldav::Settings s = settings();
  s.url.setPort(RadicaleServer::FreePort());
  caldav::Session session(s);
  const caldav::Discovery found = session.discover();
  EXPECT_EQ(found.status.error, Error::Unreachable) << Why(found.status);
  EXPECT_FALSE(found.status.message.isEmpty());
}

class RadicaleWithPasswordTest : public RadicaleTest {
 protected:
  RadicaleOptions options() const override { return {QStringLiteral("jo"), QStringLiteral("s3cret pass")}; }
};

TEST_F(RadicaleWithPasswordTest, TheRightPasswordIsTakenAWrongOneRefused) {
  caldav::Settings good = settings();
  good.password = QStringLiteral("s3cret pass");
  caldav::Session session(good);
  const caldav::Status made = session.makeCalendar(m_server->url(QStringLiteral("/jo/work/")), QStringLiteral("W"));
  ASSERT_TRUE(made.ok()) << Why(made);
  const caldav::Discovery found = session.discover();
  ASSERT_TRUE(found.status.ok()) << Why(found.status);
  EXPECT_EQ(found.calendars.size(), 1);

  caldav::Settings bad = settings();
  bad.password = QStringLiteral("wrong");
  caldav::Session refused(bad);
  const caldav::Discovery none = refused.discover();
  EXPECT_EQ(none.status.error, Error::AuthenticationRefused) << Why(none.status);
  EXPECT_EQ(none.status.httpStatus, 401);
  EXPECT_FALSE(none.status.message.contains(QStringLiteral("wrong")));
  const caldav::Changes changes = refused.syncCollection(m_server->url(QStringLiteral("/jo/work/")), {});
  EXPECT_EQ(changes.status.error, Error::AuthenticationRefused) << Why(changes.status);
}

TEST_F(RadicaleTest, TheClientRunsOperationsInOrderAndAnswersFromTheEventLoop) {
  caldav::CalDavClient client(settings());
  const QUrl calendar = m_server->url(QStringLiteral("/jo/work/"));
  const QUrl href = m_server->url(QStringLiteral("/jo/work/a.ics"));
  QStringList order;
  std::optional<caldav::Changes> listed;
  client.makeCalendar(calendar, QStringLiteral("Work"), [&](const caldav::Status& s) {
    EXPECT_TRUE(s.ok()) << Why(s);
    order << QStringLiteral("made");
  });
  client.create(href, Todo("a", "A"), [&](const caldav::WriteResult& r) {
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
  EXPECT_EQ(listed->changed[0].href, href);
}

TEST_F(RadicaleTest, DestroyingTheClientDropsWhatItHasNotAnswered) {
  int answered = 0;
  {
    caldav::CalDavClient client(settings());
    for (int i = 0; i < 20; ++i) client.discover([&](const caldav::Discovery&) { ++answered; });
  }
  App().processEvents();
  EXPECT_EQ(answered, 0);
}

}  // namespace

namespace {

const QString kCertificate = QStringLiteral(CALDAV_TLS_DIR "/test_server.pem");
const QString kKey = QStringLiteral(CALDAV_TLS_DIR "/test_server.key");

class RadicaleOverTlsTest : public RadicaleTest {
 protected:
  RadicaleOptions options() const override { return {{}, {}, kCertificate, kKey}; }
};

TEST_F(RadicaleOverTlsTest, TheServerCertificateMustVerifyAgainstTheTrustedOnes) {
  EXPECT_TRUE(caldav::Settings().verifyTls);
  ASSERT_EQ(m_server->url().scheme(), QStringLiteral("https"));

  caldav::Session untrusted(settings());
  const caldav::Discovery refused = untrusted.discover();
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

// An https server of the test's own that redirects every request to one URL.
class TlsRedirector {
 public:
  explicit TlsRedirector(const QUrl& location) {
    m_port = RadicaleServer::FreePort();
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(CALDAV_TLS_DIR "/../tls_redirect.py"), QString::number(m_port), kCertificate, kKey,
                     location.toString()});
    if (!m_process.waitForStarted(10000)) return;
    for (int attempt = 0; attempt < 300 && m_process.state() == QProcess::Running; ++attempt) {
      QTcpSocket probe;
      probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
      if (probe.waitForConnected(1000)) {
        m_ready = true;
        return;
      }
      QThread::msleep(50);
    }
  }
  ~TlsRedirector() {
    m_process.kill();
    m_process.waitForFinished(10000);
  }
  bool ready() const { return m_ready; }
  QUrl url() const { return QUrl(QStringLiteral("https://127.0.0.1:%1/cal/").arg(m_port)); }

 private:
  QProcess m_process;
  int m_port = 0;
  bool m_ready = false;
};

TEST_F(RadicaleTest, ARedirectFromHttpsToHttpIsRefused) {
  // Radicale on http is where the redirect points: it is never asked.
  TlsRedirector redirector(m_server->url(QStringLiteral("/jo/")));
  ASSERT_TRUE(redirector.ready());
  caldav::Settings s = settings();
  s.url = redirector.url();
  s.caFile = kCertificate;
  caldav::Session session(s);
  const caldav::Discovery found = session.discover();
  EXPECT_EQ(found.status.error, Error::RedirectRefused) << Why(found.status);
  EXPECT_TRUE(found.calendars.isEmpty());
  EXPECT_TRUE(found.principal.isEmpty());
}

}  // namespace

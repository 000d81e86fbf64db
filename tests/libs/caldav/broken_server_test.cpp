// The session against answers no good server gives: cut short, empty, oversized, endless
// redirects, silence. Each must end in an error, never in a partial success.

#include "support/scripted_http_server.h"

#include <caldav/caldav_session.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

using caldav::Error;
using chimewise::testsupport::ScriptedAnswer;
using chimewise::testsupport::ScriptedHttpServer;

std::string Why(const caldav::Status& s) {
  return (caldav::ErrorName(s.error) + QStringLiteral(" (HTTP %1): ").arg(s.httpStatus) + s.message).toStdString();
}

caldav::Settings SettingsFor(const ScriptedHttpServer& server) {
  caldav::Settings s;
  s.url = server.url(QStringLiteral("/cal/"));
  s.user = QStringLiteral("jo");
  s.password = QStringLiteral("pw");
  s.connectTimeoutMs = 10000;
  s.requestTimeoutMs = 60000;
  return s;
}

QByteArray Multistatus(int objects) {
  QByteArray body = R"(<?xml version="1.0"?><d:multistatus xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav">)";
  for (int i = 0; i < objects; ++i)
    body += "<d:response><d:href>/cal/" + QByteArray::number(i) +
            R"(.ics</d:href><d:propstat><d:prop><d:getetag>"1"</d:getetag><c:calendar-data>BEGIN:VCALENDAR
END:VCALENDAR
</c:calendar-data></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>)";
  body += "<d:sync-token>t2</d:sync-token></d:multistatus>";
  return body;
}

// An answer with a status line, headers, a Content-Length and the body (perhaps fewer bytes than
// `length` says).
QByteArray Answer(const QByteArray& status, const QByteArray& headers, const QByteArray& body, qsizetype length = -1) {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + QByteArray::number(length < 0 ? body.size() : length) + "\r\n\r\n" + body;
}

TEST(BrokenServerTest, AWholeAnswerIsReadAndEveryBrokenOneIsAnErrorWithNothingInIt) {
  const QByteArray whole = Multistatus(50);
  const QByteArray half = whole.left(3000);
  const QByteArray noToken = R"(<multistatus xmlns="DAV:"><response><href>/cal/a.ics</href>)"
                             R"(<status>HTTP/1.1 404 Not Found</status></response></multistatus>)";
  const struct {
    const char* what;
    ScriptedAnswer answer;
    Error expected;
    bool syncOnly = false;  // a fetch needs no token
  } cases[] = {
      {"whole", {Answer("207 Multi-Status", "Content-Type: text/xml\r\n", whole)}, Error::None},
      {"cut short of its length",
       {Answer("207 Multi-Status", {}, whole.left(whole.size() / 2), whole.size())},
       Error::Unreachable},
      {"chunked, cut short",
       {"HTTP/1.1 207 Multi-Status\r\nTransfer-Encoding: chunked\r\n\r\n" + QByteArray::number(half.size(), 16) +
        "\r\n" + half + "\r\n"},
       Error::Unreachable},
      // Closing the connection is how HTTP/1.0 ends a body: the bytes are all there is.
      {"no length, stopped early",
       {"HTTP/1.0 207 Multi-Status\r\nContent-Type: text/xml\r\n\r\n" + half},
       Error::MalformedResponse},
      {"empty", {Answer("207 Multi-Status", {}, {})}, Error::MalformedResponse},
      {"no multistatus", {Answer("200 OK", "Content-Type: text/html\r\n", "<html></html>")}, Error::MalformedResponse},
      {"changes without a new token", {Answer("207 Multi-Status", {}, noToken)}, Error::MalformedResponse, true},
      {"a hundred megabytes",
       {"HTTP/1.1 207 Multi-Status\r\nContent-Length: 104857600\r\n\r\n", qint64(100) << 20},
       Error::LimitExceeded},
      {"a hundred megabytes, no length",
       {"HTTP/1.0 207 Multi-Status\r\n\r\n", qint64(100) << 20},
       Error::LimitExceeded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedHttpServer server(c.answer);
    ASSERT_TRUE(server.ready());
    caldav::Session session(SettingsFor(server));
    const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), QStringLiteral("t1"));
    EXPECT_EQ(changes.status.error, c.expected) << Why(changes.status);
    EXPECT_EQ(changes.changed.isEmpty(), c.expected != Error::None);
    EXPECT_TRUE(changes.removed.isEmpty());
    EXPECT_EQ(changes.syncToken.isEmpty(), c.expected != Error::None);
    QList<QUrl> hrefs;
    for (int i = 0; i < 50; ++i) hrefs << server.url(QStringLiteral("/cal/%1.ics").arg(i));
    const caldav::Objects got = session.fetch(server.url(QStringLiteral("/cal/")), hrefs);
    if (c.expected == Error::None) {
      EXPECT_EQ(got.objects.size(), 50);
    } else if (!c.syncOnly) {
      EXPECT_EQ(got.status.error, c.expected) << Why(got.status);
      EXPECT_TRUE(got.objects.isEmpty());
      EXPECT_TRUE(got.missing.isEmpty());
    }
  }
  // A discovery reads multistatus too.
  ScriptedHttpServer empty({Answer("207 Multi-Status", {}, {})});
  EXPECT_EQ(caldav::Session(SettingsFor(empty)).discover().status.error, Error::MalformedResponse);
}

TEST(BrokenServerTest, RedirectsEndAfterTheLimit) {
  ScriptedHttpServer server({"HTTP/1.1 301 Moved\r\nLocation: /elsewhere/\r\nContent-Length: 0\r\n\r\n"});
  ASSERT_TRUE(server.ready());
  caldav::Settings s = SettingsFor(server);
  s.limits.maxRedirects = 3;
  const caldav::Discovery found = caldav::Session(s).discover();
  EXPECT_EQ(found.status.error, Error::RedirectRefused) << Why(found.status);
  EXPECT_EQ(server.requests().size(), 4);  // the request and three redirects
  EXPECT_TRUE(server.requests().last().startsWith("PROPFIND /elsewhere/ HTTP/1.1"));
}

// Whatever follows a redirect to another server would go there too, with the user's reminders:
// the request ends at the redirect, and nothing at all is sent to the other server.
TEST(BrokenServerTest, ARedirectToAnotherServerIsRefusedAndNothingGoesThere) {
  ScriptedHttpServer elsewhere({Answer("207 Multi-Status", {}, Multistatus(1))});
  ASSERT_TRUE(elsewhere.ready());
  const QByteArray locations[] = {
      elsewhere.url(QStringLiteral("/cal/")).toEncoded(),  // another port
      "http://localhost:{PORT}/cal/",                      // another host name
      "https://127.0.0.1:{PORT}/cal/",                     // another scheme
  };
  for (const QByteArray& location : locations) {
    SCOPED_TRACE(location.toStdString());
    ScriptedHttpServer server({Answer("301 Moved Permanently", "Location: " + location + "\r\n", {})});
    ASSERT_TRUE(server.ready());
    caldav::Session session(SettingsFor(server));
    const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), {});
    EXPECT_EQ(changes.status.error, Error::RedirectRefused) << Why(changes.status);
    EXPECT_TRUE(changes.status.message.contains(QStringLiteral("another server"))) << Why(changes.status);
    EXPECT_TRUE(changes.changed.isEmpty());
    EXPECT_EQ(server.connections(), 1);
  }
  EXPECT_EQ(elsewhere.connections(), 0);
}

// A server answering every request late cannot hold a sync for long: once the pass's deadline is
// gone, the request under way is cut short and every later one fails at once.
TEST(BrokenServerTest, EveryRequestOfAPassEndsAtThePassDeadline) {
  ScriptedHttpServer silent({.silent = true});
  ASSERT_TRUE(silent.ready());
  caldav::Settings s = SettingsFor(silent);
  s.requestTimeoutMs = 1500;
  s.passDeadlineMs = 700;
  caldav::Session session(s);
  EXPECT_EQ(session.discover().status.error, Error::Timeout);
  for (int i = 0; i < 5; ++i) {
    const caldav::WriteResult put =
        session.update(silent.url(QStringLiteral("/cal/%1.ics").arg(i)), "BEGIN:VCALENDAR", QStringLiteral("\"1\""));
    EXPECT_EQ(put.status.error, Error::Timeout) << Why(put.status);
  }
  EXPECT_EQ(silent.connections(), 1);
}

TEST(BrokenServerTest, CredentialsGoWithTheRequestToTheServerOfTheSettingsOnly) {
  const QByteArray refusal = Answer("401 Unauthorized", "WWW-Authenticate: Basic realm=\"cal\"\r\n", {});
  ScriptedHttpServer server({refusal});
  ASSERT_TRUE(server.ready());
  const caldav::Discovery found = caldav::Session(SettingsFor(server)).discover();
  EXPECT_EQ(found.status.error, Error::AuthenticationRefused) << Why(found.status);
  EXPECT_EQ(found.status.httpStatus, 401);
  ASSERT_EQ(server.requests().size(), 1);
  // "jo:pw" in Basic, and the password in nothing the caller sees.
  EXPECT_TRUE(server.requests()[0].contains("Authorization: Basic am86cHc="));
  EXPECT_FALSE(found.status.message.contains(QStringLiteral("pw")));

  // A server that takes Digest only is answered in Digest.
  ScriptedHttpServer digest(
      {Answer("401 Unauthorized", "WWW-Authenticate: Digest realm=\"cal\", nonce=\"abc\", qop=\"auth\"\r\n", {})});
  EXPECT_EQ(caldav::Session(SettingsFor(digest)).discover().status.error, Error::AuthenticationRefused);
  const QList<QByteArray> requests = digest.requests();
  ASSERT_GE(requests.size(), 2);
  EXPECT_TRUE(requests[0].contains("Authorization: Basic"));
  EXPECT_TRUE(requests.last().contains("Authorization: Digest username=\"jo\""));
  EXPECT_FALSE(requests.last().contains("pw"));
}

TEST(ServerAnswerTest, AListingCutByTheServerSaysSoAndSkipsTheCollectionItself) {
  ScriptedHttpServer server({Answer("207 Multi-Status", {}, R"(<D:multistatus xmlns:D="DAV:">
    <D:response><D:href>/cal/</D:href><D:status>HTTP/1.1 507 Insufficient Storage</D:status></D:response>
    <D:response><D:href>/cal/a.ics</D:href><D:propstat><D:prop><D:getetag>"a1"</D:getetag></D:prop>
      <D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
    <D:response><D:href>/cal/b%20c.ics</D:href><D:status>HTTP/1.1 404 Not Found</D:status></D:response>
    <D:sync-token>t9</D:sync-token></D:multistatus>)")});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal")), QStringLiteral("t8"));
  ASSERT_TRUE(changes.status.ok()) << Why(changes.status);
  EXPECT_TRUE(changes.truncated);
  ASSERT_EQ(changes.changed.size(), 1);
  EXPECT_EQ(changes.changed[0].href, server.url(QStringLiteral("/cal/a.ics")));
  EXPECT_EQ(changes.changed[0].etag, QStringLiteral("\"a1\""));
  EXPECT_EQ(changes.removed, QList<QUrl>{server.url(QStringLiteral("/cal/b c.ics"))});
  EXPECT_EQ(changes.syncToken, QStringLiteral("t9"));
}

TEST(BrokenServerTest, ASilentServerTimesOutAndAnAbortStopsTheRequest) {
  ScriptedHttpServer silent({.silent = true});
  ASSERT_TRUE(silent.ready());
  caldav::Settings s = SettingsFor(silent);
  s.requestTimeoutMs = 500;
  EXPECT_EQ(caldav::Session(s).discover().status.error, Error::Timeout);

  s.requestTimeoutMs = 120000;  // what the request would end with, were the abort not heard
  caldav::Session session(s);
  caldav::Status status;
  std::thread worker([&] { status = session.discover().status; });
  // The request is in flight once its connection is there.
  for (int i = 0; i < 3000 && silent.connections() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(silent.connections(), 2);
  session.abort();
  worker.join();
  EXPECT_EQ(status.error, Error::Cancelled) << Why(status);
}

}  // namespace

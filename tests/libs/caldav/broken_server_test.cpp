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

QList<QUrl> Hrefs(const ScriptedHttpServer& server, int n) {
  QList<QUrl> hrefs;
  for (int i = 0; i < n; ++i) hrefs << server.url(QStringLiteral("/cal/%1.ics").arg(i));
  return hrefs;
}

TEST(BrokenServerTest, AWholeAnswerIsRead) {
  // The scripted server itself, answering in full: what the broken variants below fall short of.
  const QByteArray body = Multistatus(50);
  ScriptedHttpServer server({"HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml\r\nContent-Length: " +
                             QByteArray::number(body.size()) + "\r\n\r\n" + body});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Objects got = session.fetch(server.url(QStringLiteral("/cal/")), Hrefs(server, 50));
  ASSERT_TRUE(got.status.ok()) << Why(got.status);
  EXPECT_EQ(got.objects.size(), 50);
  const QList<QByteArray> requests = server.requests();
  ASSERT_EQ(requests.size(), 1);
  EXPECT_TRUE(requests[0].startsWith("REPORT /cal/ HTTP/1.1"));
  EXPECT_TRUE(requests[0].contains("Depth: 1"));
}

TEST(BrokenServerTest, AnAnswerCutShortIsAnErrorWithNothingInIt) {
  const QByteArray body = Multistatus(50);
  ScriptedHttpServer server({"HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml\r\nContent-Length: " +
                             QByteArray::number(body.size()) + "\r\n\r\n" + body.left(body.size() / 2)});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Objects got = session.fetch(server.url(QStringLiteral("/cal/")), Hrefs(server, 50));
  EXPECT_EQ(got.status.error, Error::Unreachable) << Why(got.status);
  EXPECT_TRUE(got.objects.isEmpty());
  EXPECT_TRUE(got.missing.isEmpty());
}

TEST(BrokenServerTest, AChunkedAnswerCutShortIsAnError) {
  const QByteArray half = Multistatus(50).left(3000);
  ScriptedHttpServer server(
      {"HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n" +
       QByteArray::number(half.size(), 16) + "\r\n" + half + "\r\n"});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), {});
  EXPECT_FALSE(changes.status.ok());
  EXPECT_TRUE(changes.changed.isEmpty());
  EXPECT_TRUE(changes.syncToken.isEmpty());
}

TEST(BrokenServerTest, AnAnswerWithoutLengthThatStopsEarlyIsMalformed) {
  // Closing the connection is how HTTP/1.0 ends a body: the bytes are all there is, and they are
  // no whole multistatus.
  ScriptedHttpServer server(
      {"HTTP/1.0 207 Multi-Status\r\nContent-Type: text/xml\r\n\r\n" + Multistatus(50).left(3000)});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), {});
  EXPECT_EQ(changes.status.error, Error::MalformedResponse) << Why(changes.status);
  EXPECT_TRUE(changes.changed.isEmpty());
}

TEST(BrokenServerTest, AnEmptyMultistatusBodyIsMalformed) {
  ScriptedHttpServer server({"HTTP/1.1 207 Multi-Status\r\nContent-Length: 0\r\n\r\n"});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  EXPECT_EQ(session.syncCollection(server.url(QStringLiteral("/cal/")), {}).status.error, Error::MalformedResponse);
  EXPECT_EQ(session.discover().status.error, Error::MalformedResponse);
}

TEST(BrokenServerTest, ASuccessThatIsNoMultistatusIsMalformed) {
  ScriptedHttpServer server({"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 13\r\n\r\n<html></html>"});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), {});
  EXPECT_EQ(changes.status.error, Error::MalformedResponse) << Why(changes.status);
  EXPECT_EQ(changes.status.httpStatus, 200);
}

TEST(BrokenServerTest, ChangesWithoutANewTokenAreMalformed) {
  const QByteArray body = R"(<multistatus xmlns="DAV:"><response><href>/cal/a.ics</href>)"
                          R"(<status>HTTP/1.1 404 Not Found</status></response></multistatus>)";
  ScriptedHttpServer server(
      {"HTTP/1.1 207 Multi-Status\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), QStringLiteral("t1"));
  EXPECT_EQ(changes.status.error, Error::MalformedResponse) << Why(changes.status);
  EXPECT_TRUE(changes.removed.isEmpty());
}

TEST(BrokenServerTest, AHundredMegabyteAnswerIsRefused) {
  for (const QByteArray& head : {QByteArray("HTTP/1.1 207 Multi-Status\r\nContent-Length: 104857600\r\n\r\n"),
                                 QByteArray("HTTP/1.0 207 Multi-Status\r\n\r\n")}) {
    SCOPED_TRACE(head.toStdString());
    ScriptedHttpServer server({head, qint64(100) << 20});
    ASSERT_TRUE(server.ready());
    caldav::Session session(SettingsFor(server));
    const caldav::Changes changes = session.syncCollection(server.url(QStringLiteral("/cal/")), {});
    EXPECT_EQ(changes.status.error, Error::LimitExceeded) << Why(changes.status);
  }
}

TEST(BrokenServerTest, RedirectsEndAfterTheLimit) {
  ScriptedHttpServer server({"HTTP/1.1 301 Moved\r\nLocation: /elsewhere/\r\nContent-Length: 0\r\n\r\n"});
  ASSERT_TRUE(server.ready());
  caldav::Settings s = SettingsFor(server);
  s.limits.maxRedirects = 3;
  caldav::Session session(s);
  const caldav::Discovery found = session.discover();
  EXPECT_EQ(found.status.error, Error::RedirectRefused) << Why(found.status);
  EXPECT_EQ(server.requests().size(), 4);  // the request and three redirects
  EXPECT_TRUE(server.requests().last().startsWith("PROPFIND /elsewhere/ HTTP/1.1"));
}

TEST(BrokenServerTest, CredentialsGoWithTheRequestToTheServerOfTheSettingsOnly) {
  const QByteArray refusal =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cal\"\r\nContent-Length: 0\r\n\r\n";
  ScriptedHttpServer server({refusal});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  const caldav::Discovery found = session.discover();
  EXPECT_EQ(found.status.error, Error::AuthenticationRefused) << Why(found.status);
  EXPECT_EQ(found.status.httpStatus, 401);
  const QList<QByteArray> requests = server.requests();
  ASSERT_EQ(requests.size(), 1);
  // "jo:pw" in Basic, and the password in nothing the caller sees.
  EXPECT_TRUE(requests[0].contains("Authorization: Basic am86cHc="));
  EXPECT_FALSE(found.status.message.contains(QStringLiteral("pw")));

  // Without a user, none.
  caldav::Settings anonymous = SettingsFor(server);
  anonymous.user.clear();
  EXPECT_EQ(caldav::Session(anonymous).discover().status.error, Error::AuthenticationRefused);
  ASSERT_EQ(server.requests().size(), 2);
  EXPECT_FALSE(server.requests()[1].toLower().contains("authorization:"));

  // A redirect to another host name takes no credentials along.
  ScriptedHttpServer other({refusal});
  const QByteArray elsewhere = other.url(QStringLiteral("/dav/")).toEncoded().replace("127.0.0.1", "localhost");
  ScriptedHttpServer redirecting(
      {"HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere + "\r\nContent-Length: 0\r\n\r\n"});
  caldav::Session redirected(SettingsFor(redirecting));
  EXPECT_EQ(redirected.discover().status.error, Error::AuthenticationRefused);
  ASSERT_TRUE(redirecting.requests().value(0).contains("Authorization: Basic"));
  ASSERT_FALSE(other.requests().isEmpty());
  for (const QByteArray& request : other.requests()) EXPECT_FALSE(request.toLower().contains("authorization:"));
}

TEST(BrokenServerTest, AServerThatTakesDigestOnlyIsAnsweredInDigest) {
  ScriptedHttpServer server(
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cal\", "
       "nonce=\"abc\", qop=\"auth\"\r\nContent-Length: 0\r\n\r\n"});
  ASSERT_TRUE(server.ready());
  caldav::Session session(SettingsFor(server));
  EXPECT_EQ(session.discover().status.error, Error::AuthenticationRefused);
  const QList<QByteArray> requests = server.requests();
  ASSERT_GE(requests.size(), 2);
  EXPECT_TRUE(requests[0].contains("Authorization: Basic"));
  EXPECT_TRUE(requests.last().contains("Authorization: Digest username=\"jo\""));
  EXPECT_FALSE(requests.last().contains("pw"));
}

QByteArray Answer(const QByteArray& status, const QByteArray& headers, const QByteArray& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
         body;
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
  const QByteArray request = server.requests().value(0);
  EXPECT_TRUE(request.startsWith("REPORT /cal HTTP/1.1"));
  EXPECT_TRUE(request.contains("Depth: 0"));
}

TEST(ServerAnswerTest, ACreatedResourceIsWhereTheServerSaysWithTheStrongEtagItGave) {
  ScriptedHttpServer moved({Answer("201 Created", "Location: /cal/renamed%40x.ics\r\nETag: \"v1\"\r\n", {})});
  ScriptedHttpServer transformed({Answer("204 No Content", "ETag: W/\"v2\"\r\n", {})});
  ASSERT_TRUE(moved.ready() && transformed.ready());
  caldav::Session session(SettingsFor(moved));
  const caldav::WriteResult created = session.create(moved.url(QStringLiteral("/cal/new.ics")), "BEGIN:VCALENDAR\r\n");
  ASSERT_TRUE(created.status.ok()) << Why(created.status);
  EXPECT_EQ(created.href, moved.url(QStringLiteral("/cal/renamed@x.ics")));
  EXPECT_EQ(created.etag, QStringLiteral("\"v1\""));
  EXPECT_TRUE(moved.requests().value(0).startsWith("PUT /cal/new.ics HTTP/1.1"));
  EXPECT_TRUE(moved.requests().value(0).contains("Content-Type: text/calendar"));

  caldav::Session other(SettingsFor(transformed));
  const QUrl href = transformed.url(QStringLiteral("/cal/a.ics"));
  const caldav::WriteResult updated = other.update(href, "BEGIN:VCALENDAR\r\n", QStringLiteral("\"v1\""));
  ASSERT_TRUE(updated.status.ok()) << Why(updated.status);
  EXPECT_EQ(updated.href, href);
  EXPECT_TRUE(updated.etag.isEmpty());  // weak: the server changed the object, fetch it again
  EXPECT_TRUE(transformed.requests().value(0).contains("If-Match: \"v1\""));
}

TEST(BrokenServerTest, ServerErrorsAndPreconditionsAreTyped) {
  const QByteArray quota = R"(<D:error xmlns:D="DAV:"><D:quota-not-exceeded/></D:error>)";
  ScriptedHttpServer full({"HTTP/1.1 403 Forbidden\r\nContent-Type: application/xml\r\nContent-Length: " +
                           QByteArray::number(quota.size()) + "\r\n\r\n" + quota});
  ScriptedHttpServer failing({"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"});
  ASSERT_TRUE(full.ready() && failing.ready());
  caldav::Session toFull(SettingsFor(full));
  const caldav::WriteResult put = toFull.create(full.url(QStringLiteral("/cal/a.ics")), "BEGIN:VCALENDAR\r\n");
  EXPECT_EQ(put.status.error, Error::InsufficientStorage) << Why(put.status);
  EXPECT_TRUE(full.requests().value(0).contains("If-None-Match: *"));
  caldav::Session toFailing(SettingsFor(failing));
  EXPECT_EQ(toFailing.remove(failing.url(QStringLiteral("/cal/a.ics")), QStringLiteral("abc")).error,
            Error::ServerError);
  EXPECT_TRUE(failing.requests().value(0).contains("If-Match: \"abc\""));
}

TEST(BrokenServerTest, ASilentServerTimesOut) {
  // Connections are taken by the kernel (the backlog) but never answered.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  caldav::Settings s;
  s.url = QUrl(QStringLiteral("http://127.0.0.1:%1/cal/").arg(ntohs(address.sin_port)));
  s.requestTimeoutMs = 500;
  caldav::Session session(s);
  const caldav::Discovery found = session.discover();
  EXPECT_EQ(found.status.error, Error::Timeout) << Why(found.status);
  ::close(listener);
}

TEST(BrokenServerTest, AbortingStopsARequestInFlight) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  caldav::Settings s;
  s.url = QUrl(QStringLiteral("http://127.0.0.1:%1/cal/").arg(ntohs(address.sin_port)));
  s.requestTimeoutMs = 120000;  // what the request would end with, were the abort not heard
  caldav::Session session(s);
  caldav::Status status;
  std::thread worker([&] { status = session.discover().status; });
  // The request is in flight once its connection is there.
  pollfd p{listener, POLLIN, 0};
  const bool connected = ::poll(&p, 1, 30000) == 1;
  const int client = connected ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  session.abort();
  worker.join();
  EXPECT_TRUE(connected);
  EXPECT_EQ(status.error, Error::Cancelled) << Why(status);
  if (client >= 0) ::close(client);
  ::close(listener);
}

TEST(BrokenServerTest, AnAbortedSessionStartsNothing) {
  ScriptedHttpServer server({"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
  caldav::Session session(SettingsFor(server));
  session.abort();
  EXPECT_EQ(session.discover().status.error, Error::Cancelled);
  EXPECT_TRUE(server.requests().isEmpty());
}

TEST(BrokenServerTest, ACertificateFileThatIsNoFileIsRefused) {
  ScriptedHttpServer server({"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
  caldav::Settings s = SettingsFor(server);
  s.caFile = QStringLiteral("/");
  caldav::Session session(s);
  EXPECT_EQ(session.discover().status.error, Error::CertificateRefused);
  EXPECT_TRUE(server.requests().isEmpty());
}

}  // namespace

// Reading WebDAV multistatus and error bodies written by hand the way servers write them, and
// hostile ones.

#include <caldav/caldav_session.h>
#include <caldav/multistatus.h>

#include <gtest/gtest.h>

namespace {

using caldav::Error;
using caldav::kCalDavNs;
using caldav::kDavNs;
using caldav::Limits;
using caldav::ParseMultistatus;
using caldav::QualifiedName;

const QUrl kBase(QStringLiteral("https://dav.example.org/calendars/jo/home/"));

caldav::ParseOutcome Parse(const QByteArray& body, const Limits& limits = {}) {
  return ParseMultistatus(body, kBase, limits);
}

// The same answer in three spellings: prefixed "D:"/"C:", a default namespace, and the
// namespace URI "DAV:" bound to an unusual prefix.
const QByteArray kPrefixed = R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">
  <D:response>
    <D:href>/calendars/jo/home/a%20b.ics</D:href>
    <D:propstat>
      <D:prop><D:getetag>"e1"</D:getetag>
        <C:calendar-data>BEGIN:VCALENDAR&#13;
END:VCALENDAR&#13;
</C:calendar-data></D:prop>
      <D:status>HTTP/1.1 200 OK</D:status>
    </D:propstat>
  </D:response>
</D:multistatus>)";

const QByteArray kDefaultNamespace = R"(<multistatus xmlns="DAV:"><response>
<href>https://dav.example.org/calendars/jo/home/a b.ics</href>
<propstat><prop><getetag>"e1"</getetag><calendar-data xmlns="urn:ietf:params:xml:ns:caldav">BEGIN:VCALENDAR&#13;
END:VCALENDAR&#13;
</calendar-data></prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>)";

const QByteArray kOddPrefixes = R"(<dav:multistatus xmlns:dav="DAV:" xmlns:cal="urn:ietf:params:xml:ns:caldav">
<dav:response><dav:href>a%20b.ics</dav:href><dav:propstat><dav:prop><dav:getetag>"e1"</dav:getetag>
<cal:calendar-data><![CDATA[BEGIN:VCALENDAR)"
                                "\r\n"
                                R"(END:VCALENDAR)"
                                "\r\n"
                                R"(]]></cal:calendar-data></dav:prop>
<dav:status>HTTP/1.1 200 OK</dav:status></dav:propstat></dav:response></dav:multistatus>)";

TEST(MultistatusTest, PrefixesAndDefaultNamespacesReadTheSame) {
  for (const QByteArray& body : {kPrefixed, kDefaultNamespace, kOddPrefixes}) {
    const auto parsed = Parse(body);
    ASSERT_TRUE(parsed.status.ok()) << parsed.status.message.toStdString() << "\n" << body.toStdString();
    ASSERT_EQ(parsed.multistatus.responses.size(), 1);
    const caldav::Response& r = parsed.multistatus.responses.first();
    ASSERT_EQ(r.hrefs.size(), 1);
    EXPECT_EQ(r.hrefs.first(), QUrl(QStringLiteral("https://dav.example.org/calendars/jo/home/a%20b.ics")));
    EXPECT_EQ(r.properties.value(QualifiedName(kDavNs, "getetag")).text, QStringLiteral("\"e1\""));
    // XML makes every CRLF written as such (in CDATA too) an LF; only an escaped CR stays.
    const bool crEscaped = body != kOddPrefixes;
    EXPECT_EQ(r.properties.value(QualifiedName(kCalDavNs, "calendar-data")).text,
              crEscaped ? QStringLiteral("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n")
                        : QStringLiteral("BEGIN:VCALENDAR\nEND:VCALENDAR\n"));
  }
}

// Bodies no server should send: each is an error with no responses in it.
TEST(MultistatusTest, MalformedBodiesAreAnErrorAndNoResponses) {
  const QByteArray bodies[] = {
      {},
      " \r\n ",
      "Internal error, please try later",
      R"(<d:error xmlns:d="DAV:"><d:valid-sync-token/></d:error>)",
      R"(<multistatus xmlns="urn:example"><response/></multistatus>)",
      R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href><status>HTTP/1.1 200)",
      R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href><status>HTTP/1.1 404 Not Found</status></response>)",
      R"(<multistatus xmlns="DAV:"><response><status>HTTP/1.1 404 x</status></response></multistatus>)",
      R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href></response></multistatus>)",
      R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href><propstat><prop><getetag>"1"</getetag></prop>)"
      R"(</propstat></response></multistatus>)",
      R"(<d:multistatus><d:response/></d:multistatus>)",
      R"(<multistatus xmlns="DAV:"/><more/>)",
      R"(<!DOCTYPE m [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;">]><multistatus xmlns="DAV:">)"
      R"(<response><href>/&b;</href><status>HTTP/1.1 200 OK</status></response></multistatus>)"};
  for (const QByteArray& body : bodies) {
    const auto parsed = Parse(body);
    EXPECT_EQ(parsed.status.error, Error::MalformedResponse) << body.toStdString();
    EXPECT_FALSE(parsed.status.message.isEmpty());
    EXPECT_TRUE(parsed.multistatus.responses.isEmpty());
  }
}

TEST(MultistatusLimitsTest, DeepNestingTooManyResponsesAndHugeBodiesAreRefused) {
  for (const int depth : {50, 10000}) {
    QByteArray body = R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href><propstat><prop><p>)";
    body += QByteArray("<x>").repeated(depth) + QByteArray("</x>").repeated(depth);
    body += R"(</p></prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>)";
    const auto parsed = Parse(body);
    EXPECT_EQ(parsed.status.error, depth > 100 ? Error::LimitExceeded : Error::None) << depth;
    EXPECT_EQ(parsed.multistatus.responses.size(), depth > 100 ? 0 : 1);
  }
  EXPECT_EQ(
      Parse(QByteArray(R"(<multistatus xmlns="DAV:">)") + QByteArray(100 << 20, ' ') + "</multistatus>").status.error,
      Error::LimitExceeded);
  Limits limits;
  limits.maxResponses = 3;
  QByteArray body = R"(<multistatus xmlns="DAV:">)";
  for (int i = 0; i < 4; ++i)
    body += "<response><href>/" + QByteArray::number(i) + ".ics</href><status>HTTP/1.1 404 x</status></response>";
  body += "</multistatus>";
  EXPECT_EQ(Parse(body, limits).status.error, Error::LimitExceeded);
  limits.maxResponses = 4;
  EXPECT_EQ(Parse(body, limits).multistatus.responses.size(), 4);
}

TEST(MultistatusLimitsTest, AnOversizedCalendarObjectIsMarkedAndDropped) {
  Limits limits;
  limits.maxObjectBytes = 1000;
  const QByteArray body = R"(<multistatus xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav"><response>
<href>/big.ics</href><propstat><prop><C:calendar-data>)" +
                          QByteArray(1001, 'a') +
                          R"(</C:calendar-data></prop><status>HTTP/1.1 200 OK</status></propstat></response>
<response><href>/small.ics</href><propstat><prop><C:calendar-data>)" +
                          QByteArray(1000, 'a') +
                          R"(</C:calendar-data></prop><status>HTTP/1.1 200 OK</status></propstat></response>
</multistatus>)";
  const auto parsed = Parse(body, limits);
  ASSERT_TRUE(parsed.status.ok()) << parsed.status.message.toStdString();
  const auto big = parsed.multistatus.responses[0].properties.value(QualifiedName(kCalDavNs, "calendar-data"));
  const auto small = parsed.multistatus.responses[1].properties.value(QualifiedName(kCalDavNs, "calendar-data"));
  EXPECT_TRUE(big.oversized);
  EXPECT_TRUE(big.text.isEmpty());
  EXPECT_FALSE(small.oversized);
  EXPECT_EQ(small.text.size(), 1000);
}

// The error a caller acts on, for each status and precondition body.
TEST(StatusForTest, MapsToTheErrorACallerActsOn) {
  const QByteArray token = R"(<error xmlns="DAV:"><valid-sync-token/></error>)";
  const QByteArray size =
      R"(<e:error xmlns:e="DAV:"><c:max-resource-size xmlns:c="urn:ietf:params:xml:ns:caldav"/></e:error>)";
  const QByteArray uid = R"(<D:error xmlns:D="DAV:"><C:no-uid-conflict xmlns:C="urn:ietf:params:xml:ns:caldav">)"
                         R"(<D:href>/x.ics</D:href></C:no-uid-conflict></D:error>)";
  const struct {
    int http;
    QByteArray body;
    Error expected;
  } cases[] = {{200, {}, Error::None},
               {204, {}, Error::None},
               {401, {}, Error::AuthenticationRefused},
               {403, "Forbidden", Error::AuthenticationRefused},
               {403, token, Error::TokenInvalid},
               {409, token, Error::TokenInvalid},
               {403, size, Error::InsufficientStorage},
               {403, uid, Error::Rejected},
               {404, {}, Error::NotFound},
               {410, {}, Error::NotFound},
               {412, {}, Error::Conflict},
               {413, {}, Error::InsufficientStorage},
               {507, {}, Error::InsufficientStorage},
               {405, {}, Error::Rejected},
               {409, {}, Error::Rejected},
               {500, {}, Error::ServerError},
               {503, {}, Error::ServerError}};
  for (const auto& c : cases) {
    const caldav::Status status = caldav::StatusFor(c.http, c.body, Limits{});
    EXPECT_EQ(status.error, c.expected) << c.http << " " << c.body.toStdString();
    EXPECT_EQ(status.httpStatus, c.http);
  }
}

}  // namespace

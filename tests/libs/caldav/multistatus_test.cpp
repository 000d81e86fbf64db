// Reading WebDAV multistatus and error bodies written by hand the way servers write them, and
// hostile ones.

#include <caldav/caldav_session.h>
#include <caldav/multistatus.h>

#include <gtest/gtest.h>

#include <ostream>

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

TEST(MultistatusTest, ElementsOfOtherNamespacesWithTheSameLocalNameAreNotTakenForDavOnes) {
  const auto parsed = Parse(R"(<multistatus xmlns="DAV:" xmlns:x="urn:example:other"><response>
<href>/a.ics</href><x:href>/wrong.ics</x:href>
<propstat><prop><x:getetag>"no"</x:getetag></prop><status>HTTP/1.1 200 OK</status></propstat>
</response></multistatus>)");
  ASSERT_TRUE(parsed.status.ok()) << parsed.status.message.toStdString();
  const caldav::Response& r = parsed.multistatus.responses.first();
  EXPECT_EQ(r.hrefs, QList<QUrl>{QUrl(QStringLiteral("https://dav.example.org/a.ics"))});
  EXPECT_FALSE(r.properties.contains(QualifiedName(kDavNs, "getetag")));
  EXPECT_TRUE(r.properties.contains(QStringLiteral("{urn:example:other}getetag")));
}

TEST(MultistatusTest, PropertiesAreSplitByTheirPropstatStatus) {
  const auto parsed = Parse(R"(<d:multistatus xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav"
    xmlns:cs="http://calendarserver.org/ns/"><d:response><d:href>/calendars/jo/home/</d:href>
  <d:propstat><d:prop>
    <d:resourcetype><d:collection/><c:calendar/></d:resourcetype>
    <d:displayname> Work </d:displayname>
    <c:supported-calendar-component-set><c:comp name="VEVENT"/><c:comp name="VTODO"/></c:supported-calendar-component-set>
    <d:current-user-principal><d:href>/principals/jo/</d:href></d:current-user-principal>
  </d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>
  <d:propstat><d:prop><cs:getctag/><d:sync-token/></d:prop><d:status>HTTP/1.1 404 Not Found</d:status></d:propstat>
</d:response></d:multistatus>)");
  ASSERT_TRUE(parsed.status.ok()) << parsed.status.message.toStdString();
  const caldav::Response& r = parsed.multistatus.responses.first();
  EXPECT_EQ(r.properties.value(QualifiedName(kDavNs, "resourcetype")).children,
            QStringList({QualifiedName(kDavNs, "collection"), QualifiedName(kCalDavNs, "calendar")}));
  EXPECT_EQ(r.properties.value(QualifiedName(kDavNs, "displayname")).text.trimmed(), QStringLiteral("Work"));
  EXPECT_EQ(r.properties.value(QualifiedName(kCalDavNs, "supported-calendar-component-set")).componentNames,
            QStringList({"VEVENT", "VTODO"}));
  EXPECT_EQ(r.properties.value(QualifiedName(kDavNs, "current-user-principal")).hrefs,
            QList<QUrl>{QUrl(QStringLiteral("https://dav.example.org/principals/jo/"))});
  EXPECT_FALSE(r.properties.contains(QStringLiteral("{http://calendarserver.org/ns/}getctag")));
  EXPECT_EQ(r.missing, QStringList({QStringLiteral("{http://calendarserver.org/ns/}getctag"),
                                    QualifiedName(kDavNs, "sync-token")}));
}

TEST(MultistatusTest, SyncAnswerCarriesTokenRemovedMembersAndSeveralHrefs) {
  const auto parsed = Parse(R"(<multistatus xmlns="DAV:">
  <response><href>/calendars/jo/home/gone.ics</href><status>HTTP/1.1 404 Not Found</status></response>
  <response><href>one.ics</href><href>two.ics</href><status>HTTP/1.1 404 Not Found</status></response>
  <sync-token>http://example.org/ns/sync/42</sync-token>
</multistatus>)");
  ASSERT_TRUE(parsed.status.ok()) << parsed.status.message.toStdString();
  EXPECT_EQ(parsed.multistatus.syncToken, QStringLiteral("http://example.org/ns/sync/42"));
  ASSERT_EQ(parsed.multistatus.responses.size(), 2);
  EXPECT_EQ(parsed.multistatus.responses[0].status, 404);
  EXPECT_EQ(parsed.multistatus.responses[1].hrefs.size(), 2);
}

TEST(MultistatusTest, HrefsAreResolvedAndComparableWhateverTheirEncoding) {
  const QUrl at1 = caldav::ResolveHref(QStringLiteral("/calendars/jo/home/a%40b.ics"), kBase);
  const QUrl at2 = caldav::ResolveHref(QStringLiteral("a@b.ics"), kBase);
  const QUrl at3 = caldav::ResolveHref(QStringLiteral("https://DAV.example.org:443/calendars/jo/home/a@b.ics"), kBase);
  EXPECT_EQ(at1, at2);
  EXPECT_EQ(at1, at3);
  EXPECT_EQ(at1.path(), QStringLiteral("/calendars/jo/home/a@b.ics"));
  EXPECT_EQ(caldav::ResolveHref(QStringLiteral("my cal/x y.ics"), kBase),
            caldav::ResolveHref(QStringLiteral("my%20cal/x%20y.ics"), kBase));
  EXPECT_EQ(caldav::ResolveHref(QStringLiteral("%C3%A9t%C3%A9.ics"), kBase).path(),
            QString::fromUtf8("/calendars/jo/home/été.ics"));
  EXPECT_FALSE(caldav::ResolveHref(QStringLiteral("   "), kBase).isValid());
  EXPECT_FALSE(caldav::ResolveHref(QStringLiteral("mailto:jo@example.org"), kBase).isValid());
}

TEST(MultistatusTest, StatusLines) {
  EXPECT_EQ(caldav::ParseStatusLine(QStringLiteral("HTTP/1.1 404 Not Found")), 404);
  EXPECT_EQ(caldav::ParseStatusLine(QStringLiteral("  HTTP/1.1   507 Insufficient Storage ")), 507);
  EXPECT_EQ(caldav::ParseStatusLine(QStringLiteral("404")), 0);
  EXPECT_EQ(caldav::ParseStatusLine(QStringLiteral("HTTP/1.1 99999 Huge")), 0);
}

class MultistatusRefusalTest : public ::testing::TestWithParam<std::pair<const char*, QByteArray>> {};

TEST_P(MultistatusRefusalTest, IsAnErrorAndNoResponses) {
  const auto parsed = Parse(GetParam().second);
  EXPECT_EQ(parsed.status.error, Error::MalformedResponse) << parsed.status.message.toStdString();
  EXPECT_FALSE(parsed.status.message.isEmpty());
  EXPECT_TRUE(parsed.multistatus.responses.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, MultistatusRefusalTest,
    ::testing::Values(
        std::pair{"Empty", QByteArray()}, std::pair{"WhiteSpace", QByteArray(" \r\n ")},
        std::pair{"NotXml", QByteArray("Internal error, please try later")},
        std::pair{"NoMultistatusRoot", QByteArray(R"(<d:error xmlns:d="DAV:"><d:valid-sync-token/></d:error>)")},
        std::pair{"MultistatusOfAnotherNamespace",
                  QByteArray(R"(<multistatus xmlns="urn:example"><response/></multistatus>)")},
        std::pair{"CutShort",
                  QByteArray(R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href><status>HTTP/1.1 200)")},
        std::pair{"RootNeverClosed", QByteArray(R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href>)"
                                                R"(<status>HTTP/1.1 404 Not Found</status></response>)")},
        std::pair{"ResponseWithoutHref",
                  QByteArray(R"(<multistatus xmlns="DAV:"><response><status>HTTP/1.1 404 x</status></response>)"
                             R"(</multistatus>)")},
        std::pair{"ResponseWithoutStatus",
                  QByteArray(R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href></response></multistatus>)")},
        std::pair{"PropstatWithoutStatus",
                  QByteArray(R"(<multistatus xmlns="DAV:"><response><href>/a.ics</href><propstat><prop>)"
                             R"(<getetag>"1"</getetag></prop></propstat></response></multistatus>)")},
        std::pair{"UndeclaredPrefix", QByteArray(R"(<d:multistatus><d:response/></d:multistatus>)")},
        std::pair{"TrailingElement", QByteArray(R"(<multistatus xmlns="DAV:"/><more/>)")},
        std::pair{"DocumentType",
                  QByteArray(R"(<!DOCTYPE m [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;">]>)"
                             R"(<multistatus xmlns="DAV:"><response><href>/&b;</href>)"
                             R"(<status>HTTP/1.1 200 OK</status></response></multistatus>)")}),
    [](const auto& info) { return std::string(info.param.first); });

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

TEST(ErrorBodyTest, PreconditionsAreNamedWhateverThePrefix) {
  const Limits limits;
  EXPECT_EQ(caldav::ParseErrorBody(R"(<?xml version="1.0"?><error xmlns="DAV:"><valid-sync-token /></error>)", limits),
            QStringList{QualifiedName(kDavNs, "valid-sync-token")});
  EXPECT_EQ(caldav::ParseErrorBody(R"(<D:error xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">
      <C:max-resource-size/><D:quota-not-exceeded/></D:error>)",
                                   limits),
            QStringList({QualifiedName(kCalDavNs, "max-resource-size"), QualifiedName(kDavNs, "quota-not-exceeded")}));
  EXPECT_TRUE(caldav::ParseErrorBody("Forbidden", limits).isEmpty());
  EXPECT_TRUE(caldav::ParseErrorBody(R"(<html><body>403</body></html>)", limits).isEmpty());
}

struct StatusCase {
  int http;
  QByteArray body;
  Error expected;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << c.http << " " << c.body.toStdString() << " -> " << caldav::ErrorName(c.expected).toStdString();
}

class StatusForTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusForTest, MapsToTheErrorACallerActsOn) {
  const caldav::Status status = caldav::StatusFor(GetParam().http, GetParam().body, Limits{});
  EXPECT_EQ(status.error, GetParam().expected) << caldav::ErrorName(status.error).toStdString();
  EXPECT_EQ(status.httpStatus, GetParam().http);
}

const QByteArray kTokenError = R"(<error xmlns="DAV:"><valid-sync-token/></error>)";
const QByteArray kSizeError =
    R"(<e:error xmlns:e="DAV:"><c:max-resource-size xmlns:c="urn:ietf:params:xml:ns:caldav"/></e:error>)";
const QByteArray kUidError =
    R"(<D:error xmlns:D="DAV:"><C:no-uid-conflict xmlns:C="urn:ietf:params:xml:ns:caldav"><D:href>/x.ics</D:href></C:no-uid-conflict></D:error>)";

INSTANTIATE_TEST_SUITE_P(
    Http, StatusForTest,
    ::testing::Values(StatusCase{200, {}, Error::None}, StatusCase{204, {}, Error::None},
                      StatusCase{401, {}, Error::AuthenticationRefused},
                      StatusCase{403, "Forbidden", Error::AuthenticationRefused},
                      StatusCase{403, kTokenError, Error::TokenInvalid},
                      StatusCase{409, kTokenError, Error::TokenInvalid},
                      StatusCase{403, kSizeError, Error::InsufficientStorage},
                      StatusCase{403, kUidError, Error::Rejected}, StatusCase{404, {}, Error::NotFound},
                      StatusCase{410, {}, Error::NotFound}, StatusCase{412, {}, Error::Conflict},
                      StatusCase{413, {}, Error::InsufficientStorage}, StatusCase{507, {}, Error::InsufficientStorage},
                      StatusCase{405, {}, Error::Rejected}, StatusCase{409, {}, Error::Rejected},
                      StatusCase{500, {}, Error::ServerError}, StatusCase{503, {}, Error::ServerError}));

}  // namespace

#include "caldav/caldav_session.h"

#include "http_transfer.h"

#include <QFileInfo>
#include <QSet>
#include <QXmlStreamWriter>

#include <modules/module.h>

#include <functional>

namespace caldav {

QString ErrorName(Error error) {
  switch (error) {
    case Error::None: return QStringLiteral("none");
    case Error::Unreachable: return QStringLiteral("unreachable");
    case Error::Timeout: return QStringLiteral("timeout");
    case Error::AuthenticationRefused: return QStringLiteral("authentication refused");
    case Error::CertificateRefused: return QStringLiteral("certificate refused");
    case Error::NotFound: return QStringLiteral("not found");
    case Error::Conflict: return QStringLiteral("conflict");
    case Error::InsufficientStorage: return QStringLiteral("insufficient storage");
    case Error::TokenInvalid: return QStringLiteral("sync token invalid");
    case Error::Rejected: return QStringLiteral("rejected");
    case Error::RedirectRefused: return QStringLiteral("redirect refused");
    case Error::ServerError: return QStringLiteral("server error");
    case Error::MalformedResponse: return QStringLiteral("malformed response");
    case Error::LimitExceeded: return QStringLiteral("limit exceeded");
    case Error::Cancelled: return QStringLiteral("cancelled");
    case Error::NotInstalled: return QStringLiteral("not installed");
  }
  return QStringLiteral("unknown");
}

namespace {

const modules::Table<transfer::Api>& TheBackend() {
  static const auto table =
      modules::LoadTable<transfer::Api>(QString::fromLatin1(transfer::kModuleFile), transfer::kEntryPoint,
                                        transfer::kVersion, QStringLiteral("The calendar sync"));
  return table;
}

// The curl codes this layer tells apart (the face does not include curl's header).
enum CurlCode {
  kUnsupportedProtocol = 1,
  kCouldNotResolveProxy = 5,
  kCouldNotResolveHost = 6,
  kCouldNotConnect = 7,
  kWeirdServerReply = 8,
  kHttp2 = 16,
  kPartialFile = 18,
  kWriteError = 23,
  kTimedOut = 28,
  kSslConnectError = 35,
  kAbortedByCallback = 42,
  kGotNothing = 52,
  kSendError = 55,
  kReceiveError = 56,
  kSslCertProblem = 58,
  kPeerFailedVerification = 60,
  kBadContentEncoding = 61,
  kFileSizeExceeded = 63,
  kSslCaCertBadFile = 77,
  kSslIssuerError = 83,
  kPinnedKeyMismatch = 90,
  kHttp2Stream = 92,
};

Status TransportStatus(const transfer::Outcome& outcome, const QUrl& url, const Limits& limits) {
  const QString where = url.host();
  if (outcome.tooLarge || outcome.code == kFileSizeExceeded)
    return {Error::LimitExceeded, outcome.httpStatus,
            QStringLiteral("%1 sent more than %2 bytes").arg(where).arg(limits.maxResponseBytes)};
  Error error = Error::Unreachable;
  switch (outcome.code) {
    case kTimedOut: error = Error::Timeout; break;
    case kAbortedByCallback: error = Error::Cancelled; break;
    case kSslCertProblem:
    case kPeerFailedVerification:
    case kSslCaCertBadFile:
    case kSslIssuerError:
    case kPinnedKeyMismatch: error = Error::CertificateRefused; break;
    case kWeirdServerReply:
    case kBadContentEncoding: error = Error::MalformedResponse; break;
    case kWriteError:
    case kUnsupportedProtocol:
    case kCouldNotResolveProxy:
    case kCouldNotResolveHost:
    case kCouldNotConnect:
    case kHttp2:
    case kPartialFile:
    case kSslConnectError:
    case kGotNothing:
    case kSendError:
    case kReceiveError:
    case kHttp2Stream:
    default: break;
  }
  if (error == Error::Cancelled) return {error, 0, QStringLiteral("Cancelled")};
  return {error, outcome.httpStatus, QStringLiteral("%1: %2").arg(where, outcome.message)};
}

bool HasCondition(const QStringList& conditions, const char* ns, const char* local) {
  return conditions.contains(QualifiedName(ns, local));
}

int EffectivePort(const QUrl& url) { return url.port(url.scheme() == u"https" ? 443 : 80); }

// Whether credentials for `server` may go to `target`: the same host, on the same port or over
// https (a server that moves from http to https moves to its standard port as well).
bool MayHaveCredentials(const QUrl& target, const QUrl& server) {
  return target.host().compare(server.host(), Qt::CaseInsensitive) == 0 &&
         (EffectivePort(target) == EffectivePort(server) || target.scheme().toLower() == u"https");
}

// Whether two URLs name the same server: scheme, host and port.
bool SameServer(const QUrl& a, const QUrl& b) {
  return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
         a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && EffectivePort(a) == EffectivePort(b);
}

bool WantsDigestOnly(const QList<QByteArray>& headers) {
  bool digest = false;
  for (const QByteArray& line : headers) {
    const QByteArray lower = line.toLower();
    if (!lower.startsWith("www-authenticate:")) continue;
    const QByteArray scheme = lower.mid(17).trimmed();
    if (scheme.startsWith("basic")) return false;
    if (scheme.startsWith("digest")) digest = true;
  }
  return digest;
}

// Collections are compared without their final slash: servers are not consistent about it.
QString CollectionKey(const QUrl& url) {
  QString key = url.toString(QUrl::FullyEncoded);
  while (key.endsWith(QLatin1Char('/'))) key.chop(1);
  return key;
}

QByteArray Quoted(const QString& etag) {
  const QString trimmed = etag.trimmed();
  if (trimmed.startsWith(QLatin1Char('"')) || trimmed.startsWith(QLatin1String("W/"))) return trimmed.toUtf8();
  return '"' + trimmed.toUtf8() + '"';
}

// A request body: the root element with DAV: as "d" and CalDAV as "c".
QByteArray Xml(const std::function<void(QXmlStreamWriter&)>& write) {
  QByteArray bytes;
  QXmlStreamWriter xml(&bytes);
  xml.writeStartDocument();
  xml.writeNamespace(QLatin1String(kDavNs), QStringLiteral("d"));
  xml.writeNamespace(QLatin1String(kCalDavNs), QStringLiteral("c"));
  xml.writeNamespace(QLatin1String(kCalendarServerNs), QStringLiteral("cs"));
  write(xml);
  xml.writeEndDocument();
  return bytes;
}

void Props(QXmlStreamWriter& xml, const QList<std::pair<const char*, const char*>>& names) {
  xml.writeStartElement(QLatin1String(kDavNs), QStringLiteral("prop"));
  for (const auto& [ns, local] : names) xml.writeEmptyElement(QLatin1String(ns), QLatin1String(local));
  xml.writeEndElement();
}

QString Text(const Response& response, const char* ns, const char* local) {
  const auto it = response.properties.constFind(QualifiedName(ns, local));
  return it == response.properties.cend() ? QString() : it->text.trimmed();
}

QUrl FirstHref(const Response& response, const char* ns, const char* local) {
  const auto it = response.properties.constFind(QualifiedName(ns, local));
  return it == response.properties.cend() || it->hrefs.isEmpty() ? QUrl() : it->hrefs.first();
}

bool IsCalendar(const Response& response) {
  const auto it = response.properties.constFind(QualifiedName(kDavNs, "resourcetype"));
  return it != response.properties.cend() && it->children.contains(QualifiedName(kCalDavNs, "calendar"));
}

Calendar CalendarOf(const Response& response) {
  Calendar calendar;
  calendar.url = response.hrefs.first();
  calendar.displayName = Text(response, kDavNs, "displayname");
  const auto comps = response.properties.constFind(QualifiedName(kCalDavNs, "supported-calendar-component-set"));
  if (comps != response.properties.cend()) calendar.components = comps->componentNames;
  calendar.ctag = Text(response, kCalendarServerNs, "getctag");
  calendar.syncToken = Text(response, kDavNs, "sync-token");
  return calendar;
}

const QList<std::pair<const char*, const char*>> kCollectionProps = {
    {kDavNs, "resourcetype"},       {kDavNs, "displayname"}, {kCalDavNs, "supported-calendar-component-set"},
    {kCalendarServerNs, "getctag"}, {kDavNs, "sync-token"},
};

}  // namespace

Status StatusFor(int httpStatus, const QByteArray& body, const Limits& limits) {
  if (httpStatus >= 200 && httpStatus < 300) return {Error::None, httpStatus, {}};
  const QStringList conditions = ParseErrorBody(body, limits);
  QString message = QStringLiteral("The server answered %1").arg(httpStatus);
  if (!conditions.isEmpty()) message += QStringLiteral(" (%1)").arg(conditions.join(QStringLiteral(", ")));
  Error error = Error::Rejected;
  if (HasCondition(conditions, kDavNs, "valid-sync-token"))
    error = Error::TokenInvalid;
  else if (HasCondition(conditions, kDavNs, "quota-not-exceeded") ||
           HasCondition(conditions, kCalDavNs, "max-resource-size") ||
           HasCondition(conditions, kDavNs, "sufficient-disk-space"))
    error = Error::InsufficientStorage;
  else if (httpStatus == 401 || (httpStatus == 403 && conditions.isEmpty()))
    error = Error::AuthenticationRefused;
  else if (httpStatus == 404 || httpStatus == 410)
    error = Error::NotFound;
  else if (httpStatus == 412)
    error = Error::Conflict;
  else if (httpStatus == 413 || httpStatus == 507)
    error = Error::InsufficientStorage;
  else if (httpStatus >= 500)
    error = Error::ServerError;
  return {error, httpStatus, message};
}

QByteArray Session::Exchange::header(const char* name) const {
  const QByteArray prefix = QByteArray(name).toLower() + ':';
  for (const QByteArray& line : headers)
    if (line.toLower().startsWith(prefix)) return line.mid(prefix.size()).trimmed();
  return {};
}

Session::Session(Settings settings) : m_settings(std::move(settings)) {
  m_settings.url.setUserInfo({});
  if (m_settings.url.path().isEmpty()) m_settings.url.setPath(QStringLiteral("/"));
}

Session::Exchange Session::send(const QByteArray& method, const QUrl& url, const QByteArray& body,
                                const QList<QByteArray>& headers) {
  Exchange exchange;
  exchange.url = url;
  if (m_abort) {
    exchange.status = {Error::Cancelled, 0, QStringLiteral("Cancelled")};
    return exchange;
  }
  const transfer::Api* api = TheBackend().api;
  if (!api) {
    exchange.status = {Error::NotInstalled, 0, TheBackend().error};
    return exchange;
  }
  const Limits& limits = m_settings.limits;
  if (!m_settings.caFile.isEmpty() && !QFileInfo(m_settings.caFile).isFile()) {
    exchange.status = {Error::CertificateRefused, 0,
                       QStringLiteral("%1 is not a regular file of certificates").arg(m_settings.caFile)};
    return exchange;
  }
  if (!m_passDeadline) m_passDeadline = QDeadlineTimer(qMax(0, m_settings.passDeadlineMs));
  QUrl current = url;
  bool negotiate = false;
  for (int redirects = 0;; ++redirects) {
    // What is left of the pass bounds every request, and once it is gone none is made.
    const qint64 left = m_passDeadline->remainingTime();
    if (left <= 0) {
      exchange.status = {Error::Timeout, 0,
                         QStringLiteral("%1 took more than %2 seconds over one sync")
                             .arg(m_settings.url.host())
                             .arg(m_settings.passDeadlineMs / 1000)};
      return exchange;
    }
    const QString scheme = current.scheme().toLower();
    if (scheme != u"http" && scheme != u"https") {
      exchange.status = {Error::Rejected, 0, QStringLiteral("%1 is not an http or https URL").arg(current.toString())};
      return exchange;
    }
    transfer::Request request;
    request.method = method;
    request.url = current.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    request.headers = headers;
    request.body = body;
    // Credentials go to the server of the settings only, never to one a redirect names.
    // Basic goes with the first request: servers answer a request without credentials with
    // whatever they show to anyone (Radicale: 404, 409, or an empty listing), not always 401.
    if (!m_settings.user.isEmpty() && MayHaveCredentials(current, m_settings.url)) {
      request.auth = negotiate ? transfer::Request::Negotiated : transfer::Request::Basic;
      request.user = m_settings.user.toUtf8();
      request.password = m_settings.password.toUtf8();
    }
    request.connectTimeoutMs = long(qMin<qint64>(m_settings.connectTimeoutMs, left));
    request.totalTimeoutMs = long(qMin<qint64>(m_settings.requestTimeoutMs, left));
    request.verifyTls = m_settings.verifyTls;
    if (!m_settings.caFile.isEmpty())
      request.caFile = QFile::encodeName(QFileInfo(m_settings.caFile).absoluteFilePath());
    request.maxBodyBytes = limits.maxResponseBytes;
    request.abort = &m_abort;
    transfer::Outcome outcome = api->perform(request);
    exchange.url = current;
    exchange.httpStatus = outcome.httpStatus;
    if (outcome.code != 0 || outcome.tooLarge) {
      exchange.status = TransportStatus(outcome, current, limits);
      return exchange;
    }
    exchange.headers = std::move(outcome.headers);
    exchange.body = std::move(outcome.body);
    const int status = outcome.httpStatus;
    if (status == 401 && request.auth == transfer::Request::Basic && !negotiate && WantsDigestOnly(exchange.headers)) {
      negotiate = true;  // a server that takes Digest only: answer its challenge
      --redirects;
      continue;
    }
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return exchange;

    const QByteArray location = exchange.header("location");
    const QUrl next = current.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
    if (location.isEmpty() || !next.isValid()) {
      exchange.status = {Error::MalformedResponse, status, QStringLiteral("A redirect without a usable Location")};
      return exchange;
    }
    if (redirects + 1 > limits.maxRedirects) {
      exchange.status = {Error::RedirectRefused, status,
                         QStringLiteral("More than %1 redirects from %2").arg(limits.maxRedirects).arg(url.toString())};
      return exchange;
    }
    if (!SameServer(next, m_settings.url)) {
      // Whatever follows would go there too, with the user's reminders: the request ends here.
      exchange.status = {Error::RedirectRefused, status,
                         QStringLiteral("%1 sent the sync on to another server, %2: nothing was sent there (make "
                                        "that the calendar's address if it is the right one)")
                             .arg(current.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery),
                                  next.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery))};
      return exchange;
    }
    if (current.scheme().toLower() == u"https" && next.scheme().toLower() != u"https") {
      exchange.status = {Error::RedirectRefused, status,
                         QStringLiteral("A redirect from https to %1 refused").arg(next.toString())};
      return exchange;
    }
    current = next;
  }
}

Status Session::multistatus(const QByteArray& method, const QUrl& url, int depth, const QByteArray& body,
                            ParseOutcome* parsed, QUrl* answeredUrl) {
  const Exchange exchange = send(method, url, body,
                                 {QByteArrayLiteral("Content-Type: application/xml; charset=utf-8"),
                                  QByteArrayLiteral("Depth: ") + QByteArray::number(depth)});
  if (!exchange.status.ok()) return exchange.status;
  if (answeredUrl) *answeredUrl = exchange.url;
  if (exchange.httpStatus != 207) {
    Status status = StatusFor(exchange.httpStatus, exchange.body, m_settings.limits);
    if (status.ok())
      status = {Error::MalformedResponse, exchange.httpStatus,
                QStringLiteral("The server answered %1 where a multistatus was needed").arg(exchange.httpStatus)};
    return status;
  }
  *parsed = ParseMultistatus(exchange.body, exchange.url, m_settings.limits);
  parsed->status.httpStatus = 207;
  return parsed->status;
}

Status Session::propfindCollection(const QUrl& url, Discovery& discovery, bool* isCalendar) {
  *isCalendar = false;
  auto props = kCollectionProps;
  props << std::pair{kDavNs, "current-user-principal"} << std::pair{kCalDavNs, "calendar-home-set"};
  const QByteArray body = Xml([&](QXmlStreamWriter& xml) {
    xml.writeStartElement(QLatin1String(kDavNs), QStringLiteral("propfind"));
    Props(xml, props);
    xml.writeEndElement();
  });
  ParseOutcome parsed;
  QUrl answered;
  const Status status = multistatus("PROPFIND", url, 0, body, &parsed, &answered);
  if (!status.ok()) return status;
  if (parsed.multistatus.responses.isEmpty())
    return {Error::MalformedResponse, 207, QStringLiteral("The server described nothing at %1").arg(url.toString())};
  const Response& response = parsed.multistatus.responses.first();
  if (IsCalendar(response)) {
    *isCalendar = true;
    discovery.calendars = {CalendarOf(response)};
    return {};
  }
  const QUrl home = FirstHref(response, kCalDavNs, "calendar-home-set");
  const QUrl principal = FirstHref(response, kDavNs, "current-user-principal");
  if (principal.isValid()) discovery.principal = principal;
  if (home.isValid()) discovery.calendarHome = home;
  return {};
}

Status Session::listCalendars(const QUrl& home, Discovery& discovery) {
  const QByteArray body = Xml([&](QXmlStreamWriter& xml) {
    xml.writeStartElement(QLatin1String(kDavNs), QStringLiteral("propfind"));
    Props(xml, kCollectionProps);
    xml.writeEndElement();
  });
  ParseOutcome parsed;
  const Status status = multistatus("PROPFIND", home, 1, body, &parsed, nullptr);
  if (!status.ok()) return status;
  for (const Response& response : parsed.multistatus.responses)
    if (IsCalendar(response)) discovery.calendars << CalendarOf(response);
  return {};
}

Discovery Session::discover() {
  Discovery discovery;
  const QUrl start = m_settings.url;
  QList<QUrl> candidates;
  if (start.path() == u"/") candidates << start.resolved(QUrl(QStringLiteral("/.well-known/caldav")));
  candidates << start;
  Status last;
  for (const QUrl& candidate : candidates) {
    discovery = {};
    bool isCalendar = false;
    last = propfindCollection(candidate, discovery, &isCalendar);
    if (!last.ok()) {
      // A server without the well-known URL may still answer at the one given; anything else
      // (no connection, no login) would end the same way there.
      if (last.error == Error::NotFound || last.error == Error::Rejected || last.error == Error::MalformedResponse)
        continue;
      discovery.status = last;
      return discovery;
    }
    if (isCalendar) return discovery;
    if (!discovery.calendarHome.isValid() && discovery.principal.isValid()) {
      Discovery ofPrincipal;
      last = propfindCollection(discovery.principal, ofPrincipal, &isCalendar);
      if (!last.ok()) {
        discovery.status = last;
        return discovery;
      }
      discovery.calendarHome = ofPrincipal.calendarHome;
    }
    if (!discovery.calendarHome.isValid()) {
      last = {Error::NotFound, 207,
              QStringLiteral("%1 names neither a calendar home nor a principal").arg(candidate.toString())};
      continue;
    }
    discovery.status = listCalendars(discovery.calendarHome, discovery);
    return discovery;
  }
  discovery = {};
  discovery.status = last;
  return discovery;
}

Status Session::makeCalendar(const QUrl& collection, const QString& displayName) {
  const QByteArray body = Xml([&](QXmlStreamWriter& xml) {
    xml.writeStartElement(QLatin1String(kCalDavNs), QStringLiteral("mkcalendar"));
    xml.writeStartElement(QLatin1String(kDavNs), QStringLiteral("set"));
    xml.writeStartElement(QLatin1String(kDavNs), QStringLiteral("prop"));
    xml.writeTextElement(QLatin1String(kDavNs), QStringLiteral("displayname"), displayName);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
  });
  const Exchange exchange =
      send("MKCALENDAR", collection, body, {QByteArrayLiteral("Content-Type: application/xml; charset=utf-8")});
  if (!exchange.status.ok()) return exchange.status;
  return StatusFor(exchange.httpStatus, exchange.body, m_settings.limits);
}

Changes Session::syncCollection(const QUrl& collection, const QString& syncToken) {
  Changes changes;
  const QByteArray body = Xml([&](QXmlStreamWriter& xml) {
    xml.writeStartElement(QLatin1String(kDavNs), QStringLiteral("sync-collection"));
    xml.writeTextElement(QLatin1String(kDavNs), QStringLiteral("sync-token"), syncToken);
    xml.writeTextElement(QLatin1String(kDavNs), QStringLiteral("sync-level"), QStringLiteral("1"));
    Props(xml, {{kDavNs, "getetag"}});
    xml.writeEndElement();
  });
  ParseOutcome parsed;
  QUrl answered;
  changes.status = multistatus("REPORT", collection, 0, body, &parsed, &answered);
  if (!changes.status.ok()) return changes;
  if (parsed.multistatus.syncToken.isEmpty()) {
    changes.status = {Error::MalformedResponse, 207, QStringLiteral("The server's changes came without a sync-token")};
    return changes;
  }
  changes.syncToken = parsed.multistatus.syncToken;
  const QString self = CollectionKey(ResolveHref(answered.toString(QUrl::FullyEncoded), answered));
  for (const Response& response : parsed.multistatus.responses) {
    for (const QUrl& href : response.hrefs) {
      if (CollectionKey(href) == self) {
        if (response.status == 507) changes.truncated = true;
        continue;
      }
      if (response.status == 404 || response.status == 410)
        changes.removed << href;
      else if (response.status == 0 || (response.status >= 200 && response.status < 300))
        changes.changed << Member{href, Text(response, kDavNs, "getetag")};
    }
  }
  return changes;
}

Changes Session::listMembers(const QUrl& collection) {
  Changes changes;
  QSet<QUrl> seen;
  QUrl answered;
  for (const char* component : {"VEVENT", "VTODO"}) {
    const QByteArray body = Xml([&](QXmlStreamWriter& xml) {
      xml.writeStartElement(QLatin1String(kCalDavNs), QStringLiteral("calendar-query"));
      Props(xml, {{kDavNs, "getetag"}});
      xml.writeStartElement(QLatin1String(kCalDavNs), QStringLiteral("filter"));
      xml.writeStartElement(QLatin1String(kCalDavNs), QStringLiteral("comp-filter"));
      xml.writeAttribute(QStringLiteral("name"), QStringLiteral("VCALENDAR"));
      xml.writeStartElement(QLatin1String(kCalDavNs), QStringLiteral("comp-filter"));
      xml.writeAttribute(QStringLiteral("name"), QLatin1String(component));
      xml.writeEndElement();
      xml.writeEndElement();
      xml.writeEndElement();
      xml.writeEndElement();
    });
    ParseOutcome parsed;
    changes.status = multistatus("REPORT", collection, 1, body, &parsed, &answered);
    if (!changes.status.ok()) {
      changes.changed.clear();
      return changes;
    }
    const QString self = CollectionKey(ResolveHref(answered.toString(QUrl::FullyEncoded), answered));
    for (const Response& response : parsed.multistatus.responses) {
      if (response.status != 0 && (response.status < 200 || response.status >= 300)) continue;
      for (const QUrl& href : response.hrefs) {
        if (CollectionKey(href) == self || seen.contains(href)) continue;
        seen.insert(href);
        changes.changed << Member{href, Text(response, kDavNs, "getetag")};
      }
    }
  }
  return changes;
}

Objects Session::fetch(const QUrl& collection, const QList<QUrl>& hrefs) {
  Objects objects;
  const Limits& limits = m_settings.limits;
  const qsizetype batch = qMax(1, limits.multigetBatch);
  for (qsizetype first = 0; first < hrefs.size(); first += batch) {
    const QList<QUrl> part = hrefs.mid(first, batch);
    QSet<QUrl> asked;
    for (const QUrl& href : part) asked.insert(ResolveHref(href.toString(QUrl::FullyEncoded), collection));
    const QByteArray body = Xml([&](QXmlStreamWriter& xml) {
      xml.writeStartElement(QLatin1String(kCalDavNs), QStringLiteral("calendar-multiget"));
      Props(xml, {{kDavNs, "getetag"}, {kCalDavNs, "calendar-data"}});
      for (const QUrl& href : asked)
        xml.writeTextElement(QLatin1String(kDavNs), QStringLiteral("href"), href.path(QUrl::FullyEncoded));
      xml.writeEndElement();
    });
    ParseOutcome parsed;
    objects.status = multistatus("REPORT", collection, 1, body, &parsed, nullptr);
    if (!objects.status.ok()) {
      objects.objects.clear();
      objects.missing.clear();
      objects.oversized.clear();
      return objects;
    }
    for (const Response& response : parsed.multistatus.responses) {
      for (const QUrl& href : response.hrefs) {
        if (!asked.remove(href)) continue;  // not asked for, or twice
        const auto data = response.properties.constFind(QualifiedName(kCalDavNs, "calendar-data"));
        if (data == response.properties.cend()) {
          objects.missing << href;
          continue;
        }
        QByteArray bytes = data->text.toUtf8();
        if (data->oversized || bytes.size() > limits.maxObjectBytes) {
          objects.oversized << href;
          continue;
        }
        objects.objects << CalendarObject{href, Text(response, kDavNs, "getetag"), std::move(bytes)};
      }
    }
    // What the server left out of its answer, it does not have.
    for (const QUrl& href : part) {
      const QUrl key = ResolveHref(href.toString(QUrl::FullyEncoded), collection);
      if (asked.contains(key)) objects.missing << key;
    }
  }
  return objects;
}

WriteResult Session::put(const QUrl& href, const QByteArray& data, const QByteArray& condition) {
  WriteResult result;
  result.href = href;
  if (data.size() > m_settings.limits.maxObjectBytes) {
    result.status = {Error::LimitExceeded, 0,
                     QStringLiteral("A calendar object of %1 bytes is larger than %2 bytes")
                         .arg(data.size())
                         .arg(m_settings.limits.maxObjectBytes)};
    return result;
  }
  const Exchange exchange =
      send("PUT", href, data, {QByteArrayLiteral("Content-Type: text/calendar; charset=utf-8"), condition});
  if (!exchange.status.ok()) {
    result.status = exchange.status;
    return result;
  }
  result.status = StatusFor(exchange.httpStatus, exchange.body, m_settings.limits);
  if (!result.status.ok()) return result;
  // A weak ETag says the server changed what it was given: the caller fetches it again.
  const QByteArray etag = exchange.header("etag");
  if (!etag.isEmpty() && !etag.startsWith("W/")) result.etag = QString::fromUtf8(etag);
  const QByteArray location = exchange.header("location");
  if (exchange.httpStatus == 201 && !location.isEmpty()) {
    const QUrl moved = ResolveHref(QString::fromUtf8(location), exchange.url);
    if (moved.isValid()) result.href = moved;
  }
  return result;
}

WriteResult Session::create(const QUrl& href, const QByteArray& data) {
  return put(href, data, QByteArrayLiteral("If-None-Match: *"));
}

WriteResult Session::update(const QUrl& href, const QByteArray& data, const QString& etag) {
  return put(href, data, "If-Match: " + Quoted(etag));
}

Status Session::remove(const QUrl& href, const QString& etag) {
  const Exchange exchange = send("DELETE", href, {}, {"If-Match: " + Quoted(etag)});
  if (!exchange.status.ok()) return exchange.status;
  // A multistatus answer to DELETE lists what could not be deleted.
  if (exchange.httpStatus == 207)
    return {Error::Rejected, 207, QStringLiteral("The server deleted %1 in part only").arg(href.toString())};
  return StatusFor(exchange.httpStatus, exchange.body, m_settings.limits);
}

}  // namespace caldav

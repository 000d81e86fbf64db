#pragma once
// The values of the CalDAV client: connection settings, limits, the typed outcome of an operation
// and what each operation hands back. Calendar object resources are opaque bytes here, with their
// href and ETag; reading them is the iCalendar library's business.
//
// hrefs are absolute URLs, resolved against the URL of the request that produced them and held
// in one canonical form (the path decoded, then encoded again by QUrl), so that "/cal/a%40b.ics"
// and "/cal/a@b.ics" from two different answers compare equal. ETags are kept exactly as the
// server wrote them, quotes included, and sent back the same way.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace caldav {

struct Limits {
  qint64 maxResponseBytes = qint64(64) << 20;  // one HTTP response body, whole
  qint64 maxObjectBytes = qint64(1) << 20;     // one calendar object (calendar-data or a PUT body)
  int maxResponses = 100000;                   // <response> elements in one multistatus
  int maxDepth = 64;                           // XML element nesting
  int maxRedirects = 5;                        // per request
  int multigetBatch = 100;                     // hrefs per calendar-multiget REPORT
};

struct Settings {
  // A calendar collection, a principal, or only the server ("https://dav.example.org/").
  // User information written into the URL is ignored: credentials come from user and password.
  QUrl url;
  // No user: no credentials are ever sent (a server that wants none gets none). Otherwise Basic
  // goes with every request to the host of `url` (and Digest when the server asks for Digest
  // only); never to another host. A redirect to another server (another scheme, host or port)
  // is refused: the request ends with RedirectRefused and nothing is sent there. Basic is readable on the way: use
  // https for anything but a server on this machine. The password is never written to any message.
  QString user;
  QString password;
  int connectTimeoutMs = 15000;
  int requestTimeoutMs = 120000;  // one HTTP request, whole, including its body
  // Every request of one session together (a session serves one sync pass): counted from its
  // first request. A request under way is cut short at it, and every later one fails at once with
  // Timeout, so that a server answering each request late cannot hold a sync for hours.
  int passDeadlineMs = 5 * 60 * 1000;
  bool verifyTls = true;
  // PEM certificates to trust instead of the system's (tests, private servers); empty: the
  // system's. Must be a regular file.
  QString caFile;
  Limits limits;
};

enum class Error {
  None,
  Unreachable,            // no connection, or it broke before the answer was whole
  Timeout,                // the connection or the request took longer than allowed
  AuthenticationRefused,  // 401, or 403 without a more precise reason
  CertificateRefused,     // the server's TLS certificate did not verify
  NotFound,               // 404 or 410
  Conflict,               // 412: the resource changed since its ETag was read (or exists already)
  InsufficientStorage,    // 507, 413, or a quota or max-resource-size precondition
  TokenInvalid,           // the sync token is no longer valid: list everything again
  Rejected,               // any other refusal (400, 405, 409, 415, a 403 with a precondition)
  RedirectRefused,        // too many redirects, or one to another server (scheme, host or port)
  ServerError,            // 5xx
  MalformedResponse,      // an answer that cannot be read as what the request needs
  LimitExceeded,          // an answer larger, deeper or longer than the limits allow
  Cancelled,              // the session was stopped
  NotInstalled,           // the HTTP module could not be loaded
};

// A short English name of an error ("conflict"), for messages and tests.
QString ErrorName(Error error);

struct Status {
  Error error = Error::None;
  int httpStatus = 0;  // the last HTTP status seen, 0 when there was none
  QString message;     // empty on success
  bool ok() const { return error == Error::None; }
};

struct Calendar {
  QUrl url;
  QString displayName;
  QStringList components;  // "VEVENT", "VTODO", ...; empty when the server did not say (all)
  QString ctag;            // CalendarServer getctag, when offered
  QString syncToken;       // RFC 6578, when offered; empty: use listMembers()
};

struct Discovery {
  Status status;
  QUrl principal;     // empty when the URL given was a calendar or the server named none
  QUrl calendarHome;  // empty when the URL given was a calendar
  QList<Calendar> calendars;
};

struct Member {
  QUrl href;
  QString etag;  // empty when the server gave none with the listing
};

// A listing of a collection's members: sync-collection (changes since a token) or calendar-query
// (everything).
struct Changes {
  Status status;
  QList<Member> changed;  // new or changed since the token (with calendar-query: every member)
  QList<QUrl> removed;    // gone since the token
  QString syncToken;      // the token to give next time (sync-collection only)
  // The server ended the listing early (a 507 for the collection itself): ask again with the
  // new token for the rest.
  bool truncated = false;
};

struct CalendarObject {
  QUrl href;
  QString etag;
  QByteArray data;  // the calendar object resource, as the server stored it
};

struct Objects {
  Status status;
  QList<CalendarObject> objects;
  QList<QUrl> missing;    // asked for, but the server has none (404 in its answer)
  QList<QUrl> oversized;  // larger than Limits::maxObjectBytes: left out
};

struct WriteResult {
  Status status;
  QUrl href;     // where the resource is (a Location the server gave on creation, else the URL put)
  QString etag;  // the new strong ETag; empty when the server gave none (fetch it again)
};

}  // namespace caldav

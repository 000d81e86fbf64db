#pragma once
// Reading WebDAV answers (RFC 4918): a 207 multistatus body and a precondition <error> body.
// Namespace-aware: an element is known by its namespace and local name, whatever prefix (or
// default namespace) the server chose. Bounded by Limits: body size, element depth, number of
// responses, size of one calendar-data.

#include "caldav/caldav_types.h"

#include <QHash>
#include <QString>

#include <optional>

namespace caldav {

inline constexpr const char* kDavNs = "DAV:";
inline constexpr const char* kCalDavNs = "urn:ietf:params:xml:ns:caldav";
inline constexpr const char* kCalendarServerNs = "http://calendarserver.org/ns/";

// A qualified element name: "{DAV:}getetag".
QString QualifiedName(const char* ns, const char* local);

// One property as found in a propstat with a 2xx status.
struct Property {
  QString text;                // the element's text, trimmed, without that of child elements
  QList<QUrl> hrefs;           // the <DAV:href> children, resolved
  QStringList children;        // qualified names of the child elements, in order
  QStringList componentNames;  // the name attributes of CalDAV <comp> children
  bool oversized = false;      // its text was longer than Limits::maxObjectBytes and was dropped
};

struct Response {
  QList<QUrl> hrefs;                    // one for a propstat response, one or more for a status-only response
  int status = 0;                       // the response's own status (a status-only response), 0 when it had none
  QHash<QString, Property> properties;  // by qualified name; only those the server found (2xx)
  QStringList missing;                  // qualified names in a propstat that was not 2xx
};

struct Multistatus {
  QList<Response> responses;
  QString syncToken;  // the top-level <DAV:sync-token>, when there was one
};

struct ParseOutcome {
  Status status;  // MalformedResponse or LimitExceeded when the body is not a whole multistatus
  Multistatus multistatus;
};

// Reads a multistatus; hrefs are resolved against `base` (the URL the request went to).
ParseOutcome ParseMultistatus(const QByteArray& body, const QUrl& base, const Limits& limits);

// The qualified names of the preconditions in an <DAV:error> body (RFC 4918 section 16);
// empty when the body is none.
QStringList ParseErrorBody(const QByteArray& body, const Limits& limits);

// An href from an answer as an absolute URL in canonical form, or empty when it is not one.
QUrl ResolveHref(const QString& href, const QUrl& base);

// The HTTP status code of a "HTTP/1.1 404 Not Found" line; 0 when it is none.
int ParseStatusLine(const QString& line);

}  // namespace caldav

#pragma once
// The CalDAV protocol over HTTP, one blocking call per operation: CALL FROM A WORKER THREAD only
// (CalDavClient in caldav_client.h runs a session on a thread of its own). A session holds no
// connection between calls; each call is one or a few HTTP requests, each bounded by the
// settings' timeouts and limits, and all of them together by Settings::passDeadlineMs (a session
// serves one sync pass). abort() may be called from any thread.
//
// The HTTP layer (libcurl) is in a module, libcaldav-curl.so, loaded by the first request.

#include "caldav/caldav_types.h"
#include "caldav/multistatus.h"

#include <QDeadlineTimer>

#include <atomic>
#include <optional>

namespace caldav {

class Session {
 public:
  explicit Session(Settings settings);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const Settings& settings() const { return m_settings; }

  // The calendar collections for the settings' URL. A URL with no path (or "/") is tried as
  // /.well-known/caldav first (RFC 6764), then as given. A calendar collection gives itself
  // alone; otherwise current-user-principal (RFC 5397) leads to calendar-home-set (RFC 4791),
  // whose members with a calendar resourcetype are the result.
  Discovery discover();

  // Creates a calendar collection (MKCALENDAR), for setting up a server.
  Status makeCalendar(const QUrl& collection, const QString& displayName);

  // REPORT sync-collection (RFC 6578): the members changed and removed since `syncToken`; an
  // empty token lists every member. A token the server no longer accepts ends with TokenInvalid:
  // list again from an empty token.
  Changes syncCollection(const QUrl& collection, const QString& syncToken);

  // For a server without sync tokens: every VEVENT and VTODO member with its ETag (two REPORT
  // calendar-query). Changes::syncToken stays empty.
  Changes listMembers(const QUrl& collection);

  // REPORT calendar-multiget for these hrefs, in batches of Limits::multigetBatch. A broken or
  // refused batch fails the whole call (no partial success).
  Objects fetch(const QUrl& collection, const QList<QUrl>& hrefs);

  // PUT of a new resource (If-None-Match: *): Conflict when one is there already.
  WriteResult create(const QUrl& href, const QByteArray& data);
  // PUT over the resource with this ETag (If-Match): Conflict when it changed meanwhile.
  WriteResult update(const QUrl& href, const QByteArray& data, const QString& etag);
  // DELETE of the resource with this ETag (If-Match): Conflict when it changed meanwhile.
  Status remove(const QUrl& href, const QString& etag);

  // Stops the running call (it ends with Cancelled) and every later one. Thread-safe.
  void abort() { m_abort = true; }

 private:
  // One HTTP exchange as the session sees it.
  struct Exchange {
    Status status;  // transport failures and refused redirects only; the HTTP status is in httpStatus
    int httpStatus = 0;
    QUrl url;  // where the answer came from, after redirects
    QList<QByteArray> headers;
    QByteArray body;
    QByteArray header(const char* name) const;
  };

  Exchange send(const QByteArray& method, const QUrl& url, const QByteArray& body, const QList<QByteArray>& headers);
  // A multistatus request: the status is an error unless the answer was a readable 207.
  Status multistatus(const QByteArray& method, const QUrl& url, int depth, const QByteArray& body, ParseOutcome* parsed,
                     QUrl* answeredUrl);
  Status propfindCollection(const QUrl& url, Discovery& discovery, bool* isCalendar);
  Status listCalendars(const QUrl& home, Discovery& discovery);
  WriteResult put(const QUrl& href, const QByteArray& data, const QByteArray& condition);

  Settings m_settings;
  std::atomic<bool> m_abort{false};
  std::optional<QDeadlineTimer> m_passDeadline;  // set by the first request
};

// The typed outcome of an HTTP status and its body (exposed for tests).
Status StatusFor(int httpStatus, const QByteArray& body, const Limits& limits);

}  // namespace caldav

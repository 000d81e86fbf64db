#pragma once
// One HTTP request through libcurl, as the CalDAV session asks for it. libcurl (with its TLS and
// other libraries behind it) lives in a module of its own, loaded by the first request: a program
// that never syncs a calendar never maps it.
//
// Redirects are not followed here: the session follows them itself, so that it can refuse one
// from https to http and keep credentials from another host.

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

namespace caldav::transfer {

// Raised whenever a member is added, removed or changes its type.
inline constexpr int kVersion = 1;

inline constexpr int kFailedInit = 2;  // CURLE_FAILED_INIT

struct Request {
  QByteArray method;          // "PROPFIND", "REPORT", "PUT", ...
  QByteArray url;             // encoded
  QList<QByteArray> headers;  // "Name: value"
  QByteArray body;            // sent as it is (none when empty)
  // None: no credentials. Basic: sent with the request itself. Negotiated: Basic or Digest as
  // the server's challenge asks, after a first request without.
  enum Auth { None, Basic, Negotiated } auth = None;
  QByteArray user;
  QByteArray password;
  long connectTimeoutMs = 15000;
  long totalTimeoutMs = 120000;
  bool verifyTls = true;
  QByteArray caFile;  // empty: the system's certificates
  qint64 maxBodyBytes = 0;
  qint64 maxHeaderBytes = 64 * 1024;
  const std::atomic<bool>* abort = nullptr;  // set: the transfer stops soon after
};

struct Outcome {
  int code = 0;     // a CURLcode
  QString message;  // curl's own words when code is not 0
  int httpStatus = 0;
  QList<QByteArray> headers;  // the header lines of the final response, line ends removed
  QByteArray body;
  bool tooLarge = false;  // the body or the headers went beyond their limit; the transfer stopped
};

struct Api {
  int version = kVersion;
  Outcome (*perform)(const Request& request);
};

inline constexpr const char* kModuleFile = "libcaldav-curl.so";
inline constexpr const char* kEntryPoint = "caldav_curl_api";

}  // namespace caldav::transfer

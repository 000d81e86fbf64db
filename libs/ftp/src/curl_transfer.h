#pragma once
// One transfer through libcurl, as the FTP client's worker asks for it. libcurl (with its TLS,
// SSH, LDAP and Kerberos libraries behind it) lives in a module of its own, loaded by the first
// transfer: a program that never checks for an update never loads it.

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace ftp::transfer {

// Raised whenever a member is added, removed or changes its type.
inline constexpr int kVersion = 1;

inline constexpr int kFailedInit = 2;         // CURLE_FAILED_INIT
inline constexpr int kFileSizeExceeded = 63;  // CURLE_FILESIZE_EXCEEDED

struct Request {
  enum Kind { NoBody, Listing, File } kind = NoBody;
  QByteArray url;
  QByteArray user;
  QByteArray password;
  long connectTimeoutSeconds = 30;
  long stallTimeoutSeconds = 60;
  qint64 maxFileSize = 0;  // File: the largest file taken
  // Receives the bytes (Listing, File); returns how many it took, fewer to stop the transfer.
  size_t (*write)(const char* data, size_t n, void* context) = nullptr;
  // Told the bytes received so far and the total when known (-1 otherwise); false stops the
  // transfer (curl's "aborted by callback").
  bool (*progress)(qint64 received, qint64 total, void* context) = nullptr;
  void* context = nullptr;
};

struct Outcome {
  int code = 0;               // a CURLcode
  QString message;            // curl's own words when code is not 0
  qint64 contentLength = -1;  // the size the server gave, when it gave one
};

struct Api {
  int version = kVersion;
  Outcome (*perform)(const Request& request);
};

inline constexpr const char* kModuleFile = "libftp-curl.so";
inline constexpr const char* kEntryPoint = "ftp_curl_api";

}  // namespace ftp::transfer

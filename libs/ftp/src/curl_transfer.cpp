// The curl module: one FTP transfer with libcurl.

#include "curl_transfer.h"

#include <modules/module.h>

#include <curl/curl.h>

#include <mutex>

namespace ftp::transfer {

namespace {

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

size_t Write(char* data, size_t size, size_t count, void* user) {
  const auto* request = static_cast<const Request*>(user);
  return request->write(data, size * count, request->context);
}

int Progress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
  const auto* request = static_cast<const Request*>(user);
  if (!request->progress) return 0;
  return request->progress(qint64(dlnow), dltotal > 0 ? qint64(dltotal) : -1, request->context) ? 0 : 1;
}

Outcome Perform(const Request& request) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Outcome outcome;
  CURL* curl = curl_easy_init();
  if (!curl) {
    outcome.code = int(CURLE_FAILED_INIT);
    outcome.message = QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT));
    return outcome;
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, request.url.constData());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_USERNAME, request.user.constData());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.constData());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, request.stallTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request);
  // Without a header callback, curl prints the headers of a body-less request to stdout.
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Discard);

  switch (request.kind) {
    case Request::NoBody:
      curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
      // curl hands the size it learnt to the body callback as a header line too.
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
      break;
    case Request::Listing:
      curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Write);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &request);
      break;
    case Request::File:
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Write);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &request);
      curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.maxFileSize));
      // Without this curl asks SIZE before RETR and takes a refused SIZE (550) for a missing
      // file; the transfer itself tells whether the file is there.
      curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
      break;
  }

  const CURLcode code = curl_easy_perform(curl);
  outcome.code = int(code);
  if (code != CURLE_OK) {
    outcome.message =
        errorBuffer[0] != '\0' ? QString::fromUtf8(errorBuffer).trimmed() : QString::fromUtf8(curl_easy_strerror(code));
  } else {
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
      outcome.contentLength = qint64(length);
  }
  curl_easy_cleanup(curl);
  return outcome;
}

}  // namespace

}  // namespace ftp::transfer

MODULES_ENTRY_POINT const ftp::transfer::Api* ftp_curl_api() {
  static const ftp::transfer::Api api{ftp::transfer::kVersion, &ftp::transfer::Perform};
  return &api;
}

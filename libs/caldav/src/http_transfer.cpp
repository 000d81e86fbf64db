// The curl module: one HTTP request with libcurl.

#include "http_transfer.h"

#include <modules/module.h>

#include <curl/curl.h>

#include <mutex>

namespace caldav::transfer {

namespace {

struct Transfer {
  const Request* request;
  Outcome* outcome;
  qint64 headerBytes = 0;
};

size_t Body(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->outcome->body.size() + qint64(n) > t->request->maxBodyBytes) {
    t->outcome->tooLarge = true;
    return 0;  // curl stops with CURLE_WRITE_ERROR
  }
  t->outcome->body.append(data, qsizetype(n));
  return n;
}

size_t Header(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  QByteArray line(data, qsizetype(n));
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  if (line.startsWith("HTTP/")) {
    // A new response (after a 100 Continue or an authentication challenge): only the last counts.
    t->outcome->headers.clear();
    t->outcome->body.clear();
  }
  t->headerBytes += qint64(n);
  if (t->headerBytes > t->request->maxHeaderBytes) {
    t->outcome->tooLarge = true;
    return 0;
  }
  if (!line.isEmpty()) t->outcome->headers << line;
  return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* t = static_cast<const Transfer*>(user);
  return t->request->abort && t->request->abort->load() ? 1 : 0;
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
  Transfer transfer{&request, &outcome};
  char errorBuffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, request.url.constData());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.constData());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.totalTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, request.verifyTls ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, request.verifyTls ? 2L : 0L);
  if (!request.caFile.isEmpty()) curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.constData());
  // Compressed answers are welcome; the limit counts the bytes once unpacked.
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.maxBodyBytes));
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  if (request.auth != Request::None) {
    // One method: curl sends it at once. More than one: curl asks without credentials first and
    // answers the server's challenge.
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH,
                     request.auth == Request::Basic ? long(CURLAUTH_BASIC) : long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.constData());
  }
  if (!request.body.isEmpty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.constData());
  }
  curl_slist* headers = nullptr;
  // No "Expect: 100-continue" round trip: the bodies are small.
  headers = curl_slist_append(headers, "Expect:");
  for (const QByteArray& h : request.headers) headers = curl_slist_append(headers, h.constData());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

  const CURLcode code = curl_easy_perform(curl);
  outcome.code = int(code);
  long status = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) outcome.httpStatus = int(status);
  if (code == CURLE_FILESIZE_EXCEEDED) outcome.tooLarge = true;
  if (code != CURLE_OK) {
    outcome.message =
        errorBuffer[0] != '\0' ? QString::fromUtf8(errorBuffer).trimmed() : QString::fromUtf8(curl_easy_strerror(code));
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return outcome;
}

}  // namespace

}  // namespace caldav::transfer

MODULES_ENTRY_POINT const caldav::transfer::Api* caldav_curl_api() {
  static const caldav::transfer::Api api{caldav::transfer::kVersion, &caldav::transfer::Perform};
  return &api;
}

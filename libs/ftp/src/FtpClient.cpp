#include "ftp/FtpClient.h"

#include <QFile>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <mutex>

namespace ftp {

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct FtpClient::Job {
  enum Kind { Probe, List, Size, Download } kind = Probe;
  QString url;
  QString user;
  QString password;
  QString localPath;
  qint64 maxBytes = 0;
  int connectTimeout = 30;
  int stallTimeout = 60;
  std::atomic<bool> abort{false};
  QPointer<FtpClient> client;  // for progress; read on the worker, only to post to the client's thread

  // Filled by the worker.
  QByteArray listing;
  QFile file;
  qint64 written = 0;
  bool tooLarge = false;
  QString localError;
  std::chrono::steady_clock::time_point lastProgress{};
  Reply reply;
  QThread* thread = nullptr;

  void run();
};

namespace {

size_t DiscardHeader(char*, size_t size, size_t count, void*) { return size * count; }

size_t CollectListing(char* data, size_t size, size_t count, void* user) {
  auto* job = static_cast<FtpClient::Job*>(user);
  const size_t n = size * count;
  if (job->listing.size() + qint64(n) > job->maxBytes) {
    job->tooLarge = true;
    return 0;  // curl ends with CURLE_WRITE_ERROR
  }
  job->listing.append(data, qsizetype(n));
  return n;
}

size_t WriteFile(char* data, size_t size, size_t count, void* user) {
  auto* job = static_cast<FtpClient::Job*>(user);
  const size_t n = size * count;
  if (job->written + qint64(n) > job->maxBytes) {
    job->tooLarge = true;
    return 0;
  }
  if (!job->file.isOpen()) {
    // Created on the first bytes as well as at the end (an empty file), never over an existing one.
    if (!job->file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      job->localError = job->file.errorString();
      return 0;
    }
  }
  if (job->file.write(data, qint64(n)) != qint64(n)) {
    job->localError = job->file.errorString();
    return 0;
  }
  job->written += qint64(n);
  return n;
}

int Progress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
  auto* job = static_cast<FtpClient::Job*>(user);
  if (job->abort.load()) return 1;  // curl ends with CURLE_ABORTED_BY_CALLBACK
  if (job->kind == FtpClient::Job::Download) {
    const auto now = std::chrono::steady_clock::now();
    if (now - job->lastProgress >= std::chrono::milliseconds(100)) {
      job->lastProgress = now;
      const qint64 received = qint64(dlnow);
      const qint64 total = dltotal > 0 ? qint64(dltotal) : -1;
      if (FtpClient* c = job->client.data()) {
        QMetaObject::invokeMethod(
            c, [c, received, total] { emit c->progress(received, total); }, Qt::QueuedConnection);
      }
    }
  }
  return 0;
}

}  // namespace

void FtpClient::Job::run() {
  CURL* curl = curl_easy_init();
  if (!curl) {
    reply.result = {int(CURLE_FAILED_INIT), QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT))};
    return;
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  const QByteArray url8 = url.toUtf8();
  const QByteArray user8 = user.toUtf8();
  const QByteArray password8 = password.toUtf8();
  curl_easy_setopt(curl, CURLOPT_URL, url8.constData());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_USERNAME, user8.constData());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, password8.constData());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(connectTimeout));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(stallTimeout));
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  // Without a header callback, curl prints the headers of a body-less request to stdout.
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &DiscardHeader);

  switch (kind) {
    case Probe:
    case Size:
      curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
      // curl hands the size it learnt to the body callback as a header line too.
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &DiscardHeader);
      break;
    case List:
      curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectListing);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
      break;
    case Download:
      file.setFileName(localPath);
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteFile);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
      curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
      // Without this curl asks SIZE before RETR and takes a refused SIZE (550) for a missing
      // file; the transfer itself tells whether the file is there. size() asks separately.
      curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
      break;
  }

  CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK && kind == Download && !file.isOpen()) {
    // An empty file: nothing was written, but the caller gets a file all the same.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      localError = file.errorString();
      code = CURLE_WRITE_ERROR;
    }
  }
  if (file.isOpen()) {
    if (!file.flush()) {
      if (code == CURLE_OK) code = CURLE_WRITE_ERROR;
      localError = file.errorString();
    }
    file.close();
  }

  if (kind == Download && code == CURLE_OK) {
    // The last word on progress: the periodic reports may have skipped the final bytes.
    if (FtpClient* c = client.data()) {
      const qint64 received = written;
      QMetaObject::invokeMethod(
          c, [c, received] { emit c->progress(received, received); }, Qt::QueuedConnection);
    }
  }
  reply.result.code = int(code);
  if (code != CURLE_OK) {
    if (tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
      reply.result.code = int(CURLE_WRITE_ERROR);
      reply.result.text = QStringLiteral("The server sent more than %1 bytes").arg(maxBytes);
    } else if (!localError.isEmpty()) {
      reply.result.text = QStringLiteral("Cannot write %1: %2").arg(localPath, localError);
    } else if (errorBuffer[0] != '\0') {
      reply.result.text = QString::fromUtf8(errorBuffer).trimmed();
    } else {
      reply.result.text = QString::fromUtf8(curl_easy_strerror(code));
    }
  }
  if (code == CURLE_OK && kind == List) {
    for (QByteArray line : listing.split('\n')) {
      if (line.endsWith('\r')) line.chop(1);
      if (!line.isEmpty()) reply.names.append(QString::fromUtf8(line));
    }
  }
  if (code == CURLE_OK && kind == Size) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
      reply.size = qint64(length);
  }
  curl_easy_cleanup(curl);
}

FtpClient::FtpClient(ServerOptions options, QObject* parent) : QObject(parent), m_options(std::move(options)) {
  GlobalInit();
  qRegisterMetaType<ftp::Reply>();
}

FtpClient::~FtpClient() {
  if (m_job && m_job->thread) {
    m_job->abort = true;
    m_job->thread->wait();
    delete m_job->thread;
    m_job->thread = nullptr;
  }
}

QString FtpClient::urlFor(const QString& path) const {
  QString host = m_options.host;
  if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
  QString url = QStringLiteral("ftp://%1:%2/").arg(host).arg(m_options.port);
  // An absolute path starts from the server's root, not from the login folder: its first
  // segment carries the leading slash, encoded, so curl changes to "/pub" rather than "pub".
  const QStringList segments = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  QStringList encoded;
  for (qsizetype i = 0; i < segments.size(); ++i)
    encoded << QString::fromLatin1(QUrl::toPercentEncoding(i == 0 ? QLatin1Char('/') + segments[i] : segments[i]));
  url += encoded.join(QLatin1Char('/'));
  if (!segments.isEmpty() && path.endsWith(QLatin1Char('/'))) url += QLatin1Char('/');
  return url;
}

bool FtpClient::start(std::shared_ptr<Job> job) {
  if (m_running) return false;
  if (m_job && m_job->thread) {
    m_job->thread->wait();
    delete m_job->thread;
  }
  job->user = m_options.user;
  job->password = m_options.password;
  job->connectTimeout = m_options.connectTimeoutSeconds;
  job->stallTimeout = m_options.stallTimeoutSeconds;
  job->client = this;
  m_job = job;
  m_running = true;
  Job* raw = job.get();
  job->thread = QThread::create([raw] { raw->run(); });
  connect(
      job->thread, &QThread::finished, this, [this, job] { onJobDone(job); }, Qt::QueuedConnection);
  job->thread->start();
  return true;
}

void FtpClient::onJobDone(std::shared_ptr<Job> job) {
  if (job != m_job) return;
  job->thread->wait();
  m_running = false;
  m_last = job->reply;
  emit finished(m_last);
}

bool FtpClient::probe() {
  auto job = std::make_shared<Job>();
  job->kind = Job::Probe;
  job->url = urlFor(QStringLiteral("/"));
  return start(job);
}

bool FtpClient::list(const QString& folder, qint64 maxBytes) {
  auto job = std::make_shared<Job>();
  job->kind = Job::List;
  QString path = folder;
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  job->url = urlFor(path);
  job->maxBytes = maxBytes;
  return start(job);
}

bool FtpClient::size(const QString& path) {
  auto job = std::make_shared<Job>();
  job->kind = Job::Size;
  job->url = urlFor(path);
  return start(job);
}

bool FtpClient::download(const QString& path, const QString& localPath, qint64 maxBytes) {
  auto job = std::make_shared<Job>();
  job->kind = Job::Download;
  job->url = urlFor(path);
  job->localPath = localPath;
  job->maxBytes = maxBytes;
  return start(job);
}

void FtpClient::abort() {
  if (m_job) m_job->abort = true;
}

}  // namespace ftp

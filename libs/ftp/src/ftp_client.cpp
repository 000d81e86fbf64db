#include "ftp/ftp_client.h"

#include "curl_transfer.h"

#include <QFile>
#include <QPointer>
#include <QUrl>

#include <modules/module.h>

#include <chrono>

namespace ftp {

namespace {

const modules::Table<transfer::Api>& TheBackend() {
  static const auto table =
      modules::LoadTable<transfer::Api>(QString::fromLatin1(transfer::kModuleFile), transfer::kEntryPoint,
                                        transfer::kVersion, QStringLiteral("The FTP client"));
  return table;
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

  void run();
};

namespace {

size_t CollectListing(const char* data, size_t n, void* context) {
  auto* job = static_cast<FtpClient::Job*>(context);
  if (job->listing.size() + qint64(n) > job->maxBytes) {
    job->tooLarge = true;
    return 0;  // the transfer ends with kWriteError
  }
  job->listing.append(data, qsizetype(n));
  return n;
}

size_t WriteFile(const char* data, size_t n, void* context) {
  auto* job = static_cast<FtpClient::Job*>(context);
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

bool Progress(qint64 received, qint64 total, void* context) {
  auto* job = static_cast<FtpClient::Job*>(context);
  if (job->abort.load()) return false;
  if (job->kind == FtpClient::Job::Download) {
    const auto now = std::chrono::steady_clock::now();
    if (now - job->lastProgress >= std::chrono::milliseconds(100)) {
      job->lastProgress = now;
      if (FtpClient* c = job->client.data()) {
        QMetaObject::invokeMethod(
            c, [c, received, total] { emit c->progress(received, total); }, Qt::QueuedConnection);
      }
    }
  }
  return true;
}

}  // namespace

void FtpClient::Job::run() {
  const transfer::Api* api = TheBackend().api;
  if (!api) {
    reply.result = {transfer::kFailedInit, TheBackend().error};
    return;
  }
  transfer::Request request;
  request.url = url.toUtf8();
  request.user = user.toUtf8();
  request.password = password.toUtf8();
  request.connectTimeoutSeconds = connectTimeout;
  request.stallTimeoutSeconds = stallTimeout;
  request.progress = &Progress;
  request.context = this;
  switch (kind) {
    case Probe:
    case Size: request.kind = transfer::Request::NoBody; break;
    case List:
      request.kind = transfer::Request::Listing;
      request.write = &CollectListing;
      break;
    case Download:
      file.setFileName(localPath);
      request.kind = transfer::Request::File;
      request.write = &WriteFile;
      request.maxFileSize = maxBytes;
      break;
  }

  const transfer::Outcome outcome = api->perform(request);
  int code = outcome.code;
  if (code == 0 && kind == Download && !file.isOpen()) {
    // An empty file: nothing was written, but the caller gets a file all the same.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      localError = file.errorString();
      code = kWriteError;
    }
  }
  if (file.isOpen()) {
    if (!file.flush()) {
      if (code == 0) code = kWriteError;
      localError = file.errorString();
    }
    file.close();
  }

  if (kind == Download && code == 0) {
    // The last word on progress: the periodic reports may have skipped the final bytes.
    if (FtpClient* c = client.data()) {
      const qint64 received = written;
      QMetaObject::invokeMethod(
          c, [c, received] { emit c->progress(received, received); }, Qt::QueuedConnection);
    }
  }
  reply.result.code = code;
  if (code != 0) {
    if (tooLarge || code == transfer::kFileSizeExceeded) {
      reply.result.code = kWriteError;
      reply.result.text = QStringLiteral("The server sent more than %1 bytes").arg(maxBytes);
    } else if (!localError.isEmpty()) {
      reply.result.text = QStringLiteral("Cannot write %1: %2").arg(localPath, localError);
    } else {
      reply.result.text = outcome.message;
    }
  }
  if (code == 0 && kind == List) {
    for (QByteArray line : listing.split('\n')) {
      if (line.endsWith('\r')) line.chop(1);
      if (!line.isEmpty()) reply.names.append(QString::fromUtf8(line));
    }
  }
  if (code == 0 && kind == Size) reply.size = outcome.contentLength;
}

FtpClient::FtpClient(ServerOptions options, QObject* parent) : QObject(parent), m_options(std::move(options)) {
  qRegisterMetaType<ftp::Reply>();
}

FtpClient::~FtpClient() {
  if (m_job) m_job->abort = true;
  m_worker.reset();  // joins
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
  job->user = m_options.user;
  job->password = m_options.password;
  job->connectTimeout = m_options.connectTimeoutSeconds;
  job->stallTimeout = m_options.stallTimeoutSeconds;
  job->client = this;
  m_job = job;
  m_running = true;
  // The thread of the operation before, over by now, is joined as this one takes its place.
  m_worker = std::make_unique<offthread::OffThread<Reply>>(
      this,
      [job](const std::atomic<bool>&) {
        job->run();
        return job->reply;
      },
      [this](Reply reply) { onJobDone(std::move(reply)); });
  return true;
}

void FtpClient::onJobDone(Reply reply) {
  m_running = false;
  m_last = std::move(reply);
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

#pragma once
// A small FTP client over libcurl. Each operation runs on a worker thread of its own, so the
// caller's thread never blocks on the network; its end arrives as the finished() signal (queued to
// the client's thread) and progress as progress(). One operation at a time per client.
//
// Results are curl's own: a curl code (0 = success) and curl's text for it, preferring the
// detailed message curl wrote for this transfer. A few outcomes of this layer map onto curl codes
// too: a listing or file larger than the caller allows ends with CURLE_WRITE_ERROR (23) and
// says so; a local file that cannot be created ends with CURLE_WRITE_ERROR as well.

#include <offthread/off_thread.h>

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

namespace ftp {

struct Result {
  int code = 0;  // a CURLcode; 0 is success
  QString text;  // empty on success
  bool ok() const { return code == 0; }
};

// Well-known curl codes a caller tells apart.
inline constexpr int kHostNotFound = 6;        // CURLE_COULDNT_RESOLVE_HOST
inline constexpr int kCouldNotConnect = 7;     // CURLE_COULDNT_CONNECT
inline constexpr int kWriteError = 23;         // CURLE_WRITE_ERROR
inline constexpr int kAborted = 42;            // CURLE_ABORTED_BY_CALLBACK
inline constexpr int kRemoteFileMissing = 78;  // CURLE_REMOTE_FILE_NOT_FOUND

struct ServerOptions {
  QString host;  // host name or address (an IPv6 address without brackets)
  int port = 21;
  QString user = QStringLiteral("anonymous");
  QString password;
  int connectTimeoutSeconds = 30;
  // A transfer slower than one byte a second for this long is given up (curl code 28).
  int stallTimeoutSeconds = 60;
};

// The outcome of one operation, as finished() delivers it.
struct Reply {
  Result result;
  QStringList names;  // list(): one entry per line of the listing, line ends removed
  qint64 size = -1;   // size(): the server's size, -1 when it gave none
};

class FtpClient final : public QObject {
  Q_OBJECT
 public:
  explicit FtpClient(ServerOptions options, QObject* parent = nullptr);
  // Aborts a running operation and waits for its worker to finish (curl gives up within moments
  // of an abort).
  ~FtpClient() override;
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Remote paths are absolute ("/pub/file.exe"); each segment is percent-encoded here.
  // Logs in and looks at the server's root: tells whether the server can be reached.
  bool probe();
  // The names in a folder (NLST). A listing of more than maxBytes ends with kWriteError.
  bool list(const QString& folder, qint64 maxBytes = 1 << 20);
  // The size of a file (SIZE); -1 when the server gives none. curl takes a refused SIZE (550) for a
  // missing file (kRemoteFileMissing): a caller that only wants the number ignores failures.
  bool size(const QString& path);
  // Fetches a file into localPath, which must not exist yet (it is created exclusively, so a
  // link planted in its place is never followed). A file of more than maxBytes ends with
  // kWriteError. On failure or abort the partial file is left for the caller to remove.
  bool download(const QString& path, const QString& localPath, qint64 maxBytes);

  // Each start returns false (and starts nothing) while another operation runs.
  bool busy() const { return m_running; }
  // Asks the running operation to stop; it finishes with kAborted. Safe at any time.
  void abort();

  // The reply of the last operation that finished.
  const Reply& lastReply() const { return m_last; }

  // The URL of a remote path on this server (exposed for tests).
  QString urlFor(const QString& path) const;

 signals:
  // Bytes received so far and the total when known (-1 otherwise). Sent at most every 100 ms.
  void progress(qint64 received, qint64 total);
  // Once for every operation started, from the event loop (never inside the call that started
  // it). A handler may start the next operation.
  void finished(const ftp::Reply& reply);

 public:
  // The running operation's state, shared with its worker thread (internal).
  struct Job;

 private:
  bool start(std::shared_ptr<Job> job);
  void onJobDone(Reply reply);

  ServerOptions m_options;
  bool m_running = false;
  std::shared_ptr<Job> m_job;
  std::unique_ptr<offthread::OffThread<Reply>> m_worker;  // the running operation's thread
  Reply m_last;
};

}  // namespace ftp

Q_DECLARE_METATYPE(ftp::Reply)

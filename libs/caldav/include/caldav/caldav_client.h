#pragma once
// A CalDAV session on a worker thread the client owns: each call queues one operation and returns
// at once; the operations run one after another, in the order called, and each one's result is
// handed to its callback on the client's thread, from the event loop (never inside the call that
// queued it). The caller's thread never waits on the network.
//
// Destroying the client stops the running operation (libcurl gives up within moments), drops the
// queued ones and joins the thread; callbacks not yet delivered are never called.

#include "caldav/caldav_session.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

namespace caldav {

class CalDavClient final : public QObject {
  Q_OBJECT
 public:
  explicit CalDavClient(Settings settings, QObject* parent = nullptr);
  ~CalDavClient() override;
  CalDavClient(const CalDavClient&) = delete;
  CalDavClient& operator=(const CalDavClient&) = delete;

  const Settings& settings() const { return m_session->settings(); }

  // Each as the Session function of the same name.
  void discover(std::function<void(const Discovery&)> done);
  void makeCalendar(const QUrl& collection, const QString& displayName, std::function<void(const Status&)> done);
  void syncCollection(const QUrl& collection, const QString& syncToken, std::function<void(const Changes&)> done);
  void listMembers(const QUrl& collection, std::function<void(const Changes&)> done);
  void fetch(const QUrl& collection, const QList<QUrl>& hrefs, std::function<void(const Objects&)> done);
  void create(const QUrl& href, const QByteArray& data, std::function<void(const WriteResult&)> done);
  void update(const QUrl& href, const QByteArray& data, const QString& etag,
              std::function<void(const WriteResult&)> done);
  void remove(const QUrl& href, const QString& etag, std::function<void(const Status&)> done);

  // Operations queued or running whose callbacks have not been called yet.
  int pending() const { return m_pending; }

 private:
  template <typename Result>
  void queue(std::function<Result(Session&)> operation, std::function<void(const Result&)> done);

  std::unique_ptr<Session> m_session;
  QThread m_thread;
  QObject* m_worker = nullptr;  // lives on m_thread; runs the operations
  int m_pending = 0;
};

}  // namespace caldav

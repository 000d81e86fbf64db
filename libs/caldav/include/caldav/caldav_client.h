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
#include <offthread/off_thread.h>

#include <functional>
#include <memory>

namespace caldav {

// The operations of a calendar exchange, as the Session functions of the same names. Each result
// goes to `done` exactly once: before the call returns (BlockingClient), or later from the event
// loop (CalDavClient). Destroying the client drops the results not yet given.
class Client {
 public:
  virtual ~Client() = default;
  virtual void discover(std::function<void(const Discovery&)> done) = 0;
  virtual void syncCollection(const QUrl& collection, const QString& syncToken,
                              std::function<void(const Changes&)> done) = 0;
  virtual void listMembers(const QUrl& collection, std::function<void(const Changes&)> done) = 0;
  virtual void fetch(const QUrl& collection, const QList<QUrl>& hrefs, std::function<void(const Objects&)> done) = 0;
  virtual void create(const QUrl& href, const QByteArray& data, std::function<void(const WriteResult&)> done) = 0;
  virtual void update(const QUrl& href, const QByteArray& data, const QString& etag,
                      std::function<void(const WriteResult&)> done) = 0;
  virtual void remove(const QUrl& href, const QString& etag, std::function<void(const Status&)> done) = 0;
};

// Every call carried out before it returns, on the caller's thread: for a tool without windows.
class BlockingClient final : public Client {
 public:
  explicit BlockingClient(Settings settings) : m_session(std::move(settings)) {}
  void discover(std::function<void(const Discovery&)> done) override { done(m_session.discover()); }
  void syncCollection(const QUrl& collection, const QString& syncToken,
                      std::function<void(const Changes&)> done) override {
    done(m_session.syncCollection(collection, syncToken));
  }
  void listMembers(const QUrl& collection, std::function<void(const Changes&)> done) override {
    done(m_session.listMembers(collection));
  }
  void fetch(const QUrl& collection, const QList<QUrl>& hrefs, std::function<void(const Objects&)> done) override {
    done(m_session.fetch(collection, hrefs));
  }
  void create(const QUrl& href, const QByteArray& data, std::function<void(const WriteResult&)> done) override {
    done(m_session.create(href, data));
  }
  void update(const QUrl& href, const QByteArray& data, const QString& etag,
              std::function<void(const WriteResult&)> done) override {
    done(m_session.update(href, data, etag));
  }
  void remove(const QUrl& href, const QString& etag, std::function<void(const Status&)> done) override {
    done(m_session.remove(href, etag));
  }

 private:
  Session m_session;
};

class CalDavClient final : public QObject, public Client {
  Q_OBJECT
 public:
  explicit CalDavClient(Settings settings, QObject* parent = nullptr);
  ~CalDavClient() override;
  CalDavClient(const CalDavClient&) = delete;
  CalDavClient& operator=(const CalDavClient&) = delete;

  const Settings& settings() const { return m_session->settings(); }

  // Each as the Session function of the same name.
  void discover(std::function<void(const Discovery&)> done) override;
  void makeCalendar(const QUrl& collection, const QString& displayName, std::function<void(const Status&)> done);
  void syncCollection(const QUrl& collection, const QString& syncToken,
                      std::function<void(const Changes&)> done) override;
  void listMembers(const QUrl& collection, std::function<void(const Changes&)> done) override;
  void fetch(const QUrl& collection, const QList<QUrl>& hrefs, std::function<void(const Objects&)> done) override;
  void create(const QUrl& href, const QByteArray& data, std::function<void(const WriteResult&)> done) override;
  void update(const QUrl& href, const QByteArray& data, const QString& etag,
              std::function<void(const WriteResult&)> done) override;
  void remove(const QUrl& href, const QString& etag, std::function<void(const Status&)> done) override;

  // Operations queued or running whose callbacks have not been called yet.
  int pending() const { return m_pending; }

 private:
  template <typename Result>
  void queue(std::function<Result(Session&)> operation, std::function<void(const Result&)> done);

  std::unique_ptr<Session> m_session;
  int m_pending = 0;
  // After the session: its thread, which uses the session, is joined before the session goes.
  offthread::WorkQueue m_queue{this};
};

}  // namespace caldav

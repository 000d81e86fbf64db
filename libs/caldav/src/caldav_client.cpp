#include "caldav/caldav_client.h"

namespace caldav {

CalDavClient::CalDavClient(Settings settings, QObject* parent)
    : QObject(parent), m_session(std::make_unique<Session>(std::move(settings))) {
  m_thread.setObjectName(QStringLiteral("caldav"));
  m_worker = new QObject;
  m_worker->moveToThread(&m_thread);
  m_thread.start();
}

CalDavClient::~CalDavClient() {
  // The running operation ends with Cancelled; the queued ones never start, since the worker's
  // event loop stops after the event it is in. Results posted to this object meanwhile go with it.
  m_session->abort();
  m_thread.quit();
  m_thread.wait();
  delete m_worker;
}

template <typename Result>
void CalDavClient::queue(std::function<Result(Session&)> operation, std::function<void(const Result&)> done) {
  ++m_pending;
  Session* session = m_session.get();
  QMetaObject::invokeMethod(
      m_worker,
      [this, session, operation = std::move(operation), done = std::move(done)] {
        Result result = operation(*session);
        // `this` outlives the worker's thread (the destructor joins it), so posting to it is safe.
        QMetaObject::invokeMethod(
            this,
            [this, done, result = std::move(result)] {
              --m_pending;
              if (done) done(result);
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void CalDavClient::discover(std::function<void(const Discovery&)> done) {
  queue<Discovery>([](Session& s) { return s.discover(); }, std::move(done));
}

void CalDavClient::makeCalendar(const QUrl& collection, const QString& displayName,
                                std::function<void(const Status&)> done) {
  queue<Status>([=](Session& s) { return s.makeCalendar(collection, displayName); }, std::move(done));
}

void CalDavClient::syncCollection(const QUrl& collection, const QString& syncToken,
                                  std::function<void(const Changes&)> done) {
  queue<Changes>([=](Session& s) { return s.syncCollection(collection, syncToken); }, std::move(done));
}

void CalDavClient::listMembers(const QUrl& collection, std::function<void(const Changes&)> done) {
  queue<Changes>([=](Session& s) { return s.listMembers(collection); }, std::move(done));
}

void CalDavClient::fetch(const QUrl& collection, const QList<QUrl>& hrefs, std::function<void(const Objects&)> done) {
  queue<Objects>([=](Session& s) { return s.fetch(collection, hrefs); }, std::move(done));
}

void CalDavClient::create(const QUrl& href, const QByteArray& data, std::function<void(const WriteResult&)> done) {
  queue<WriteResult>([=](Session& s) { return s.create(href, data); }, std::move(done));
}

void CalDavClient::update(const QUrl& href, const QByteArray& data, const QString& etag,
                          std::function<void(const WriteResult&)> done) {
  queue<WriteResult>([=](Session& s) { return s.update(href, data, etag); }, std::move(done));
}

void CalDavClient::remove(const QUrl& href, const QString& etag, std::function<void(const Status&)> done) {
  queue<Status>([=](Session& s) { return s.remove(href, etag); }, std::move(done));
}

}  // namespace caldav

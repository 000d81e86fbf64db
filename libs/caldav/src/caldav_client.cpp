#include "caldav/caldav_client.h"

namespace caldav {

CalDavClient::CalDavClient(Settings settings, QObject* parent)
    : QObject(parent), m_session(std::make_unique<Session>(std::move(settings))) {}

CalDavClient::~CalDavClient() {
  // The running operation ends with Cancelled, the queued ones return at once without a request,
  // and the queue joins its thread before the session goes. Nothing is handed back any more.
  m_session->abort();
}

template <typename Result>
void CalDavClient::queue(std::function<Result(Session&)> operation, std::function<void(const Result&)> done) {
  ++m_pending;
  m_queue.Run([session = m_session.get(), operation = std::move(operation)](
                  const std::atomic<bool>& stop) { return stop.load() ? Result() : operation(*session); },
              [this, done = std::move(done)](Result result) {
                --m_pending;
                if (done) done(result);
              });
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

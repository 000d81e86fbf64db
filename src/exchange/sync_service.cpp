#include "exchange/sync_service.h"

#include "core/clock.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "data/calendar.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace chimewise {

QDateTime SyncTiming::After(const QDateTime& now, int failures) {
  if (failures <= 0) return now.addSecs(60LL * kEveryMinutes);
  const int doublings = std::min(failures - 1, 10);
  return now.addSecs(60LL * std::min(kFirstRetryMinutes << doublings, kLongestRetryMinutes));
}

QDateTime SyncTiming::AfterChange(const QDateTime& due, const QDateTime& now, int failures) {
  if (failures > 0) return due;
  const QDateTime soon = now.addSecs(kAfterChangeSeconds);
  return due.isValid() && due < soon ? due : soon;
}

CalendarSyncService::CalendarSyncService(ReminderStore store, const SettingsStore& settings, QObject* parent)
    : QObject(parent), m_store(store), m_settings(settings) {}

// A pass still running is stopped with its client: what it did so far is in the state file, and
// the next start goes on from there.
CalendarSyncService::~CalendarSyncService() = default;

bool CalendarSyncService::configured() const { return !m_settings.read(settings::SyncServer).trimmed().isEmpty(); }

QString CalendarSyncService::TableStamp() const {
  const QFileInfo table(data::CalendarPath(m_store.state.AppFolder));
  return QStringLiteral("%1 %2").arg(table.size()).arg(table.lastModified().toMSecsSinceEpoch());
}

void CalendarSyncService::Tick() {
  if (m_busy || !configured()) return;
  const QDateTime now = m_store.clock.now();
  const QString stamp = TableStamp();
  if (m_next.isValid() && stamp != m_seenStamp) m_next = SyncTiming::AfterChange(m_next, now, m_failures);
  m_seenStamp = stamp;
  if (!m_next.isValid() || now >= m_next) Begin();
}

void CalendarSyncService::SyncNow(std::function<void(const SyncReport&, const QString&)> done) {
  if (done) m_waiting.push_back(std::move(done));
  if (!m_busy) Begin();
}

void CalendarSyncService::Begin() {
  const QString server = m_settings.read(settings::SyncServer).trimmed();
  const QString user = m_settings.read(settings::SyncUser).trimmed();
  const QUrl url(server, QUrl::StrictMode);
  SyncReport refused;
  refused.status.error = caldav::Error::Rejected;
  if (server.isEmpty()) {
    refused.status.message = QStringLiteral("no calendar server is set up");
  } else if (!url.isValid() || url.host().isEmpty() ||
             (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http"))) {
    refused.status.message = QStringLiteral("the calendar server is to be an https:// address");
  }
  if (!refused.status.message.isEmpty()) {
    // Told from the event loop, as a pass's end is.
    m_busy = true;
    QTimer::singleShot(0, this, [this, refused] { Ended(refused); });
    return;
  }
  caldav::Settings connection;
  connection.url = url;
  connection.user = user;
  if (!user.isEmpty() && m_passwords) connection.password = m_passwords->SyncPassword(server, user).value_or(QString());
  m_busy = true;
  m_sync = std::make_unique<CalendarSync>(m_store, std::make_unique<caldav::CalDavClient>(connection), url);
  m_sync->options = options;
  m_sync->parseOwner = this;
  // The pass ends inside the client's delivery: it is let go from the event loop, not under it.
  m_sync->finished = [this](const SyncReport& report) {
    QTimer::singleShot(0, this, [this, report] { Ended(report); });
  };
  m_sync->Start();
}

void CalendarSyncService::Ended(const SyncReport& report) {
  m_sync.reset();
  m_busy = false;
  const QDateTime now = m_store.clock.now();
  m_failures = report.ok() ? 0 : m_failures + 1;
  m_next = SyncTiming::After(now, m_failures);
  // What this pass wrote is no change to sync again.
  m_seenStamp = TableStamp();
  // A pass that left steps is no failure (it is not tried again sooner), but it is told.
  const QString told = report.complete() ? QString() : SyncProblemText(report);
  const auto waiting = std::move(m_waiting);
  m_waiting.clear();
  emit synced(report, told);
  for (const auto& done : waiting) done(report, told);
}

}  // namespace chimewise

#pragma once
// The program's own syncing of the reminders with the CalDAV calendar of the settings' [Sync]
// section: at start, every few minutes, and shortly after each change to the reminder table, each
// pass off the user-interface thread's way (the transfers run on a thread of the CalDAV client).
// An automatic sync that fails keeps quiet and is tried again later and later; "Sync Now" says how
// it went.

#include "exchange/calendar_sync.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace chimewise {

class SettingsStore;

// When the next automatic sync is due.
struct SyncTiming {
  static constexpr int kEveryMinutes = 5;         // after a sync that went well
  static constexpr int kAfterChangeSeconds = 10;  // after a change to the table is seen
  static constexpr int kFirstRetryMinutes = 1;    // after a failure, doubled each time
  static constexpr int kLongestRetryMinutes = 60;

  // After a pass that ended at `now`; `failures` in a row, this one included (0: it went well).
  static QDateTime After(const QDateTime& now, int failures);
  // A change seen at `now`: the sync due sooner, but never before a retry wait is over.
  static QDateTime AfterChange(const QDateTime& due, const QDateTime& now, int failures);
};

// Where the sync's password comes from (the program's secret store, or what was typed this session).
class SyncPasswordPort {
 public:
  virtual ~SyncPasswordPort() = default;
  // The password for `user` on `server`; none when there is none to give (the sync then fails as
  // a refused password would).
  virtual std::optional<QString> SyncPassword(const QString& server, const QString& user) = 0;
};

class CalendarSyncService final : public QObject {
  Q_OBJECT
 public:
  CalendarSyncService(ReminderStore store, const SettingsStore& settings, QObject* parent = nullptr);
  ~CalendarSyncService() override;

  // Asked for the password of each sync with a user name; none set: no password is sent. It
  // must outlive this service.
  void setPasswords(SyncPasswordPort* passwords) { m_passwords = passwords; }
  // How events without an alarm and all-day events become reminders.
  ImportOptions options;

  // Looked at on every tick of the program's timer: starts a sync that is due.
  void Tick();
  // A sync now, whatever the schedule; `done` hears how it went (also when none is set up).
  void SyncNow(std::function<void(const SyncReport& report, const QString& told)> done = nullptr);

  bool running() const { return m_busy; }
  QDateTime nextSync() const { return m_next; }
  int failures() const { return m_failures; }

 signals:
  // A pass ended (automatic or not); `told`: what the user is to hear of it ("" when it went well
  // and completely; when it left steps for the next sync, that it is incomplete).
  void synced(const SyncReport& report, const QString& told);

 private:
  bool configured() const;
  void Begin();
  void Ended(const SyncReport& report);
  // The table file's size and time of change, to notice changes made by anyone.
  QString TableStamp() const;

  ReminderStore m_store;
  SyncPasswordPort* m_passwords = nullptr;
  const SettingsStore& m_settings;

  QDateTime m_next;  // invalid: at the next tick (the start)
  int m_failures = 0;
  QString m_seenStamp;
  std::vector<std::function<void(const SyncReport&, const QString&)>> m_waiting;
  bool m_busy = false;
  std::unique_ptr<CalendarSync> m_sync;
};

}  // namespace chimewise

#pragma once
// Reminders as desktop notifications: each reminder the alarm scan announces also goes to the
// desktop's notification server when the rule says so (the Options box ticked, or the character
// cannot be seen or heard), with the actions "Snooze 5 Minutes" and "Open Reminder Viewer".
// Sending never waits for the server; an action the user invokes is carried out once no wait of
// the program runs.

#include "alarms/alarm_service.h"
#include "alarms/reminder_notice.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <map>

namespace notify {
class NotificationClient;
}

namespace chimewise {

class Clock;
class SettingsStore;
class ViewerPort;
struct SharedState;

inline const QString kSyncFailedSummary = QStringLiteral("Olm Chimewise could not sync the calendar");
inline const QString kSnoozeAction = QStringLiteral("snooze-5");
inline const QString kViewerAction = QStringLiteral("open-viewer");
inline const QString kSnoozeActionLabel = QStringLiteral("Snooze 5 Minutes");
inline const QString kViewerActionLabel = QStringLiteral("Open Reminder Viewer");
// The snooze choice the notification's action uses ("&5 Minutes").
inline constexpr int kNoticeSnoozeChoice = 1;

class DesktopNotices final : public QObject {
  Q_OBJECT
 public:
  // `conditions` tells how the character stands now (the Options box is read here, from the
  // settings). Everything given outlives this object.
  DesktopNotices(SharedState& state, SettingsStore& settings, Clock& clock, AlarmService& alarms, ViewerPort& viewer,
                 std::function<NoticeConditions()> conditions, QDBusConnection bus, QObject* parent = nullptr);
  ~DesktopNotices() override;

  // An announced reminder: sent as a notification when the rule says so, in place of the one it
  // had. True when it was sent. It stays until the user acts on it (urgent only when the reminder
  // is already late).
  bool ReminderAnnounced(const AnnouncedReminder& reminder);
  // The reminder was snoozed, edited or deleted here: its notification, if any, is withdrawn.
  void ReminderHandled(qint64 recno);
  // The alarm side moved the reminder's alarm on (it was heard): its notification still stands.
  void ReminderMoved(const AnnouncedReminder& reminder);
  // The notifications follow the table, soon (once, however often this is called before): one
  // whose reminder is gone, dealt with (no pending alarm) or put off (its alarm moved by anyone but
  // the alarm side) is withdrawn; one whose texts changed is replaced.
  void ReconcileSoon();

  // Where the character cannot place itself, tells the user why in a notification, once for good
  // (the settings remember it). True when it was sent.
  bool TellPlacementLimitOnce();

  // How an automatic calendar sync ended: the first failure of a run of them is shown once as a
  // notification (true when it was sent); a sync that goes well ends the run.
  bool SyncEnded(bool ok, const QString& told);

  notify::NotificationClient& client() { return *m_client; }

 signals:
  // What a snooze from a notification could not do (no caller is there to return it to).
  void snoozeFailed(const Problem& problem);

 private:
  void onAction(quint64 handle, const QString& key);
  void withdraw(qint64 recno, const QString& recordId);
  void send(const AnnouncedReminder& reminder);
  void reconcile();

  struct Sent {
    qint64 recno = 0;
    QString recordId;
    ReminderFacts facts;  // the reminder as shown, its alarm as the alarm side left it
  };
  bool m_reconcileDue = false;
  SharedState& m_state;
  SettingsStore& m_settings;
  Clock& m_clock;
  AlarmService& m_alarms;
  ViewerPort& m_viewer;
  std::function<NoticeConditions()> m_conditions;
  std::unique_ptr<notify::NotificationClient> m_client;
  std::map<quint64, Sent> m_sent;  // the client's handles that still stand for a reminder
  bool m_syncFailureTold = false;
};

}  // namespace chimewise

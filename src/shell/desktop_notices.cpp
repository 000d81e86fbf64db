#include "shell/desktop_notices.h"

#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/value_reading.h"
#include "options/autostart.h"

#include <notify/notification_client.h>

#include <QTimer>

namespace chimewise {

namespace {
const QString kNoticeAppName = QStringLiteral("Olm Chimewise");
const QString kNoticeIcon = QStringLiteral("olm-chimewise");
}  // namespace

DesktopNotices::DesktopNotices(SharedState& state, SettingsStore& settings, Clock& clock, AlarmService& alarms,
                               ViewerPort& viewer, std::function<NoticeConditions()> conditions, QDBusConnection bus,
                               QObject* parent)
    : QObject(parent),
      m_state(state),
      m_settings(settings),
      m_clock(clock),
      m_alarms(alarms),
      m_viewer(viewer),
      m_conditions(std::move(conditions)),
      m_client(std::make_unique<notify::NotificationClient>(std::move(bus))) {
  connect(m_client.get(), &notify::NotificationClient::actionInvoked, this, &DesktopNotices::onAction);
  connect(m_client.get(), &notify::NotificationClient::closed, this,
          [this](quint64 handle, notify::CloseReason) { m_sent.erase(handle); });
  // A notification that could not be shown is dropped quietly: the character still announced it.
  connect(m_client.get(), &notify::NotificationClient::failed, this,
          [this](quint64 handle, const QString&) { m_sent.erase(handle); });
}

DesktopNotices::~DesktopNotices() = default;

bool DesktopNotices::ReminderAnnounced(const AnnouncedReminder& reminder) {
  NoticeConditions c = m_conditions ? m_conditions() : NoticeConditions{};
  c.alwaysNotify = NumericFlag(m_settings.read(settings::DesktopNotices));
  if (!ShouldNotifyDesktop(c)) return false;
  send(reminder);
  return true;
}

void DesktopNotices::send(const AnnouncedReminder& reminder) {
  const NoticeTexts texts = ReminderNoticeTexts(reminder.facts, m_alarms.options().timeFormat);
  notify::Notification n;
  n.appName = kNoticeAppName;
  n.appIcon = kNoticeIcon;
  n.summary = texts.summary;
  // Servers that read markup in the body would take "<" and "&" for it.
  n.body = texts.body.toHtmlEscaped();
  n.actions = {{kSnoozeAction, kSnoozeActionLabel}, {kViewerAction, kViewerActionLabel}};
  n.hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kApplicationId));
  n.hints.insert(QStringLiteral("category"), QStringLiteral("x-olm-chimewise.reminder"));
  // A reminder stays on screen until the user acts on it (servers that expire even those are told
  // by "resident" to keep it); it is urgent only once it is late.
  const bool late = ReminderLate(reminder.facts, m_clock.now());
  n.hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(late ? 2 : 1));
  n.hints.insert(QStringLiteral("resident"), true);
  n.expireTimeoutMs = 0;
  // A reminder that comes back replaces its notification rather than piling up another.
  withdraw(reminder.recno, reminder.recordId);
  const quint64 handle = m_client->notify(n);
  m_sent[handle] = Sent{reminder.recno, reminder.recordId, reminder.facts};
  // As many as the client remembers: one it has forgotten can no longer be acted on.
  while (m_sent.size() > static_cast<size_t>(notify::NotificationClient::kMaxTracked)) m_sent.erase(m_sent.begin());
}

void DesktopNotices::ReminderMoved(const AnnouncedReminder& reminder) {
  for (auto& [handle, sent] : m_sent)
    if (sent.recordId == reminder.recordId) {
      sent.recno = reminder.recno;
      sent.facts.alarmDate = reminder.facts.alarmDate;
      sent.facts.alarmTime = reminder.facts.alarmTime;
    }
}

void DesktopNotices::ReconcileSoon() {
  if (m_sent.empty() || std::exchange(m_reconcileDue, true)) return;
  // After the save, scan or command that looked at the table has returned.
  QTimer::singleShot(0, this, [this] {
    m_reconcileDue = false;
    if (!m_state.events->closing()) reconcile();
  });
}

void DesktopNotices::reconcile() {
  std::vector<AnnouncedReminder> shown;
  for (const auto& [handle, sent] : m_sent) shown.push_back({sent.recno, sent.recordId, sent.facts});
  if (shown.empty()) return;
  const std::vector<std::optional<ReminderFacts>> now = m_alarms.ReadAnnounced(shown);
  if (now.size() != shown.size()) return;  // the table cannot be read now: looked at next time
  const QString format = m_alarms.options().timeFormat;
  std::vector<AnnouncedReminder> replace;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const ReminderFacts& was = shown[i].facts;
    const std::optional<ReminderFacts>& is = now[i];
    const bool putOff =
        !is || !is->alarmDate.isValid() || is->alarmDate != was.alarmDate || is->alarmTime != was.alarmTime;
    const NoticeTexts before = ReminderNoticeTexts(was, format);
    const NoticeTexts after = is ? ReminderNoticeTexts(*is, format) : NoticeTexts{};
    if (putOff || before.summary != after.summary || before.body != after.body) {
      withdraw(shown[i].recno, shown[i].recordId);
      if (!putOff) replace.push_back({shown[i].recno, shown[i].recordId, *is});
    }
  }
  for (const AnnouncedReminder& r : replace) send(r);
}

void DesktopNotices::withdraw(qint64 recno, const QString& recordId) {
  for (auto it = m_sent.begin(); it != m_sent.end();) {
    if (it->second.recno == recno && (recordId.isNull() || it->second.recordId == recordId)) {
      m_client->close(it->first);
      it = m_sent.erase(it);
    } else {
      ++it;
    }
  }
}

void DesktopNotices::ReminderHandled(qint64 recno) { withdraw(recno, QString()); }

bool DesktopNotices::TellPlacementLimitOnce() {
  const NoticeConditions c = m_conditions ? m_conditions() : NoticeConditions{};
  if (c.canPlaceItself || NumericFlag(m_settings.read(settings::PlacementLimitTold))) return false;
  notify::Notification n;
  n.appName = kNoticeAppName;
  n.appIcon = kNoticeIcon;
  n.summary = kPlacementLimitSummary;
  n.body = kPlacementLimitText.toHtmlEscaped();
  n.hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kApplicationId));
  n.expireTimeoutMs = 0;  // stays until read
  m_client->notify(n);
  m_settings.write(settings::PlacementLimitTold, QStringLiteral("1"));
  return true;
}

bool DesktopNotices::SyncEnded(bool ok, const QString& told) {
  if (ok) {
    m_syncFailureTold = false;
    return false;
  }
  if (std::exchange(m_syncFailureTold, true)) return false;
  notify::Notification n;
  n.appName = kNoticeAppName;
  n.appIcon = kNoticeIcon;
  n.summary = kSyncFailedSummary;
  n.body = (told + QStringLiteral("\nIt is tried again; the Sync tab of Options tells how it goes.")).toHtmlEscaped();
  n.hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kApplicationId));
  m_client->notify(n);
  return true;
}

void DesktopNotices::onAction(quint64 handle, const QString& key) {
  const auto it = m_sent.find(handle);
  if (it == m_sent.end()) return;
  const Sent sent = it->second;
  if (key == kSnoozeAction) {
    // Snoozed: the notification goes (a resident one stays after its action otherwise).
    m_client->close(handle);
    m_sent.erase(it);
    // The viewer's own snooze, carried out as a menu command would be, from the event loop.
    QTimer::singleShot(0, this, [this, sent] {
      if (m_state.events->closing()) return;
      const AlarmService::SnoozeOutcome out = m_alarms.SnoozeAnnounced(sent.recno, sent.recordId, kNoticeSnoozeChoice);
      if (m_viewer.ViewerOpen() && out.alarm.isValid()) m_viewer.RefreshViewer();
      if (!out.problem.ok()) emit snoozeFailed(out.problem);
    });
  } else if (key == kViewerAction) {
    QTimer::singleShot(0, this, [this] {
      if (!m_state.events->closing()) m_viewer.ShowViewer();
    });
  }
}

}  // namespace chimewise

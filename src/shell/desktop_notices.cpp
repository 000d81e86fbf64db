#include "shell/desktop_notices.h"

#include "core/ports.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/value_reading.h"
#include "core/wait_scope.h"
#include "options/autostart.h"

#include <notify/notification_client.h>

namespace chimewise {

namespace {
const QString kNoticeAppName = QStringLiteral("Olm Chimewise");
const QString kNoticeIcon = QStringLiteral("olm-chimewise");
}  // namespace

DesktopNotices::DesktopNotices(SharedState& state, SettingsStore& settings, AlarmService& alarms, ViewerPort& viewer,
                               std::function<NoticeConditions()> conditions, QDBusConnection bus, QObject* parent)
    : QObject(parent),
      m_state(state),
      m_settings(settings),
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
  n.hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
  // A reminder that comes back replaces its notification rather than piling up another.
  for (auto it = m_sent.begin(); it != m_sent.end();) {
    if (it->second.recordId == reminder.recordId && it->second.recno == reminder.recno) {
      m_client->close(it->first);
      it = m_sent.erase(it);
    } else {
      ++it;
    }
  }
  const quint64 handle = m_client->notify(n);
  m_sent[handle] = Sent{reminder.recno, reminder.recordId};
  // As many as the client remembers: one it has forgotten can no longer be acted on.
  while (m_sent.size() > static_cast<size_t>(notify::NotificationClient::kMaxTracked)) m_sent.erase(m_sent.begin());
  return true;
}

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

void DesktopNotices::onAction(quint64 handle, const QString& key) {
  const auto it = m_sent.find(handle);
  if (it == m_sent.end()) return;
  const Sent sent = it->second;
  if (key == kSnoozeAction) {
    m_sent.erase(it);
    // The viewer's own snooze, carried out as a menu command would be: after any wait under way
    // (a reminder's sound, a spoken line) has returned.
    RunWhenNoWaitRuns(this, [this, sent] {
      if (m_state.events->closing()) return;
      const AlarmService::SnoozeOutcome out = m_alarms.SnoozeAnnounced(sent.recno, sent.recordId, kNoticeSnoozeChoice);
      if (m_viewer.ViewerOpen() && out.alarm.isValid()) m_viewer.RefreshViewer();
      if (!out.problem.ok() && report) report(out.problem);
    });
  } else if (key == kViewerAction) {
    RunWhenNoWaitRuns(this, [this] {
      if (!m_state.events->closing()) m_viewer.ShowViewer();
    });
  }
}

}  // namespace chimewise

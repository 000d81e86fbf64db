#include "alarms/reminder_notice.h"

#include "core/time_format.h"

namespace chimewise {

bool ShouldNotifyDesktop(const NoticeConditions& c) {
  if (c.alwaysNotify) return true;
  const bool seen = c.characterLoaded && !c.characterSentAway && c.canPlaceItself;
  const bool heard = c.characterLoaded && c.audible;
  return !seen || !heard;
}

bool CharacterCanPlaceItself(const QString& qtPlatformName) {
  return !qtPlatformName.startsWith(QLatin1String("wayland"));
}

bool ReminderLate(const ReminderFacts& r, const QDateTime& now) {
  if (r.startTime > -1 && r.activity.isValid()) {
    const QDateTime minute = now.addSecs(-now.time().second()).addMSecs(-now.time().msec());
    return r.activity < minute;
  }
  return r.eventDate.isValid() && r.eventDate < now.date();
}

NoticeTexts ReminderNoticeTexts(const ReminderFacts& r, const QString& timeFormat) {
  NoticeTexts t;
  t.summary = r.activityText.trimmed().isEmpty() ? QStringLiteral("Reminder") : r.activityText.trimmed();
  if (r.startTime > -1 && r.activity.isValid())
    t.body = FormatDateTimeText(r.activity, timeFormat);
  else if (r.eventDate.isValid())
    t.body = FormatShortDate(r.eventDate);
  const QString memo = r.memo.trimmed();
  if (!memo.isEmpty()) t.body += (t.body.isEmpty() ? QString() : QStringLiteral("\n")) + memo;
  return t;
}

}  // namespace chimewise

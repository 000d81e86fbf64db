#include "exchange/kept_changes.h"

#include "core/time_format.h"

#include <algorithm>

namespace chimewise {

namespace {

bool AllDay(const QStringList& series) {
  return std::any_of(series.begin(), series.end(),
                     [](const QString& l) { return l.startsWith(QLatin1String("DTSTART;VALUE=DATE")); });
}

QStringList Categories(const QString& event) {
  QStringList out;
  for (const QString& c : event.split(u',', Qt::SkipEmptyParts))
    if (!c.trimmed().isEmpty()) out << c.trimmed();
  return out;
}

}  // namespace

ReminderRecord ComparedRecord(ReminderRecord record, const std::optional<KeptEvent>& kept) {
  if (kept && kept->hasUserAlarm) {
    record.alarmDate = kept->userAlarmDate;
    record.alarmTime = kept->userAlarmTime;
  }
  return record;
}

bool IsSeries(const QStringList& series) {
  return std::any_of(series.begin(), series.end(),
                     [](const QString& l) { return l.startsWith(QLatin1String("RRULE")); });
}

icalendar::EventChanges ChangesSince(const ReminderRecord& base, const ReminderRecord& now, const QStringList& series,
                                     bool alarmKnown, const QDateTime& stamp) {
  icalendar::EventChanges c;
  c.stamp = stamp;
  if (now.activityText.trimmed() != base.activityText.trimmed()) c.summary = now.activityText.trimmed();
  if (now.memo != base.memo) c.description = now.memo;
  if (Categories(now.event) != Categories(base.event)) c.categories = Categories(now.event);
  const bool repeats = IsSeries(series);
  const QDateTime startWas = AlarmMoment(base.eventDate, std::max(base.startTime, 0));
  const QDateTime startNow = AlarmMoment(now.eventDate, std::max(now.startTime, 0));
  if (!repeats && now.eventDate.isValid()) {
    if (AllDay(series)) {
      if (now.eventDate != base.eventDate) c.date = now.eventDate;
    } else if (startNow != startWas) {
      c.start = startNow;
      c.startWas = startWas;
    }
  }
  if (!repeats && alarmKnown && now.alarmDate.isValid() &&
      (now.alarmDate != base.alarmDate || now.alarmTime != base.alarmTime)) {
    c.alarm = AlarmMoment(now.alarmDate, now.alarmTime);
    c.alarmWas = base.alarmDate.isValid() ? AlarmMoment(base.alarmDate, base.alarmTime) : QDateTime();
    c.alarmText = now.activityText.trimmed();
  }
  const std::pair<const char*, std::pair<int, int>> own[] = {
      {"X-CHIMEWISE-SOUND", {now.sound, base.sound}},
      {"X-CHIMEWISE-SAY-DATE", {now.sayDate, base.sayDate}},
      {"X-CHIMEWISE-SAY-TIME", {now.sayTime, base.sayTime}},
      {"X-CHIMEWISE-COUNTDOWN", {now.countdown, base.countdown}}};
  for (const auto& [name, values] : own)
    if (values.first != values.second) c.extras.emplace_back(QLatin1String(name), QString::number(values.first));
  return c;
}

QByteArray PatchedResource(const QByteArray& resource, const ReminderRecord& base, const ReminderRecord& now,
                           const QStringList& series, bool alarmKnown, const QDateTime& stamp) {
  const icalendar::PatchResult r = icalendar::PatchEvent(resource, ChangesSince(base, now, series, alarmKnown, stamp));
  return r.error.isEmpty() ? r.text : QByteArray();
}

}  // namespace chimewise

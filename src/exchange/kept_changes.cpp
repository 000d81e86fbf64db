#include "exchange/kept_changes.h"

#include "core/time_format.h"

#include <icalendar/icalendar.h>

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

namespace {

QString LineNamed(const QStringList& lines, QLatin1StringView name) {
  for (const QString& l : lines)
    if (l.startsWith(name) && l.size() > name.size() && (l[name.size()] == u':' || l[name.size()] == u';')) return l;
  return {};
}

// A line as a property to set: its name with its parameters, and its value. A line without
// parameters gets the VALUE its value already means, so that setting it adds a line of its own
// rather than taking the place of the event's first of that name.
icalendar::ExtraProperty AsProperty(const QString& line) {
  const qsizetype colon = line.indexOf(u':');
  QString name = line.left(colon);
  const QString value = line.mid(colon + 1);
  if (!name.contains(u';'))
    name += value.contains(u'T') ? QStringLiteral(";VALUE=DATE-TIME") : QStringLiteral(";VALUE=DATE");
  return {name, value};
}

}  // namespace

void AddSeriesChanges(const QByteArray& resource, const QStringList& series, const QDateTime& now,
                      icalendar::EventChanges* changes) {
  icalendar::ReadOptions ro;
  ro.now = now.toUTC();
  const icalendar::ReadResult read = icalendar::Read(resource, ro);
  // The series itself: the component whose UID no other one's extends ("UID/moment" is an occurrence).
  const icalendar::ReadEvent* main = nullptr;
  for (const icalendar::ReadEvent& e : read.events)
    if (!main || main->uid.startsWith(e.uid + u'/')) main = &e;
  if (!main) return;
  const QStringList& there = main->series;
  const QLatin1StringView rrule("RRULE"), dtstart("DTSTART");
  if (!IsSeries(series)) {
    if (IsSeries(there))
      changes->removed << QStringLiteral("RRULE") << QStringLiteral("RDATE") << QStringLiteral("EXDATE");
    return;
  }
  if (LineNamed(series, rrule) != LineNamed(there, rrule)) {
    changes->removed << QStringLiteral("RRULE");
    changes->extras.push_back({QStringLiteral("RRULE"), LineNamed(series, rrule).section(u':', 1)});
    if (const QString start = LineNamed(series, dtstart); !start.isEmpty() && start != LineNamed(there, dtstart)) {
      changes->removed << QStringLiteral("DTSTART");
      changes->extras.push_back(AsProperty(start));
    }
  }
  for (const QString& line : series)
    if (line.startsWith(QLatin1String("EXDATE")) && !there.contains(line)) changes->extras.push_back(AsProperty(line));
}

QByteArray PatchedResource(const QByteArray& resource, const ReminderRecord& base, const ReminderRecord& now,
                           const QStringList& series, bool alarmKnown, const QDateTime& stamp) {
  icalendar::EventChanges changes = ChangesSince(base, now, series, alarmKnown, stamp);
  AddSeriesChanges(resource, series, stamp, &changes);
  const icalendar::PatchResult r = icalendar::PatchEvent(resource, changes);
  return r.error.isEmpty() ? r.text : QByteArray();
}

}  // namespace chimewise

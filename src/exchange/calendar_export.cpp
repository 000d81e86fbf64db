#include "exchange/calendar_export.h"

#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "exchange/calendar_import.h"
#include "exchange/kept_changes.h"
#include "schedule/save_event.h"

#include <QTimeZone>
#include <xbase/engine.h>
#include <icalendar/icalendar.h>
#include <icalendar/resource_text.h>
#include <optional>

namespace chimewise {

QString RecordUid(const std::string& recordId) {
  return QStringLiteral("chimewise-") + QString::fromLatin1(QByteArray::fromStdString(recordId).toHex());
}

namespace {

// The reminder at the work area's record as an event; `kept`: what it keeps of its calendar event.
icalendar::WriteEvent EventOf(xbase::WorkArea& area, const std::optional<KeptEvent>& kept) {
  const ReminderFacts facts = ReadReminderFacts(area);
  const QString uid = kept ? kept->uid : QString();
  const QStringList series = kept ? kept->series : QStringList();
  icalendar::WriteEvent e;
  std::string id;
  if (area.GetString("REC_NO", &id).ok() && uid.isEmpty()) e.uid = RecordUid(id);
  if (!uid.isEmpty()) e.uid = uid;
  e.summary = facts.activityText;
  e.description = facts.memo;
  e.category = TableText(area, "EVENT");
  // An all-day activity: one without a time, or one read from an all-day event (its series says
  // so with a DTSTART that is a date).
  const bool dateStart = !series.isEmpty() && series.first().startsWith(QStringLiteral("DTSTART;VALUE=DATE:"));
  e.allDay = facts.startTime < 0 || dateStart;
  e.date = facts.eventDate;
  e.start = facts.activity.toUTC();
  std::optional<qint64> lead;
  for (const QString& line : series) {
    if (line.startsWith(QStringLiteral("X-CHIMEWISE-LEAD:")))
      lead = line.mid(17).toLongLong();
    else
      e.series << line;
  }
  if (e.series.size() < 2) e.series.clear();  // a DTSTART alone is no series
  if (facts.alarmDate.isValid()) {
    e.hasAlarm = true;
    e.alarm = AlarmMoment(facts.alarmDate, facts.alarmTime).toUTC();
    // The lead is kept from the activity; an all-day event's alarm counts from its midnight.
    const QDateTime from = e.allDay ? QDateTime(facts.eventDate, QTime(0, 0)).toUTC() : e.start;
    e.alarmLead = lead ? *lead - from.secsTo(e.start) : e.alarm.secsTo(from);
    // A series' alarm comes before every occurrence: it names the activity, not one moment.
    e.alarmText = e.series.isEmpty() ? TableText(area, "ALARMTEXT") : e.summary;
  }
  e.extras = {{QStringLiteral("X-CHIMEWISE-SOUND"), QString::number(facts.sound)},
              {QStringLiteral("X-CHIMEWISE-SAY-DATE"), QString::number(facts.sayDate)},
              {QStringLiteral("X-CHIMEWISE-SAY-TIME"), QString::number(facts.sayTime)},
              {QStringLiteral("X-CHIMEWISE-COUNTDOWN"), QString::number(facts.countdown)}};
  return e;
}

}  // namespace

namespace {

ExportResult Compose(const std::vector<icalendar::WriteEvent>& events, const QDateTime& now) {
  ExportResult result;
  icalendar::WriteOptions options;
  options.timeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
  options.stamp = now.toUTC();
  options.productId = QString::fromLatin1(kCalendarProductId);
  icalendar::WriteResult written = icalendar::Write(events, options);
  result.error = written.error;
  result.text = written.text;
  result.count = static_cast<int>(events.size());
  return result;
}

}  // namespace

ExportResult ExportCalendar(xbase::WorkArea& area, bool all, const QDateTime& now) {
  const KeptEvents kept = KeptEvents::BesideTable(QString::fromStdString(area.path()));
  std::vector<icalendar::WriteEvent> events;
  std::vector<QByteArray> keptEvents;
  xbase::Status st = area.SetOrder(area.TagArea("ALARM"));
  if (st.ok() && !all) st = area.Query(data::CurrentRemindersQuery(now).toStdString());
  if (st.ok()) st = area.GoTop();
  for (; st.ok() && !area.Eof(); st = area.Skip(1)) {
    const ReminderFacts facts = ReadReminderFacts(area);
    const icalendar::ExtraProperty pending{
        QStringLiteral("X-CHIMEWISE-PENDING"),
        facts.alarmDate.isValid()
            ? AlarmMoment(facts.alarmDate, facts.alarmTime).toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
            : QString()};
    std::string id;
    const std::optional<KeptEvent> event =
        area.GetString("REC_NO", &id).ok() ? kept.Get(QByteArray::fromStdString(id)) : std::nullopt;
    if (event && event->hasSynced && !event->resource.isEmpty()) {
      const ReminderRecord record = ComposeReminderRecord(StoredReminder(area), QString());
      icalendar::EventChanges changes =
          ChangesSince(event->synced, ComparedRecord(record, event), event->series, event->hasUserAlarm, now);
      AddSeriesChanges(event->resource, event->series, now, &changes);
      icalendar::PatchResult patched = icalendar::PatchEvent(event->resource, changes);
      // The pending alarm is this file's own note, not a change to the event: no new stamps for it.
      icalendar::EventChanges note;
      if (!pending.second.isEmpty()) note.extras.push_back(pending);
      if (patched.error.isEmpty()) patched = icalendar::PatchEvent(patched.text, note);
      if (patched.error.isEmpty()) {
        keptEvents.push_back(patched.text);
        continue;
      }
    }
    events.push_back(EventOf(area, event));
    if (!pending.second.isEmpty()) events.back().extras.push_back(pending);
  }
  if (!st.ok()) {
    ExportResult result;
    result.problem = ProblemOf(st);
    return result;
  }
  ExportResult result = Compose(events, now);
  if (!keptEvents.empty() && result.error.isEmpty()) {
    if (!events.empty()) keptEvents.insert(keptEvents.begin(), result.text);
    result.text = icalendar::JoinResources(keptEvents, QString::fromLatin1(kCalendarProductId));
    result.count = static_cast<int>(events.size() + keptEvents.size()) - (events.empty() ? 0 : 1);
  }
  return result;
}

std::optional<KeptEvent> KeptEventAt(xbase::WorkArea& area) {
  std::string id;
  if (!area.GetString("REC_NO", &id).ok()) return std::nullopt;
  return KeptEvents::BesideTable(QString::fromStdString(area.path())).Get(QByteArray::fromStdString(id));
}

ExportResult ExportReminder(xbase::WorkArea& area, const QDateTime& now, const std::optional<KeptEvent>& kept) {
  return Compose({EventOf(area, kept)}, now);
}

ExportResult ExportReminder(xbase::WorkArea& area, const QDateTime& now) {
  return ExportReminder(area, now, KeptEventAt(area));
}

QString ReminderUid(xbase::WorkArea& area) {
  const std::optional<KeptEvent> kept = KeptEventAt(area);
  if (kept && !kept->uid.isEmpty()) return kept->uid;
  std::string id;
  return area.GetString("REC_NO", &id).ok() ? RecordUid(id) : QString();
}

}  // namespace chimewise

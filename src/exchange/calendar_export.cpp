#include "exchange/calendar_export.h"

#include "core/time_format.h"
#include "data/calendar.h"
#include "data/calendar_memo.h"
#include "data/reminder_record.h"

#include <QTimeZone>
#include <xbase/engine.h>
#include <icalendar/icalendar.h>
#include <optional>

namespace chimewise {

QString RecordUid(const std::string& recordId) {
  return QStringLiteral("chimewise-") + QString::fromLatin1(QByteArray::fromStdString(recordId).toHex());
}

namespace {

icalendar::WriteEvent EventOf(xbase::WorkArea& area) {
  const ReminderFacts facts = ReadReminderFacts(area);
  const CalendarMemo memo = SplitCalendarMemo(facts.memo);
  icalendar::WriteEvent e;
  std::string id;
  if (area.GetString("REC_NO", &id).ok() && memo.uid.isEmpty()) e.uid = RecordUid(id);
  if (!memo.uid.isEmpty()) e.uid = memo.uid;
  e.summary = facts.activityText;
  e.description = memo.text;
  e.category = TableText(area, "EVENT");
  // An all-day activity: one without a time, or one read from an all-day event (its series says
  // so with a DTSTART that is a date).
  const bool dateStart =
      !memo.series.isEmpty() && memo.series.first().startsWith(QStringLiteral("DTSTART;VALUE=DATE:"));
  e.allDay = facts.startTime < 0 || dateStart;
  e.date = facts.eventDate;
  e.start = facts.activity.toUTC();
  std::optional<qint64> lead;
  for (const QString& line : memo.series) {
    if (line.startsWith(QStringLiteral("X-CHIMEWISE-LEAD:")))
      lead = line.mid(17).toLongLong();
    else if (!line.startsWith(QStringLiteral("X-CHIMEWISE-TZID:")))
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
  std::vector<icalendar::WriteEvent> events;
  xbase::Status st = area.SetOrder(area.TagArea("ALARM"));
  if (st.ok() && !all) st = area.Query(data::CurrentRemindersQuery(now).toStdString());
  if (st.ok()) st = area.GoTop();
  for (; st.ok() && !area.Eof(); st = area.Skip(1)) events.push_back(EventOf(area));
  if (!st.ok()) {
    ExportResult result;
    result.problem = ProblemOf(st);
    return result;
  }
  return Compose(events, now);
}

ExportResult ExportReminder(xbase::WorkArea& area, const QDateTime& now) { return Compose({EventOf(area)}, now); }

QString ReminderUid(xbase::WorkArea& area) { return EventOf(area).uid; }

}  // namespace chimewise

#include "data/reminder_record.h"

#include "core/time_format.h"
#include "data/calendar.h"

namespace chimewise {

QDate TableDate(xbase::WorkArea& area, const char* field) {
  std::string raw;
  if (!area.GetString(field, &raw).ok()) return {};
  return QDate::fromString(QString::fromLatin1(raw.c_str()).trimmed(), QStringLiteral("yyyyMMdd"));
}

QString TableText(xbase::WorkArea& area, const char* field, bool trimmed) {
  std::string raw;
  const xbase::Status s = trimmed ? area.GetTrimString(field, &raw) : area.GetString(field, &raw);
  return s.ok() ? data::FromTableText(raw) : QString();
}

int TableInt(xbase::WorkArea& area, const char* field) {
  int64_t v = 0;
  if (!area.GetInteger(field, &v).ok()) return 0;
  return static_cast<int>(std::clamp<int64_t>(v, -2147483647, 2147483647));
}

QString TableMemo(xbase::WorkArea& area, const char* field) {
  std::string raw;
  return area.GetMemo(field, &raw).ok() ? data::FromTableText(raw) : QString();
}

ReminderFacts ReadReminderFacts(xbase::WorkArea& area) {
  ReminderFacts r;
  r.activityText = TableText(area, "APPT_TEXT");
  r.memo = TableMemo(area, "COMMENT");
  r.sound = TableInt(area, "SOUND");
  r.sayTime = TableInt(area, "SAYTIME");
  r.sayDate = TableInt(area, "SAYDATE");
  r.countdown = TableInt(area, "COUNTDOWN");
  r.eventDate = TableDate(area, "EVENTDATE");
  r.startTime = TableInt(area, "STARTTIME");
  r.timeText = TableText(area, "TIMETEXT");
  // The activity's moment is its date and start time; the display texts beside them are never read back.
  if (r.eventDate.isValid()) r.activity = AlarmMoment(r.eventDate, r.startTime >= 0 ? r.startTime : 0);
  r.alarmDate = TableDate(area, "ALARMDATE");
  r.alarmTime = TableInt(area, "ALARMTIME");
  return r;
}

xbase::Status WriteAlarm(xbase::WorkArea& area, const AlarmWrite& alarm) {
  XBASE_RETURN_IF_ERROR(area.Replace("ALARMDATE", alarm.date.toString(QStringLiteral("yyyyMMdd")).toStdString()));
  XBASE_RETURN_IF_ERROR(area.ReplaceInteger("ALARMTIME", alarm.minutes));
  return area.Replace("ALARMTEXT", data::ToTableText(alarm.text));
}

QString EngineErrorText(const xbase::Status& status) {
  return QStringLiteral("Error ") + QString::fromStdString(status.message()) + QStringLiteral(" #") +
         QString::number(static_cast<int>(status.kind()));
}

}  // namespace chimewise

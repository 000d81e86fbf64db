#include "data/reminder_record.h"

#include "core/app_paths.h"
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

namespace {

// Why the open work area's index cannot serve the program: not trusted, or without the tag the
// lookups go by.
xbase::Status IndexProblem(xbase::WorkArea& wa) {
  if (!wa.IndexStatus().ok()) return wa.IndexStatus();
  if (wa.TagArea("ALARM") == 0) return xbase::Status::Corruption(wa.path() + ": the index has no ALARM tag");
  return wa.SetOrder(wa.TagArea("ALARM"));
}

xbase::Status OpenOnce(xbase::Engine& engine, const QString& appFolder, const QString& alias, int* area) {
  *area = 0;
  const QString folder = appFolder + QStringLiteral("/data");
  if (!FindPathNoCase(appFolder, QStringLiteral("data")))
    return xbase::Status::NotFound(("Missing the " + folder + " directory").toStdString());
  if (!FindPathNoCase(appFolder, QStringLiteral("data/calendar.dbf")))
    return xbase::Status::NotFound(("Missing the " + folder + "/calendar.dbf file").toStdString());
  xbase::Status why;
  const int open = data::OpenTable(engine, data::CalendarPath(appFolder), alias, data::kModeShared, &why);
  if (open < 1) return why.ok() ? xbase::Status::IOError("the reminder table could not be opened") : why;
  *area = open;
  return xbase::Status::OK();
}

}  // namespace

xbase::Status OpenCalendar(xbase::Engine& engine, const QString& appFolder, const QString& alias, int* area,
                           bool mayRepair, bool* repaired) {
  if (repaired) *repaired = false;
  XBASE_RETURN_IF_ERROR(OpenOnce(engine, appFolder, alias, area));
  xbase::Status problem = IndexProblem(*engine.Area(*area));
  if (problem.ok()) return problem;
  data::CloseTableIfOpen(engine, alias);
  *area = 0;
  if (!mayRepair) return problem;
  XBASE_RETURN_IF_ERROR(RepairCalendarIndex(engine.env(), appFolder));
  if (repaired) *repaired = true;
  XBASE_RETURN_IF_ERROR(OpenOnce(engine, appFolder, alias, area));
  problem = IndexProblem(*engine.Area(*area));
  if (!problem.ok()) {
    data::CloseTableIfOpen(engine, alias);
    *area = 0;
  }
  return problem;
}

bool IsIndexTrouble(const xbase::Status& status) {
  return status.kind() == xbase::Status::Kind::kCorruption || status.kind() == xbase::Status::Kind::kNotSupported;
}

xbase::Status RepairCalendarIndex(xbase::Env* env, const QString& appFolder) {
  xbase::Engine own(env);
  data::ApplyStartupSettings(own);
  return data::RebuildDatabase(own, appFolder);
}

QString EngineErrorText(const xbase::Status& status) {
  return QStringLiteral("Error ") + QString::fromStdString(status.message()) + QStringLiteral(" #") +
         QString::number(static_cast<int>(status.kind()));
}

}  // namespace chimewise

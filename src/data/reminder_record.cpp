#include "data/reminder_record.h"

#include "core/app_paths.h"
#include "core/time_format.h"
#include "data/calendar.h"

#include <QFileInfo>

#include <map>
#include <string>

namespace chimewise {

QDate TableDate(xbase::WorkArea& area, const char* field) {
  std::string raw;
  if (!area.GetString(field, &raw).ok()) return {};
  return QDate::fromString(QString::fromLatin1(raw.c_str()).trimmed(), QStringLiteral("yyyyMMdd"));
}

QString TableText(xbase::WorkArea& area, const char* field, bool trimmed) {
  std::string raw;
  const xbase::Status s = trimmed ? area.GetTrimString(field, &raw) : area.GetString(field, &raw);
  return s.ok() ? data::FromTableText(area, raw) : QString();
}

int TableInt(xbase::WorkArea& area, const char* field) {
  int64_t v = 0;
  if (!area.GetInteger(field, &v).ok()) return 0;
  return static_cast<int>(std::clamp<int64_t>(v, -2147483647, 2147483647));
}

QString TableMemo(xbase::WorkArea& area, const char* field) {
  std::string raw;
  return area.GetMemo(field, &raw).ok() ? data::FromTableText(area, raw) : QString();
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
  return area.Replace("ALARMTEXT", data::ToTableText(area, alarm.text));
}

bool CommitRecord(xbase::WorkArea& area, xbase::Status* why) {
  *why = area.Commit();
  // A commit that fails keeps its changes pending, unless it failed after the record was written:
  // then only the index was left behind.
  return why->ok() || !area.HasPendingChanges();
}

namespace {

std::string Ymd(const QDate& d) { return d.toString(QStringLiteral("yyyyMMdd")).toStdString(); }

}  // namespace

Problem FirstValueThatDoesNotFit(const xbase::WorkArea& area, const ReminderRecord& r, std::string* field) {
  const std::map<std::string, QString> texts = {{"EVENT", r.event},
                                                {"APPT_TEXT", r.activityText},
                                                {"TIMETEXT", r.timeText},
                                                {"DATETEXT", r.dateText},
                                                {"ALARMTEXT", r.alarmText}};
  const std::map<std::string, long long> numbers = {
      {"STARTTIME", r.startTime}, {"ENDTIME", r.startTime}, {"EDITTIME", r.startTime}, {"ALARMTIME", r.alarmTime},
      {"SOUND", r.sound},         {"SAYDATE", r.sayDate},   {"SAYTIME", r.sayTime},    {"COUNTDOWN", r.countdown}};
  // Text the table's code page lacks is refused, never stored as '?'.
  for (const auto& [name, text] :
       {std::pair("COMMENT", &r.memo), std::pair("EVENT", &r.event), std::pair("APPT_TEXT", &r.activityText)}) {
    if (const QString lacking = data::CharactersOutsideTable(area, *text); !lacking.isEmpty()) {
      if (field) *field = name;
      return {ProblemKind::CharactersNotSupported, lacking};
    }
  }
  for (const xbase::FieldDef& f : area.Fields()) {
    if (const auto t = texts.find(f.name); t != texts.end()) {
      // Widths are bytes: the limit told is the characters of this text that fit whole.
      if (data::ToTableText(area, t->second).size() > f.length) {
        if (field) *field = f.name;
        return {ProblemKind::TextTooLong, t->second, {}, data::CharactersThatFit(area, t->second, f.length)};
      }
    } else if (const auto n = numbers.find(f.name); n != numbers.end()) {
      if (std::to_string(n->second).size() > f.length || n->second < 0) {
        if (field) *field = f.name;
        return {ProblemKind::TextTooLong, QString::number(n->second), {}, static_cast<long long>(f.length)};
      }
    }
  }
  for (const QDate& d : {r.eventDate, r.alarmDate})
    if (!d.isValid() || d.year() < 1000 || d.year() > 9999) return {ProblemKind::InvalidDate};
  return {};
}

xbase::Status WriteReminder(xbase::WorkArea& area, const ReminderRecord& r) {
  XBASE_RETURN_IF_ERROR(area.ReplaceMemo("COMMENT", data::ToTableText(area, r.memo)));
  const std::string day = Ymd(r.eventDate);
  for (const char* f : {"EVENTDATE", "STARTDATE", "LASTEDIT", "ENDDATE"}) XBASE_RETURN_IF_ERROR(area.Replace(f, day));
  XBASE_RETURN_IF_ERROR(area.Replace("ALARMDATE", Ymd(r.alarmDate)));
  XBASE_RETURN_IF_ERROR(area.Replace("EVENT", data::ToTableText(area, r.event)));
  XBASE_RETURN_IF_ERROR(area.Replace("APPT_TEXT", data::ToTableText(area, r.activityText)));
  XBASE_RETURN_IF_ERROR(area.Replace("USERID", "  1"));
  XBASE_RETURN_IF_ERROR(area.Replace("STATUS", "S"));
  for (const char* f : {"STARTTIME", "ENDTIME", "EDITTIME"}) XBASE_RETURN_IF_ERROR(area.ReplaceInteger(f, r.startTime));
  XBASE_RETURN_IF_ERROR(area.ReplaceInteger("ALARMTIME", r.alarmTime));
  XBASE_RETURN_IF_ERROR(area.ReplaceInteger("SOUND", r.sound));
  XBASE_RETURN_IF_ERROR(area.Replace("TIMETEXT", data::ToTableText(area, r.timeText)));
  XBASE_RETURN_IF_ERROR(area.Replace("DATETEXT", data::ToTableText(area, r.dateText)));
  XBASE_RETURN_IF_ERROR(area.Replace("ALARMTEXT", data::ToTableText(area, r.alarmText)));
  XBASE_RETURN_IF_ERROR(area.ReplaceInteger("SAYDATE", r.sayDate));
  XBASE_RETURN_IF_ERROR(area.ReplaceInteger("SAYTIME", r.sayTime));
  return area.ReplaceInteger("COUNTDOWN", r.countdown);
}

xbase::Status WriteEditStamp(xbase::WorkArea& area, const QDateTime& now) {
  XBASE_RETURN_IF_ERROR(area.Replace("LASTEDIT", Ymd(now.date())));
  return area.ReplaceInteger("EDITTIME", MinuteOfDay(now));
}

xbase::Status WriteActivityMoment(xbase::WorkArea& area, const QDateTime& moment, const QString& dateText) {
  const StoredWall w = StoredWallTime(moment);  // the second run of a repeated hour has its own form
  XBASE_RETURN_IF_ERROR(area.Replace("EVENTDATE", Ymd(w.date)));
  XBASE_RETURN_IF_ERROR(area.ReplaceInteger("STARTTIME", w.minutes));
  return area.Replace("DATETEXT", data::ToTableText(area, dateText));
}

Problem CalendarPlaceProblem(const QString& appFolder) {
  const QString folder = appFolder + QStringLiteral("/data");
  if (!FindPathNoCase(appFolder, QStringLiteral("data"))) return {ProblemKind::MissingFolder, folder};
  if (!FindPathNoCase(appFolder, QStringLiteral("data/calendar.dbf"))) return {ProblemKind::MissingTable, folder};
  return {};
}

Problem TableRepairProblem(const xbase::WorkArea& area) {
  const auto repair = area.Repair();
  if (!repair) return {};
  return {ProblemKind::TableCountRepaired, {}, QString::number(repair->header_count), repair->found_count};
}

Problem ProblemOf(const xbase::Status& status) {
  if (status.ok()) return {};
  if (status.IsBusy()) return {ProblemKind::TableBusy, {}, QString::fromStdString(status.message())};
  return {ProblemKind::Engine, {}, QString::fromStdString(status.message()), static_cast<int>(status.kind())};
}

bool IsIndexTrouble(const xbase::Status& status) {
  return status.kind() == xbase::Status::Kind::kCorruption || status.kind() == xbase::Status::Kind::kNotSupported;
}

bool IsIndexTrouble(const Problem& problem) {
  using Kind = xbase::Status::Kind;
  return problem.kind == ProblemKind::Engine && (problem.number == static_cast<int>(Kind::kCorruption) ||
                                                 problem.number == static_cast<int>(Kind::kNotSupported));
}

xbase::Status RepairCalendarIndex(xbase::Env* env, const QString& appFolder, bool* foreignIndex) {
  xbase::Engine own(env);
  data::ApplyStartupSettings(own);
  bool foreign = false;
  const xbase::Status s = data::RebuildDatabase(own, appFolder, nullptr, &foreign);
  if (foreignIndex && foreign) *foreignIndex = true;
  return s;
}

Problem ForeignIndexProblem(const QString& appFolder) {
  return {ProblemKind::ForeignIndexReplaced, QFileInfo(data::CalendarPath(appFolder)).completeBaseName() + ".CDX"};
}

}  // namespace chimewise

namespace chimewise {

xbase::Status TakeRecordImage(xbase::WorkArea& area, RecordImage* image) {
  image->recno = area.RecNo();
  image->fields.clear();
  const std::size_t count = area.Fields().size();
  for (std::size_t i = 0; i < count; ++i) {
    std::string bytes;
    XBASE_RETURN_IF_ERROR(area.GetStringAt(i, &bytes));
    image->fields.push_back(std::move(bytes));
  }
  return xbase::Status::OK();
}

namespace {

// Writes the image's fields that differ from the current record's, uncommitted.
xbase::Status WriteImageFields(xbase::WorkArea& area, const RecordImage& image) {
  const std::vector<xbase::FieldDef> fields = area.Fields();
  if (fields.size() != image.fields.size())
    return xbase::Status::InvalidArgument("the reminder table's fields changed since the reminder was deleted");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string now;
    XBASE_RETURN_IF_ERROR(area.GetStringAt(i, &now));
    if (now == image.fields[i]) continue;
    const xbase::Status s = fields[i].type == 'M' ? area.ReplaceMemo(fields[i].name, image.fields[i])
                                                  : area.Replace(fields[i].name, image.fields[i]);
    XBASE_RETURN_IF_ERROR(s);
  }
  return xbase::Status::OK();
}

}  // namespace

Problem RestoreRecordImage(xbase::WorkArea& area, const RecordImage& image, uint32_t* recno) {
  *recno = 0;
  const int idField = area.FieldIndex("REC_NO");
  if (idField < 0 || static_cast<std::size_t>(idField) >= image.fields.size())
    return ProblemOf(xbase::Status::InvalidArgument("the reminder table has no REC_NO field"));
  const std::string& id = image.fields[static_cast<std::size_t>(idField)];

  // The record itself, when it is still there to recall.
  bool inPlace = false;
  if (image.recno >= 1 && image.recno <= area.RecCount() && area.Go(image.recno).ok()) {
    std::string there;
    if (area.GetStringAt(static_cast<std::size_t>(idField), &there).ok() && there == id) {
      if (!area.Deleted()) {
        *recno = image.recno;
        return {};  // put back already
      }
      inPlace = true;
    }
  }
  xbase::Status s = inPlace ? area.Recall() : area.AppendBlank();
  if (s.ok()) s = WriteImageFields(area, image);
  if (!s.ok() || !CommitRecord(area, &s)) {
    area.Discard().IgnoreError();
    area.Unlock().IgnoreError();
    return ProblemOf(s);
  }
  *recno = area.RecNo();
  // The reminder is back; a failure from here on undoes nothing.
  const xbase::Status unlocked = area.Unlock();
  return ProblemOf(s.ok() ? unlocked : s);
}

}  // namespace chimewise

#include "exchange/calendar_import.h"

#include "alarms/alarm_service.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "exchange/calendar_export.h"
#include "schedule/save_event.h"

#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <xbase/engine.h>
#include <icalendar/icalendar.h>
#include <icalendar/resource_text.h>

#include <algorithm>
#include <future>
#include <map>
#include <optional>

namespace chimewise {

namespace {

const QString kImportAlias = QStringLiteral("CALIMPORT");

}  // namespace

EventInput StoredReminder(xbase::WorkArea& area) { return StoredReminder(area, KeptEventAt(area)); }

EventInput StoredReminder(xbase::WorkArea& area, const std::optional<KeptEvent>& kept) {
  const ReminderFacts f = ReadReminderFacts(area);
  EventInput in;
  in.event = TableText(area, "EVENT");
  in.activity = f.activityText;
  in.memo = f.memo;
  in.activityDate = f.eventDate;
  in.activityTime = QTime(0, 0).addSecs(std::max(f.startTime, 0) * 60);
  in.remindDate = f.alarmDate;
  in.remindTime = QTime(0, 0).addSecs(f.alarmTime * 60);
  in.sound = f.sound;
  in.sayDate = f.sayDate;
  in.sayTime = f.sayTime;
  in.countdown = f.countdown;
  in.countdownOn = f.countdown > 0;
  std::string id;
  if (kept && area.GetString("REC_NO", &id).ok()) {
    if (kept->uid != RecordUid(id)) in.uid = kept->uid;  // one made here answers to its record's own
    in.series = kept->series;
  }
  return in;
}

namespace {

bool SameValues(const EventInput& a, const EventInput& b) {
  return a.event.trimmed() == b.event.trimmed() && a.activity.trimmed() == b.activity.trimmed() && a.memo == b.memo &&
         a.uid == b.uid && a.series == b.series && a.activityDate == b.activityDate &&
         MinuteOfDay(a.activityTime) == MinuteOfDay(b.activityTime) && a.remindDate == b.remindDate &&
         MinuteOfDay(a.remindTime) == MinuteOfDay(b.remindTime) && a.sound == b.sound && a.sayDate == b.sayDate &&
         a.sayTime == b.sayTime && (a.countdownOn ? a.countdown : 0) == (b.countdownOn ? b.countdown : 0);
}

// A whole number from an X-CHIMEWISE-... property within [lo, hi].
std::optional<int> ExtraNumber(const icalendar::ReadEvent& e, const char* name, int lo, int hi) {
  for (const auto& [key, value] : e.extras) {
    if (key.compare(QLatin1String(name), Qt::CaseInsensitive) != 0) continue;
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    if (ok && v >= lo && v <= hi) return v;
  }
  return std::nullopt;
}

}  // namespace

xbase::Status ReadKnownReminders(xbase::WorkArea& area, KnownReminders* byUid) {
  XBASE_RETURN_IF_ERROR(area.SetOrder(0));
  xbase::Status st = area.GoTop();
  for (; st.ok() && !area.Eof(); st = area.Skip(1)) {
    KnownReminder s;
    s.recno = area.RecNo();
    s.values = StoredReminder(area);
    std::string id;
    XBASE_RETURN_IF_ERROR(area.GetString("REC_NO", &id));
    const QString uid = s.values.uid;
    s.byRecordId = uid.isEmpty();
    (*byUid)[uid.isEmpty() ? RecordUid(id) : uid] = s;
  }
  return st;
}

namespace {

// The alarm a reminder exported here still had to be dealt with (X-CHIMEWISE-PENDING), UTC.
std::optional<QDateTime> PendingAlarm(const icalendar::ReadEvent& e) {
  for (const auto& [key, value] : e.extras) {
    if (key.compare(QLatin1String("X-CHIMEWISE-PENDING"), Qt::CaseInsensitive) != 0) continue;
    QDateTime at = QDateTime::fromString(value.trimmed(), QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    if (!at.isValid()) return std::nullopt;
    at.setTimeZone(QTimeZone::utc());
    return at;
  }
  return std::nullopt;
}

// `resource` with `own` patched in. Most resources hold nothing it takes out (nor a changed
// occurrence, which the patch tells from its series): they are kept as read, without the patch's
// pass over every line.
QByteArray Patched(const QByteArray& resource, const icalendar::EventChanges& own) {
  QByteArray unfolded = resource;  // a name may be folded anywhere
  unfolded.replace("\r\n ", "").replace("\r\n\t", "").replace("\n ", "").replace("\n\t", "");
  const QLatin1StringView text(unfolded);
  bool touched = text.contains(QLatin1StringView("RECURRENCE-ID"), Qt::CaseInsensitive);
  for (const QString& name : own.removed) touched = touched || text.contains(name, Qt::CaseInsensitive);
  return touched ? icalendar::PatchEvent(resource, own).text : resource;
}

// What a reminder read in keeps of its event, without what only an export here adds to it: its
// UID and series, and the event itself (not for a changed occurrence: that is a reminder of its
// own, apart from its series); none when there is nothing to keep.
std::optional<KeptEvent> Kept(const std::map<QString, QByteArray>& resources, const icalendar::ReadEvent& e,
                              const EventInput& in, const QDateTime& now) {
  KeptEvent k;
  k.uid = in.uid;
  k.series = in.series;
  const auto resource = resources.find(e.uid);
  if (resource == resources.end()) {
    if (k.uid.isEmpty() && k.series.isEmpty()) return std::nullopt;
    return k;
  }
  icalendar::EventChanges own;
  own.removed << QStringLiteral("X-CHIMEWISE-PENDING");
  k.uid = e.uid;
  k.resource = Patched(resource->second, own);
  k.hasSynced = true;
  k.synced = ComposeReminderRecord(in, QString());
  k.hasUserAlarm = true;
  k.userAlarmDate = k.synced.alarmDate;
  k.userAlarmTime = k.synced.alarmTime;
  k.savedAt = now;
  return k;
}

QString Describe(const icalendar::ReadEvent& e) {
  const QString what = e.summary.isEmpty() ? QStringLiteral("(no summary)") : QStringLiteral("\"%1\"").arg(e.summary);
  return e.uid.isEmpty() ? what : QStringLiteral("%1 (UID %2)").arg(what, e.uid);
}

}  // namespace

EventInput ReminderFromEvent(const icalendar::ReadEvent& e, const ImportOptions& options, const QDateTime& now,
                             const EventInput* before, bool keepUid) {
  const QTimeZone local = QTimeZone::systemTimeZone();
  EventInput in;
  in.event = e.categories.join(QStringLiteral(", "));
  in.activity = e.summary;
  in.memo = e.description;
  if (keepUid) in.uid = e.uid;
  in.series = e.series;
  if (e.allDay && in.series.isEmpty())
    in.series << QStringLiteral("DTSTART;VALUE=DATE:") + e.date.toString(QStringLiteral("yyyyMMdd"));
  const QDateTime start = e.allDay ? QDateTime(e.date, options.allDayAt, local) : e.start.toTimeZone(local);
  in.activityDate = start.date();
  in.activityTime = QTime(start.time().hour(), start.time().minute());
  // The earliest alarm still to come; when all have gone by, the last of them (the reminder is
  // due at once, as the alarm was); without any the start, less the lead time.
  QDateTime remind = start.addSecs(-60LL * options.leadMinutes);
  const auto coming = std::find_if(e.alarms.begin(), e.alarms.end(), [&](const QDateTime& a) { return a >= now; });
  if (const std::optional<QDateTime> pending = PendingAlarm(e))
    remind = pending->toTimeZone(local);  // a reminder exported here, with the alarm it had then
  else if (coming != e.alarms.end())
    remind = coming->toTimeZone(local);
  else if (!e.alarms.empty())
    remind = e.alarms.back().toTimeZone(local);
  in.remindDate = remind.date();
  in.remindTime = QTime(remind.time().hour(), remind.time().minute());
  // A series keeps how long before each occurrence it reminds, for the alarm scan to move it on.
  if (!e.series.isEmpty())
    in.series << QStringLiteral("X-CHIMEWISE-LEAD:%1")
                     .arg(QDateTime(in.remindDate, in.remindTime).secsTo(QDateTime(in.activityDate, in.activityTime)));
  // A timed series keeps the zone it was written in on its DTSTART line, so that it moves on as
  // its organiser's clocks change, not this computer's.
  // The program's own fields, when the component has them; an update keeps what the reminder had.
  in.sound = ExtraNumber(e, "X-CHIMEWISE-SOUND", 0, 8).value_or(before ? before->sound : 0);
  in.sayDate = ExtraNumber(e, "X-CHIMEWISE-SAY-DATE", 0, 1).value_or(before ? before->sayDate : 0);
  in.sayTime = ExtraNumber(e, "X-CHIMEWISE-SAY-TIME", 0, 1).value_or(before ? before->sayTime : 0);
  in.countdown = ExtraNumber(e, "X-CHIMEWISE-COUNTDOWN", 0, 99999).value_or(before ? before->countdown : 0);
  in.countdownOn = in.countdown > 0;
  return in;
}

QString ImportSummary(const ImportReport& r) {
  return QStringLiteral("imported %1, updated %2, deleted %3, unchanged %4, skipped %5")
      .arg(r.imported)
      .arg(r.updated)
      .arg(r.deleted)
      .arg(r.unchanged)
      .arg(r.skipped.size());
}

icalendar::ReadResult ParseCalendar(const QByteArray& text, const QDateTime& now) {
  icalendar::ReadOptions readOptions;
  readOptions.now = now.toUTC();
  readOptions.maxComponents = kMaxCalendarComponents;
  return icalendar::Read(text, readOptions);
}

std::vector<icalendar::ReadResult> ParseCalendars(const std::vector<QByteArray>& texts, const QDateTime& now) {
  std::vector<icalendar::ReadResult> results;
  results.reserve(texts.size());
  for (const QByteArray& text : texts) results.push_back(ParseCalendar(text, now));
  return results;
}

CalendarFile ReadCalendarFile(const QString& path, const QDateTime& now) {
  CalendarFile f;
  f.path = path;
  const QString tooLarge = QStringLiteral("%1 is larger than %2 MB; a calendar that large is not read")
                               .arg(path)
                               .arg(kMaxCalendarBytes / (1024 * 1024));
  const QFileInfo info(path);
  if (!info.exists()) {
    f.error = QStringLiteral("%1 does not exist").arg(path);
    return f;
  }
  if (!info.isFile()) {
    f.error = QStringLiteral("%1 is not a regular file").arg(path);
    return f;
  }
  if (info.size() > kMaxCalendarBytes) {
    f.error = tooLarge;
    return f;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    f.error = QStringLiteral("%1 cannot be read (%2)").arg(path, file.errorString());
    return f;
  }
  f.text = file.read(kMaxCalendarBytes + 1);
  if (f.text.size() > kMaxCalendarBytes) {
    f.error = tooLarge;
    f.text.clear();
    return f;
  }
  // The events' own texts are cut out beside the parse, on the other core (the wait joins it).
  auto resources = std::async(std::launch::async, [&text = f.text] { return icalendar::ResourcesByUid(text); });
  f.calendar = ParseCalendar(f.text, now);
  if (!f.calendar.error.isEmpty())
    f.error = QStringLiteral("%1: %2").arg(path, f.calendar.error);
  else
    f.resources = resources.get();
  return f;
}

ImportPlan PlanImport(const CalendarFile& file, const KnownReminders& stored, const ImportOptions& options,
                      const QDateTime& now) {
  ImportPlan plan;
  // The reminders as they will be, by UID: those there, and those this file adds or changes
  // (an event given twice counts against its first time; `step` names the plan's write).
  struct Known {
    KnownReminder reminder;
    int step = -1;
  };
  std::map<QString, Known> byUid;
  for (const auto& [uid, reminder] : stored) byUid[uid] = Known{reminder, -1};
  const std::vector<icalendar::ReadEvent>& events = file.calendar.events;
  for (int i = 0; i < static_cast<int>(events.size()); ++i) {
    const icalendar::ReadEvent& e = events[static_cast<size_t>(i)];
    // One line each: a message worded for a box loses its line breaks.
    const auto skip = [&](const QString& why) {
      ImportStep step;
      step.event = i;
      step.skipped = QStringLiteral("%1: %2").arg(Describe(e), why.simplified());
      plan.steps.push_back(std::move(step));
    };
    if (!e.refused.isEmpty()) {
      skip(e.refused);
      continue;
    }
    if (e.uid.isEmpty()) {
      skip(QStringLiteral("it has no UID, so reading the file again would add it again"));
      continue;
    }
    const auto known = byUid.find(e.uid);
    if (e.cancelled || e.done) {
      const QString gone = e.done ? QStringLiteral("done") : QStringLiteral("cancelled");
      if (known == byUid.end()) {
        skip(gone + QStringLiteral(", and not among the reminders"));
        continue;
      }
      ImportStep step;
      step.action = ImportAction::Delete;
      step.event = i;
      step.recno = known->second.reminder.recno;
      if (known->second.step >= 0) {
        ImportStep& written = plan.steps[static_cast<size_t>(known->second.step)];
        if (written.action == ImportAction::Add) {
          // Added by this file and cancelled by it too: nothing is stored, nothing deleted.
          written.dropped = true;
          step.action = ImportAction::Unchanged;
        }
      }
      plan.steps.push_back(step);
      byUid.erase(known);
      continue;
    }
    // A reminder exported here while it still waited to be dealt with comes back waiting.
    if (e.past && !PendingAlarm(e)) {
      skip(e.series.isEmpty() ? QStringLiteral("it is past") : QStringLiteral("every occurrence is past"));
      continue;
    }
    const EventInput* before = known != byUid.end() ? &known->second.reminder.values : nullptr;
    // A reminder that answers to its record's own UID needs no other.
    const bool keepUid = known == byUid.end() || !known->second.reminder.byRecordId;
    EventInput in = ReminderFromEvent(e, options, now, before, keepUid);
    if (before && SameValues(*before, in)) {
      ++plan.unchanged;
      ImportStep step;
      step.action = ImportAction::Unchanged;
      step.event = i;
      step.recno = known->second.reminder.recno;
      plan.steps.push_back(std::move(step));
      continue;
    }
    if (known != byUid.end() && known->second.step >= 0) {
      // The same UID again in this file: its values replace those planned for it.
      plan.steps[static_cast<size_t>(known->second.step)].input = in;
      plan.steps[static_cast<size_t>(known->second.step)].event = i;
      known->second.reminder.values = in;
      ++plan.updatedAgain;
      ImportStep step;
      step.action = ImportAction::Unchanged;  // stored by the step planned for its first time
      step.event = i;
      step.input = std::move(in);
      plan.steps.push_back(std::move(step));
      continue;
    }
    ImportStep step;
    step.action = before ? ImportAction::Update : ImportAction::Add;
    step.event = i;
    step.input = in;
    step.recno = before ? known->second.reminder.recno : 0;
    const bool byRecordId = before && known->second.reminder.byRecordId;
    byUid[e.uid] = Known{KnownReminder{step.recno, std::move(in), byRecordId}, static_cast<int>(plan.steps.size())};
    plan.steps.push_back(std::move(step));
  }
  return plan;
}

void CountPlan(const ImportPlan& plan, ImportReport* report) {
  report->unchanged += plan.unchanged;
  report->updated += plan.updatedAgain;
}

Problem CalendarImporter::ReadKnown(KnownReminders* known) {
  if (Problem place = CalendarPlaceProblem(m_store.state.AppFolder); !place.ok()) return place;
  const data::TableHandle table = data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kImportAlias);
  return ProblemOf(table ? ReadKnownReminders(*table, known) : table.status());
}

ImportPlan CalendarImporter::Plan(const CalendarFile& file, const ImportOptions& options, ImportReport* report) {
  KnownReminders known;
  if (report->problem = ReadKnown(&known); !report->problem.ok()) return {};
  ImportPlan plan = PlanImport(file, known, options, m_store.clock.now());
  CountPlan(plan, report);
  return plan;
}

void CalendarImporter::Apply(const CalendarFile& file, const ImportPlan& plan, size_t from, size_t to,
                             ImportReport* report) {
  to = std::min(to, plan.steps.size());
  const auto skip = [&](const ImportStep& step, const QString& why) {
    const icalendar::ReadEvent& e = file.calendar.events.at(static_cast<size_t>(step.event));
    report->skipped << QStringLiteral("%1: %2").arg(Describe(e), why.simplified());
  };
  std::vector<EventWrite> writes;
  std::vector<const ImportStep*> written;
  std::optional<data::TableHandle> table;  // opened at the first deletion
  for (size_t i = from; i < to; ++i) {
    const ImportStep& step = plan.steps[i];
    if ((step.action == ImportAction::Add || step.action == ImportAction::Update) && !step.dropped) {
      writes.push_back(EventWrite{
          step.input, step.action == ImportAction::Update ? std::optional<qint64>(step.recno) : std::nullopt});
      written.push_back(&step);
    } else if (step.action == ImportAction::Delete) {
      const bool done = file.calendar.events.at(static_cast<size_t>(step.event)).done;
      const QString gone = done ? QStringLiteral("done") : QStringLiteral("cancelled");
      if (!table) table.emplace(data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kImportAlias));
      bool deleted = false;
      Problem problem = ProblemOf(table->status());
      if (problem.ok()) problem = m_store.alarms.DeleteReminder(table->get(), step.recno, &deleted);
      if (!deleted)
        skip(step,
             gone + QStringLiteral(", but the reminder could not be deleted: ") + chimewise::Describe(problem).text);
      else
        ++report->deleted;
    }
  }
  table.reset();
  if (writes.empty()) return;
  EventSaver saver(m_store.state, m_store.alarms.options(), m_store.clock, m_store.engine);
  const std::vector<SaveResult> saved = saver.SaveEvents(writes);
  std::vector<std::pair<QByteArray, KeptEvent>> keeping;
  for (size_t i = 0; i < saved.size(); ++i) {
    if (!saved[i].saved) {
      skip(*written[i], chimewise::Describe(saved[i].problem).text);
      continue;
    }
    if (!saved[i].problem.ok()) report->problem = saved[i].problem;
    ++(written[i]->action == ImportAction::Update ? report->updated : report->imported);
    const icalendar::ReadEvent& e = file.calendar.events.at(static_cast<size_t>(written[i]->event));
    if (std::optional<KeptEvent> k = Kept(file.resources, e, written[i]->input, m_store.clock.now()))
      keeping.emplace_back(QByteArray::fromStdString(saved[i].recordId), std::move(*k));
  }
  if (const Problem p = KeptEvents(m_store.state.AppFolder).PutMany(keeping); !p.ok() && report->problem.ok())
    report->problem = p;
}

void CalendarImporter::Finish(const CalendarFile& file, const ImportPlan& plan, size_t done, ImportReport* report) {
  QStringList skipped;
  for (size_t i = 0; i < std::min(done, plan.steps.size()); ++i)
    if (plan.steps[i].action == ImportAction::Skip) skipped << plan.steps[i].skipped;
  report->skipped = skipped + report->skipped;
  if (file.calendar.componentsOverLimit > 0)
    report->skipped << QStringLiteral("%1 more events and to-dos: a file is read up to %2 of them")
                           .arg(file.calendar.componentsOverLimit)
                           .arg(kMaxCalendarComponents);
  if (report->imported + report->updated + report->deleted == 0) return;
  if (Problem found = m_store.alarms.FindNextAlarm(); report->problem.ok()) report->problem = found;
}

ImportReport CalendarImporter::Import(const QString& path, const ImportOptions& options) {
  ImportReport report;
  const CalendarFile file = ReadCalendarFile(path, m_store.clock.now());
  if (!file.error.isEmpty()) {
    report.error = file.error;
    return report;
  }
  const ImportPlan plan = Plan(file, options, &report);
  if (!report.problem.ok()) return report;
  Apply(file, plan, 0, plan.steps.size(), &report);
  Finish(file, plan, plan.steps.size(), &report);
  return report;
}

}  // namespace chimewise

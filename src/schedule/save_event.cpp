#include "schedule/save_event.h"

#include "alarms/alarm_rules.h"
#include "alarms/alarm_service.h"
#include "alarms/repeat_series.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/shared_state.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "schedule/schedule_rules.h"

#include <QRandomGenerator>
#include <QTimeZone>
#include <xbase/engine.h>

#include <map>
#include <set>
#include <string>
#include <tuple>

namespace chimewise {

namespace {
const QString kOneTime = QString::fromLatin1(data::kAliasOneTime);
}  // namespace

ReminderRecord ComposeReminderRecord(const EventInput& in, const QString& timeFormat) {
  // Times are the minutes after midnight of the times entered (0:25 is 25, not midnight).
  ReminderRecord record;
  record.event = in.event;
  record.activityText = in.activity;
  record.memo = in.memo;
  record.eventDate = in.activityDate;
  record.startTime = MinuteOfDay(in.activityTime);
  record.alarmDate = in.remindDate;
  record.alarmTime = MinuteOfDay(in.remindTime);
  record.sound = in.sound;
  record.sayDate = in.sayDate;
  record.sayTime = in.sayTime;
  record.countdown = in.countdownOn ? in.countdown : 0;
  record.timeText = FormatTime(in.activityTime, timeFormat);
  record.dateText = FormatDateTimeText(QDateTime(in.activityDate, in.activityTime), timeFormat);
  record.alarmText = FormatDateTimeText(QDateTime(in.remindDate, in.remindTime), timeFormat);
  return record;
}

EventSaver::EventSaver(SharedState& state, const ProgramOptions& options, Clock& clock, xbase::Engine& engine)
    : m_state(state), m_options(options), m_clock(clock), m_engine(engine) {}

namespace {

// The checks that need no table: a refused value gives its field and why.
std::optional<std::pair<SaveField, Problem>> RefusalBeforeTable(const EventInput& in) {
  if (!in.activityDate.isValid()) return {{SaveField::ActivityDate, {ProblemKind::InvalidDate}}};
  if (!in.activityTime.isValid()) return {{SaveField::ActivityTime, {ProblemKind::InvalidTime}}};
  if (!in.remindDate.isValid()) return {{SaveField::RemindDate, {ProblemKind::InvalidDate}}};
  if (!in.remindTime.isValid()) return {{SaveField::RemindTime, {ProblemKind::InvalidTime}}};
  // A reminder with nothing to say is refused; the rest of what was typed stays in the dialog.
  if (ActivityIsBlank(in.activity)) return {{SaveField::Activity, {ProblemKind::EmptyActivity}}};
  return std::nullopt;
}

// The texts of a reminder that Windows-1252 lacks a character of: the table may need to be made
// able to hold them (data::MakeRoomForText) before they are checked against it.
void BeyondWindows1252(const ReminderRecord& r, QStringList* texts) {
  for (const QString* text : {&r.activityText, &r.event, &r.memo})
    if (!data::CharactersOutsideTable(*text).isEmpty()) texts->append(*text);
}

// Whether the clocks keep one offset from two days before a date to three days after it: then each
// wall time of the date happens once and means just that, which spares a save of many the
// resolution of each of its times (a dozen questions to the system's zone rules apiece). Like that
// resolution, it takes the clocks to change at most once in a few days.
class SteadyDays {
 public:
  bool operator()(const QDate& date) {
    const auto [known, added] = m_steady.try_emplace(date, false);
    if (added) known->second = OffsetAt(date.addDays(-2)) == OffsetAt(date.addDays(3));
    return known->second;
  }

 private:
  static int OffsetAt(const QDate& day) { return QDateTime(day, QTime(0, 0), Qt::UTC).toLocalTime().offsetFromUtc(); }
  std::map<QDate, bool> m_steady;
};

SaveResult Refused(SaveField field, Problem problem) {
  SaveResult result;
  result.refused = field;
  result.problem = std::move(problem);
  return result;
}

// A reminder made or changed here to repeat stands at its rule's first occurrence from the activity
// on (a weekly Monday rule typed on a Tuesday starts on the Monday after), reminded as long before
// it as was typed. A rule that cannot be followed, or that has no occurrence left, is refused.
std::optional<Problem> StandAtFirstOccurrence(EventInput& in) {
  if (in.repeat.trimmed().isEmpty() || !in.series.isEmpty()) return std::nullopt;
  in.repeat = in.repeat.trimmed();
  if (in.repeat.startsWith(QLatin1String("RRULE:"), Qt::CaseInsensitive)) in.repeat = in.repeat.mid(6);
  if (const std::optional<QString> why = RepeatRuleProblem(in.repeat))
    return Problem{ProblemKind::RepeatRuleNotUnderstood, *why, in.repeat};
  const QDateTime activity = AlarmMoment(in.activityDate, MinuteOfDay(in.activityTime));
  const std::optional<QDateTime> first = FirstRepeatOccurrence(in.repeat, activity);
  if (!first)
    return Problem{ProblemKind::RepeatRuleNotUnderstood, QStringLiteral("it has no occurrence from the activity on"),
                   in.repeat};
  if (*first != activity) {
    const qint64 lead = AlarmMoment(in.remindDate, MinuteOfDay(in.remindTime)).secsTo(activity);
    const QDateTime remind = first->addSecs(-lead);
    in.activityDate = first->date();
    in.activityTime = QTime(first->time().hour(), first->time().minute());
    in.remindDate = remind.date();
    in.remindTime = QTime(remind.time().hour(), remind.time().minute());
  }
  return std::nullopt;
}

// What the reminder saved as `record` from `in` keeps of its repeat from now on, given what it kept
// (`was`); none when that stays as it is. A reminder whose series a calendar brought (its `series`
// given) is the calendar code's to keep.
std::optional<KeptEvent> RepeatKept(const EventInput& in, bool editing, const ReminderRecord& record,
                                    const std::optional<KeptEvent>& was) {
  if (!in.series.isEmpty() || (in.repeat.isEmpty() && !editing)) return std::nullopt;
  const QDateTime activity = AlarmMoment(record.eventDate, record.startTime);
  KeptEvent k = was.value_or(KeptEvent{});
  if (!in.repeat.isEmpty()) {
    const qint64 lead = AlarmMoment(record.alarmDate, record.alarmTime).secsTo(activity);
    k.series = RepeatSeries(k.series, in.repeat, activity, lead, QString::fromUtf8(QTimeZone::systemTimeZoneId()));
  } else if (was && !RuleOfSeries(was->series).isEmpty()) {
    k.series = OneOffSeries(was->series, activity);  // cleared: it happens once
  } else {
    return std::nullopt;
  }
  if (was && k.series == was->series) return std::nullopt;
  return k;
}

}  // namespace

SaveResult EventSaver::SaveEvent(const EventInput& in, std::optional<qint64> editing, const std::string& editingId) {
  return SaveEvents({EventWrite{in, editing, editingId}}).front();
}

std::vector<SaveResult> EventSaver::SaveEvents(const std::vector<EventWrite>& writes) {
  std::vector<SaveResult> results(writes.size());
  const auto refuseAll = [&](const Problem& problem) {
    for (SaveResult& r : results)
      if (r.refused == SaveField::None && r.problem.ok()) r = Refused(SaveField::None, problem);
    return results;
  };
  // What is refused without the table is refused first, so it never waits for the table.
  std::vector<ReminderRecord> records(writes.size());
  std::vector<EventInput> inputs(writes.size());
  SteadyDays steady;
  bool anyLeft = false;
  QStringList wider;
  std::vector<bool> needsRoom(writes.size(), false);
  for (size_t i = 0; i < writes.size(); ++i) {
    EventInput& in = inputs[i] = writes[i].input;
    auto refused = RefusalBeforeTable(in);
    // A rule the reminder keeps already (a calendar's, which may have parts not made here) is the
    // series' own: it is neither checked again nor moved to another occurrence.
    const bool ruleKept = !in.repeat.isEmpty() && writes[i].editing && !writes[i].editingId.empty() &&
                          RuleOfSeries(KeptEvents(m_state.AppFolder)
                                           .Get(QByteArray::fromStdString(writes[i].editingId))
                                           .value_or(KeptEvent())
                                           .series) == in.repeat.trimmed();
    if (!refused && !ruleKept)
      if (std::optional<Problem> rule = StandAtFirstOccurrence(in)) refused = {{SaveField::None, *rule}};
    if (refused) {
      results[i] = Refused(refused->first, refused->second);
      continue;
    }
    records[i] = writes[i].composed ? *writes[i].composed : ComposeReminderRecord(in, m_options.timeFormat);
    const qsizetype before = wider.size();
    BeyondWindows1252(records[i], &wider);
    needsRoom[i] = wider.size() > before;
    // A wall time typed in the hour the clocks repeat means the run nearer ahead (TypedMoment).
    ReminderRecord& record = records[i];
    for (auto [date, minutes, time] : {std::tuple(&record.alarmDate, &record.alarmTime, in.remindTime),
                                       std::tuple(&record.eventDate, &record.startTime, in.activityTime)}) {
      if (steady(*date)) continue;
      const QDateTime meant = TypedMoment(*date, time, m_clock.now());
      if (meant == AlarmMoment(*date, *minutes)) continue;
      const StoredWall w = StoredWallTime(meant);
      std::tie(*date, *minutes) = std::tie(w.date, w.minutes);
    }
    anyLeft = true;
  }
  if (!anyLeft) return results;

  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) return refuseAll(place);
  // Text the table's code page lacks: the table becomes UTF-8 once, unless it is to keep its code
  // page (then the check below refuses the text, never storing it as '?').
  if (!wider.isEmpty()) {
    const xbase::Status room =
        data::MakeRoomForText(m_engine.env(), m_state.AppFolder, wider, {m_options.keepTableCodePage});
    // Those that need it are refused when the table cannot be made to hold them; the rest go on.
    for (size_t i = 0; !room.ok() && i < writes.size(); ++i)
      if (needsRoom[i] && results[i].problem.ok()) results[i] = Refused(SaveField::None, ProblemOf(room));
  }
  data::TableHandle wa = data::TableHandle::Calendar(m_engine, m_state.AppFolder, kOneTime);
  if (!wa) return refuseAll(ProblemOf(wa.status()));
  if (const xbase::Status locked = wa->BeginBatch(); !locked.ok()) return refuseAll(ProblemOf(locked));

  std::vector<KeptEvents::SavedNote> notes;
  std::set<std::string> made;  // identifiers given in this save
  for (size_t i = 0; i < writes.size(); ++i) {
    if (results[i].refused != SaveField::None || !results[i].problem.ok()) continue;
    SaveResult& result = results[i];
    const ReminderRecord& record = records[i];
    // Everything is checked before anything is written: a value the table cannot hold whole is
    // refused rather than cut short.
    std::string tooLong;
    if (Problem fit = FirstValueThatDoesNotFit(*wa, record, &tooLong); !fit.ok()) {
      const SaveField field = tooLong == "EVENT"       ? SaveField::Event
                              : tooLong == "APPT_TEXT" ? SaveField::Activity
                              : tooLong == "COMMENT"   ? SaveField::Memo
                                                       : SaveField::None;
      result = Refused(field, fit);
      continue;
    }
    const std::optional<qint64> editing = writes[i].editing;
    qint64 recno = editing.value_or(0);
    xbase::Status s;
    if (!editing) {
      s = wa->AppendBlank();
      if (s.ok()) {
        recno = wa->RecNo();
        // Reminders made in one save share their moment: the random digits must tell them apart (a
        // calendar event kept for a reminder is found by its identifier).
        for (int tries = 0; tries == 0 || (made.count(result.recordId) && tries < 16); ++tries) {
          const double fraction =
              randomFraction && tries == 0 ? randomFraction() : QRandomGenerator::global()->generateDouble();
          result.recordId = NewRecordId(m_clock.now(), fraction);
        }
        made.insert(result.recordId);
        s = wa->Replace("REC_NO", result.recordId);
      }
    } else if (recno < 1 || recno > wa->RecCount()) {
      result = Refused(SaveField::None, {ProblemKind::NoSuchReminder, {}, {}, recno});
      continue;
    } else {
      s = wa->Unlock();
      if (s.ok()) s = wa->Go(static_cast<uint32_t>(recno));
      if (s.ok()) s = wa->GetString("REC_NO", &result.recordId);
      if (s.ok() && !writes[i].editingId.empty() && (wa->Deleted() || result.recordId != writes[i].editingId)) {
        result = Refused(SaveField::None, {ProblemKind::NoSuchReminder, {}, {}, recno});
        continue;
      }
    }
    // The alarm as it stood: one that comes back unchanged from the dialog is not the user's
    // doing (an announcement or a snooze put it there).
    const bool alarmKept = editing && s.ok() && TableDate(*wa, "ALARMDATE") == record.alarmDate &&
                           TableInt(*wa, "ALARMTIME") == record.alarmTime;
    if (s.ok()) s = WriteReminder(*wa, record);
    if (!s.ok() || !CommitRecord(*wa, &s)) {
      // Nothing half-written stays behind: the pending changes are dropped (a new record that
      // could not be filled is taken out) and an edited record keeps its old bytes.
      wa->Discard().IgnoreError();
      result = Refused(SaveField::None, ProblemOf(s));
      continue;
    }
    // The reminder is saved. What fails from here on is still worth telling, but undoes nothing.
    result.problem = ProblemOf(s);
    if (const xbase::Status unlocked = wa->Unlock(); result.problem.ok()) result.problem = ProblemOf(unlocked);
    result.saved = true;
    result.recno = recno;
    result.record = record;
    // The alarm saved is the user's: a calendar event the reminder belongs to changes with it,
    // never with an announcement or a snooze.
    notes.push_back({QByteArray::fromStdString(result.recordId), record, !alarmKept});
    const QDate activityDate = inputs[i].activityDate, remindDate = inputs[i].remindDate;
    result.activityTimeSkipped = !steady(activityDate) && WallTimeSkipped(activityDate, record.startTime);
    result.remindTimeSkipped = !steady(remindDate) && WallTimeSkipped(remindDate, record.alarmTime);
  }
  // The index's pages are written once for all; when that fails the records stay, and the index is
  // rebuilt at the table's next opening.
  Problem ended = ProblemOf(wa->EndBatch());
  wa.Close().IgnoreError();  // every record is committed: nothing is left to write
  // The repeats made, changed or cleared here, in one write for all; then the events kept for the
  // reminders saved note it, in one write for all.
  const KeptEvents kept(m_state.AppFolder);
  std::vector<std::pair<QByteArray, KeptEvent>> repeats;
  for (size_t i = 0; i < writes.size(); ++i) {
    if (!results[i].saved) continue;
    const QByteArray id = QByteArray::fromStdString(results[i].recordId);
    const bool editing = writes[i].editing.has_value();
    if (inputs[i].series.isEmpty() && (editing || !inputs[i].repeat.isEmpty()))
      if (std::optional<KeptEvent> k =
              RepeatKept(inputs[i], editing, records[i], editing ? kept.Get(id) : std::nullopt))
        repeats.emplace_back(id, std::move(*k));
  }
  if (!repeats.empty())
    if (const Problem put = kept.PutMany(repeats); !put.ok()) ended = put;
  if (const Problem noted = kept.NoteSavedMany(notes, m_clock.now()); !noted.ok()) ended = noted;
  for (SaveResult& r : results)
    if (r.saved && r.problem.ok()) r.problem = ended;
  return results;
}

}  // namespace chimewise

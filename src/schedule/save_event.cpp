#include "schedule/save_event.h"

#include "alarms/alarm_rules.h"
#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "schedule/schedule_rules.h"

#include <QRandomGenerator>
#include <xbase/engine.h>

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

EventSaver::EventSaver(SharedState& state, Clock& clock, xbase::Engine& engine, Speaker& speaker, AlarmService& alarms,
                       ViewerPort& viewer)
    : m_state(state), m_clock(clock), m_engine(engine), m_speaker(speaker), m_alarms(alarms), m_viewer(viewer) {}

SaveResult EventSaver::SaveEvent(const EventInput& in, std::optional<qint64> editing) {
  SaveResult result;
  const auto refuse = [&](SaveField field, Problem problem) {
    result.refused = field;
    result.problem = std::move(problem);
    return result;
  };
  if (!in.activityDate.isValid()) return refuse(SaveField::ActivityDate, {ProblemKind::InvalidDate});
  if (!in.activityTime.isValid()) return refuse(SaveField::ActivityTime, {ProblemKind::InvalidTime});
  if (!in.remindDate.isValid()) return refuse(SaveField::RemindDate, {ProblemKind::InvalidDate});
  if (!in.remindTime.isValid()) return refuse(SaveField::RemindTime, {ProblemKind::InvalidTime});
  // A reminder with nothing to say is refused; the rest of what was typed stays in the dialog.
  if (ActivityIsBlank(in.activity)) return refuse(SaveField::Activity, {ProblemKind::EmptyActivity});

  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }

  // Text the table's code page cannot hold is refused, never stored as "?".
  const std::pair<const QString*, SaveField> entries[] = {
      {&in.activity, SaveField::Activity}, {&in.event, SaveField::Event}, {&in.memo, SaveField::Memo}};
  for (const auto& [text, field] : entries) {
    const QString lacking = data::CharactersOutsideTable(*text);
    if (!lacking.isEmpty()) return refuse(field, {ProblemKind::CharactersNotSupported, lacking});
  }

  ReminderRecord record = ComposeReminderRecord(in, m_alarms.options().timeFormat);
  // A wall time typed in the hour the clocks repeat means the run nearer ahead (TypedMoment).
  const QDateTime now = m_clock.now();
  for (auto [date, minutes, time] : {std::tuple(&record.alarmDate, &record.alarmTime, in.remindTime),
                                     std::tuple(&record.eventDate, &record.startTime, in.activityTime)}) {
    const QDateTime meant = TypedMoment(*date, time, now);
    if (meant == AlarmMoment(*date, *minutes)) continue;
    const StoredWall w = StoredWallTime(meant);
    std::tie(*date, *minutes) = std::tie(w.date, w.minutes);
  }

  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) return refuse(SaveField::None, place);
  int area = 0;
  const xbase::Status opened = OpenCalendar(m_engine, m_state.AppFolder, kOneTime, &area);
  if (!opened.ok()) return refuse(SaveField::None, ProblemOf(opened));
  xbase::WorkArea* wa = m_engine.Area(area);

  // Everything is checked before anything is written: a value the table cannot hold whole is
  // refused rather than cut short.
  std::string tooLong;
  if (Problem fit = FirstValueThatDoesNotFit(*wa, record, &tooLong); !fit.ok()) {
    data::CloseTableIfOpen(m_engine, kOneTime);
    const SaveField field = tooLong == "EVENT"       ? SaveField::Event
                            : tooLong == "APPT_TEXT" ? SaveField::Activity
                                                     : SaveField::None;
    return refuse(field, fit);
  }

  const bool isNew = !editing;
  qint64 recno = editing.value_or(0);
  xbase::Status s;
  if (isNew) {
    s = wa->AppendBlank();
    if (s.ok()) {
      recno = wa->RecNo();
      const double fraction = randomFraction ? randomFraction() : QRandomGenerator::global()->generateDouble();
      s = wa->Replace("REC_NO", NewRecordId(m_clock.now(), fraction));
    }
  } else if (recno < 1 || recno > wa->RecCount()) {
    data::CloseTableIfOpen(m_engine, kOneTime);
    return refuse(SaveField::None, {ProblemKind::NoSuchReminder, {}, {}, recno});
  } else {
    s = wa->Unlock();
    if (s.ok()) s = wa->Go(static_cast<uint32_t>(recno));
  }
  if (s.ok()) s = WriteReminder(*wa, record);
  if (!s.ok() || !CommitRecord(*wa, &s)) {
    // Nothing half-written stays behind: the pending changes are dropped (a new record that could
    // not be filled is taken out) and an edited record keeps its old bytes.
    wa->Discard().IgnoreError();
    data::CloseTableIfOpen(m_engine, kOneTime);
    return refuse(SaveField::None, ProblemOf(s));
  }
  // The reminder is saved. What fails from here on is still worth telling, but undoes nothing.
  Problem after = ProblemOf(s);
  if (const xbase::Status unlocked = wa->Unlock(); after.ok()) after = ProblemOf(unlocked);
  data::CloseTableIfOpen(m_engine, kOneTime);
  if (m_viewer.ViewerOpen()) m_viewer.RefreshViewer();

  result.problem = m_alarms.FindNextAlarm();
  if (!after.ok()) result.problem = after;
  result.saved = true;
  result.activityTimeSkipped = WallTimeSkipped(in.activityDate, record.startTime);
  result.remindTimeSkipped = WallTimeSkipped(in.remindDate, record.alarmTime);
  result.recno = recno;
  return result;
}

}  // namespace chimewise

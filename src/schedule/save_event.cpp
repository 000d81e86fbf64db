#include "schedule/save_event.h"

#include "alarms/alarm_rules.h"
#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/prompts.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/reminder_record.h"

#include <QRandomGenerator>
#include <xbase/engine.h>

#include <map>

namespace chimewise {

namespace {
const QString kOneTime = QString::fromLatin1(data::kAliasOneTime);
std::string ymd(const QDate& d) { return d.toString(QStringLiteral("yyyyMMdd")).toStdString(); }
}  // namespace

EventSaver::EventSaver(SharedState& state, Prompter& prompter, Clock& clock, xbase::Engine& engine, Speaker& speaker,
                       AlarmService& alarms, ViewerPort& viewer)
    : m_state(state),
      m_prompter(prompter),
      m_clock(clock),
      m_engine(engine),
      m_speaker(speaker),
      m_alarms(alarms),
      m_viewer(viewer) {}

SaveResult EventSaver::SaveEvent(const EventInput& in) {
  SaveResult result;
  const auto refuse = [&](SaveField field, const QString& text, const QString& title) {
    m_prompter.message(text, title, PromptIcon::Information);
    result.refused = field;
    return result;
  };
  const QString badDate = QStringLiteral("Invalid Date Entered"), badDateTitle = QStringLiteral("Enter Valid Date");
  const QString badTime = QStringLiteral("Invalid Time Entered"), badTimeTitle = QStringLiteral("Enter Valid Time");
  if (!in.activityDate.isValid()) return refuse(SaveField::ActivityDate, badDate, badDateTitle);
  if (!in.activityTime.isValid()) return refuse(SaveField::ActivityTime, badTime, badTimeTitle);
  if (!in.remindDate.isValid()) return refuse(SaveField::RemindDate, badDate, badDateTitle);
  if (!in.remindTime.isValid()) return refuse(SaveField::RemindTime, badTime, badTimeTitle);

  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }

  // Times are the minutes after midnight of the times entered (0:25 is 25, not midnight).
  const int activityMinutes = in.activityTime.hour() * 60 + in.activityTime.minute();
  const int remindMinutes = in.remindTime.hour() * 60 + in.remindTime.minute();

  // Text the table's code page cannot hold is refused, never stored as "?".
  const std::pair<const QString*, SaveField> entries[] = {
      {&in.activity, SaveField::Activity}, {&in.event, SaveField::Event}, {&in.memo, SaveField::Memo}};
  for (const auto& [text, field] : entries) {
    const QString lacking = data::CharactersOutsideTable(*text);
    if (!lacking.isEmpty())
      return refuse(field,
                    QStringLiteral("The reminder table cannot hold these characters: %1\nPlease write them "
                                   "another way.")
                        .arg(lacking),
                    QStringLiteral("Characters Not Supported"));
  }

  int area = 0;
  const xbase::Status opened = OpenCalendar(m_engine, m_state.AppFolder, kOneTime, &area);
  if (!opened.ok()) {
    m_prompter.message(opened.kind() == xbase::Status::Kind::kNotFound ? QString::fromStdString(opened.message())
                                                                       : EngineErrorText(opened));
    return result;
  }
  xbase::WorkArea* wa = m_engine.Area(area);

  const QString timeText = FormatTime(in.activityTime, m_state.TimeFormat);
  const QString dateText = FormatShortDate(in.activityDate) + u' ' + timeText;
  const QString alarmText = FormatShortDate(in.remindDate) + u' ' + FormatTime(in.remindTime, m_state.TimeFormat);
  const std::map<std::string, std::pair<QString, SaveField>> texts = {{"EVENT", {in.event, SaveField::Event}},
                                                                      {"APPT_TEXT", {in.activity, SaveField::Activity}},
                                                                      {"TIMETEXT", {timeText, SaveField::None}},
                                                                      {"DATETEXT", {dateText, SaveField::None}},
                                                                      {"ALARMTEXT", {alarmText, SaveField::None}}};
  // Everything is checked before anything is written: text the table cannot hold whole is
  // refused rather than cut short.
  for (const xbase::FieldDef& f : wa->Fields()) {
    const auto it = texts.find(f.name);
    if (it == texts.end()) continue;
    const std::size_t length = data::ToTableText(it->second.first).size();
    if (length > f.length) {
      data::CloseTableIfOpen(m_engine, kOneTime);
      return refuse(
          it->second.second,
          QStringLiteral("The text \"%1\" is too long: at most %2 characters fit.")
              .arg(it->second.first.left(40) + (it->second.first.size() > 40 ? QStringLiteral("...") : QString()))
              .arg(f.length),
          QStringLiteral("Text Too Long"));
    }
  }

  const bool isNew = m_state.EditRecNo == -1;
  qint64 recno = m_state.EditRecNo;
  xbase::Status s;
  if (isNew) {
    s = wa->AppendBlank();
    if (s.ok()) {
      recno = wa->RecNo();
      const double fraction = randomFraction ? randomFraction() : QRandomGenerator::global()->generateDouble();
      s = wa->Replace("REC_NO", NewRecordId(m_clock.now(), fraction));
    }
  } else if (recno < 1 || recno > wa->RecCount()) {
    s = xbase::Status::NotFound("there is no reminder number " + std::to_string(recno));
  } else {
    s = wa->Unlock();
    if (s.ok()) s = wa->Go(static_cast<uint32_t>(recno));
  }
  // The memo goes first: it is the one field written outside the record, so when it fails the
  // record itself is still untouched.
  if (s.ok()) s = wa->ReplaceMemo("COMMENT", data::ToTableText(in.memo));
  const std::string activityDay = ymd(in.activityDate);
  if (s.ok()) s = wa->Replace("EVENTDATE", activityDay);
  if (s.ok()) s = wa->Replace("ALARMDATE", ymd(in.remindDate));
  if (s.ok()) s = wa->Replace("STARTDATE", activityDay);
  if (s.ok()) s = wa->Replace("LASTEDIT", activityDay);
  if (s.ok()) s = wa->Replace("ENDDATE", activityDay);
  if (s.ok()) s = wa->Replace("EVENT", data::ToTableText(in.event));
  if (s.ok()) s = wa->Replace("APPT_TEXT", data::ToTableText(in.activity));
  if (s.ok()) s = wa->Replace("USERID", "  1");
  if (s.ok()) s = wa->Replace("STATUS", "S");
  if (s.ok()) s = wa->ReplaceInteger("STARTTIME", activityMinutes);
  if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", remindMinutes);
  if (s.ok()) s = wa->ReplaceInteger("ENDTIME", activityMinutes);
  if (s.ok()) s = wa->ReplaceInteger("EDITTIME", activityMinutes);
  if (s.ok()) s = wa->ReplaceInteger("SOUND", in.sound);
  if (s.ok()) s = wa->Replace("TIMETEXT", data::ToTableText(timeText));
  if (s.ok()) s = wa->Replace("DATETEXT", data::ToTableText(dateText));
  if (s.ok()) s = wa->Replace("ALARMTEXT", data::ToTableText(alarmText));
  if (s.ok()) s = wa->ReplaceInteger("SAYDATE", in.sayDate);
  if (s.ok()) s = wa->ReplaceInteger("SAYTIME", in.sayTime);
  if (s.ok()) s = wa->ReplaceInteger("COUNTDOWN", in.countdownOn ? in.countdown : 0);
  if (s.ok()) s = wa->Commit();
  if (s.ok()) s = wa->Unlock();
  if (!s.ok()) {
    // Nothing half-written stays behind: the pending changes are dropped (a new record that could
    // not be filled is taken out) and an edited record keeps its old bytes.
    wa->Discard();
    data::CloseTableIfOpen(m_engine, kOneTime);
    m_prompter.message(EngineErrorText(s));
    return result;
  }
  data::CloseTableIfOpen(m_engine, kOneTime);
  if (m_state.ViewerOpen) m_viewer.RefreshViewer();

  const QDateTime alarm = AlarmMoment(in.remindDate, remindMinutes);
  if (m_state.NextAlarmTime.isValid() && alarm < m_state.NextAlarmTime) m_state.NextAlarmTime = alarm;
  m_alarms.FindNextAlarm();
  result.saved = true;
  result.activityTimeSkipped = WallTimeSkipped(in.activityDate, activityMinutes);
  result.remindTimeSkipped = WallTimeSkipped(in.remindDate, remindMinutes);
  result.recno = recno;
  return result;
}

}  // namespace chimewise

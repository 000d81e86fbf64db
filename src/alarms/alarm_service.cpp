#include "alarms/alarm_service.h"

#include "character/speaker.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/prompts.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/reminder_record.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <xbase/engine.h>

#include <vector>

namespace chimewise {

namespace {
const QString kTimerAlias = QString::fromLatin1(data::kAliasTimer);
const QString kAlarmAlias = QString::fromLatin1(data::kAliasAlarm);
// The lowest alarm key that counts: alarms dated before 1980 are never found.
constexpr char kLowestAlarmKey[] = "198001010000";
}  // namespace

AlarmService::AlarmService(SharedState& state, Prompter& prompter, Clock& clock, xbase::Engine& engine,
                           Speaker& speaker, MainTimerPort& timer, ViewerPort& viewer)
    : m_state(state),
      m_prompter(prompter),
      m_clock(clock),
      m_engine(engine),
      m_speaker(speaker),
      m_timer(timer),
      m_viewer(viewer) {}

QString AlarmService::tablePath() const { return data::CalendarPath(m_state.AppFolder); }

void AlarmService::setTimer(bool on) { m_timer.SetTimerEnabled(on); }

void AlarmService::report(const QString& text) { m_prompter.message(text); }

void AlarmService::reportOnce(const xbase::Status& s) {
  // A table that stays unusable would otherwise bring the same box up on every tick.
  if (m_lastReported == s.ToString()) return;
  m_lastReported = s.ToString();
  report(s.kind() == xbase::Status::Kind::kNotFound ? QString::fromStdString(s.message()) : EngineErrorText(s));
}

xbase::Status AlarmService::lookUpNextAlarm() {
  int area = 0;
  XBASE_RETURN_IF_ERROR(OpenCalendar(m_engine, m_state.AppFolder, kTimerAlias, &area, !m_dryRun));
  xbase::WorkArea* wa = m_engine.Area(area);
  const bool soft = m_engine.settings().soft_seek;
  m_engine.settings().soft_seek = true;
  xbase::Status s = wa->Seek(kLowestAlarmKey);
  m_engine.settings().soft_seek = soft;
  if (s.ok() && !wa->Eof()) {
    const QDate date = TableDate(*wa, "ALARMDATE");
    if (date.isValid()) m_state.NextAlarmTime = AlarmMoment(date, TableInt(*wa, "ALARMTIME"));
  }
  data::CloseTableIfOpen(m_engine, kTimerAlias);
  return s;
}

void AlarmService::FindNextAlarm() {
  m_state.NextAlarmTime = QDateTime();
  xbase::Status s = lookUpNextAlarm();
  if (IsIndexTrouble(s) && !m_dryRun) {
    // An index found damaged during the lookup is rebuilt once, and the lookup runs again.
    s = RepairCalendarIndex(m_engine.env(), m_state.AppFolder);
    if (s.ok()) s = lookUpNextAlarm();
  }
  if (s.ok())
    m_lastReported.clear();
  else
    reportOnce(s);
}

xbase::Status AlarmService::collectDue(std::vector<uint32_t>* due, int* area) {
  due->clear();
  XBASE_RETURN_IF_ERROR(OpenCalendar(m_engine, m_state.AppFolder, kAlarmAlias, area, !m_dryRun));
  xbase::WorkArea* wa = m_engine.Area(*area);
  xbase::Status s = wa->Query(data::CurrentRemindersQuery(m_clock.now()).toStdString());
  if (s.ok()) s = wa->GoTop();
  const uint32_t n = s.ok() ? wa->QueryRecCount() : 0;
  // The list is complete before anything is said: each announcement moves alarms, and so
  // changes what the query selects.
  for (uint32_t i = 0; s.ok() && i < n && !wa->Eof(); ++i) {
    due->push_back(wa->RecNo());
    s = wa->Skip(1);
  }
  if (!s.ok()) {
    data::CloseTableIfOpen(m_engine, kAlarmAlias);
    *area = 0;
  }
  return s;
}

void AlarmService::ScanDueAlarms() {
  setTimer(false);
  const bool viewerWasOpen = m_state.ViewerOpen;
  m_state.NextAlarmTime = QDateTime();
  std::vector<uint32_t> due;
  int area = 0;
  xbase::Status s = collectDue(&due, &area);
  if (IsIndexTrouble(s) && !m_dryRun) {
    s = RepairCalendarIndex(m_engine.env(), m_state.AppFolder);
    if (s.ok()) s = collectDue(&due, &area);
  }
  if (!s.ok()) {
    reportOnce(s);
    // Keep the reminders coming even after a failed scan.
    FindNextAlarm();
    setTimer(true);
    return;
  }
  bool somethingDue = false;
  if (!due.empty() && m_state.ScheduleOpen) {
    // The reminders are found again when the dialog closes and looks up the next alarm.
    m_speaker.speak(kCloseScheduleFirst);
    data::CloseTableIfOpen(m_engine, kAlarmAlias);
    setTimer(true);
    return;
  }
  for (uint32_t recno : due) {
    if (AnnounceReminder(area, recno, m_state.ReadActivity, m_state.ReadMemos, AnnounceMode::Alarm))
      somethingDue = true;
    if (m_engine.WorkAreaOf(kAlarmAlias.toStdString()) != area) break;  // closed meanwhile
  }
  data::CloseTableIfOpen(m_engine, kAlarmAlias);
  QCoreApplication::processEvents();
  // Also when nothing was selected, so a reminder never stops firing until a restart.
  FindNextAlarm();
  if (somethingDue) {
    if (m_state.ViewerOpen)
      m_viewer.RefreshViewer();
    else
      m_viewer.ShowViewer();
  } else if (!due.empty() && m_state.ViewerOpen && !viewerWasOpen) {
    m_viewer.CloseViewerAndHideCharacter();
  }
  setTimer(true);
}

bool AlarmService::AnnounceReminder(int area, qint64 recno, int readActivity, int readMemos, AnnounceMode mode) {
  if (recno < 1 || area < 1) return false;
  if (!m_engine.Select(area).ok()) return false;
  xbase::WorkArea* wa = m_engine.Current();
  if (!wa || recno > wa->RecCount()) return false;
  if (!wa->Go(static_cast<uint32_t>(recno)).ok()) return false;

  const QDateTime now = m_clock.now();
  const ReminderFacts facts = ReadReminderFacts(*wa);
  const AnnounceSettings settings{m_state.RemindOn, m_state.WaitTime, m_state.TimeFormat};
  const AnnouncementPlan plan = PlanAnnouncement(facts, settings, readActivity, readMemos, mode, now);
  if (plan.alarm && !m_dryRun) {
    xbase::Status s = WriteAlarm(*wa, *plan.alarm);
    if (s.ok()) s = wa->Commit();
    if (!s.ok()) report(EngineErrorText(s));
  }
  if (plan.sound != 0) m_speaker.PlaySoundEffect(plan.sound);
  for (const QString& text : plan.sayTexts) m_speaker.SayText(text);
  return plan.due;
}

QDateTime AlarmService::Snooze(int area, qint64 recno, int choice, bool* dropFromList) {
  if (dropFromList) *dropFromList = false;
  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }
  const QDateTime now = m_clock.now();
  if (recno < 1 || area < 1 || !m_engine.Select(area).ok()) return {};
  xbase::WorkArea* wa = m_engine.Current();
  if (!wa || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok()) return {};
  const ReminderFacts facts = ReadReminderFacts(*wa);
  const auto plan = PlanSnooze(choice, facts.activity, now);
  if (!plan) return {};
  const QString stamp = FormatDateTimeText(plan->alarm, m_state.TimeFormat);
  const int minutes = MinuteOfDay(plan->alarm);
  const std::string alarmDate = plan->alarm.date().toString(QStringLiteral("yyyyMMdd")).toStdString();
  xbase::Status s = WriteAlarm(*wa, AlarmWrite{plan->alarm.date(), minutes, stamp});
  if (s.ok()) s = wa->Replace("LASTEDIT", now.date().toString(QStringLiteral("yyyyMMdd")).toStdString());
  if (s.ok()) s = wa->ReplaceInteger("EDITTIME", MinuteOfDay(now));
  if (s.ok() && plan->moveActivity) {
    s = wa->Replace("EVENTDATE", alarmDate);
    if (s.ok()) s = wa->ReplaceInteger("STARTTIME", minutes);
    if (s.ok()) s = wa->Replace("DATETEXT", data::ToTableText(stamp));
  }
  if (s.ok()) s = wa->Commit();
  if (!s.ok()) {
    report(EngineErrorText(s));
    return {};
  }
  if (dropFromList) *dropFromList = plan->alarm > now;
  FindNextAlarm();
  return plan->alarm;
}

bool AlarmService::DeleteReminder(int area, qint64 recno) {
  if (recno < 1 || area < 1 || !m_engine.Select(area).ok()) return false;
  xbase::WorkArea* wa = m_engine.Current();
  if (!wa || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok()) return false;
  xbase::Status s = wa->Replace("ALARMDATE", "");
  if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", 0);
  if (s.ok()) s = wa->Delete();
  if (s.ok()) s = wa->Commit();
  if (s.ok()) s = wa->Unlock();
  if (!s.ok()) {
    report(EngineErrorText(s));
    return false;
  }
  return true;
}

}  // namespace chimewise

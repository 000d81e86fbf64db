#include "alarms/alarm_service.h"

#include "core/app_paths.h"
#include "data/calendar.h"
#include "core/clock.h"
#include "core/prompts.h"
#include "data/reminder_record.h"
#include "core/shared_state.h"
#include "character/speaker.h"
#include "core/time_format.h"

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
    : m_state(state), m_prompter(prompter), m_clock(clock), m_engine(engine), m_speaker(speaker), m_timer(timer),
      m_viewer(viewer) {}

QString AlarmService::tablePath() const { return data::CalendarPath(m_state.AppFolder); }

void AlarmService::setTimer(bool on) { m_timer.SetTimerEnabled(on); }

void AlarmService::report(const QString& text) { m_prompter.message(text); }

bool AlarmService::tableIsThere() {
  const QString folder = m_state.AppFolder + QStringLiteral("/data");
  if (!FindPathNoCase(m_state.AppFolder, QStringLiteral("data"))) {
    report(QStringLiteral("Missing the ") + folder + QStringLiteral(" directory"));
    return false;
  }
  if (!FindPathNoCase(m_state.AppFolder, QStringLiteral("data/calendar.dbf"))) {
    report(QStringLiteral("Missing the ") + folder + QStringLiteral("/calendar.dbf file"));
    return false;
  }
  return true;
}

void AlarmService::FindNextAlarm() {
  m_state.NextAlarmTime = QDateTime();
  if (!tableIsThere()) return;
  xbase::Status why;
  const int area = data::OpenTable(m_engine, tablePath(), kTimerAlias, data::kModeShared, &why);
  if (area < 1) {
    if (!why.ok()) report(EngineErrorText(why));
    return;
  }
  xbase::WorkArea* wa = m_engine.Area(area);
  xbase::Status s = wa->SetOrder(wa->TagArea("ALARM"));
  if (s.ok()) {
    const bool soft = m_engine.settings().soft_seek;
    m_engine.settings().soft_seek = true;
    s = wa->Seek(kLowestAlarmKey);
    m_engine.settings().soft_seek = soft;
  }
  if (s.ok() && !wa->Eof()) {
    const QDate date = TableDate(*wa, "ALARMDATE");
    if (date.isValid()) m_state.NextAlarmTime = AlarmMoment(date, TableInt(*wa, "ALARMTIME"));
  }
  data::CloseTableIfOpen(m_engine, kTimerAlias);
  if (!s.ok()) report(EngineErrorText(s));
}

void AlarmService::ScanDueAlarms() {
  setTimer(false);
  const bool viewerWasOpen = m_state.ViewerOpen;
  m_state.NextAlarmTime = QDateTime();
  if (!tableIsThere()) {
    setTimer(true);
    return;
  }
  xbase::Status why;
  const int area = data::OpenTable(m_engine, tablePath(), kAlarmAlias, data::kModeShared, &why);
  if (area < 1) {
    if (!why.ok()) report(EngineErrorText(why));
    setTimer(true);
    return;
  }
  xbase::WorkArea* wa = m_engine.Area(area);
  std::vector<uint32_t> due;
  xbase::Status s = wa->SetOrder(wa->TagArea("ALARM"));
  if (s.ok()) s = wa->Query(data::CurrentRemindersQuery(m_clock.now()).toStdString());
  if (s.ok()) s = wa->GoTop();
  const uint32_t n = s.ok() ? wa->QueryRecCount() : 0;
  bool somethingDue = false;
  if (s.ok() && n > 0 && !wa->Eof()) {
    if (m_state.ScheduleOpen) {
      // The reminders are found again when the dialog closes and looks up the next alarm.
      m_speaker.speak(kCloseScheduleFirst);
      data::CloseTableIfOpen(m_engine, kAlarmAlias);
      setTimer(true);
      return;
    }
    // The list is complete before anything is said: each announcement moves alarms, and so
    // changes what the query selects.
    for (uint32_t i = 0; i < n && !wa->Eof() && s.ok(); ++i) {
      due.push_back(wa->RecNo());
      s = wa->Skip(1);
    }
    for (uint32_t recno : due) {
      if (!s.ok()) break;
      if (AnnounceReminder(area, recno, m_state.ReadActivity, m_state.ReadMemos, AnnounceMode::Alarm))
        somethingDue = true;
      if (m_engine.WorkAreaOf(kAlarmAlias.toStdString()) != area) break;  // closed meanwhile
    }
  }
  data::CloseTableIfOpen(m_engine, kAlarmAlias);
  if (!s.ok()) {
    report(EngineErrorText(s));
    // Keep the reminders coming even after a failed scan.
    FindNextAlarm();
    setTimer(true);
    return;
  }
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
  if (plan.alarm) {
    xbase::Status s = WriteAlarm(*wa, *plan.alarm);
    if (s.ok()) s = wa->Commit();
    if (!s.ok()) report(EngineErrorText(s));
  }
  if (plan.sound != 0) m_speaker.playSoundEffect(plan.sound);
  for (const QString& text : plan.sayTexts) m_speaker.sayText(text);
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

#pragma once
// Keeping the reminders coming: the next-alarm lookup, the scan for due reminders, the
// announcement of one reminder, the snooze and the delete, over the reminder table.

#include "alarms/alarm_rules.h"
#include "core/ports.h"

#include <QString>

#include <xbase/status.h>

#include <cstdint>
#include <string>
#include <vector>

namespace xbase {
class Engine;
class WorkArea;
}  // namespace xbase

namespace chimewise {

class Clock;
class Prompter;
class Speaker;
struct SharedState;

inline const QString kCloseScheduleFirst =
    QStringLiteral("You have reminders. Please close the Schedule Activity window to see them.");

class AlarmService {
 public:
  AlarmService(SharedState& state, Prompter& prompter, Clock& clock, xbase::Engine& engine, Speaker& speaker,
               MainTimerPort& timer, ViewerPort& viewer);

  // Sets NextAlarmTime to the earliest pending alarm (invalid when none).
  void FindNextAlarm();
  // Announces every due reminder, moves their alarms and brings the viewer to the user.
  void ScanDueAlarms();
  // Announces the record of an open work area; true when its activity is now or past.
  bool AnnounceReminder(int area, qint64 recno, int readActivity, int readMemos, AnnounceMode mode);
  // Puts the record off by a snooze choice (0-8). Returns the new alarm, invalid when nothing
  // was done. dropFromList tells the caller to take the record out of a current-reminders list.
  QDateTime Snooze(int area, qint64 recno, int choice, bool* dropFromList = nullptr);
  // Deletes the record: no alarm any more, marked deleted. False when there is no such record.
  bool DeleteReminder(int area, qint64 recno);

  QString tablePath() const;
  // A dry run reads only: announcements are planned and spoken, but no alarm moves and nothing is
  // repaired.
  void setDryRun(bool on) { m_dryRun = on; }

 private:
  // The lookup and the selection of due reminders, each one attempt.
  xbase::Status lookUpNextAlarm();
  xbase::Status collectDue(std::vector<uint32_t>* due, int* area);
  // Tells the user of a failure, unless it is the one told last time and nothing has worked since.
  void reportOnce(const xbase::Status& s);
  void setTimer(bool on);
  void report(const QString& text);

  SharedState& m_state;
  Prompter& m_prompter;
  Clock& m_clock;
  xbase::Engine& m_engine;
  Speaker& m_speaker;
  MainTimerPort& m_timer;
  ViewerPort& m_viewer;
  std::string m_lastReported;
  bool m_dryRun = false;
};

}  // namespace chimewise

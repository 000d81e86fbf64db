#pragma once
// Storing one reminder: a new record or the rewrite of an existing one, composed from what the
// Schedule Activity dialog (or the command-line tool) was given.

#include <QDate>
#include <QString>
#include <QTime>
#include <functional>
#include <string>

namespace xbase {
class Engine;
}

namespace chimewise {

class AlarmService;
class Clock;
class Prompter;
class Speaker;
class ViewerPort;
struct SharedState;

struct EventInput {
  QString event;       // activity type -> EVENT
  QDate activityDate;  // "The actual activity occurs"
  QTime activityTime;
  QString activity;  // -> APPT_TEXT
  QString memo;      // -> COMMENT
  int sound = 0;     // 0 "None" ... 8 "Explode"
  QDate remindDate;  // "Please schedule this reminder"
  QTime remindTime;
  int sayDate = 0;
  int sayTime = 0;
  int countdown = 0;  // minutes, stored only when countdownOn
  bool countdownOn = false;
};

// Which entry was refused, for the dialog to put the focus on.
enum class SaveField { None, ActivityDate, ActivityTime, RemindDate, RemindTime, Activity, Event, Memo };

struct SaveResult {
  bool saved = false;
  qint64 recno = 0;  // the record written
  SaveField refused = SaveField::None;
  // The activity or reminder time does not exist on its day (the clocks go forward over it): it
  // is kept, and means the same wall time after the change (02:30 is 03:30). The caller says so.
  bool activityTimeSkipped = false;
  bool remindTimeSkipped = false;
};

class EventSaver {
 public:
  EventSaver(SharedState& state, Prompter& prompter, Clock& clock, xbase::Engine& engine, Speaker& speaker,
             AlarmService& alarms, ViewerPort& viewer);

  // Adds a reminder (EditRecNo -1) or rewrites record EditRecNo. The record is written whole or
  // not at all; every refusal and failure is told to the user.
  SaveResult SaveEvent(const EventInput& in);

  // The source of the eight random digits of a new record's identifier, in [0, 1).
  std::function<double()> randomFraction;

 private:
  SharedState& m_state;
  Prompter& m_prompter;
  Clock& m_clock;
  xbase::Engine& m_engine;
  Speaker& m_speaker;
  AlarmService& m_alarms;
  ViewerPort& m_viewer;
};

}  // namespace chimewise

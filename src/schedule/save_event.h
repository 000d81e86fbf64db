#pragma once
// Storing one reminder: a new record or the rewrite of an existing one, composed from what the
// Schedule Activity dialog (or the command-line tool) was given.

#include "core/problem.h"
#include "data/reminder_record.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace xbase {
class Engine;
}

namespace chimewise {

class AlarmService;
class Clock;
struct ProgramOptions;
class SpeakerPort;
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
  // Of a reminder read from a calendar: its event's UID and series, as its kept event holds them
  // (data/kept_events.h). Not table fields: the calendar code keeps them.
  QString uid;
  QStringList series;
  // How a reminder made or changed here repeats: an RFC 5545 RRULE value ("FREQ=WEEKLY;BYDAY=MO"),
  // counted from the activity's moment in the local zone. Empty: it happens once (or, with
  // `series`, as its calendar event repeats).
  QString repeat;
};

// What storing reminders as the Schedule Activity dialog does works with, all owned elsewhere.
struct ReminderStore {
  SharedState& state;
  Clock& clock;
  xbase::Engine& engine;
  SpeakerPort& speaker;
  AlarmService& alarms;
  ViewerPort& viewer;
};

// The record SaveEvent stores for `in` (its display texts in `timeFormat`), before any check.
ReminderRecord ComposeReminderRecord(const EventInput& in, const QString& timeFormat);

// Which entry was refused, for the dialog to put the focus on.
enum class SaveField { None, ActivityDate, ActivityTime, RemindDate, RemindTime, Activity, Event, Memo };

struct SaveResult {
  bool saved = false;
  qint64 recno = 0;  // the record written
  // Why nothing was saved (for the caller to tell), and which entry to put the focus on. When the
  // reminder was saved: what failed after it was stored (worth telling, but it undoes nothing).
  Problem problem;
  SaveField refused = SaveField::None;
  // The activity or reminder time does not exist on its day (the clocks go forward over it): it
  // is kept, and means the same wall time after the change (02:30 is 03:30). The caller says so.
  bool activityTimeSkipped = false;
  bool remindTimeSkipped = false;
  // The saved record's identifier (its REC_NO).
  std::string recordId;
  // The values written, when saved (as ComposeReminderRecord gave them, the wall times as stored).
  ReminderRecord record;
};

// One reminder for SaveEvents: what to store, and the record it rewrites (none: a new one). With
// `editingId`, the record must still hold that reminder (its REC_NO) and not be deleted: one deleted
// meanwhile, or whose place another reminder took (the table packed), is refused as NoSuchReminder
// with nothing written.
struct EventWrite {
  EventInput input;
  std::optional<qint64> editing;
  std::string editingId;
  // ComposeReminderRecord(input, the options' time format), when the caller has it already: it is
  // stored as it is instead of being composed again.
  std::optional<ReminderRecord> composed;
};

class EventSaver {
 public:
  EventSaver(SharedState& state, const ProgramOptions& options, Clock& clock, xbase::Engine& engine);

  // Adds a reminder (`editing` none) or rewrites the reminder at `editing`. Every value is checked
  // before anything is written; the record is written whole or not at all (an edited record keeps
  // its old bytes). Refusals and failures come back in the result for the caller to tell. A save
  // is only a save: what the caller shows of it (the character writing, the viewer refreshed, the
  // next alarm looked up) is the caller's, done once for all it saved.
  SaveResult SaveEvent(const EventInput& in, std::optional<qint64> editing = std::nullopt,
                       const std::string& editingId = {});

  // Stores many reminders at once: the table opened once, its write lock taken once, the index
  // brought up to date once at the end. Each is checked as SaveEvent checks it; one refused (or
  // failing to be written) is told in its own result and stops none of the others, and each is
  // written whole or not at all. One result per write, in order; when the table cannot be opened
  // or locked every result carries that problem and nothing was written. Nothing else happens:
  // no animation, no viewer refresh, no next-alarm lookup; the caller reacts once to all.
  std::vector<SaveResult> SaveEvents(const std::vector<EventWrite>& writes);

  // The source of the eight random digits of a new record's identifier, in [0, 1).
  std::function<double()> randomFraction;

 private:
  SharedState& m_state;
  const ProgramOptions& m_options;
  Clock& m_clock;
  xbase::Engine& m_engine;
};

}  // namespace chimewise

#pragma once
// Reading and writing reminder records through the engine, field by field.

#include <xbase/engine.h>

#include <QDate>
#include <QDateTime>
#include <QString>

namespace chimewise {

// The reminder fields the announcement reads.
struct ReminderFacts {
  QString activityText;  // APPT_TEXT, trimmed
  QString memo;          // COMMENT
  int sound = 0;         // SOUND
  int sayDate = 0;       // SAYDATE
  int sayTime = 0;       // SAYTIME
  int countdown = 0;     // COUNTDOWN, minutes
  QDateTime activity;    // EVENTDATE at STARTTIME
  QDate eventDate;       // EVENTDATE
  int startTime = -1;    // STARTTIME; -1 for an activity without a time
  QString timeText;      // TIMETEXT
  QDate alarmDate;       // ALARMDATE; invalid when blank (no pending alarm)
  int alarmTime = 0;     // ALARMTIME
};

// A new alarm for a record.
struct AlarmWrite {
  QDate date;       // ALARMDATE
  int minutes = 0;  // ALARMTIME
  QString text;     // ALARMTEXT
  bool operator==(const AlarmWrite&) const = default;
};

// A date field's raw "yyyymmdd" as a date; invalid when blank or damaged.
QDate TableDate(xbase::WorkArea& area, const char* field);
QString TableText(xbase::WorkArea& area, const char* field, bool trimmed = true);
int TableInt(xbase::WorkArea& area, const char* field);
QString TableMemo(xbase::WorkArea& area, const char* field);

// The fields the announcement needs, of the current record.
ReminderFacts ReadReminderFacts(xbase::WorkArea& area);

// Writes a new alarm (ALARMDATE, ALARMTIME, ALARMTEXT) into the current record, uncommitted.
xbase::Status WriteAlarm(xbase::WorkArea& area, const AlarmWrite& alarm);

// Opens the reminder table under `alias` (or reuses the alias's open work area), ready for
// lookups in the ALARM order. A table whose folder or file is missing gives NotFound, worded as
// "Missing the FOLDER directory" / "Missing the FOLDER/calendar.dbf file". An index that is
// missing, untrusted, damaged or without the calendar's tags is rebuilt once, as at start-up,
// with the table packed, and the table opened again; *repaired (optional) says that happened.
// When even that fails, the rebuild's Status is returned and nothing is open under `alias`.
// With mayRepair false (a caller that must not write) the index trouble is returned instead.
xbase::Status OpenCalendar(xbase::Engine& engine, const QString& appFolder, const QString& alias, int* area,
                           bool mayRepair = true, bool* repaired = nullptr);

// Whether a Status from an index operation (an order, a seek, a move in tag order, a query) means
// the index cannot be trusted and must be rebuilt.
bool IsIndexTrouble(const xbase::Status& status);

// Rebuilds the reminder table's index (packing the table) with an engine of its own, so the
// caller's other work areas stay open. Fails (and changes nothing) while another user has the
// table open.
xbase::Status RepairCalendarIndex(xbase::Env* env, const QString& appFolder);

// "Error " + what went wrong + " #" + its number, as the alarm routines report engine errors.
QString EngineErrorText(const xbase::Status& status);

}  // namespace chimewise

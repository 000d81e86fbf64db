#pragma once
// One reminder record: its fields as the program reads and writes them, opening the reminder
// table, and the engine's failures as the program's problems.

#include "core/problem.h"

#include <xbase/engine.h>

#include <QDate>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

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

// Commits the current record's changes. True once the record itself is written, the point of no
// return: also when keeping the index up to date failed after it (the index is then left marked as
// half-updated, and rebuilt at its next open), and *why says what failed there. False when the
// table keeps the old record, or is to take back a record appended and not committed before: *why
// says why, and the caller discards the changes.
bool CommitRecord(xbase::WorkArea& area, xbase::Status* why);

// Whether a Status from an index operation (an order, a seek, a move in tag order, a query) means
// the index cannot be trusted and must be rebuilt.
bool IsIndexTrouble(const xbase::Status& status);
// The same for such a Status as ProblemOf words it.
bool IsIndexTrouble(const Problem& problem);

// Rebuilds the reminder table's index (packing the table) with an engine of its own, so the
// caller's other work areas stay open. Fails (and changes nothing) while another user has the
// table open.
// *foreignIndex (optional) is set to true when the index replaced was another program's file
// (and left as it was otherwise, so one flag can gather several repairs).
xbase::Status RepairCalendarIndex(xbase::Env* env, const QString& appFolder, bool* foreignIndex = nullptr);

// Another program's index replaced by the reminder table's, as a problem to tell once.
Problem ForeignIndexProblem(const QString& appFolder);

// Every value SaveEvent stores for one reminder.
struct ReminderRecord {
  QString event;         // EVENT, the activity type
  QString activityText;  // APPT_TEXT
  QString memo;          // COMMENT
  QDate eventDate;       // EVENTDATE, STARTDATE, ENDDATE and LASTEDIT
  int startTime = 0;     // STARTTIME, ENDTIME and EDITTIME, minutes after midnight
  QDate alarmDate;       // ALARMDATE
  int alarmTime = 0;     // ALARMTIME
  int sound = 0;         // SOUND, 0-8
  int sayDate = 0;       // SAYDATE
  int sayTime = 0;       // SAYTIME
  int countdown = 0;     // COUNTDOWN, minutes; 0 for none
  QString timeText;      // TIMETEXT, DATETEXT and ALARMTEXT: display texts
  QString dateText;
  QString alarmText;
};

// The first value of `record` the table cannot hold whole: text with characters the table's code
// page lacks (CharactersNotSupported; the memo's field is COMMENT), text longer than its field in
// bytes of that code page (TextTooLong, telling how many of its characters fit) or a number
// wider than its field. Checked before anything
// is written, so a refused reminder leaves the table untouched. An ok Problem when all fit; the
// field's name goes to *field.
Problem FirstValueThatDoesNotFit(const xbase::WorkArea& area, const ReminderRecord& record, std::string* field);

// Writes every field of `record` into the current record, uncommitted. The memo goes first: it is
// the one field written outside the record, so when it fails the record itself is untouched.
xbase::Status WriteReminder(xbase::WorkArea& area, const ReminderRecord& record);

// A snooze or an edit from the viewer: LASTEDIT and EDITTIME stamped with `now`, uncommitted.
xbase::Status WriteEditStamp(xbase::WorkArea& area, const QDateTime& now);

// Moves the activity itself (EVENTDATE, STARTTIME, DATETEXT) to `moment`, uncommitted.
xbase::Status WriteActivityMoment(xbase::WorkArea& area, const QDateTime& moment, const QString& dateText);

// A record as it was stored, to put back after a deletion: every field's bytes (a memo field's
// text) in the order WorkArea::Fields lists them, and the record's number.
struct RecordImage {
  uint32_t recno = 0;
  std::vector<std::string> fields;
  bool operator==(const RecordImage&) const = default;
};

// The current record's image.
xbase::Status TakeRecordImage(xbase::WorkArea& area, RecordImage* image);

// Puts back a deleted record as `image` holds it, committed and unlocked. While the record is
// still in the table (deleted, with the image's REC_NO) it is recalled and every field that
// changed since is written back, so it keeps its record number; once the table has been packed
// it is appended anew with every field of the image. Nothing is changed when the image's REC_NO
// is found on a live record (it was put back already) or when a write fails. *recno: the record
// that now holds it.
Problem RestoreRecordImage(xbase::WorkArea& area, const RecordImage& image, uint32_t* recno);

// Whether the reminder table is where it belongs under `appFolder` (letter case aside).
Problem CalendarPlaceProblem(const QString& appFolder);

// A table opened with a record count repaired from the file's length (see xbase::TableRepair),
// as a problem to tell; ok for a sound table.
Problem TableRepairProblem(const xbase::WorkArea& area);

// An engine failure as a problem: "Error " + its description + " #" + its number when worded; a
// lock not had in time (Busy) is a TableBusy problem.
Problem ProblemOf(const xbase::Status& status);

}  // namespace chimewise

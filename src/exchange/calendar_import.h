#pragma once
// A calendar file read in as reminders. Each VEVENT or VTODO still to come becomes one reminder
// (a repeating one: one reminder at its next occurrence, the series kept with its event), stored by
// EventSaver exactly as the Schedule Activity dialog stores one. A reminder read from the same
// UID before is updated, or left alone when nothing changed; a cancellation deletes it.

#include "core/problem.h"
#include "data/kept_events.h"
#include "schedule/save_event.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <xbase/status.h>
#include <icalendar/icalendar.h>

#include <map>
#include <optional>
#include <vector>

namespace xbase {
class Engine;
class WorkArea;
}  // namespace xbase

namespace chimewise {

class AlarmService;
class Clock;
class SpeakerPort;
class ViewerPort;
struct SharedState;

// Bounds on a file read in.
inline constexpr qint64 kMaxCalendarBytes = 16LL * 1024 * 1024;
inline constexpr int kMaxCalendarComponents = 100000;

struct ImportOptions {
  int leadMinutes = 0;   // how long before its start an event without an alarm is reminded of
  QTime allDayAt{9, 0};  // the time of day an all-day event is reminded at
};

struct ImportReport {
  // Why the file was not read at all (nothing was changed); empty when it was.
  QString error;
  Problem problem;  // the table could not be read or written
  int imported = 0;
  int updated = 0;
  int deleted = 0;
  int unchanged = 0;
  QStringList skipped;  // one line each: what, and why
};

// The reminder `e` reads in as: what EventSaver is to store for it. `before`: the reminder it
// updates, whose own fields (sound, what is said, countdown) stay where `e` has none of them.
// `keepUid`: it names e's UID (a reminder that answers to its record's own UID needs none).
EventInput ReminderFromEvent(const icalendar::ReadEvent& e, const ImportOptions& options, const QDateTime& now,
                             const EventInput* before, bool keepUid);

// The current record of the reminder table as what EventSaver was given for it (with its calendar
// UID and series from what it keeps, `kept` when the caller read that already).
EventInput StoredReminder(xbase::WorkArea& area);
EventInput StoredReminder(xbase::WorkArea& area, const std::optional<KeptEvent>& kept);

// "imported N, updated N, deleted N, unchanged N, skipped N".
QString ImportSummary(const ImportReport& report);

// Reading a calendar in goes in four steps, each of its own: the file read and parsed (with no
// table and no clock of the program's own, so it may run on any thread), what to do with each of
// its events decided against the reminders already there, the reminders saved many at a time, and
// the report.

// A calendar file read: its bytes and what they parse to.
struct CalendarFile {
  QString path;
  QString error;  // why it was not read at all (nothing is to change); empty when it was
  QByteArray text;
  icalendar::ReadResult calendar;
  // Each UID's events as a calendar of their own, byte for byte (kept with the reminder).
  std::map<QString, QByteArray> resources;
};
// Reads and parses the calendar at `path` within the bounds above; `now` says what is to come.
CalendarFile ReadCalendarFile(const QString& path, const QDateTime& now);
// Parses one calendar text (a file's, or a resource a server sent) within the same bounds.
icalendar::ReadResult ParseCalendar(const QByteArray& text, const QDateTime& now);
// The same for many texts at once, in order: what a worker thread may do for a whole sync.
std::vector<icalendar::ReadResult> ParseCalendars(const std::vector<QByteArray>& texts, const QDateTime& now);

// A reminder already in the table, found by the UID it answers to.
struct KnownReminder {
  qint64 recno = 0;
  EventInput values;
  bool byRecordId = false;  // found by the UID an export gives it, not by a stored one
};
using KnownReminders = std::map<QString, KnownReminder>;
// Every live reminder that answers to a UID: one read from a calendar by its stored UID, any other
// by the UID an export gives it.
xbase::Status ReadKnownReminders(xbase::WorkArea& area, KnownReminders* byUid);

// What is done with one event of the file: one step per event, in the file's order. An event
// given twice (the same UID) changes the step planned for its first time, and is Unchanged itself.
enum class ImportAction { Add, Update, Unchanged, Delete, Skip };
struct ImportStep {
  ImportAction action = ImportAction::Skip;
  int event = -1;        // its index in CalendarFile::calendar.events
  EventInput input;      // Add, Update: the reminder to store
  qint64 recno = 0;      // Update, Delete, Unchanged: the reminder there (0: none yet)
  QString skipped;       // Skip: the report's line, what and why
  bool dropped = false;  // an Add taken back by a cancellation later in the same file
};
struct ImportPlan {
  std::vector<ImportStep> steps;
  int unchanged = 0;
  int updatedAgain = 0;  // an event given twice in the file, the second time with other values
};
// Decides, for each event of `file`, what becomes of it: a new reminder, an update of the one
// read from its UID before, nothing (unchanged, or skipped with the reason), or a deletion.
ImportPlan PlanImport(const CalendarFile& file, const KnownReminders& known, const ImportOptions& options,
                      const QDateTime& now);
// What a plan counts before anything is saved (unchanged events, events given again), added to
// *report.
void CountPlan(const ImportPlan& plan, ImportReport* report);

class CalendarImporter {
 public:
  explicit CalendarImporter(ReminderStore store) : m_store(store) {}

  // Every step at once: read, decide, save, look up the next alarm.
  ImportReport Import(const QString& path, const ImportOptions& options);

  // The steps after reading, for a caller that reads on another thread and saves in slices.
  // Every live reminder by the UID it answers to (an ok problem when the table could be read).
  Problem ReadKnown(KnownReminders* known);
  // The reminders already there read and the plan made (a problem goes to report->problem and
  // plans nothing); the plan's counts go to *report.
  ImportPlan Plan(const CalendarFile& file, const ImportOptions& options, ImportReport* report);
  // Carries out the plan's steps [from, to): deletions one by one, additions and updates saved
  // many at a time (EventSaver::SaveEvents); counts and skips go to *report. Nothing else runs:
  // call Finish once when every slice is done (or the rest given up).
  void Apply(const CalendarFile& file, const ImportPlan& plan, size_t from, size_t to, ImportReport* report);
  // The next alarm looked up once, and the skips of the plan's steps before `done` (all of them
  // unless the rest was given up) and the file's bounds added to the report.
  void Finish(const CalendarFile& file, const ImportPlan& plan, size_t done, ImportReport* report);

 private:
  ReminderStore m_store;
};

}  // namespace chimewise

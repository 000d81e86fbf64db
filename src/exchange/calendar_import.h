#pragma once
// A calendar file read in as reminders. Each VEVENT or VTODO still to come becomes one reminder
// (a repeating one: one reminder at its next occurrence, the series kept in the memo), stored by
// EventSaver exactly as the Schedule Activity dialog stores one. A reminder read from the same
// UID before is updated, or left alone when nothing changed; a cancellation deletes it.

#include "core/problem.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

namespace xbase {
class Engine;
class WorkArea;
}  // namespace xbase
namespace icalendar {
struct ReadEvent;
}

namespace chimewise {

class AlarmService;
class Clock;
class Speaker;
class ViewerPort;
struct SharedState;
struct EventInput;

// Bounds on a file read in.
inline constexpr qint64 kMaxCalendarBytes = 16LL * 1024 * 1024;
inline constexpr int kMaxCalendarComponents = 100000;
inline constexpr int kMaxOccurrencesPerSeries = 5000;

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
// `keepUid`: the memo names e's UID (a reminder that answers to its record's own UID needs none).
EventInput ReminderFromEvent(const icalendar::ReadEvent& e, const ImportOptions& options, const QDateTime& now,
                             const EventInput* before, bool keepUid);

// The current record of the reminder table as what EventSaver was given for it.
EventInput StoredReminder(xbase::WorkArea& area);

// "imported N, updated N, deleted N, unchanged N, skipped N".
QString ImportSummary(const ImportReport& report);

class CalendarImporter {
 public:
  CalendarImporter(SharedState& state, Clock& clock, xbase::Engine& engine, Speaker& speaker, AlarmService& alarms,
                   ViewerPort& viewer);

  ImportReport Import(const QString& path, const ImportOptions& options);

 private:
  SharedState& m_state;
  Clock& m_clock;
  xbase::Engine& m_engine;
  Speaker& m_speaker;
  AlarmService& m_alarms;
  ViewerPort& m_viewer;
};

}  // namespace chimewise

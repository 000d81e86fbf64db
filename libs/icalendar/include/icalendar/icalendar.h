#pragma once
// Reading and writing iCalendar (RFC 5545) files with libical. Knows nothing of reminders: a
// calendar comes in as text and goes out as plain events, every moment resolved to UTC; plain
// events go in and a calendar comes out.
//
// Time zones: a TZID is read, in this order, as an IANA name this computer's zone data knows
// (also behind a vendor prefix: "/mozilla.org/20070129_1/America/New_York",
// "/freeassociation.sourceforge.net/Tzfile/Europe/Berlin"), as a Windows zone name ("W. Europe
// Standard Time"), as one of a few common names with one likely meaning ("Eastern", "Pacific",
// "Central", "Mountain", "GMT"), and only then through the file's own VTIMEZONE, when its rules
// are bounded (yearly changes, few fixed dates). A known name is always read with the system's
// zone data, never with the file's VTIMEZONE (some programs write only the changes around one
// event). Anything else is refused with the name.
//
// libical is loaded on the first call, from a module of its own (libicalendar-backend.so): a
// program that never reads or writes a calendar never loads it.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace icalendar {

// A property outside RFC 5545 (X-...), name and text value, as the file has it.
using ExtraProperty = std::pair<QString, QString>;

struct ReadOptions {
  QDateTime now;  // what "to come" and "past" are measured against
  // Bounds on what one file may cost.
  int maxComponents = 100000;  // VEVENTs and VTODOs read; those past it are counted, not read
  // The file is refused, before libical sees it, when components nest deeper than this
  // (VCALENDAR > VEVENT > VALARM is 3), when it holds more BEGIN lines than maxBegins, or when
  // one unfolded content line is longer than maxLineLength bytes.
  int maxDepth = 20;
  int maxBegins = 400000;
  int maxLineLength = 1 << 20;
  // Recurrence steps one repeating component may take to find its next occurrence (a rule with
  // COUNT is walked from its start; one without starts near `now`), and all of the file's
  // together. A component over either is refused with the reason, never called past.
  int maxOccurrences = 200000;
  int maxFileSteps = 1000000;
};

// One VEVENT or VTODO as read, its repetition (if any) advanced to the first occurrence still to
// come.
struct ReadEvent {
  QString kind;  // "VEVENT" or "VTODO"
  QString uid;
  QString summary;
  QString description;
  QStringList categories;
  // When the component was last changed: LAST-MODIFIED, else DTSTAMP (both UTC); invalid when it
  // has neither.
  QDateTime modified;
  bool cancelled = false;  // STATUS:CANCELLED, or the calendar's METHOD is CANCEL
  // A VTODO marked done (STATUS:COMPLETED, a COMPLETED moment, or PERCENT-COMPLETE:100): like a
  // cancellation, nothing is left to remind of.
  bool done = false;
  // Why the component cannot be taken (an invalid repeat rule, a time zone that cannot be
  // resolved, no start at all); empty when it can. The fields below are then not filled in.
  QString refused;
  // Every occurrence lies before ReadOptions::now.
  bool past = false;

  // The occurrence: an all-day one has a date and no moment.
  bool allDay = false;
  QDate date;        // all-day: the day
  QDateTime start;   // timed: the start (of a VTODO: its DUE), UTC
  QString timeZone;  // the IANA zone the start was written in, when known
  // The alarms of this occurrence, UTC, earliest first. An all-day occurrence's relative alarms
  // count from its midnight in the system time zone.
  std::vector<QDateTime> alarms;
  QString alarmText;  // the first alarm's DESCRIPTION
  // How long each occurrence lasts, in seconds (DTEND or DURATION; an all-day event without
  // either lasts a day); 0 when it has neither or they cannot be read (see notes).
  qint64 length = 0;
  // What of the component was left aside and why (an end that cannot be read, an alarm too far
  // from its occurrence); the rest was read.
  QStringList notes;

  // A repeating component (RRULE, RDATE or both): the series as RFC 5545 property lines, each
  // complete, to keep and write back; empty for a single occurrence. DTSTART is written as the
  // file meant it:
  //   DTSTART;TZID=Asia/Kolkata:20270105T093000   wall time in that zone (an IANA id, after the
  //                                               names above were resolved)
  //   DTSTART;VALUE=DATE-TIME:20270105T093000Z    UTC (VALUE=DATE-TIME tells it from the older
  //                                               stored form below)
  //   DTSTART:20270105T093000                     floating: the reader's own wall time
  //   DTSTART;VALUE=DATE:20270105                 all-day
  // then "RRULE:...", and "EXDATE..." and "RDATE..." lines in the same form as DTSTART (an
  // occurrence changed on its own in the same file is an EXDATE too). A zone known only from
  // the file's VTIMEZONE (Outlook's "Customized Time Zone") is named by its TZID as written, and
  // that VTIMEZONE's content lines ("BEGIN:VTIMEZONE" to "END:VTIMEZONE", unfolded) end the
  // series (one larger than 32 KB is left out, and the series written in UTC). Older stored series have "DTSTART:...Z"
  // meaning the wall time of that moment in the zone of an "X-CHIMEWISE-TZID:zone" line, or without one in the system
  // time zone; NextOccurrence and Write read both forms.
  QStringList series;
  std::vector<ExtraProperty> extras;
};

struct ReadResult {
  QString error;   // why the file cannot be read at all; empty when it could
  QString method;  // METHOD (an iTIP message: "REQUEST", "CANCEL"), empty when none
  std::vector<ReadEvent> events;
  int componentsOverLimit = 0;  // components past ReadOptions::maxComponents, left unread
};

ReadResult Read(const QByteArray& text, const ReadOptions& options);

// One event to write.
struct WriteEvent {
  QString uid;
  QString summary;
  QString description;
  QString category;  // empty for none
  bool allDay = false;
  QDate date;       // all-day
  QDateTime start;  // timed: written in WriteOptions::timeZone
  // The alarm, when there is one. A repeating event's alarm is written relative to its start
  // (alarmLead seconds before it); a single event's as the moment itself.
  bool hasAlarm = false;
  QDateTime alarm;
  qint64 alarmLead = 0;
  QString alarmText;
  // As ReadEvent::series; its DTSTART replaces `start`/`date`. A series is written in its own
  // zone (its VTIMEZONE goes in), UTC as UTC, floating as floating; an older stored series (see
  // ReadEvent::series) in the zone of its X-CHIMEWISE-TZID line, else in WriteOptions::timeZone.
  QStringList series;
  std::vector<ExtraProperty> extras;
};

struct WriteOptions {
  // IANA id of the zone single timed starts are written in (its VTIMEZONE goes in); UTC and
  // Etc/UTC write plain UTC times without a TZID.
  QString timeZone;
  QDateTime stamp;  // DTSTAMP of every event
  QString productId;
};

struct WriteResult {
  QString error;  // empty when written
  QByteArray text;
};

WriteResult Write(const std::vector<WriteEvent>& events, const WriteOptions& options);

// The first occurrence of a series (ReadEvent::series, either form) not before `after`; a
// ReadEvent whose `past` says there is none, or whose `refused` says why the series cannot be
// read.
ReadEvent NextOccurrence(const QStringList& series, const QDateTime& after);

// The IANA zone of a Windows time-zone name ("W. Europe Standard Time" is "Europe/Berlin", as
// CLDR's windowsZones table has it), or the name itself when it is none.
QString IanaFromWindows(const QString& name);

}  // namespace icalendar

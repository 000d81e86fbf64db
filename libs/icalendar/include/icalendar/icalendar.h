#pragma once
// Reading and writing iCalendar (RFC 5545) files with libical. Knows nothing of reminders: a
// calendar comes in as text and goes out as plain events, every moment resolved to UTC; plain
// events go in and a calendar comes out.
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
  int maxComponents = 100000;
  int maxOccurrences = 5000;  // expanded per repeating component
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

  // A repeating component: the series as RFC 5545 property lines, each complete ("DTSTART:...Z"
  // or "DTSTART;VALUE=DATE:...", "RRULE:...", "EXDATE:..." with its moments in UTC), to keep
  // and write back; empty for a single occurrence.
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
  QStringList series;  // as ReadEvent::series; its DTSTART replaces `start`/`date`
  std::vector<ExtraProperty> extras;
};

struct WriteOptions {
  QString timeZone;  // IANA id of the zone timed starts are written in (its VTIMEZONE goes in)
  QDateTime stamp;   // DTSTAMP of every event
  QString productId;
};

struct WriteResult {
  QString error;  // empty when written
  QByteArray text;
};

WriteResult Write(const std::vector<WriteEvent>& events, const WriteOptions& options);

// The first occurrence of a series (ReadEvent::series) not before `after`, its wall times read
// in the system time zone; a ReadEvent whose `past` says there is none, or whose `refused` says
// why the series cannot be read.
ReadEvent NextOccurrence(const QStringList& series, const QDateTime& after);

// The IANA zone of a Windows time-zone name ("W. Europe Standard Time" is "Europe/Berlin"), or
// the name itself when it is none of the common ones.
QString IanaFromWindows(const QString& name);

}  // namespace icalendar

#pragma once
// The calendar part earlier versions kept below a reminder's memo, and its move to the kept events
// (data/kept_events.h), where it lives now. A reminder taken from a calendar file or server had its
// event's UID and, for a repeating event, its series (DTSTART, RRULE, EXDATE as iCalendar lines)
// written after a line "[iCalendar]":
//
//   Bring the insurance card.
//
//   [iCalendar]
//   UID:20270105-dentist@example.org
//   DTSTART:20270105T090000Z
//   RRULE:FREQ=WEEKLY;INTERVAL=2
//
// A part counts as the calendar's only when every line after the marker is one of those
// properties and a UID or a DTSTART is among them; a memo whose "[iCalendar]" line is followed by
// anything else is the user's own text.

#include "core/problem.h"

#include <QString>
#include <QStringList>

namespace xbase {
class Engine;
}

namespace chimewise {

struct CalendarMemo {
  QString text;        // the memo as people read it (the whole memo when it has no calendar part)
  QString uid;         // empty when the part has none
  QStringList series;  // the iCalendar lines of a series (or of an all-day date), in order
  bool hasPart() const { return !uid.isEmpty() || !series.isEmpty(); }
};

CalendarMemo SplitCalendarMemo(const QString& memo);

struct MemoMove {
  int moved = 0;    // memos whose calendar part went to the kept events
  Problem problem;  // what stopped the move (it is done again at the next start)
};

// Moves the calendar part of every memo in the table at `appFolder` into the reminder's kept
// event, and leaves the memo its text, byte for byte; nothing else in the record changes. The kept
// events are written and flushed to the disk before any memo is rewritten, so a move cut short is
// done again whole the next time; a table with no calendar part left is not written at all.
MemoMove MoveCalendarMemos(xbase::Engine& engine, const QString& appFolder);

}  // namespace chimewise

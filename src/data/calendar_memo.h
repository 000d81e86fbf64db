#pragma once
// What a reminder taken from a calendar file keeps of it: the event's UID and, for a repeating
// event, its series (DTSTART, RRULE, EXDATE as iCalendar lines). The table has no field for
// either, so they go below the memo's own text, after a line "[iCalendar]":
//
//   Bring the insurance card.
//
//   [iCalendar]
//   UID:20270105-dentist@example.org
//   DTSTART:20270105T090000Z
//   RRULE:FREQ=WEEKLY;INTERVAL=2
//
// A memo without that part is all text.

#include <QString>
#include <QStringList>

namespace chimewise {

struct CalendarMemo {
  QString text;        // the memo as people read it
  QString uid;         // empty when the reminder did not come from a calendar
  QStringList series;  // the iCalendar lines of a series (or of an all-day date), in order
};

CalendarMemo SplitCalendarMemo(const QString& memo);
QString JoinCalendarMemo(const CalendarMemo& memo);

// The memo as people read it: without the calendar part.
inline QString MemoText(const QString& memo) { return SplitCalendarMemo(memo).text; }

}  // namespace chimewise

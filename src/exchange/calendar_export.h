#pragma once
// Reminders written out as an iCalendar file: one VEVENT per reminder, its alarm as a VALARM and
// the program's own fields as X-CHIMEWISE-... properties, so that reading the file back gives the
// same reminders.

#include "core/problem.h"
#include "data/kept_events.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace xbase {
class WorkArea;
}

namespace chimewise {

// The product id every exported calendar names.
inline constexpr char kCalendarProductId[] = "-//Olm Chimewise//Reminders//EN";

struct ExportResult {
  Problem problem;  // the table could not be read
  QString error;    // the calendar could not be composed
  int count = 0;
  QByteArray text;
};

// The reminders of `area` in the viewer's order (ALARM): only the current ones (as `list` shows
// them), or with `all` every one. Timed starts are written in the system time zone; DTSTAMP is
// `now`, so the same table at the same moment gives the same bytes. A reminder that belongs to a
// calendar event it keeps is written as that event with what changed here. Every reminder with an
// alarm still to be dealt with names it (X-CHIMEWISE-PENDING), so that reading the file back
// gives each one with its alarm, late ones included.
ExportResult ExportCalendar(xbase::WorkArea& area, bool all, const QDateTime& now);

// The current record of `area` alone, as a calendar of one VEVENT (a CalDAV resource); `kept`:
// what the reminder keeps of its calendar event, when the caller read it already.
ExportResult ExportReminder(xbase::WorkArea& area, const QDateTime& now);
ExportResult ExportReminder(xbase::WorkArea& area, const QDateTime& now, const std::optional<KeptEvent>& kept);

// What the current record of `area` keeps of its calendar event (data/kept_events.h).
std::optional<KeptEvent> KeptEventAt(xbase::WorkArea& area);

// The UID the current record of `area` is written with: the one it was read in with (kept with
// its event), else RecordUid of its identifier.
QString ReminderUid(xbase::WorkArea& area);

// The UID of a reminder that did not come from a calendar: its record identifier (REC_NO, whose
// bytes may lie outside ASCII) in hexadecimal.
QString RecordUid(const std::string& recordId);

}  // namespace chimewise

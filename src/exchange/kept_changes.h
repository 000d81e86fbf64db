#pragma once
// A reminder that belongs to a calendar event, measured against the event it keeps (see
// data/kept_events.h): what the user changed here, as changes to that event, so that the event
// written back (to the server, or to a file) is the other side's own with only those changes.

#include "data/kept_events.h"
#include "data/reminder_record.h"

#include <icalendar/resource_text.h>

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace chimewise {

// The reminder as a sync compares it: its record, with the alarm the user last set in place of
// the table's (announcing and snoozing move the table's alarm; neither is a change to the event).
ReminderRecord ComparedRecord(ReminderRecord record, const std::optional<KeptEvent>& kept);

// Whether calendar lines (KeptEvent::series) hold a repeat rule.
bool IsSeries(const QStringList& series);

// What changed from `base` (the reminder as it read in from its event, or as it was last put
// there) to `now` (a ComparedRecord), as changes to the event whose kept lines are `series`. The
// start moves only for an event that does not repeat; the alarm only when `alarmKnown` (the
// user's alarm, and the base's, are known). `stamp`: when the change is written.
icalendar::EventChanges ChangesSince(const ReminderRecord& base, const ReminderRecord& now, const QStringList& series,
                                     bool alarmKnown, const QDateTime& stamp);

// What the kept lines of a series (`series`) changed here from what `resource`'s event says, added
// to `changes`: a rule changed (with its start, when that changed too), occurrences taken out (an
// EXDATE each, those the event has already left as they are), the repeat cleared.
void AddSeriesChanges(const QByteArray& resource, const QStringList& series, const QDateTime& now,
                      icalendar::EventChanges* changes);

// The event of `resource` with the changes from `base` to `now` made (its series' changes too); the resource itself
// when nothing changed. Empty when the resource holds no event to change.
QByteArray PatchedResource(const QByteArray& resource, const ReminderRecord& base, const ReminderRecord& now,
                           const QStringList& series, bool alarmKnown, const QDateTime& stamp);

}  // namespace chimewise

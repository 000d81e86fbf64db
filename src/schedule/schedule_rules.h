#pragma once
// The rules of the Schedule Activity dialog that need no window: its lists, the countdown steps,
// the picker formats, how the activity follows the reminder, where the dialog goes on the screen,
// and the values an edit starts from.

#include "core/problem.h"
#include "core/window_placement.h"
#include "schedule/save_event.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>
#include <cstdint>
#include <optional>
#include <string>

namespace xbase {
class Engine;
}

namespace chimewise {

// The activity types, in list order; a new reminder starts at kInitialEventType ("Meeting").
const QStringList& EventTypes();
inline constexpr int kInitialEventType = 1;

// The reminder sounds; the position is the sound number (0 "None" plays nothing).
const QStringList& SoundNames();

// The countdown steps as the list shows them ("1 minute" ... "60 minutes").
const QStringList& CountdownSteps();

// The leading whole number of a countdown text ("15 minutes" is 15); 0 for an empty text or one
// that does not start with a digit.
int CountdownMinutes(const QString& text);

// The list position showing `minutes`; -1 when no step has that many (the list keeps no
// selection, and the reminder saves without a countdown unless the user picks one).
int CountdownPosition(int minutes);

// The countdown list after the "Countdown" box changes: checked enables it and selects the first
// step when none is selected; unchecked clears the selection and disables it.
struct CountdownList {
  bool enabled = false;
  int position = -1;
  bool operator==(const CountdownList&) const = default;
};
CountdownList CountdownAfterToggle(bool checked, int position);

// The display format of the time pickers: a 12-hour clock with its marker for the program's
// "h:mm am/pm" (exactly that text), a 24-hour clock for anything else.
QString PickerTimeFormat(const QString& timeFormat);
// The display format of the date pickers: the date form of the reminder texts.
QString PickerDateFormat();

// When the reminder date moves past the activity date, the activity moves along to it; moving it
// earlier leaves the activity alone. nullopt: the activity date stays.
std::optional<QDate> DraggedActivityDate(const QDate& remindDate, const QDate& activityDate);

// When the reminder time moves past the activity time on the activity's own day (or a later one),
// the activity time moves along to it. A reminder on an earlier day than its activity keeps the
// activity time: the evening before a morning meeting is a reminder, not a new meeting time.
std::optional<QTime> DraggedActivityTime(const QDate& remindDate, const QTime& remindTime, const QDate& activityDate,
                                         const QTime& activityTime);

// Whether an activity line says nothing (empty or only blanks): such a reminder is refused.
bool ActivityIsBlank(const QString& text);

// The date a date picker's typed text names. A text in the picker's full form ("MM/dd/yyyy")
// that names no day of the calendar ("02/31/2026") gives an invalid date, so the entry is refused
// and the text stays for correction; any other text gives `value`, the picker's own date.
QDate TypedPickerDate(const QString& text, const QDate& value);
// Whether a text has the picker's full form but names no day of the calendar.
bool NamesNoDay(const QString& text);

// A step of a time picker's hours or minutes, carried the way a clock carries: minutes roll into
// the hour (12:59 and one minute is 13:00) and hours into the day (23:59 and one minute is 0:00
// of the next day), backwards alike. Wall-clock arithmetic on the date and time the pickers show;
// the seconds stay.
enum class TimeStep { Minute, Hour };
struct PickerMoment {
  QDate date;
  QTime time;
  bool operator==(const PickerMoment&) const = default;
};
PickerMoment SteppedTime(const QDate& date, const QTime& time, TimeStep unit, int steps);

// What is typed in a time picker, taken when the picker is left or Enter is pressed: "+15" (that
// many minutes, 0 to 9999, from now), "T" (now) or any phrase of when (core/moment_words.h:
// "tomorrow at 9", "in 2 hours", "friday 5pm"). The wall date and time it names, to the minute;
// nullopt for what is not understood, for a repeat (a picker holds one moment) and for a moment
// already past.
std::optional<PickerMoment> TypedWhen(const QString& typed, const QDateTime& now, const QLocale& locale);

// Whether OK is to ask "This time has already passed. Remind you now?" first: the entry would
// otherwise be stored (its four moments valid, its activity line not blank) and its reminder lies
// in a minute before now's (the current minute is now, not past). The reminder table holds no
// repeating reminders, so no entry is exempt: a past moment always means the reminder is due at once.
bool AsksToRemindNow(const EventInput& in, const QDateTime& now);
// The entry as the answer Yes stores it: the reminder at now's minute, everything else as typed.
EventInput RemindingNow(EventInput in, const QDateTime& now);

// Where the dialog goes, in twips from the screen's top left corner. Beside an open viewer: at the
// viewer's top left, pulled up and left as far as needed to stay on the screen; without a viewer:
// centred. Never above or left of the screen's edge, even when the dialog is larger than it.
struct TwipsPoint {
  std::int32_t left = 0;
  std::int32_t top = 0;
  bool operator==(const TwipsPoint&) const = default;
};
TwipsPoint ScheduleOrigin(const std::optional<TwipsRect>& viewer, std::int32_t width, std::int32_t height,
                          std::int32_t screenWidth, std::int32_t screenHeight);

// The values an edit of record `recno` starts from, read from the reminder table: the reminder's
// moment from ALARMDATE and ALARMTIME, the activity's from EVENTDATE and STARTTIME (the display
// texts are never read back), the type, line, memo, sound, spoken options and countdown (with
// countdownOn when the countdown is one of the list's steps). A blank ALARMDATE or EVENTDATE gives
// an invalid date (the picker keeps its value). nullopt with *problem set when the table cannot be
// read or has no such record (a deleted one included). The reminder's identifier (REC_NO) goes to
// `recordId` when given. The table is opened under ONETIME and closed again.
std::optional<EventInput> ReadEditEntry(xbase::Engine& engine, const QString& appFolder, qint64 recno, Problem* problem,
                                        std::string* recordId = nullptr);

}  // namespace chimewise

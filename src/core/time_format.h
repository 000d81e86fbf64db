#pragma once
// Every time and date text the program keeps, and the arithmetic of wall-clock minutes.
//
// Texts and who reads them:
//  - a time of day in the user's time format pattern (FormatTime): display only, never read back;
//  - the display texts of a reminder record (ALARMTEXT, DATETEXT, TIMETEXT): FormatShortDate and
//    FormatDateTimeText, one fixed form whatever the locale, display only, never read back;
//  - a date and time stored in the settings (FormatDateText / ParseDateText);
//  - a time of day stored in the settings (ParseTimeText; written by the Options dialog).
//
// A time format pattern is the user's choice of "h:mm am/pm" or "h:mm" (any pattern of these
// pieces works): "h" the hour without a leading zero, "hh" with one, "mm" or "nn" the minutes,
// "ss" the seconds, "am/pm", "AM/PM", "a/p" or "A/P" a 12-hour clock with that marker; anything
// else is copied as it stands.
//
// Alarms and activities are stored as a date and a minute of the day: wall times. Where the
// clocks go forward, a wall time that does not exist that day is taken as the same wall time
// after the change (02:30 becomes 03:30). Where the clocks go back and a stretch of wall times
// happens twice, a date with a minute of the day (0-1439) means its first run; the second run is
// written as minutes past the end of the day before (ALARMTIME 1585 on 30 October is 02:25 of the
// second run on the 31st), a form the table has always allowed. Readers that know nothing of it
// see the same wall time, an hour early at worst.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

namespace chimewise {

// A moment as an optional: none for an invalid one.
inline std::optional<QDateTime> MomentOrNone(const QDateTime& moment) {
  return moment.isValid() ? std::optional<QDateTime>(moment) : std::nullopt;
}

// The day from which day numbers count: 30 December 1899 is day 0.
inline const QDate kDayZero{1899, 12, 30};

QString FormatTime(const QTime& time, const QString& pattern);

// "MM/dd/yyyy", the date form of the reminder display texts, the same in every locale.
QString FormatShortDate(const QDate& date);

// FormatShortDate, a blank, FormatTime: the form of ALARMTEXT and DATETEXT ("12/31/2026 12:59 pm").
QString FormatDateTimeText(const QDateTime& when, const QString& timePattern);

// Reads a stored date-and-time text. Accepts the form this program writes ("yyyy-MM-dd HH:mm:ss"),
// ISO dates with or without a time, "d-MMM-yyyy HH:mm" ("1-JAN-1980 00:01"), "M/d/yyyy" with an
// optional "h:mm[:ss] AM/PM" or 24-hour time, and a plain number, which counts days from
// 30 December 1899 (so "1" is 31 December 1899, a date long past). Anything else gives nullopt.
std::optional<QDateTime> ParseDateText(const QString& text);

// The form in which the program stores a date and time: "yyyy-MM-dd HH:mm:ss", local time.
QString FormatDateText(const QDateTime& when);

// Reads a stored time of day: "7:00:00 AM", "9:00 PM", "07:00", "21:00:00", "7 AM". Seconds are
// kept. Anything else gives nullopt.
std::optional<QTime> ParseTimeText(const QString& text);

// Minutes after midnight on the wall clock (0-1439): 00:40 is 40. This is what ALARMTIME and
// STARTTIME hold.
int MinuteOfDay(const QTime& time);
int MinuteOfDay(const QDateTime& when);

// Minute boundaries of real time crossed from `from` to `to`: negative when `to` lies in an
// earlier minute. Real time, so 01:30 to 03:00 on the night the clocks go forward is 30 minutes.
qint64 MinuteBoundaries(const QDateTime& from, const QDateTime& to);

// A date and a minute count that may run past the day's end, made into a moment on the right
// day: 1445 minutes on the 6th is 0:05 on the 7th. Alarms moved forward near midnight therefore
// roll over to the next day instead of sticking at 23:59. A wall time the clocks skip gives the
// same wall time after the change; a wall time that happens twice gives its first run, or its
// second when the minutes run past the day's end (see StoredWallTime).
QDateTime AlarmMoment(const QDate& date, int minutes);

// A date and a minute count to store for a moment.
struct StoredWall {
  QDate date;
  int minutes = 0;
};
// The date and minute count that AlarmMoment reads back as `moment`'s minute (seconds dropped): its
// wall date and minute of the day, except in the second run of a repeated stretch, which is
// written as minutes past the end of the day before.
StoredWall StoredWallTime(const QDateTime& moment);

// The moment a wall time typed at `now` means (seconds dropped). Where the wall time happens
// twice: its first run while that is still to come, otherwise its second run (to come, or gone by
// more recently). A time typed during the second run for a quarter of an hour ahead is a quarter
// of an hour ahead.
QDateTime TypedMoment(const QDate& date, const QTime& time, const QDateTime& now);

// True when AlarmMoment(date, minutes) names a wall time the clocks skip that day, so the moment
// it gives is later on the wall clock than the one asked for.
bool WallTimeSkipped(const QDate& date, int minutes);

// `moment` in whole minutes (seconds dropped): every minute can be stored (see StoredWallTime),
// so AlarmMoment of its StoredWallTime is the result.
QDateTime StorableMoment(const QDateTime& moment);

// A wall-clock reading, a date and a minute count (which may run past the day's end), as a
// QDateTime in UTC: readings then compare as the table's keys for them sort, whatever the clocks
// did. Only its date and time mean anything.
QDateTime WallReading(const QDate& date, int minutes);
// What the wall clock reads at `moment`, in the same form.
QDateTime WallReading(const QDateTime& moment);

// A bound for looking wall times up by key: every wall time whose moment (AlarmMoment) lies at or
// before `now` reads no later than this. It is now's own reading, except in the second run of a
// repeated stretch, where later wall times already had their first run: the bound then lies past
// the stretch's end, and a lookup keeps only what AlarmMoment puts at or before now.
QDateTime LatestWallReadingBy(const QDateTime& now);

}  // namespace chimewise

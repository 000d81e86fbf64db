#pragma once
// The display forms of times and dates that reminders keep as text.
//
// A time format pattern is the user's choice of "h:mm am/pm" or "h:mm" (any pattern of these
// pieces works): "h" the hour without a leading zero, "hh" with one, "mm" or "nn" the minutes,
// "ss" the seconds, "am/pm", "AM/PM", "a/p" or "A/P" a 12-hour clock with that marker; anything
// else is copied as it stands.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

namespace chimewise {

QString FormatTime(const QTime& time, const QString& pattern);

// Reads a time written with FormatTime and the same pattern (or any ordinary "h:mm[:ss] [am|pm]").
std::optional<QTime> ParseTime(const QString& text, const QString& pattern);

// The system's short date form, always with a four-digit year, so reading it back can never land
// in the wrong century.
QString ShortDateFormat();
QString FormatShortDate(const QDate& date);
std::optional<QDate> ParseShortDate(const QString& text);

// "short date" + " " + time in the pattern: the form of ALARMTEXT and DATETEXT.
QString FormatDateTimeText(const QDateTime& when, const QString& timePattern);
std::optional<QDateTime> ParseDateTimeText(const QString& text, const QString& timePattern);

// Minutes after midnight of a moment (0-1439).
int MinuteOfDay(const QDateTime& when);

// Minute boundaries crossed from `from` to `to`, counted on the wall clock: negative when `to`
// lies in an earlier minute.
qint64 MinuteBoundaries(const QDateTime& from, const QDateTime& to);

// A date and a minute count that may run past the day's end, made into a moment on the right
// day: 1445 minutes on the 6th is 0:05 on the 7th. Alarms moved forward near midnight therefore
// roll over to the next day instead of sticking at 23:59.
QDateTime AlarmMoment(const QDate& date, int minutes);

// The day from which day numbers count: 30 December 1899 is day 0.
inline const QDate kDayZero{1899, 12, 30};

}  // namespace chimewise

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

}  // namespace chimewise

#pragma once
// Dates and times kept as text in the settings store.

#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

namespace chimewise {

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

}  // namespace chimewise

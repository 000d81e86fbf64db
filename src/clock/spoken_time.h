#pragma once
// The talking clock's phrases and its schedule, as plain functions of a moment.

#include <QDate>
#include <QDateTime>
#include <QString>

namespace chimewise {

// The time in the user's time format ("3:05 pm" for "h:mm am/pm", "15:05" for "h:mm").
QString SpokenTime(const QDateTime& now, const QString& timeFormat);
// The full weekday name ("Friday"). Names are English: the character speaks English.
QString SpokenWeekday(const QDate& date);
// "December 4th, 2026": month name, day with its ordinal suffix, comma, year.
QString SpokenDate(const QDate& date);
// The ordinal suffix of a day of the month: 1st, 2nd, 3rd, 4th, 11th, 12th, 13th, 21st ...
QString OrdinalSuffix(int day);
// "Morning" before 12, "Afternoon" from 12 to 16, "Evening" from 17.
QString PartOfDayWord(int hour);

// Minutes between announcements for an interval index 0-6 (1, 5, 10, 15, 20, 30, 60).
int AnnouncementStep(int intervalIndex);

// The next announcement after now: the first whole multiple of the step past the hour that lies
// strictly after the current minute. An invalid result means the clock is off ("AnnounceOn" is
// exactly "0"). A damaged interval index counts as hourly, so the clock never speaks on every tick.
QDateTime NextAnnouncementTime(const QDateTime& now, const QString& announceOn, int intervalIndex);

}  // namespace chimewise

#pragma once
// When, as people say it: "tomorrow at 9", "in 20 minutes", "every Monday at 9:30". One reading
// for every place a moment is typed (the command-line tool, the dialog's time fields, Quick Add).
//
// What is understood (English, any letter case):
//  - now; "+N" (N minutes); in N minutes|hours|days|weeks, in an hour, in half an hour, in 1h30,
//    in 2 hours and 15 minutes: real time from now for minutes and hours, the same wall time N
//    calendar days on for days and weeks;
//  - a time: at 9, 9am, 9:30 pm, 21:30, 09:30, noon, midnight (the midnight that ends the day);
//  - a day: today, tonight (20:00), this morning|afternoon|evening (9:00, 14:00, 19:00),
//    tomorrow [morning|afternoon|evening|night], a weekday name or "next" and a weekday name (both
//    the first such day after today, never today itself: on a Wednesday "Monday" and "next Monday"
//    are the Monday five days on), in 3 days [at 10];
//  - a date: 24 Dec, Dec 24, 24th of December, 2026-12-24, 24 Dec 2027, and numbers in the
//    locale's order (24/12 where days come first, 12/24 where months come first, with or without
//    a year);
//  - a repeat: every day|weekday|weekend|week|month|year [at TIME], every other day, every 2 days,
//    every monday [and thursday], every hour, every 2 hours, every 30 minutes, every 2 hours from
//    9 to 5, daily, weekly, monthly, yearly, hourly. It gives an RFC 5545 RRULE value and its first
//    moment.
// How the gaps are filled, as a person means them:
//  - a time without a day: today while it is still to come, else tomorrow;
//  - a 12-hour time without am/pm and without a day: the next such time (at 20:00 "at 7" is 7:00
//    tomorrow morning, at 10:00 "at 9" is 21:00 today); with a day other than today, 7 to 11 are
//    morning, 12 noon and 1 to 6 afternoon ("tomorrow at 2" is 14:00); with today, the next of the
//    two still to come; with a part of the day ("this evening at 7"), that part's half;
//  - a day without a time: 9:00 (today: the next whole hour);
//  - a date without a year: the next such date whose moment is still to come (29 February: the
//    next leap year's).
// A moment before now's minute is refused as past. Every word must be understood: what is not is
// refused with the words that were not understood, and the caller saves nothing.

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace chimewise {

struct MomentReading {
  QDate date;  // the first moment as a wall date and time (whole minutes), as a reminder stores it
  QTime time;
  QDateTime moment;    // the same as a moment of real time
  QString repeat;      // RRULE value ("FREQ=WEEKLY;BYDAY=MO,TH"); empty: once
  QString repeatText;  // the repeat as it reads back ("every Monday and Thursday")
  // Why nothing can be made of the phrase ("not understood: \"soonish\""); empty when read.
  QString refusal;
  // The phrase was made of words this reading knows (so it was a time phrase), whether or not it
  // could be settled: a past moment or two days at once are refused all the same.
  bool known = false;
  bool ok() const { return refusal.isEmpty(); }
};

// Reads a whole phrase at `now` (seconds are dropped); `locale` decides the order of numeric dates.
MomentReading ReadMoment(const QString& phrase, const QDateTime& now, const QLocale& locale);

// A whole line with the time phrase at its end or its start ("Call mom tomorrow at 9",
// "in 2 minutes call mom"): the longest phrase at the end, else the longest at the start, and the
// rest as the activity (blanks and a dangling ",", "-" or ":" trimmed).
struct LineReading {
  QString activity;
  QString phrase;  // the words read as the time, as typed
  MomentReading moment;
};
LineReading ReadMomentLine(const QString& line, const QDateTime& now, const QLocale& locale);

// "Wednesday 9 December 2026, 9:00 am": the time in the program's time format pattern.
QString LongMomentText(const QDateTime& moment, const QString& timePattern);
// "Wed 9 Dec, 9:00 am".
QString ShortMomentText(const QDateTime& moment, const QString& timePattern);
// How the character says when: "in 5 minutes" (within the hour), "today at 3:30 pm", "tomorrow at
// 9 am", "on Friday at 9 am" (within the week), "on 24 December at noon", "on 3 January 2028 at 9 am".
QString SpokenMoment(const QDateTime& moment, const QDateTime& now);

}  // namespace chimewise

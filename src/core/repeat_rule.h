#pragma once
// A reminder's repeat rule: the value of an iCalendar RRULE ("FREQ=WEEKLY;BYDAY=MO,TH"), read into
// its parts, written back as text, and said in plain words.
//
// Understood parts: FREQ (MINUTELY to YEARLY), INTERVAL, BYDAY (with ordinals such as 2MO or -1FR
// in monthly and yearly rules), BYMONTHDAY (1 to 31, or -1 to -31 counted from the month's end),
// BYMONTH, BYSETPOS, BYHOUR, BYMINUTE, COUNT, UNTIL (a date, a local date and time, or a UTC one
// ending in Z) and WKST. A rule with any other part, a value out of range, a part twice, or both
// COUNT and UNTIL is refused, and the message names the part ("FREQ=FORTNIGHTLY: ..."): the
// occurrences of a rule only half understood cannot be promised. Reading a rule and writing it back
// gives the same parts; the text may differ in order and in an INTERVAL=1 left out.
//
// The summary is the one way the program says a rule in words ("every weekday at 9:30 am",
// "on the last Friday of every month, 10 times"); a rule it cannot say simply is "repeats (custom
// rule)". Times are written in the user's time format pattern (see core/time_format.h).

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>
#include <vector>

namespace chimewise {

enum class RepeatFrequency { Minutely, Hourly, Daily, Weekly, Monthly, Yearly };

// One BYDAY entry: a weekday (1 Monday to 7 Sunday, as Qt counts) and, in monthly and yearly
// rules, which of them in the month or year (2: the second, -1: the last; 0: every one).
struct RepeatWeekday {
  int ordinal = 0;
  int weekday = 1;
  friend bool operator==(const RepeatWeekday&, const RepeatWeekday&) = default;
};

struct RepeatRule {
  RepeatFrequency frequency = RepeatFrequency::Daily;
  int interval = 1;
  std::vector<RepeatWeekday> byDay;
  std::vector<int> byMonthDay;  // 1..31, -31..-1
  std::vector<int> byMonth;     // 1..12
  std::vector<int> bySetPos;    // 1..366, -366..-1
  std::vector<int> byHour;      // 0..23
  std::vector<int> byMinute;    // 0..59
  int count = 0;                // 0: no COUNT
  // UNTIL: invalid untilDate means none. Without untilTime the rule ends after that date; with one
  // it ends at that wall time, or at that UTC moment when untilUtc.
  QDate untilDate;
  std::optional<QTime> untilTime;
  bool untilUtc = false;
  int weekStart = 0;  // WKST as 1 Monday .. 7 Sunday; 0: not given (Monday)
  friend bool operator==(const RepeatRule&, const RepeatRule&) = default;
};

struct RepeatRuleRead {
  std::optional<RepeatRule> rule;
  QString error;  // names the part that was not understood when rule is none
};

// Reads an RRULE value; an "RRULE:" in front is allowed. Case of names and values does not matter.
RepeatRuleRead ReadRepeatRule(const QString& text);

// The RRULE value (without "RRULE:") of `rule`.
QString RepeatRuleText(const RepeatRule& rule);

// What the summary knows besides the rule.
struct RepeatWords {
  QString timePattern = QStringLiteral("h:mm am/pm");  // the user's time format
  // The series' first occurrence, in the zone it repeats in: gives the time of day, the weekday of
  // a weekly rule without BYDAY, the day of a monthly or yearly one. Invalid: not known (the words
  // then leave out what only the start would tell).
  QDateTime start;
};

inline const QString kCustomRepeatSummary = QStringLiteral("repeats (custom rule)");

// The rule in plain words, or kCustomRepeatSummary.
QString RepeatSummary(const RepeatRule& rule, const RepeatWords& words = {});
// The same for an RRULE value; a value that cannot be read is a custom rule too.
QString RepeatSummary(const QString& rruleText, const RepeatWords& words = {});

// English names, used by the summary and the controls that make rules.
QString RepeatWeekdayName(int weekday);      // 1 Monday .. 7 Sunday
QString RepeatOrdinalWord(int ordinal);      // 1 "1st", 2 "2nd", ..., -1 "last"; "" otherwise
QString RepeatDateWords(const QDate& date);  // "31 March 2027"

}  // namespace chimewise

#pragma once
// The Schedule Activity dialog's Repeat control as plain values: a choice (never, every day, every
// weekday, every week on some days, every month on a day or a numbered weekday, every year, or
// every N minutes to years with an optional window of hours) and an end (never, on a date, after N
// times), to and from the RRULE value a reminder keeps (see core/repeat_rule.h).
//
// A rule is counted from the activity's moment (DTSTART), so a choice names no time of day: "every
// day" is every day at the activity's time, "every month on day N" the activity's day of the month.

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace chimewise {

enum class RepeatKind { Never, Daily, Weekdays, Weekly, MonthlyDay, MonthlyWeekday, Yearly, Custom };
enum class RepeatUnit { Minutes, Hours, Days, Weeks, Months, Years };
enum class RepeatEnd { Never, OnDate, AfterCount };

struct RepeatChoice {
  RepeatKind kind = RepeatKind::Never;
  QList<int> weekdays;  // Weekly: 1 Monday .. 7 Sunday (none: the activity's weekday)
  // MonthlyWeekday on a 4th weekday that is also the month's last: the last one each month (a rule
  // read with -1) rather than the 4th.
  bool lastWeekday = false;
  int every = 1;  // Custom: every N units
  RepeatUnit unit = RepeatUnit::Days;
  // Custom minutes or hours: only from `windowFrom` to `windowTo` (whole hours) each day.
  bool window = false;
  int windowFrom = 9;  // hour 0-23
  int windowTo = 17;   // hour 1-24, after windowFrom
  RepeatEnd end = RepeatEnd::Never;
  QDate endDate;      // OnDate: the last day an occurrence may fall on (local time)
  int endCount = 10;  // AfterCount
  friend bool operator==(const RepeatChoice&, const RepeatChoice&) = default;
};

// The RRULE value of a choice for a series starting at `start` (local time); empty for Never.
QString RepeatRuleOf(const RepeatChoice& choice, const QDateTime& start);

// The choice that makes `rule` for a series starting at `start`; none when the control cannot show
// it (the dialog then shows it as a custom rule and keeps it as it is).
std::optional<RepeatChoice> ChoiceOfRule(const QString& rule, const QDateTime& start);

// The numbered weekday of a date in its month: 1-4 from the start, -1 when it is the fifth ("the
// last Friday"), and -1 too for a 4th that is the last when `last`.
int WeekdayOrdinal(const QDate& date, bool last = false);

// The RRULE value of kept series lines (data/kept_events.h); empty when there is none.
QString RepeatRuleLine(const QStringList& series);

}  // namespace chimewise

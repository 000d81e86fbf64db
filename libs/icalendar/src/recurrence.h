#pragma once
// The wall times of a repeat rule, period by period, as RFC 5545 section 3.3.10 sets them out.
//
// libical 3.0's iterator gets several rules wrong (an HOURLY rule with INTERVAL and BYHOUR steps
// every hour; BYSETPOS of a DAILY or WEEKLY rule is ignored; BYMINUTE lists of a DAILY rule lose
// their order; icalrecur_iterator_set_start loses the place within a period), so timed series step
// here: each period of the rule (a year, month, week, day, hour or minute, INTERVAL apart from
// DTSTART's) gives its days (the BY parts of dates expand or limit them), each day its times, and
// BYSETPOS picks among them. A rule without COUNT can start near a moment: a period's wall times
// depend only on the period and the rule, never on the ones before it.
//
// Wall times only: the caller turns them into moments (and applies UNTIL to those moments).

#include <QDate>
#include <QTime>

#include <optional>
#include <vector>

namespace icalendar::backend {

struct RuleParts {
  enum Freq { Secondly, Minutely, Hourly, Daily, Weekly, Monthly, Yearly };
  Freq freq = Daily;
  int interval = 1;
  int count = 0;      // 0: none
  int weekStart = 1;  // 1 Monday .. 7 Sunday
  struct Day {
    int ordinal = 0;  // 0: every such weekday
    int weekday = 1;  // 1 Monday .. 7 Sunday
  };
  std::vector<Day> byDay;
  std::vector<int> byMonthDay, byYearDay, byMonth, bySetPos, byHour, byMinute, bySecond;
};

class WallSteps {
 public:
  WallSteps(const RuleParts& rule, const QDate& startDate, const QTime& startTime);
  // Starts at the period before the one holding `from` (rules without COUNT only).
  void startNear(const QDate& fromDate, const QTime& fromTime);
  // The next wall time, none when COUNT has run out or no date can come any more (the year 9999).
  // Each period looked at adds one to *steps; after 64 periods in a row with nothing, a pair with
  // an invalid date says "nothing yet", so that the caller can check its bounds and ask again.
  std::optional<std::pair<QDate, QTime>> next(int* steps);

 private:
  bool dayPasses(const QDate& d) const;
  std::vector<std::pair<QDate, QTime>> period();
  void advance();

  RuleParts m_r;
  QDate m_startDate;
  QTime m_startTime;
  // The period: its first day (a year's 1 January, a month's 1st, a week's first day, the day) and,
  // within the day, the minute of the day and the second (Hourly, Minutely, Secondly).
  QDate m_day;
  qint64 m_within = 0;  // seconds after midnight of m_day (within-day frequencies)
  std::vector<std::pair<QDate, QTime>> m_pending;
  size_t m_next = 0;
  int m_given = 0;
};

}  // namespace icalendar::backend

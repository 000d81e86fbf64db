#include "recurrence.h"

#include <algorithm>
#include <set>

namespace icalendar::backend {

namespace {

bool has(const std::vector<int>& list, int v) { return std::find(list.begin(), list.end(), v) != list.end(); }

std::vector<int> sortedUnique(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

qint64 unitSeconds(RuleParts::Freq f) { return f == RuleParts::Secondly ? 1 : f == RuleParts::Minutely ? 60 : 3600; }

}  // namespace

WallSteps::WallSteps(const RuleParts& rule, const QDate& startDate, const QTime& startTime)
    : m_r(rule), m_startDate(startDate), m_startTime(startTime) {
  // What the rule leaves unsaid comes from DTSTART.
  if (m_r.byDay.empty() && m_r.byMonthDay.empty() && m_r.byYearDay.empty()) {
    if (m_r.freq == RuleParts::Yearly) {
      if (m_r.byMonth.empty()) m_r.byMonth = {startDate.month()};
      m_r.byMonthDay = {startDate.day()};
    } else if (m_r.freq == RuleParts::Monthly) {
      m_r.byMonthDay = {startDate.day()};
    } else if (m_r.freq == RuleParts::Weekly) {
      m_r.byDay = {{0, startDate.dayOfWeek()}};
    }
  }
  if (m_r.freq >= RuleParts::Daily && m_r.byHour.empty()) m_r.byHour = {startTime.hour()};
  if (m_r.freq >= RuleParts::Hourly && m_r.byMinute.empty()) m_r.byMinute = {startTime.minute()};
  if (m_r.freq >= RuleParts::Minutely && m_r.bySecond.empty()) m_r.bySecond = {startTime.second()};
  m_r.byHour = sortedUnique(m_r.byHour);
  m_r.byMinute = sortedUnique(m_r.byMinute);
  m_r.bySecond = sortedUnique(m_r.bySecond);
  m_r.interval = std::max(1, m_r.interval);
  switch (m_r.freq) {
    case RuleParts::Yearly: m_day = QDate(startDate.year(), 1, 1); break;
    case RuleParts::Monthly: m_day = QDate(startDate.year(), startDate.month(), 1); break;
    case RuleParts::Weekly: m_day = startDate.addDays(-((startDate.dayOfWeek() - m_r.weekStart + 7) % 7)); break;
    case RuleParts::Daily: m_day = startDate; break;
    default:
      m_day = startDate;
      m_within = startTime.msecsSinceStartOfDay() / 1000;
      m_within -= m_within % unitSeconds(m_r.freq);
      break;
  }
}

void WallSteps::startNear(const QDate& fromDate, const QTime& fromTime) {
  if (m_r.count > 0) return;
  const qint64 n = m_r.interval;
  switch (m_r.freq) {
    case RuleParts::Yearly: {
      const qint64 k = (fromDate.year() - m_day.year()) / n - 1;
      if (k > 0) m_day = m_day.addYears(int(k * n));
      break;
    }
    case RuleParts::Monthly: {
      const qint64 k = ((fromDate.year() - m_day.year()) * 12 + fromDate.month() - m_day.month()) / n - 1;
      if (k > 0) m_day = m_day.addMonths(int(k * n));
      break;
    }
    case RuleParts::Weekly:
    case RuleParts::Daily: {
      const qint64 span = m_r.freq == RuleParts::Weekly ? 7 * n : n;
      const qint64 k = m_day.daysTo(fromDate) / span - 1;
      if (k > 0) m_day = m_day.addDays(k * span);
      break;
    }
    default: {
      const qint64 step = n * unitSeconds(m_r.freq);
      const qint64 k = (m_day.daysTo(fromDate) * 86400 + fromTime.msecsSinceStartOfDay() / 1000 - m_within) / step - 1;
      if (k > 0) {
        m_within += k * step;
        m_day = m_day.addDays(m_within / 86400);
        m_within %= 86400;
      }
      break;
    }
  }
  m_pending.clear();
  m_next = 0;
}

bool WallSteps::dayPasses(const QDate& d) const {
  if (!m_r.byMonth.empty() && !has(m_r.byMonth, d.month())) return false;
  if (!m_r.byYearDay.empty() && !has(m_r.byYearDay, d.dayOfYear()) &&
      !has(m_r.byYearDay, d.dayOfYear() - d.daysInYear() - 1))
    return false;
  if (!m_r.byMonthDay.empty() && !has(m_r.byMonthDay, d.day()) && !has(m_r.byMonthDay, d.day() - d.daysInMonth() - 1))
    return false;
  if (m_r.byDay.empty()) return true;
  // A numbered weekday counts within the month, or within the year for a yearly rule without
  // BYMONTH.
  const bool inYear = m_r.freq == RuleParts::Yearly && m_r.byMonth.empty();
  const int index = inYear ? d.dayOfYear() : d.day();
  const int length = inYear ? d.daysInYear() : d.daysInMonth();
  for (const RuleParts::Day& w : m_r.byDay) {
    if (w.weekday != d.dayOfWeek()) continue;
    if (w.ordinal == 0) return true;
    if (w.ordinal > 0 ? (index - 1) / 7 + 1 == w.ordinal : (length - index) / 7 + 1 == -w.ordinal) return true;
  }
  return false;
}

std::vector<std::pair<QDate, QTime>> WallSteps::period() {
  std::vector<std::pair<QDate, QTime>> combos;
  if (m_r.freq >= RuleParts::Daily) {
    const int length = m_r.freq == RuleParts::Yearly    ? m_day.daysInYear()
                       : m_r.freq == RuleParts::Monthly ? m_day.daysInMonth()
                       : m_r.freq == RuleParts::Weekly  ? 7
                                                        : 1;
    for (int i = 0; i < length; ++i) {
      const QDate d = m_day.addDays(i);
      if (!dayPasses(d)) continue;
      for (const int h : m_r.byHour)
        for (const int m : m_r.byMinute)
          for (const int s : m_r.bySecond)
            if (s < 60) combos.emplace_back(d, QTime(h, m, s));
    }
  } else {
    const int h = int(m_within / 3600), m = int(m_within / 60 % 60), s = int(m_within % 60);
    if (!dayPasses(m_day) || (!m_r.byHour.empty() && !has(m_r.byHour, h)) ||
        (m_r.freq <= RuleParts::Minutely && !m_r.byMinute.empty() && !has(m_r.byMinute, m)) ||
        (m_r.freq == RuleParts::Secondly && !m_r.bySecond.empty() && !has(m_r.bySecond, s)))
      return combos;
    if (m_r.freq == RuleParts::Hourly) {
      for (const int mm : m_r.byMinute)
        for (const int ss : m_r.bySecond)
          if (ss < 60) combos.emplace_back(m_day, QTime(h, mm, ss));
    } else if (m_r.freq == RuleParts::Minutely) {
      for (const int ss : m_r.bySecond)
        if (ss < 60) combos.emplace_back(m_day, QTime(h, m, ss));
    } else {
      combos.emplace_back(m_day, QTime(h, m, s));
    }
  }
  if (!m_r.bySetPos.empty()) {
    std::set<size_t> picked;
    const qint64 n = qint64(combos.size());
    for (const int pos : m_r.bySetPos) {
      const qint64 i = pos > 0 ? pos - 1 : n + pos;
      if (i >= 0 && i < n) picked.insert(size_t(i));
    }
    std::vector<std::pair<QDate, QTime>> kept;
    for (const size_t i : picked) kept.push_back(combos[i]);
    combos = std::move(kept);
  }
  return combos;
}

void WallSteps::advance() {
  const int n = m_r.interval;
  switch (m_r.freq) {
    case RuleParts::Yearly: m_day = m_day.addYears(n); return;
    case RuleParts::Monthly: m_day = m_day.addMonths(n); return;
    case RuleParts::Weekly: m_day = m_day.addDays(7LL * n); return;
    case RuleParts::Daily: m_day = m_day.addDays(n); return;
    default: break;
  }
  const qint64 step = n * unitSeconds(m_r.freq);
  // A day the date parts leave out, an hour BYHOUR leaves out, a minute BYMINUTE leaves out: on
  // to the first step of the next day, hour or minute, in the rule's own phase.
  qint64 to = m_within + step;
  const int h = int(m_within / 3600), m = int(m_within / 60 % 60);
  if (!dayPasses(m_day))
    to = 86400;
  else if (!m_r.byHour.empty() && !has(m_r.byHour, h))
    to = (h + 1) * 3600;
  else if (m_r.freq == RuleParts::Secondly && !m_r.byMinute.empty() && !has(m_r.byMinute, m))
    to = (m_within / 60 + 1) * 60;
  const qint64 k = std::max<qint64>(1, (to - m_within + step - 1) / step);
  m_within += k * step;
  m_day = m_day.addDays(m_within / 86400);
  m_within %= 86400;
}

std::optional<std::pair<QDate, QTime>> WallSteps::next(int* steps) {
  for (;;) {
    if (m_r.count > 0 && m_given >= m_r.count) return std::nullopt;
    while (m_next < m_pending.size()) {
      const auto c = m_pending[m_next++];
      if (c.first < m_startDate || (c.first == m_startDate && c.second < m_startTime)) continue;
      ++m_given;
      return c;
    }
    if (!m_day.isValid() || m_day.year() > 9999) return std::nullopt;
    ++*steps;
    m_pending = period();
    m_next = 0;
    advance();
    if (!m_pending.empty() || *steps % 64 != 0) continue;
    return std::pair<QDate, QTime>(QDate(), QTime());  // none yet: lets the caller check its bounds
  }
}

}  // namespace icalendar::backend

#include "schedule/repeat_choice.h"

#include "core/repeat_rule.h"

#include <QTimeZone>

#include <algorithm>

namespace chimewise {

namespace {

const QList<int> kWorkWeek{1, 2, 3, 4, 5};

QList<int> plainDays(const RepeatRule& r, bool* numbered) {
  QList<int> days;
  for (const RepeatWeekday& d : r.byDay) {
    if (d.ordinal) *numbered = true;
    if (!days.contains(d.weekday)) days << d.weekday;
  }
  std::sort(days.begin(), days.end());
  return days;
}

}  // namespace

int WeekdayOrdinal(const QDate& date, bool last) {
  const int n = (date.day() - 1) / 7 + 1;
  return n == 5 || (last && date.day() + 7 > date.daysInMonth()) ? -1 : n;
}

QString RepeatRuleOf(const RepeatChoice& c, const QDateTime& start) {
  RepeatRule r;
  switch (c.kind) {
    case RepeatKind::Never: return {};
    case RepeatKind::Daily: r.frequency = RepeatFrequency::Daily; break;
    case RepeatKind::Weekdays:
      r.frequency = RepeatFrequency::Weekly;
      for (const int d : kWorkWeek) r.byDay.push_back({0, d});
      break;
    case RepeatKind::Weekly: {
      r.frequency = RepeatFrequency::Weekly;
      QList<int> days = c.weekdays;
      std::sort(days.begin(), days.end());
      days.erase(std::unique(days.begin(), days.end()), days.end());
      for (const int d : days)
        if (d >= 1 && d <= 7) r.byDay.push_back({0, d});
      break;
    }
    case RepeatKind::MonthlyDay: r.frequency = RepeatFrequency::Monthly; break;
    case RepeatKind::MonthlyWeekday:
      r.frequency = RepeatFrequency::Monthly;
      r.byDay.push_back({WeekdayOrdinal(start.date(), c.lastWeekday), start.date().dayOfWeek()});
      break;
    case RepeatKind::Yearly: r.frequency = RepeatFrequency::Yearly; break;
    case RepeatKind::Custom: {
      const RepeatFrequency units[] = {RepeatFrequency::Minutely, RepeatFrequency::Hourly,  RepeatFrequency::Daily,
                                       RepeatFrequency::Weekly,   RepeatFrequency::Monthly, RepeatFrequency::Yearly};
      r.frequency = units[static_cast<int>(c.unit)];
      r.interval = std::max(1, c.every);
      const bool withinDay = c.unit == RepeatUnit::Minutes || c.unit == RepeatUnit::Hours;
      if (withinDay && c.window && c.windowTo > c.windowFrom) {
        // Minutes run up to the window's end; hours come at the activity's minute of each hour
        // from the first to the last.
        const int last = c.unit == RepeatUnit::Minutes ? c.windowTo - 1 : std::min(c.windowTo, 23);
        for (int h = std::max(0, c.windowFrom); h <= last; ++h) r.byHour.push_back(h);
      }
      break;
    }
  }
  if (c.end == RepeatEnd::AfterCount) r.count = std::max(1, c.endCount);
  if (c.end == RepeatEnd::OnDate && c.endDate.isValid()) {
    // To the end of that day where the reminder is, as a UTC moment (what a series with a zone
    // must give).
    const QDateTime last = QDateTime(c.endDate, QTime(23, 59, 59)).toUTC();
    r.untilDate = last.date();
    r.untilTime = last.time();
    r.untilUtc = true;
  }
  return RepeatRuleText(r);
}

std::optional<RepeatChoice> ChoiceOfRule(const QString& text, const QDateTime& start) {
  const RepeatRuleRead read = ReadRepeatRule(text);
  if (!read.rule) return std::nullopt;
  const RepeatRule& r = *read.rule;
  RepeatChoice c;
  if (r.count) {
    c.end = RepeatEnd::AfterCount;
    c.endCount = r.count;
  } else if (r.untilDate.isValid()) {
    c.end = RepeatEnd::OnDate;
    c.endDate = r.untilTime && r.untilUtc ? QDateTime(r.untilDate, *r.untilTime, QTimeZone::utc()).toLocalTime().date()
                                          : r.untilDate;
  }
  bool numbered = false;
  const QList<int> days = plainDays(r, &numbered);
  const auto custom = [&](RepeatUnit unit) {
    c.kind = RepeatKind::Custom;
    c.unit = unit;
    c.every = r.interval;
  };
  switch (r.frequency) {
    case RepeatFrequency::Minutely:
    case RepeatFrequency::Hourly: {
      const bool minutes = r.frequency == RepeatFrequency::Minutely;
      custom(minutes ? RepeatUnit::Minutes : RepeatUnit::Hours);
      if (!r.byHour.empty()) {
        c.window = true;
        c.windowFrom = *std::min_element(r.byHour.begin(), r.byHour.end());
        c.windowTo = *std::max_element(r.byHour.begin(), r.byHour.end()) + (minutes ? 1 : 0);
      }
      break;
    }
    case RepeatFrequency::Daily:
    case RepeatFrequency::Weekly:
      if (r.interval == 1 && days == kWorkWeek) {
        c.kind = RepeatKind::Weekdays;
      } else if (r.frequency == RepeatFrequency::Daily) {
        if (r.interval == 1)
          c.kind = RepeatKind::Daily;
        else
          custom(RepeatUnit::Days);
      } else if (r.interval == 1) {
        c.kind = RepeatKind::Weekly;
        c.weekdays = days;
      } else {
        custom(RepeatUnit::Weeks);
      }
      break;
    case RepeatFrequency::Monthly:
      if (r.interval > 1)
        custom(RepeatUnit::Months);
      else
        c.kind = numbered || !r.bySetPos.empty() ? RepeatKind::MonthlyWeekday : RepeatKind::MonthlyDay;
      c.lastWeekday = c.kind == RepeatKind::MonthlyWeekday && WeekdayOrdinal(start.date()) == 4 &&
                      RepeatSummary(r, {}).startsWith(QLatin1String("on the last"));
      break;
    case RepeatFrequency::Yearly:
      if (r.interval > 1)
        custom(RepeatUnit::Years);
      else
        c.kind = RepeatKind::Yearly;
      break;
  }
  // The choice shows the rule when both say the same in words (the words leave out no part that
  // changes the occurrences, or they say "custom").
  const RepeatWords words{QStringLiteral("HH:mm"), start};
  const QString said = RepeatSummary(r, words);
  if (said == kCustomRepeatSummary || RepeatSummary(RepeatRuleOf(c, start), words) != said) return std::nullopt;
  return c;
}

QString RepeatRuleLine(const QStringList& series) {
  for (const QString& line : series) {
    if (!line.startsWith(QLatin1String("RRULE"), Qt::CaseInsensitive)) continue;
    const qsizetype colon = line.indexOf(u':');
    if (colon == 5 || (colon > 5 && line.at(5) == u';')) return line.mid(colon + 1).trimmed();
  }
  return {};
}

}  // namespace chimewise

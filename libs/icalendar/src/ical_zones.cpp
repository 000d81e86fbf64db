// Time-zone names and VTIMEZONE bounds for the reader.

#include "ical_zones.h"

namespace icalendar::backend {

namespace {

int Listed(const short* values, int size) {
  int n = 0;
  while (n < size && values[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
  return n;
}

}  // namespace

QString UnboundedZoneRules(icalcomponent* vtimezone) {
  constexpr int kMaxParts = 1000;
  constexpr int kMaxDates = 2000;
  constexpr int kMaxPerYear = 366;
  int parts = 0;
  int dates = 0;
  for (icalcomponent* part = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); part;
       part = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
    if (++parts > kMaxParts) return QStringLiteral("more than %1 STANDARD and DAYLIGHT parts").arg(kMaxParts);
    for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(part, ICAL_RDATE_PROPERTY))
      if (++dates > kMaxDates) return QStringLiteral("more than %1 RDATE changes").arg(kMaxDates);
    for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(part, ICAL_RRULE_PROPERTY)) {
      const icalrecurrencetype r = icalproperty_get_rrule(p);
      const QString rule = QString::fromUtf8(icalproperty_get_value_as_string(p));
      if (r.freq != ICAL_YEARLY_RECURRENCE)
        return QStringLiteral("a change rule that is not yearly (RRULE:%1)").arg(rule);
      if (Listed(r.by_second, ICAL_BY_SECOND_SIZE) || Listed(r.by_minute, ICAL_BY_MINUTE_SIZE) ||
          Listed(r.by_hour, ICAL_BY_HOUR_SIZE))
        return QStringLiteral("a change rule by the hour or minute (RRULE:%1)").arg(rule);
      qint64 perYear = 1;
      for (const int n : {Listed(r.by_month, ICAL_BY_MONTH_SIZE), Listed(r.by_month_day, ICAL_BY_MONTHDAY_SIZE),
                          Listed(r.by_year_day, ICAL_BY_YEARDAY_SIZE), Listed(r.by_week_no, ICAL_BY_WEEKNO_SIZE),
                          Listed(r.by_day, ICAL_BY_DAY_SIZE)})
        perYear *= std::max(n, 1);
      if (perYear > kMaxPerYear)
        return QStringLiteral("a change rule with too many changes a year (RRULE:%1)").arg(rule);
    }
  }
  return {};
}

}  // namespace icalendar::backend

// Time-zone names and VTIMEZONE bounds for the reader.

#include "ical_zones.h"

#include "icalendar/icalendar.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTimeZone>

namespace icalendar::backend {

namespace {

// Whether the system's zone data has this id. Qt lists only the zones of zone1970.tab as
// available, and takes anything else that looks like a POSIX TZ string ("Eastern", "IST") for a
// valid zone at UTC: an id that is not listed counts when its tzfile is there.
bool SystemKnows(const QString& id) {
  static const QRegularExpression kShape(QStringLiteral("^[A-Za-z][A-Za-z0-9_+\\-]*(/[A-Za-z0-9_+\\-]+)*$"));
  if (id.isEmpty() || id.size() > 100 || !kShape.match(id).hasMatch()) return false;
  if (QTimeZone::isTimeZoneIdAvailable(id.toUtf8())) return true;
  const QByteArray dir = qgetenv("TZDIR");
  QFile file((dir.isEmpty() ? QStringLiteral("/usr/share/zoneinfo") : QString::fromLocal8Bit(dir)) + u'/' + id);
  return file.open(QIODevice::ReadOnly) && file.read(4) == "TZif" && QTimeZone(id.toUtf8()).isValid();
}

// Names some programs write for a zone with one meaning that is overwhelmingly likely. Names
// with several ("IST": India, Ireland, Israel) are not guessed at.
QString CommonName(const QString& name) {
  static const QHash<QString, QString> kNames = {
      {"eastern", "America/New_York"},
      {"eastern time", "America/New_York"},
      {"us/eastern", "America/New_York"},
      {"central", "America/Chicago"},
      {"central time", "America/Chicago"},
      {"us/central", "America/Chicago"},
      {"mountain", "America/Denver"},
      {"mountain time", "America/Denver"},
      {"us/mountain", "America/Denver"},
      {"pacific", "America/Los_Angeles"},
      {"pacific time", "America/Los_Angeles"},
      {"us/pacific", "America/Los_Angeles"},
      {"gmt", "UTC"},
      {"utc", "UTC"},
      {"z", "UTC"},
      {"zulu", "UTC"},
  };
  return kNames.value(name.trimmed().toLower());
}

int Listed(const short* values, int size) {
  int n = 0;
  while (n < size && values[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
  return n;
}

}  // namespace

QString KnownZoneName(const QString& tzid) {
  QString name = tzid.trimmed();
  if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"')) name = name.mid(1, name.size() - 2);
  if (SystemKnows(name)) return name;
  // A globally unique name ("/vendor/version/Region/City") ends with the IANA id.
  if (name.startsWith(u'/'))
    for (qsizetype at = name.indexOf(u'/', 1); at > 0; at = name.indexOf(u'/', at + 1))
      if (SystemKnows(name.mid(at + 1))) return name.mid(at + 1);
  const QString windows = IanaFromWindows(name);
  if (windows != name && SystemKnows(windows)) return windows;
  const QString common = CommonName(name);
  if (!common.isEmpty() && SystemKnows(common)) return common;
  return {};
}

bool IsUtcZone(const QString& iana) {
  static const QStringList kUtc = {"UTC",      "Etc/UTC", "Etc/UCT",   "UCT",       "Etc/Universal", "Universal",
                                   "Etc/Zulu", "Zulu",    "GMT",       "Etc/GMT",   "GMT0",          "Etc/GMT0",
                                   "GMT+0",    "GMT-0",   "Etc/GMT+0", "Etc/GMT-0", "Greenwich",     "Etc/Greenwich"};
  return kUtc.contains(iana);
}

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

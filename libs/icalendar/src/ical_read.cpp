// Reading a calendar: every VEVENT and VTODO, its moments resolved to UTC (see the header for how
// a TZID is read), its repetition advanced to the first occurrence still to come.

#include "backend.h"
#include "ical_shape.h"
#include "ical_util.h"
#include "ical_zones.h"
#include "recurrence.h"

#include <algorithm>
#include <map>
#include <optional>

namespace icalendar::backend {

namespace {

// How far an alarm or a length may reach from its occurrence: anything further is a mistake (or
// an attack on the arithmetic) and is left aside.
constexpr qint64 kMaxReach = 10LL * 366 * 86400;

// How a property's wall times are read.
struct Zone {
  enum Kind { Floating, Utc, Iana, Embedded };
  Kind kind = Floating;
  QTimeZone tz;                      // Iana
  icaltimezone* embedded = nullptr;  // Embedded: the file's own VTIMEZONE, bounded
  QString id;                        // Iana: the IANA id; Embedded: the TZID as written
};

struct Moment {
  bool allDay = false;
  QDate date;
  QDateTime utc;  // timed
  QString zone;   // IANA id, when known
};

// A wall time without a zone.
struct Wall {
  QDate date;
  QTime time;
};

Wall WallOfIcal(const icaltimetype& t) { return {DateOf(t), QTime(t.hour, t.minute, t.second)}; }

icaltimetype IcalWall(const Wall& w) {
  icaltimetype t = icaltime_null_time();
  t.year = w.date.year();
  t.month = w.date.month();
  t.day = w.date.day();
  t.hour = w.time.hour();
  t.minute = w.time.minute();
  t.second = w.time.second();
  return t;
}

QString WallText(const Wall& w) {
  return QDateTime(w.date, w.time, QTimeZone::utc()).toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
}

// The moment a wall time names in a zone with changes of the clocks: a wall time shown once is
// that moment; one shown twice (the clocks went back) is its first run, so that a rule stepping by
// the wall clock never gives the repeated hour twice; one the clocks skip is the first moment after
// the gap, the change itself (several occurrences in one gap are then one moment). The offsets a
// day before and a day after bracket any change near the wall time.
QDateTime WallMoment(const QTimeZone& tz, const Wall& w) {
  const qint64 naive = QDateTime(w.date, w.time, QTimeZone::utc()).toSecsSinceEpoch();
  const auto offsetAt = [&](qint64 secs) {
    return tz.offsetFromUtc(QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()));
  };
  const int before = offsetAt(naive - 86400), after = offsetAt(naive + 86400);
  std::optional<qint64> first;
  for (const int offset : {before, after}) {
    const qint64 candidate = naive - offset;
    const QDateTime there = QDateTime::fromSecsSinceEpoch(candidate, QTimeZone::utc()).toTimeZone(tz);
    if (there.date() == w.date && there.time() == w.time && (!first || candidate < *first)) first = candidate;
  }
  if (first) return QDateTime::fromSecsSinceEpoch(*first, QTimeZone::utc());
  // Skipped: the change lies between the two readings.
  const QTimeZone::OffsetData change =
      tz.nextTransition(QDateTime::fromSecsSinceEpoch(naive - std::max(before, after) - 1, QTimeZone::utc()));
  if (change.atUtc.isValid()) return change.atUtc.toUTC();
  return QDateTime::fromSecsSinceEpoch(naive - before, QTimeZone::utc());
}

QDateTime ToUtc(const Zone& zone, const Wall& w) {
  switch (zone.kind) {
    case Zone::Utc: return QDateTime(w.date, w.time, QTimeZone::utc());
    case Zone::Iana: return WallMoment(zone.tz, w);
    case Zone::Embedded: {
      const time_t secs = icaltime_as_timet_with_zone(IcalWall(w), zone.embedded);
      return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(secs), QTimeZone::utc());
    }
    case Zone::Floating: break;
  }
  return WallMoment(QTimeZone::systemTimeZone(), w);
}

Wall WallIn(const Zone& zone, const QDateTime& moment) {
  QDateTime there;
  switch (zone.kind) {
    case Zone::Utc: there = moment.toUTC(); break;
    case Zone::Iana: there = moment.toTimeZone(zone.tz); break;
    case Zone::Embedded: {
      icaltimetype t = IcalUtc(moment);
      icaltimezone_convert_time(&t, icaltimezone_get_utc_timezone(), zone.embedded);
      return WallOfIcal(t);
    }
    case Zone::Floating: there = moment.toTimeZone(QTimeZone::systemTimeZone()); break;
  }
  return {there.date(), there.time()};
}

// Seconds a UTC offset of the zone at `moment` lies east of UTC.
int OffsetAt(const Zone& zone, const QDateTime& moment) {
  const Wall w = WallIn(zone, moment);
  return static_cast<int>(moment.secsTo(QDateTime(w.date, w.time, QTimeZone::utc())));
}

// An iCalendar duration in seconds, without overflow; nullopt when it reaches further than
// kMaxReach.
std::optional<qint64> Seconds(const icaldurationtype& d) {
  const qint64 days = 7LL * d.weeks + d.days;
  if (days > kMaxReach / 86400) return std::nullopt;
  const qint64 s = days * 86400 + 3600LL * d.hours + 60LL * d.minutes + d.seconds;
  if (s > kMaxReach) return std::nullopt;
  return d.is_neg ? -s : s;
}

// Resolves each TZID of one calendar once (see the header for the order).
class ZoneResolver {
 public:
  explicit ZoneResolver(icalcomponent* calendar) : m_calendar(calendar) {}

  // The zone of a timed value; nullopt (and *why) when its TZID cannot be resolved.
  std::optional<Zone> zoneOf(const icaltimetype& t, icalproperty* prop, QString* why) {
    Zone z;
    if (icaltime_is_utc(t)) {
      z.kind = Zone::Utc;
      return z;
    }
    icalparameter* param = prop ? icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER) : nullptr;
    const char* tzid = param ? icalparameter_get_tzid(param) : nullptr;
    if (!tzid) return z;  // floating: the reader's own wall time
    const QString name = Utf8(tzid);
    auto found = m_zones.find(name);
    if (found == m_zones.end()) found = m_zones.emplace(name, lookUp(name, tzid)).first;
    if (!found->second.first) *why = found->second.second;
    return found->second.first;
  }

  std::optional<Moment> resolve(const icaltimetype& t, icalproperty* prop, QString* why) {
    Moment m;
    if (t.is_date) {
      m.allDay = true;
      m.date = DateOf(t);
      return m;
    }
    const std::optional<Zone> zone = zoneOf(t, prop, why);
    if (!zone) return std::nullopt;
    m.utc = ToUtc(*zone, WallOfIcal(t));
    if (!m.utc.isValid()) {
      *why = QStringLiteral("a date-time out of range");
      return std::nullopt;
    }
    m.zone = zone->kind == Zone::Iana       ? zone->id
             : zone->kind == Zone::Floating ? QString::fromUtf8(QTimeZone::systemTimeZoneId())
                                            : QString();
    return m;
  }

 private:
  std::pair<std::optional<Zone>, QString> lookUp(const QString& name, const char* tzid) {
    Zone z;
    const QString iana = KnownZoneName(name);
    if (!iana.isEmpty()) {
      z.kind = IsUtcZone(iana) ? Zone::Utc : Zone::Iana;
      z.tz = QTimeZone(iana.toUtf8());
      z.id = iana;
      return {z, QString()};
    }
    if (icaltimezone* own = icalcomponent_get_timezone(m_calendar, tzid)) {
      const QString unbounded = UnboundedZoneRules(icaltimezone_get_component(own));
      if (!unbounded.isEmpty())
        return {std::nullopt, QStringLiteral("the time zone \"%1\" has %2").arg(name, unbounded)};
      z.kind = Zone::Embedded;
      z.embedded = own;
      z.id = name;
      return {z, QString()};
    }
    return {std::nullopt, QStringLiteral("unknown time zone \"%1\"").arg(name)};
  }

  icalcomponent* m_calendar;
  std::map<QString, std::pair<std::optional<Zone>, QString>> m_zones;
};

// The UTC moment an all-day date begins at, for alarms relative to it.
QDateTime Midnight(const QDate& d) { return QDateTime(d, QTime(0, 0), QTimeZone::systemTimeZone()).toUTC(); }

QDate Today(const QDateTime& now) { return now.toTimeZone(QTimeZone::systemTimeZone()).date(); }

bool Before(const Moment& m, const QDateTime& now) { return m.allDay ? m.date < Today(now) : m.utc < now; }

bool Same(const Moment& a, const Moment& b) {
  return a.allDay == b.allDay && (a.allDay ? a.date == b.date : a.utc == b.utc);
}

QString PropertyText(icalproperty* p) { return p ? Utf8(icalproperty_get_value_as_string(p)) : QString(); }

int PercentComplete(icalcomponent* c) {
  icalproperty* p = icalcomponent_get_first_property(c, ICAL_PERCENTCOMPLETE_PROPERTY);
  return p ? icalproperty_get_percentcomplete(p) : 0;
}

int Listed(const short* values, int size) {
  int n = 0;
  while (n < size && values[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
  return n;
}

// Why libical's iterator could step without end between two occurrences of this rule (a rule
// every second or minute that only some days of the year let through); empty when it cannot.
QString EndlessSteps(const icalrecurrencetype& r) {
  if (r.freq != ICAL_SECONDLY_RECURRENCE && r.freq != ICAL_MINUTELY_RECURRENCE && r.freq != ICAL_HOURLY_RECURRENCE)
    return {};
  const bool byDate = Listed(r.by_month, ICAL_BY_MONTH_SIZE) || Listed(r.by_month_day, ICAL_BY_MONTHDAY_SIZE) ||
                      Listed(r.by_year_day, ICAL_BY_YEARDAY_SIZE) || Listed(r.by_week_no, ICAL_BY_WEEKNO_SIZE) ||
                      Listed(r.by_set_pos, ICAL_BY_SETPOS_SIZE);
  const bool secondly = r.freq == ICAL_SECONDLY_RECURRENCE &&
                        (Listed(r.by_hour, ICAL_BY_HOUR_SIZE) || Listed(r.by_day, ICAL_BY_DAY_SIZE));
  return byDate || secondly ? QStringLiteral("a rule repeating within the hour or day that only some days let through")
                            : QString();
}

// RFC 5545 lets BYMONTHDAY of a yearly rule without BYMONTH name those days of every month;
// libical takes them in DTSTART's month only. Naming every month says the same to both.
void LetYearlyDaysOfMonthRunEveryMonth(icalrecurrencetype* r) {
  if (r->freq != ICAL_YEARLY_RECURRENCE || !Listed(r->by_month_day, ICAL_BY_MONTHDAY_SIZE) ||
      Listed(r->by_month, ICAL_BY_MONTH_SIZE) || Listed(r->by_year_day, ICAL_BY_YEARDAY_SIZE) ||
      Listed(r->by_week_no, ICAL_BY_WEEKNO_SIZE))
    return;
  for (int i = 0; i < Listed(r->by_day, ICAL_BY_DAY_SIZE); ++i)
    if (icalrecurrencetype_day_position(r->by_day[i]) != 0) return;  // numbered within the year
  for (int m = 0; m < 12; ++m) r->by_month[m] = static_cast<short>(m + 1);
  r->by_month[12] = ICAL_RECURRENCE_ARRAY_MAX;
}

// The rule as WallSteps reads it; none for what it does not (BYWEEKNO, a numbered weekday in a
// rule neither monthly nor yearly).
std::optional<RuleParts> PartsOf(const icalrecurrencetype& r) {
  if (Listed(r.by_week_no, ICAL_BY_WEEKNO_SIZE) || r.freq == ICAL_NO_RECURRENCE) return std::nullopt;
  RuleParts p;
  p.freq = static_cast<RuleParts::Freq>(static_cast<int>(r.freq) - static_cast<int>(ICAL_SECONDLY_RECURRENCE));
  p.interval = r.interval;
  p.count = r.count;
  const auto qtDay = [](icalrecurrencetype_weekday w) {
    return w == ICAL_SUNDAY_WEEKDAY ? 7 : static_cast<int>(w) - 1;
  };
  p.weekStart = r.week_start == ICAL_NO_WEEKDAY ? 1 : qtDay(r.week_start);
  for (int i = 0; i < Listed(r.by_day, ICAL_BY_DAY_SIZE); ++i) {
    const int ordinal = icalrecurrencetype_day_position(r.by_day[i]);
    if (ordinal != 0 && p.freq != RuleParts::Monthly && p.freq != RuleParts::Yearly) return std::nullopt;
    p.byDay.push_back({ordinal, qtDay(icalrecurrencetype_day_day_of_week(r.by_day[i]))});
  }
  const auto list = [](const short* values, int size) {
    std::vector<int> out;
    for (int i = 0; i < Listed(values, size); ++i) out.push_back(values[i]);
    return out;
  };
  p.byMonthDay = list(r.by_month_day, ICAL_BY_MONTHDAY_SIZE);
  p.byYearDay = list(r.by_year_day, ICAL_BY_YEARDAY_SIZE);
  p.byMonth = list(r.by_month, ICAL_BY_MONTH_SIZE);
  p.bySetPos = list(r.by_set_pos, ICAL_BY_SETPOS_SIZE);
  p.byHour = list(r.by_hour, ICAL_BY_HOUR_SIZE);
  p.byMinute = list(r.by_minute, ICAL_BY_MINUTE_SIZE);
  p.bySecond = list(r.by_second, ICAL_BY_SECOND_SIZE);
  return p;
}

class ComponentReader {
 public:
  ComponentReader(icalcomponent* calendar, const ReadOptions& options, bool cancelMethod, int* fileSteps)
      : m_zones(calendar), m_options(options), m_cancelMethod(cancelMethod), m_fileSteps(fileSteps) {}

  ReadEvent read(icalcomponent* c) {
    ReadEvent e;
    const bool todo = icalcomponent_isa(c) == ICAL_VTODO_COMPONENT;
    e.kind = todo ? QStringLiteral("VTODO") : QStringLiteral("VEVENT");
    e.uid = Utf8(icalcomponent_get_uid(c));
    e.summary = Utf8(icalcomponent_get_summary(c));
    e.description = Utf8(icalcomponent_get_description(c));
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_CATEGORIES_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_CATEGORIES_PROPERTY))
      for (const QString& one : Utf8(icalproperty_get_categories(p)).split(u',', Qt::SkipEmptyParts))
        e.categories << one.trimmed();
    for (const icalproperty_kind kind : {ICAL_LASTMODIFIED_PROPERTY, ICAL_DTSTAMP_PROPERTY}) {
      icalproperty* p = icalcomponent_get_first_property(c, kind);
      if (!p) continue;
      const icaltimetype t =
          kind == ICAL_LASTMODIFIED_PROPERTY ? icalproperty_get_lastmodified(p) : icalproperty_get_dtstamp(p);
      if (icaltime_is_null_time(t) || icaltime_is_date(t)) continue;
      e.modified = WallOf(t, QTimeZone::utc());
      if (e.modified.isValid()) break;
    }
    e.cancelled = m_cancelMethod || icalcomponent_get_status(c) == ICAL_STATUS_CANCELLED;
    // One occurrence of a series, changed or cancelled on its own (RECURRENCE-ID). Its series
    // leaves that occurrence out (see noteOccurrence); a cancelled one takes nothing else away,
    // and a changed one is a reminder of its own, apart from its series.
    icalproperty* occurrenceProp = icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY);
    if (occurrenceProp) {
      if (e.cancelled || icalcomponent_get_status(c) == ICAL_STATUS_COMPLETED) {
        e.cancelled = false;
        e.refused = QStringLiteral("a cancelled occurrence of a series (RECURRENCE-ID): the series itself stays");
        return e;
      }
      QString why;
      const std::optional<Moment> original =
          m_zones.resolve(icalproperty_get_recurrenceid(occurrenceProp), occurrenceProp, &why);
      if (!original) {
        e.refused = QStringLiteral("RECURRENCE-ID: ") + why;
        return e;
      }
      e.uid += QStringLiteral("/") + (original->allDay ? DateText(original->date) : UtcText(original->utc));
    }
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
      const QString name = Utf8(icalproperty_get_x_name(p));
      if (!name.startsWith(QStringLiteral("X-LIC-"))) e.extras.emplace_back(name, Utf8(icalproperty_get_x(p)));
    }
    // A property libical could not read is dropped from the component with a note in its place:
    // a rule that was dropped must not leave a single occurrence that was never meant. An end
    // that cannot be read only leaves the occurrences without a length.
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY)) {
      const QString note = Utf8(icalproperty_get_xlicerror(p));
      for (const char* name : {" RRULE ", " EXDATE ", " RDATE ", " DTSTART ", " DUE "})
        if (note.contains(QLatin1String(name))) {
          e.refused =
              QLatin1String(name) == QLatin1String(" RRULE ")
                  ? QStringLiteral("invalid repeat rule (%1)").arg(note.simplified())
                  : QStringLiteral("cannot read its%1property (%2)").arg(QLatin1String(name), note.simplified());
          return e;
        }
      for (const char* name : {" DTEND ", " DURATION "})
        if (note.contains(QLatin1String(name)))
          e.notes << QStringLiteral("its%1cannot be read (%2): it is taken to have no length")
                         .arg(QLatin1String(name), note.simplified());
    }
    e.done = todo && (icalcomponent_get_status(c) == ICAL_STATUS_COMPLETED ||
                      icalcomponent_get_first_property(c, ICAL_COMPLETED_PROPERTY) || PercentComplete(c) >= 100);
    if (e.cancelled || e.done) return e;  // a cancellation needs no moments

    icalproperty* startProp = icalcomponent_get_first_property(c, todo ? ICAL_DUE_PROPERTY : ICAL_DTSTART_PROPERTY);
    if (!startProp) {
      e.refused = todo ? QStringLiteral("a to-do without a due date") : QStringLiteral("an event without a start");
      return e;
    }
    const icaltimetype startTime = todo ? icalproperty_get_due(startProp) : icalproperty_get_dtstart(startProp);
    if (icaltime_is_null_time(startTime)) {
      e.refused = QStringLiteral("cannot read its start");
      return e;
    }
    const std::optional<Moment> first = m_zones.resolve(startTime, startProp, &e.refused);
    if (!first) return e;
    e.timeZone = first->zone;
    e.length = lengthOf(c, todo, *first, &e.notes);

    std::optional<Moment> chosen;
    // A changed occurrence is that one occurrence, whatever rule it carries.
    icalproperty* rruleProp = occurrenceProp ? nullptr : icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY);
    icalproperty* rdateProp = occurrenceProp ? nullptr : icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY);
    if (!rruleProp && !rdateProp) {
      chosen = first;
      e.past = Before(*first, m_options.now);
    } else {
      chosen = nextOccurrence(c, rruleProp, startTime, startProp, *first, &e);
      if (!e.refused.isEmpty()) return e;
      if (!chosen) {
        e.past = true;
        chosen = first;
      }
    }
    e.allDay = chosen->allDay;
    e.date = chosen->date;
    e.start = chosen->utc;

    const QDateTime from = e.allDay ? Midnight(e.date) : e.start;
    const QDateTime to = from.addSecs(e.length);
    bool textTaken = false;
    for (icalcomponent* a = icalcomponent_get_first_component(c, ICAL_VALARM_COMPONENT); a;
         a = icalcomponent_get_next_component(c, ICAL_VALARM_COMPONENT)) {
      const std::optional<QDateTime> at = alarmMoment(a, from, to, &e.notes);
      if (!at || !at->isValid()) continue;
      e.alarms.push_back(*at);
      if (!textTaken) {
        e.alarmText = Utf8(icalcomponent_get_description(a));
        textTaken = true;
      }
    }
    std::sort(e.alarms.begin(), e.alarms.end());
    return e;
  }

  // Notes an occurrence changed or cancelled on its own (a component with RECURRENCE-ID), so that
  // its series leaves it out. Called for every component before any is read.
  void noteOccurrence(icalcomponent* c) {
    icalproperty* p = icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY);
    if (!p) return;
    QString why;
    if (const std::optional<Moment> m = m_zones.resolve(icalproperty_get_recurrenceid(p), p, &why))
      m_changedOccurrences[Utf8(icalcomponent_get_uid(c))].push_back(*m);
  }

 private:
  // How long each occurrence lasts, in seconds; 0 (with a note) when its end cannot be read.
  qint64 lengthOf(icalcomponent* c, bool todo, const Moment& first, QStringList* notes) {
    if (todo) return 0;
    if (icalproperty* endProp = icalcomponent_get_first_property(c, ICAL_DTEND_PROPERTY)) {
      QString why;
      const std::optional<Moment> end = m_zones.resolve(icalproperty_get_dtend(endProp), endProp, &why);
      if (!end || end->allDay != first.allDay) {
        *notes << QStringLiteral("its end (DTEND) cannot be read (%1): it is taken to have no length")
                      .arg(end ? QStringLiteral("a date against a date-time") : why);
        return 0;
      }
      const qint64 length = first.allDay ? first.date.daysTo(end->date) * 86400LL : first.utc.secsTo(end->utc);
      if (length >= 0 && length <= kMaxReach) return length;
      *notes << QStringLiteral(
          "its end (DTEND) lies before its start or more than ten years after it: it is taken "
          "to have no length");
      return 0;
    }
    if (icalproperty* d = icalcomponent_get_first_property(c, ICAL_DURATION_PROPERTY)) {
      const std::optional<qint64> length = Seconds(icalproperty_get_duration(d));
      if (length && *length >= 0) return *length;
      *notes << QStringLiteral("its DURATION is negative or longer than ten years: it is taken to have no length");
      return 0;
    }
    return first.allDay ? 86400 : 0;
  }

  // The trigger of one VALARM against an occurrence's start and end; nullopt without a trigger or
  // with one out of reach (noted).
  static std::optional<QDateTime> alarmMoment(icalcomponent* alarm, const QDateTime& start, const QDateTime& end,
                                              QStringList* notes) {
    icalproperty* prop = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
    if (!prop) return std::nullopt;
    const icaltriggertype trigger = icalproperty_get_trigger(prop);
    const auto outOfReach = [&]() {
      *notes << QStringLiteral("an alarm more than ten years from its occurrence (TRIGGER:%1) is left aside")
                    .arg(PropertyText(prop));
      return std::nullopt;
    };
    if (!icaltime_is_null_time(trigger.time)) {
      // RFC 5545 wants an absolute trigger in UTC; a floating one is taken as UTC too.
      const icaltimetype t = trigger.time;
      const QDateTime at(DateOf(t), QTime(t.hour, t.minute, t.second), QTimeZone::utc());
      if (!at.isValid() || std::abs(at.secsTo(start)) > kMaxReach) return outOfReach();
      return at;
    }
    const std::optional<qint64> offset = Seconds(trigger.duration);
    if (!offset) return outOfReach();
    icalparameter* related = icalproperty_get_first_parameter(prop, ICAL_RELATED_PARAMETER);
    const bool fromEnd = related && icalparameter_get_related(related) == ICAL_RELATED_END;
    return (fromEnd ? end : start).addSecs(*offset);
  }

  // A series' DTSTART, EXDATE or RDATE line in the series' zone (see ReadEvent::series); a zone
  // of the file's own (`ownZone`: its VTIMEZONE goes with the series) by its TZID as written.
  static QString SeriesLine(const QString& name, const Zone& zone, const Moment& m, const Wall* wall, bool ownZone) {
    if (m.allDay) return name + QStringLiteral(";VALUE=DATE:") + DateText(m.date);
    switch (zone.kind) {
      case Zone::Iana: return name + QStringLiteral(";TZID=") + zone.id + u':' + WallText(WallIn(zone, m.utc));
      case Zone::Floating: return name + u':' + WallText(wall ? *wall : WallIn(zone, m.utc));
      case Zone::Embedded:
        if (ownZone)
          return name + QStringLiteral(";TZID=") + ZoneParameter(zone.id) + u':' + WallText(WallIn(zone, m.utc));
        break;
      case Zone::Utc: break;
    }
    return name + QStringLiteral(";VALUE=DATE-TIME:") + UtcText(m.utc);
  }

  // A TZID parameter's value, quoted when it holds a character only a quoted one may hold.
  static QString ZoneParameter(const QString& id) {
    return id.contains(u':') || id.contains(u';') || id.contains(u',') ? u'"' + id + u'"' : id;
  }

  // The VTIMEZONE of a zone of the file's own as unfolded content lines, to go with a series in
  // that zone; empty when it is larger than a series is to carry (the series is then in UTC).
  static QStringList ZoneLines(const Zone& zone) {
    constexpr qsizetype kMaxZoneText = 32 * 1024;
    if (zone.kind != Zone::Embedded || !zone.embedded || zone.id.contains(u'"')) return {};
    const QString text = TakeUtf8(icalcomponent_as_ical_string_r(icaltimezone_get_component(zone.embedded)));
    if (text.size() > kMaxZoneText) return {};
    QStringList lines;
    for (const QString& raw : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
      if ((raw.startsWith(u' ') || raw.startsWith(u'\t')) && !lines.isEmpty())
        lines.last() += raw.mid(1);  // a folded line goes on
      else
        lines << raw;
    }
    return lines;
  }

  // Every RDATE of the component, resolved; nullopt (with e->refused) when one cannot be.
  std::optional<std::vector<std::pair<Moment, std::optional<Wall>>>> rdates(icalcomponent* c, ReadEvent* e) {
    std::vector<std::pair<Moment, std::optional<Wall>>> out;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
      if (static_cast<int>(out.size()) >= m_options.maxOccurrences) {
        e->refused = QStringLiteral("more than %1 RDATEs").arg(m_options.maxOccurrences);
        return std::nullopt;
      }
      const icaldatetimeperiodtype value = icalproperty_get_rdate(p);
      const icaltimetype t = icaltime_is_null_time(value.time) ? value.period.start : value.time;
      QString why;
      const std::optional<Moment> m = m_zones.resolve(t, p, &why);
      if (!m) {
        e->refused = QStringLiteral("RDATE: ") + why;
        return std::nullopt;
      }
      std::optional<Wall> wall;
      if (!t.is_date) wall = WallOfIcal(t);
      out.emplace_back(*m, wall);
    }
    return out;
  }

  // The first occurrence not excluded and not before now; nullopt when every one is past. Fills
  // e->series with the series' lines, or e->refused.
  std::optional<Moment> nextOccurrence(icalcomponent* c, icalproperty* rruleProp, const icaltimetype& startTime,
                                       icalproperty* startProp, const Moment& first, ReadEvent* e) {
    icalrecurrencetype rule{};
    QString ruleText;
    const auto refuse = [&](const QString& why) {
      e->refused = QStringLiteral("invalid repeat rule RRULE:%1 (%2)").arg(PropertyText(rruleProp), why);
      return std::nullopt;
    };
    if (rruleProp) {
      rule = icalproperty_get_rrule(rruleProp);
      ruleText = TakeUtf8(icalrecurrencetype_as_string_r(&rule));
      if (rule.freq == ICAL_NO_RECURRENCE) return refuse(QStringLiteral("no frequency"));
      if (rule.count > 0 && !icaltime_is_null_time(rule.until))
        return refuse(QStringLiteral("COUNT and UNTIL together"));
      if (rule.interval < 1) return refuse(QStringLiteral("an interval below 1"));
      if (icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) return refuse(QStringLiteral("more than one RRULE"));
      if (const QString endless = EndlessSteps(rule); !endless.isEmpty()) return refuse(endless);
      LetYearlyDaysOfMonthRunEveryMonth(&rule);
    }
    QString why;
    Zone zone;
    if (!first.allDay) zone = *m_zones.zoneOf(startTime, startProp, &why);  // resolved once already
    const std::optional<Wall> startWall = first.allDay ? std::nullopt : std::optional<Wall>(WallOfIcal(startTime));

    // Excluded occurrences, as UTC moments or dates.
    std::vector<std::pair<Moment, std::optional<Wall>>> excluded;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
      const icaltimetype t = icalproperty_get_exdate(p);
      const std::optional<Moment> x = m_zones.resolve(t, p, &why);
      if (!x) {
        e->refused = QStringLiteral("EXDATE: ") + why;
        return std::nullopt;
      }
      excluded.emplace_back(*x, t.is_date ? std::nullopt : std::optional<Wall>(WallOfIcal(t)));
    }
    // The occurrences changed or cancelled on their own in the same calendar.
    if (const auto own = m_changedOccurrences.find(e->uid); own != m_changedOccurrences.end())
      for (const Moment& x : own->second)
        if (std::none_of(excluded.begin(), excluded.end(), [&](const auto& y) { return Same(x, y.first); }))
          excluded.emplace_back(x, std::nullopt);
    const auto added = rdates(c, e);
    if (!added) return std::nullopt;

    // A floating wall time stays as written; one in another zone is the system's wall time. A
    // zone of the file's own goes with the series, so that it moves on by that zone's rules.
    const QStringList zoneLines = first.allDay ? QStringList() : ZoneLines(zone);
    const bool own = !zoneLines.isEmpty();
    e->series << SeriesLine(QStringLiteral("DTSTART"), zone, first, startWall ? &*startWall : nullptr, own);
    if (rruleProp) e->series << QStringLiteral("RRULE:") + ruleText;
    for (const auto& [x, w] : excluded)
      e->series << SeriesLine(QStringLiteral("EXDATE"), zone, x,
                              w && zone.kind == Zone::Floating && !x.allDay ? &*w : nullptr, own);
    for (const auto& [r, w] : *added)
      e->series << SeriesLine(QStringLiteral("RDATE"), zone, r,
                              w && zone.kind == Zone::Floating && !r.allDay ? &*w : nullptr, own);
    e->series << zoneLines;

    // libical compares UNTIL with the floating wall times it steps through as if both were UTC:
    // a series in any other zone would end hours early or late. The end is kept here instead, as a
    // moment that an occurrence's moment must not pass.
    std::optional<QDateTime> until;
    if (!first.allDay && !icaltime_is_null_time(rule.until)) {
      const icaltimetype u = rule.until;
      if (u.is_date)
        until = ToUtc(zone, Wall{DateOf(u), QTime(23, 59, 59)});
      else
        until = icaltime_is_utc(u) ? QDateTime(DateOf(u), QTime(u.hour, u.minute, u.second), QTimeZone::utc())
                                   : ToUtc(zone, WallOfIcal(u));
      rule.until = icaltime_null_time();
    }

    const auto isExcluded = [&](const Moment& m) {
      return std::any_of(excluded.begin(), excluded.end(), [&](const auto& x) { return Same(m, x.first); });
    };
    std::optional<Moment> found;
    // DTSTART is the first occurrence, and each RDATE one more.
    if (!Before(first, m_options.now) && !isExcluded(first) && !(until && first.utc > *until)) found = first;
    for (const auto& [r, wall] : *added) {
      if (Before(r, m_options.now) || isExcluded(r)) continue;
      if (!found || (r.allDay ? r.date < found->date : r.utc < found->utc)) found = r;
    }
    if (!rruleProp) {
      if (found) found->zone = first.zone;
      return found;
    }

    icaltimetype wallStart = startTime;
    wallStart.zone = nullptr;
    // A rule without COUNT starts near now, however long ago the series began: at the wall time
    // of now in the series' zone, less the most the clocks went back in the last day (an
    // occurrence at a wall time read again after such a change is still to come).
    const bool startNearNow = rule.count == 0 && Before(first, m_options.now);
    icaltimetype from = wallStart;
    if (startNearNow) {
      if (first.allDay) {
        from = IcalDate(Today(m_options.now).addDays(-1));
      } else {
        const int back =
            std::max(0, OffsetAt(zone, m_options.now.addSecs(-86400)) - OffsetAt(zone, m_options.now)) + 60;
        from = IcalWall(WallIn(zone, m_options.now.addSecs(-back)));
      }
    }
    const qint64 unit = rule.freq == ICAL_SECONDLY_RECURRENCE   ? 1
                        : rule.freq == ICAL_MINUTELY_RECURRENCE ? 60
                        : rule.freq == ICAL_HOURLY_RECURRENCE   ? 3600
                                                                : 0;
    const bool moveStart = startNearNow && icaltime_compare(from, wallStart) > 0;
    // A timed series steps by the program's own reading of the rule (see recurrence.h); libical's
    // iterator is left with what that does not read (BYWEEKNO) and all-day series.
    std::optional<WallSteps> walls;
    if (const std::optional<RuleParts> parts = first.allDay ? std::nullopt : PartsOf(rule)) {
      walls.emplace(*parts, DateOf(wallStart), QTime(wallStart.hour, wallStart.minute, wallStart.second));
      if (moveStart) walls->startNear(DateOf(from), QTime(from.hour, from.minute, from.second));
    }
    if (!walls && moveStart && unit > 0 && !first.allDay) {
      // libical's icalrecur_iterator_set_start loses the phase of a rule within the day with an
      // interval (every 7 minutes from 00:03 comes out at 00:00, 00:07...): such a rule starts
      // instead from the last of its walls steps before `from`, its wall times counted as libical
      // counts them. That start is before now, whether or not the rule's BY parts let it through.
      const QDateTime a(DateOf(wallStart), QTime(wallStart.hour, wallStart.minute, wallStart.second), QTimeZone::utc());
      const QDateTime b(DateOf(from), QTime(from.hour, from.minute, from.second), QTimeZone::utc());
      const qint64 step = unit * rule.interval;
      const qint64 k = a.secsTo(b) / step - 1;
      if (k > 0) wallStart = IcalWall(WallOfIcal(IcalUtc(a.addSecs(k * step))));
    }
    icalrecur_iterator* it = walls ? nullptr : icalrecur_iterator_new(rule, wallStart);
    if (!walls && !it) return refuse(QString::fromUtf8(icalerror_strerror(icalerrno)));
    if (it && moveStart && (unit == 0 || first.allDay) && !icalrecur_iterator_set_start(it, from)) {
      icalrecur_iterator_free(it);
      return refuse(QStringLiteral("its occurrences cannot be followed from now"));
    }
    int steps = 0;
    bool overBound = false;
    for (;;) {
      if (steps >= m_options.maxOccurrences || *m_fileSteps >= m_options.maxFileSteps) {
        overBound = true;
        break;
      }
      icaltimetype next;
      if (walls) {
        int periods = 0;
        const auto wall = walls->next(&periods);
        steps += std::max(1, periods);
        *m_fileSteps += std::max(1, periods);
        if (!wall) break;
        if (!wall->first.isValid()) continue;
        next = IcalWall(Wall{wall->first, wall->second});
      } else {
        ++steps;
        ++*m_fileSteps;
        next = icalrecur_iterator_next(it);
      }
      if (icaltime_is_null_time(next)) break;
      Moment m;
      if (next.is_date) {
        m.allDay = true;
        m.date = DateOf(next);
      } else {
        m.utc = ToUtc(zone, WallOfIcal(next));
        if (!m.utc.isValid() || (until && m.utc > *until)) break;
      }
      if (found && (m.allDay ? m.date >= found->date : m.utc >= found->utc)) break;
      if (isExcluded(m) || Before(m, m_options.now)) continue;
      found = m;
      break;
    }
    if (it) icalrecur_iterator_free(it);
    if (overBound && !found) {
      e->series.clear();
      e->refused = *m_fileSteps >= m_options.maxFileSteps
                       ? QStringLiteral("the calendar's repeating events take more than %1 steps to follow")
                             .arg(m_options.maxFileSteps)
                       : QStringLiteral("its repeat rule RRULE:%1 takes more than %2 steps to reach now")
                             .arg(PropertyText(rruleProp))
                             .arg(m_options.maxOccurrences);
      return std::nullopt;
    }
    if (found) found->zone = first.zone;
    return found;
  }

  ZoneResolver m_zones;
  const ReadOptions& m_options;
  bool m_cancelMethod;
  int* m_fileSteps;
  std::map<QString, std::vector<Moment>> m_changedOccurrences;  // by UID
};

}  // namespace

ReadResult ReadWithLibical(const QByteArray& text, const ReadOptions& options) {
  QuietLibical();
  ReadResult result;
  if (!text.contains("BEGIN:VCALENDAR")) {
    result.error = QStringLiteral("this is not an iCalendar file (it has no BEGIN:VCALENDAR)");
    return result;
  }
  if (text.contains('\0')) {
    result.error = QStringLiteral("this is not an iCalendar file (it holds binary data)");
    return result;
  }
  if (const QString shape = CheckShape(text, options); !shape.isEmpty()) {
    result.error = QStringLiteral("the calendar cannot be read: ") + shape;
    return result;
  }
  const ComponentPtr root(icalparser_parse_string(text.constData()));
  if (!root) {
    result.error = text.contains("END:VCALENDAR")
                       ? QStringLiteral("the calendar cannot be read: its BEGIN and END lines do not pair up")
                       : QStringLiteral("the calendar is cut short: it has no END:VCALENDAR");
    return result;
  }
  std::vector<icalcomponent*> calendars;
  if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
    calendars.push_back(root.get());
  } else {
    for (icalcomponent* c = icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT); c;
         c = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT))
      calendars.push_back(c);
  }
  if (calendars.empty()) {
    result.error = QStringLiteral("the calendar cannot be read (no complete VCALENDAR in it)");
    return result;
  }
  int seen = 0;
  int fileSteps = 0;
  for (icalcomponent* calendar : calendars) {
    const QString method = PropertyText(icalcomponent_get_first_property(calendar, ICAL_METHOD_PROPERTY));
    if (result.method.isEmpty()) result.method = method;
    ComponentReader reader(calendar, options, method.compare(QStringLiteral("CANCEL"), Qt::CaseInsensitive) == 0,
                           &fileSteps);
    std::vector<icalcomponent*> components;
    for (icalcomponent* c = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT)) {
      const icalcomponent_kind kind = icalcomponent_isa(c);
      if (kind != ICAL_VEVENT_COMPONENT && kind != ICAL_VTODO_COMPONENT) continue;
      components.push_back(c);
      if (seen + static_cast<int>(components.size()) <= options.maxComponents) reader.noteOccurrence(c);
    }
    for (icalcomponent* c : components) {
      if (++seen > options.maxComponents) {
        ++result.componentsOverLimit;
        continue;
      }
      result.events.push_back(reader.read(c));
    }
  }
  return result;
}

}  // namespace icalendar::backend

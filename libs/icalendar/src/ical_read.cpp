// Reading a calendar: every VEVENT and VTODO, its moments resolved to UTC through the file's
// VTIMEZONEs, an IANA zone or a Windows zone name, its repetition expanded up to the first
// occurrence still to come.

#include "backend.h"
#include "ical_util.h"

#include <algorithm>
#include <map>
#include <optional>

namespace icalendar::backend {

namespace {

struct Moment {
  bool allDay = false;
  QDate date;
  QDateTime utc;  // timed
  QString zone;   // IANA id, when known
};

// Resolves one property's date-time (DTSTART, DUE, DTEND, EXDATE, RECURRENCE-ID) through its
// TZID; nullopt when the zone cannot be found (*why says which).
class ZoneResolver {
 public:
  explicit ZoneResolver(icalcomponent* calendar) : m_calendar(calendar) {}

  std::optional<Moment> resolve(const icaltimetype& t, icalproperty* prop, QString* why) const {
    Moment m;
    if (t.is_date) {
      m.allDay = true;
      m.date = DateOf(t);
      return m;
    }
    if (icaltime_is_utc(t)) {
      m.utc = QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), Qt::UTC);
      return m;
    }
    const icalparameter* param = prop ? icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER) : nullptr;
    const char* tzid = param ? icalparameter_get_tzid(const_cast<icalparameter*>(param)) : nullptr;
    if (!tzid) {
      // A floating time is the reader's own wall time.
      m.utc = WallOf(t, QTimeZone::systemTimeZone()).toUTC();
      m.zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
      return m;
    }
    if (icaltimezone* zone = icalcomponent_get_timezone(m_calendar, tzid)) {
      icaltimetype wall = t;
      wall.zone = nullptr;
      const time_t secs = icaltime_as_timet_with_zone(wall, zone);
      m.utc = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(secs), Qt::UTC);
      m.zone = Utf8(icaltimezone_get_location(zone));
      return m;
    }
    // No VTIMEZONE: an IANA name, a Windows name, or libical's own prefixed IANA name.
    QString name = IanaFromWindows(Utf8(tzid));
    const QString prefix = QStringLiteral("/freeassociation.sourceforge.net/");
    if (name.startsWith(prefix)) name = name.mid(prefix.size());
    const QTimeZone zone(name.toUtf8());
    if (!zone.isValid()) {
      *why = QStringLiteral("unknown time zone \"%1\"").arg(Utf8(tzid));
      return std::nullopt;
    }
    m.utc = WallOf(t, zone).toUTC();
    m.zone = name;
    return m;
  }

 private:
  icalcomponent* m_calendar;
};

// The trigger of one VALARM against an occurrence's start and end; nullopt without a trigger.
std::optional<QDateTime> AlarmMoment(icalcomponent* alarm, const QDateTime& start, const QDateTime& end) {
  icalproperty* prop = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
  if (!prop) return std::nullopt;
  const icaltriggertype trigger = icalproperty_get_trigger(prop);
  if (!icaltime_is_null_time(trigger.time)) {
    // RFC 5545 wants an absolute trigger in UTC; a floating one is taken as UTC too.
    const icaltimetype t = trigger.time;
    return QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), Qt::UTC);
  }
  const icalparameter* related = icalproperty_get_first_parameter(prop, ICAL_RELATED_PARAMETER);
  const bool fromEnd = related && icalparameter_get_related(const_cast<icalparameter*>(related)) == ICAL_RELATED_END;
  return (fromEnd ? end : start).addSecs(icaldurationtype_as_int(trigger.duration));
}

// The UTC moment an all-day date begins at, for alarms relative to it.
QDateTime Midnight(const QDate& d) { return QDateTime(d, QTime(0, 0), QTimeZone::systemTimeZone()).toUTC(); }

bool Before(const Moment& m, const QDateTime& now) {
  return m.allDay ? m.date < now.toTimeZone(QTimeZone::systemTimeZone()).date() : m.utc < now;
}

QString PropertyText(icalproperty* p) { return p ? Utf8(icalproperty_get_value_as_string(p)) : QString(); }

int PercentComplete(icalcomponent* c) {
  icalproperty* p = icalcomponent_get_first_property(c, ICAL_PERCENTCOMPLETE_PROPERTY);
  return p ? icalproperty_get_percentcomplete(p) : 0;
}

class ComponentReader {
 public:
  ComponentReader(icalcomponent* calendar, const ReadOptions& options, bool cancelMethod)
      : m_zones(calendar), m_options(options), m_cancelMethod(cancelMethod) {}

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
    // a rule that was dropped must not leave a single occurrence that was never meant.
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY)) {
      const QString note = Utf8(icalproperty_get_xlicerror(p));
      for (const char* name : {" RRULE ", " EXDATE ", " DTSTART ", " DUE ", " DTEND "})
        if (note.contains(QLatin1String(name))) {
          e.refused =
              QLatin1String(name) == QLatin1String(" RRULE ")
                  ? QStringLiteral("invalid repeat rule (%1)").arg(note.simplified())
                  : QStringLiteral("cannot read its%1property (%2)").arg(QLatin1String(name), note.simplified());
          return e;
        }
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
    const std::optional<Moment> first = m_zones.resolve(startTime, startProp, &e.refused);
    if (!first) return e;
    e.timeZone = first->zone;
    // How long each occurrence lasts, for alarms relative to its end.
    qint64 length = first->allDay ? 86400 : 0;
    if (!todo) {
      if (icalproperty* endProp = icalcomponent_get_first_property(c, ICAL_DTEND_PROPERTY)) {
        QString ignored;
        const std::optional<Moment> end = m_zones.resolve(icalproperty_get_dtend(endProp), endProp, &ignored);
        if (end && end->allDay == first->allDay)
          length = first->allDay ? first->date.daysTo(end->date) * 86400LL : first->utc.secsTo(end->utc);
      } else if (icalproperty* d = icalcomponent_get_first_property(c, ICAL_DURATION_PROPERTY)) {
        length = icaldurationtype_as_int(icalproperty_get_duration(d));
      }
    }

    std::optional<Moment> chosen;
    // A changed occurrence is that one occurrence, whatever rule it carries.
    icalproperty* rruleProp = occurrenceProp ? nullptr : icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY);
    if (!rruleProp) {
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
    const QDateTime to = from.addSecs(length);
    bool textTaken = false;
    for (icalcomponent* a = icalcomponent_get_first_component(c, ICAL_VALARM_COMPONENT); a;
         a = icalcomponent_get_next_component(c, ICAL_VALARM_COMPONENT)) {
      const std::optional<QDateTime> at = AlarmMoment(a, from, to);
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
  // The first occurrence not excluded and not before now; nullopt when every one is past. Fills
  // e->series with the series' lines, or e->refused.
  std::optional<Moment> nextOccurrence(icalcomponent* c, icalproperty* rruleProp, const icaltimetype& startTime,
                                       icalproperty* startProp, const Moment& first, ReadEvent* e) {
    icalrecurrencetype rule = icalproperty_get_rrule(rruleProp);
    const QString ruleText = TakeUtf8(icalrecurrencetype_as_string_r(&rule));
    const auto refuse = [&](const QString& why) {
      e->refused = QStringLiteral("invalid repeat rule RRULE:%1 (%2)").arg(PropertyText(rruleProp), why);
      return std::nullopt;
    };
    if (rule.freq == ICAL_NO_RECURRENCE) return refuse(QStringLiteral("no frequency"));
    if (rule.count > 0 && !icaltime_is_null_time(rule.until)) return refuse(QStringLiteral("COUNT and UNTIL together"));
    if (rule.interval < 1) return refuse(QStringLiteral("an interval below 1"));
    if (icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) return refuse(QStringLiteral("more than one RRULE"));

    // Excluded occurrences, as UTC moments or dates.
    std::vector<Moment> excluded;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
      QString why;
      const std::optional<Moment> x = m_zones.resolve(icalproperty_get_exdate(p), p, &why);
      if (!x) {
        e->refused = QStringLiteral("EXDATE: ") + why;
        return std::nullopt;
      }
      excluded.push_back(*x);
    }
    // The occurrences changed or cancelled on their own in the same calendar.
    if (const auto own = m_changedOccurrences.find(e->uid); own != m_changedOccurrences.end())
      for (const Moment& x : own->second) {
        const bool known = std::any_of(excluded.begin(), excluded.end(), [&](const Moment& y) {
          return x.allDay == y.allDay && (x.allDay ? x.date == y.date : x.utc == y.utc);
        });
        if (!known) excluded.push_back(x);
      }
    e->series << (first.allDay ? QStringLiteral("DTSTART;VALUE=DATE:") + DateText(first.date)
                               : QStringLiteral("DTSTART:") + UtcText(first.utc))
              << QStringLiteral("RRULE:") + ruleText;
    for (const Moment& x : excluded)
      e->series << (x.allDay ? QStringLiteral("EXDATE;VALUE=DATE:") + DateText(x.date)
                             : QStringLiteral("EXDATE:") + UtcText(x.utc));

    const bool utc = icaltime_is_utc(startTime);
    icaltimetype wallStart = startTime;
    if (!utc) wallStart.zone = nullptr;
    icalrecur_iterator* it = icalrecur_iterator_new(rule, wallStart);
    if (!it) return refuse(QString::fromUtf8(icalerror_strerror(icalerrno)));
    std::optional<Moment> found;
    for (int n = 0; n < m_options.maxOccurrences; ++n) {
      icaltimetype next = icalrecur_iterator_next(it);
      if (icaltime_is_null_time(next)) break;
      if (utc) next.zone = icaltimezone_get_utc_timezone();
      QString why;
      std::optional<Moment> m = m_zones.resolve(next, startProp, &why);
      if (!m) break;
      const bool skip = std::any_of(excluded.begin(), excluded.end(), [&](const Moment& x) {
        return m->allDay ? x.allDay && x.date == m->date : !x.allDay && x.utc == m->utc;
      });
      if (skip || Before(*m, m_options.now)) continue;
      m->zone = first.zone;
      found = m;
      break;
    }
    icalrecur_iterator_free(it);
    return found;
  }

  ZoneResolver m_zones;
  const ReadOptions& m_options;
  bool m_cancelMethod;
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
  for (icalcomponent* calendar : calendars) {
    const QString method = PropertyText(icalcomponent_get_first_property(calendar, ICAL_METHOD_PROPERTY));
    if (result.method.isEmpty()) result.method = method;
    ComponentReader reader(calendar, options, method.compare(QStringLiteral("CANCEL"), Qt::CaseInsensitive) == 0);
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

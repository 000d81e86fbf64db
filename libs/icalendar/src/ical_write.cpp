// Writing a calendar: one VTIMEZONE for each zone a start is written in (libical's own, from the
// system's zone data, cut to the years written), then one VEVENT per event with its VALARM. A
// series is written in its own zone; single starts in the zone the caller names.

#include "backend.h"
#include "ical_util.h"
#include "ical_zones.h"

#include <algorithm>
#include <map>
#include <optional>

namespace icalendar::backend {

namespace {

icalproperty* TextProperty(icalproperty* (*make)(const char*), const QString& text) {
  return make(text.toUtf8().constData());
}

// The zone a start is written in: UTC ("...Z"), floating (no zone), or an IANA zone with its TZID.
struct WriteZone {
  enum Kind { Utc, Floating, Iana };
  Kind kind = Utc;
  QString id;
  QTimeZone tz;
};

std::optional<WriteZone> ZoneNamed(const QString& name) {
  WriteZone z;
  if (name.isEmpty()) return z;
  const QString iana = KnownZoneName(name);
  if (iana.isEmpty()) return std::nullopt;
  if (IsUtcZone(iana)) return z;
  z.kind = WriteZone::Iana;
  z.id = iana;
  z.tz = QTimeZone(iana.toUtf8());
  return z;
}

QString Stamp(const QDateTime& wall) { return wall.toString(QStringLiteral("yyyyMMdd'T'HHmmss")); }

// A moment as a property line in `zone`: "NAME;TZID=Europe/Berlin:20270105T093000",
// "NAME:20270105T083000Z"; a floating zone writes the system's wall time.
QString MomentLine(const QString& name, const WriteZone& zone, const QDateTime& moment) {
  switch (zone.kind) {
    case WriteZone::Iana: return name + QStringLiteral(";TZID=") + zone.id + u':' + Stamp(moment.toTimeZone(zone.tz));
    case WriteZone::Floating: return name + u':' + Stamp(moment.toTimeZone(QTimeZone::systemTimeZone()));
    case WriteZone::Utc: break;
  }
  return name + u':' + UtcText(moment);
}

QString WallStamp(const icaltimetype& t) {
  return Stamp(QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), QTimeZone::utc()));
}

// One series line's value, read: a date, a floating wall time, or a moment.
struct Value {
  bool date = false;
  bool floating = false;
  icaltimetype time{};
  QDateTime moment;  // not floating
};

// The value of a DTSTART, EXDATE or RDATE line (the legacy zone reads a UTC time without
// VALUE=DATE-TIME as that moment's wall time there); nullopt with *why when it cannot be read.
std::optional<Value> ValueOf(icalproperty* p, const icaltimetype& t, QString* why) {
  Value v;
  v.time = t;
  if (icaltime_is_null_time(t)) {
    *why = QStringLiteral("no date");
    return std::nullopt;
  }
  if (t.is_date) {
    v.date = true;
    return v;
  }
  if (icaltime_is_utc(t)) {
    v.moment = QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), QTimeZone::utc());
    return v;
  }
  icalparameter* param = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
  if (!param) {
    v.floating = true;
    return v;
  }
  const QString name = Utf8(icalparameter_get_tzid(param));
  const std::optional<WriteZone> zone = ZoneNamed(name);
  if (!zone) {
    *why = QStringLiteral("unknown time zone \"%1\"").arg(name);
    return std::nullopt;
  }
  v.moment = QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second),
                       zone->kind == WriteZone::Iana ? zone->tz : QTimeZone::utc());
  return v;
}

bool IsNewUtc(icalproperty* p) {
  icalparameter* value = icalproperty_get_first_parameter(p, ICAL_VALUE_PARAMETER);
  return value && icalparameter_get_value(value) == ICAL_VALUE_DATETIME;
}

// The zones written, each with the earliest moment written in it (its VTIMEZONE is cut there).
class ZonesUsed {
 public:
  void add(const WriteZone& zone, const QDateTime& moment) {
    if (zone.kind != WriteZone::Iana) return;
    QDateTime& earliest = m_earliest[zone.id];
    if (!earliest.isValid() || moment < earliest) earliest = moment;
  }

  // A zone of a series' own file (its VTIMEZONE's text), written as it came.
  void addOwn(const QString& id, const QByteArray& vtimezone) { m_own.emplace(id, vtimezone); }

  // One VTIMEZONE per zone, added before the events; an error when libical has no zone.
  QString addTo(icalcomponent* cal) const {
    for (const auto& [id, text] : m_own) {
      icalcomponent* vtimezone = icalparser_parse_string(text.constData());
      if (!vtimezone || icalcomponent_isa(vtimezone) != ICAL_VTIMEZONE_COMPONENT) {
        if (vtimezone) icalcomponent_free(vtimezone);
        return QStringLiteral("the time zone \"%1\" cannot be written").arg(id);
      }
      icalcomponent_add_component(cal, vtimezone);
    }
    for (const auto& [id, earliest] : m_earliest) {
      const QByteArray tzid = id.toUtf8();
      icaltimezone* builtin = icaltimezone_get_builtin_timezone(tzid.constData());
      if (!builtin) return QStringLiteral("the time zone \"%1\" is not known to the calendar writer").arg(id);
      icalcomponent* vtimezone = icalcomponent_new_clone(icaltimezone_get_component(builtin));
      // libical names its own zones "/freeassociation.sourceforge.net/Europe/Berlin"; the file
      // names the zone as everyone else does.
      if (icalproperty* p = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY))
        icalproperty_set_tzid(p, tzid.constData());
      // The zone's rules from a year before the earliest moment on, not its whole history: a
      // calendar of one reminder (a CalDAV resource) stays small.
      icaltimezone_truncate_vtimezone(vtimezone, IcalUtc(earliest.addDays(-366)), icaltime_null_time(), 0);
      icalcomponent_add_component(cal, vtimezone);
    }
    return {};
  }

 private:
  std::map<QString, QDateTime> m_earliest;
  std::map<QString, QByteArray> m_own;
};

// Adds a series' lines to `ev`, each in the series' own zone; *error when one cannot be read.
void AddSeries(icalcomponent* ev, const WriteEvent& e, const std::optional<WriteZone>& writeZone, ZonesUsed* zones,
               QString* error) {
  const auto fail = [&](const QString& line, const QString& why) {
    *error = QStringLiteral("the repeat rule of \"%1\" cannot be written (%2: %3)").arg(e.summary, line, why);
  };
  // An older stored series: a UTC DTSTART without VALUE=DATE-TIME is the wall time of that moment
  // in the zone of its X-CHIMEWISE-TZID line, else in the zone single starts are written in.
  std::optional<WriteZone> legacyZone = writeZone;
  for (const QString& line : e.series)
    if (line.startsWith(QStringLiteral("X-CHIMEWISE-TZID:")))
      if (const std::optional<WriteZone> z = ZoneNamed(line.mid(17).trimmed())) legacyZone = z;

  // A zone of the series' own file: its VTIMEZONE's lines end the series (see ReadEvent::series),
  // and its lines are written as they are.
  QString ownZone;
  QByteArray ownText;
  bool inZone = false;
  for (const QString& line : e.series) {
    inZone = inZone || line == QLatin1String("BEGIN:VTIMEZONE");
    if (!inZone) continue;
    ownText += line.toUtf8() + "\r\n";
    if (line.startsWith(QLatin1String("TZID:"))) ownZone = line.mid(5);
    inZone = line != QLatin1String("END:VTIMEZONE");
  }
  if (!ownZone.isEmpty()) zones->addOwn(ownZone, ownText);

  WriteZone zone;  // the series' own
  bool floating = false;
  for (const QString& line : e.series) {
    inZone = inZone || line == QLatin1String("BEGIN:VTIMEZONE");
    const bool zoneLine = inZone;
    inZone = inZone && line != QLatin1String("END:VTIMEZONE");
    if (zoneLine || line.startsWith(QStringLiteral("X-CHIMEWISE-TZID:"))) continue;
    icalproperty* p = icalproperty_new_from_string(line.toUtf8().constData());
    if (!p) return fail(line, QStringLiteral("not an iCalendar property"));
    const icalproperty_kind kind = icalproperty_isa(p);
    if (kind != ICAL_DTSTART_PROPERTY && kind != ICAL_EXDATE_PROPERTY && kind != ICAL_RDATE_PROPERTY) {
      icalcomponent_add_property(ev, p);
      continue;
    }
    QString why;
    icaltimetype t{};
    if (kind == ICAL_DTSTART_PROPERTY) {
      t = icalproperty_get_dtstart(p);
    } else if (kind == ICAL_EXDATE_PROPERTY) {
      t = icalproperty_get_exdate(p);
    } else {
      const icaldatetimeperiodtype r = icalproperty_get_rdate(p);
      if (icaltime_is_null_time(r.time)) {  // a period: kept as it is
        icalcomponent_add_property(ev, p);
        continue;
      }
      t = r.time;
    }
    const QString name = kind == ICAL_DTSTART_PROPERTY  ? QStringLiteral("DTSTART")
                         : kind == ICAL_EXDATE_PROPERTY ? QStringLiteral("EXDATE")
                                                        : QStringLiteral("RDATE");
    const std::optional<Value> v = ValueOf(p, t, &why);
    const bool newUtc = IsNewUtc(p);
    icalparameter* tzidParam = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
    const QString tzid = tzidParam ? Utf8(icalparameter_get_tzid(tzidParam)) : QString();
    if (!ownZone.isEmpty() && tzid == ownZone) {  // in the file's own zone: as it is
      icalcomponent_add_property(ev, p);
      continue;
    }
    icalproperty_free(p);
    if (!v) return fail(line, why);
    QString out;
    if (v->date) {
      out = name + QStringLiteral(";VALUE=DATE:") + DateText(DateOf(v->time));
    } else if (kind == ICAL_DTSTART_PROPERTY) {
      if (v->floating) {
        floating = true;
        out = name + u':' + WallStamp(v->time);
      } else {
        if (icaltime_is_utc(v->time) && !newUtc) {
          if (!legacyZone) return fail(line, QStringLiteral("no time zone to write it in"));
          zone = *legacyZone;
        } else if (!icaltime_is_utc(v->time)) {
          zone = *ZoneNamed(tzid);  // ValueOf has read it
        }
        out = MomentLine(name, zone, v->moment);
        zones->add(zone, v->moment);
      }
    } else if (floating) {
      out = name + u':' + (v->floating ? WallStamp(v->time) : Stamp(v->moment.toTimeZone(QTimeZone::systemTimeZone())));
    } else {
      const QDateTime moment = v->floating
                                   ? QDateTime(DateOf(v->time), QTime(v->time.hour, v->time.minute, v->time.second),
                                               QTimeZone::systemTimeZone())
                                   : v->moment;
      out = MomentLine(name, zone, moment);
      zones->add(zone, moment);
    }
    icalcomponent_add_property(ev, icalproperty_new_from_string(out.toUtf8().constData()));
  }
}

}  // namespace

WriteResult WriteWithLibical(const std::vector<WriteEvent>& events, const WriteOptions& options) {
  QuietLibical();
  WriteResult result;
  const std::optional<WriteZone> writeZone = ZoneNamed(options.timeZone);
  if (!writeZone) {
    result.error = QStringLiteral("the time zone \"%1\" is not known to the calendar writer").arg(options.timeZone);
    return result;
  }
  const ComponentPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  icalcomponent* cal = calendar.get();
  icalcomponent_add_property(cal, TextProperty(icalproperty_new_prodid, options.productId));
  icalcomponent_add_property(cal, icalproperty_new_version("2.0"));
  icalcomponent_add_property(cal, icalproperty_new_calscale("GREGORIAN"));

  ZonesUsed zones;
  std::vector<icalcomponent*> written;
  for (const WriteEvent& e : events) {
    icalcomponent* ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    written.push_back(ev);
    icalcomponent_add_property(ev, TextProperty(icalproperty_new_uid, e.uid));
    icalcomponent_add_property(ev, icalproperty_new_dtstamp(IcalUtc(options.stamp)));
    // A series starts where it started, not at the occurrence the reminder stands at.
    const bool series = std::any_of(e.series.begin(), e.series.end(),
                                    [](const QString& l) { return l.startsWith(QStringLiteral("DTSTART")); });
    if (series) {
      AddSeries(ev, e, writeZone, &zones, &result.error);
      if (!result.error.isEmpty()) break;
    } else if (e.allDay) {
      icalcomponent_add_property(ev, icalproperty_new_dtstart(IcalDate(e.date)));
    } else {
      icalcomponent_add_property(ev,
                                 icalproperty_new_from_string(
                                     MomentLine(QStringLiteral("DTSTART"), *writeZone, e.start).toUtf8().constData()));
      zones.add(*writeZone, e.start);
    }
    icalcomponent_add_property(ev, TextProperty(icalproperty_new_summary, e.summary));
    if (!e.description.isEmpty())
      icalcomponent_add_property(ev, TextProperty(icalproperty_new_description, e.description));
    if (!e.category.isEmpty()) icalcomponent_add_property(ev, TextProperty(icalproperty_new_categories, e.category));
    for (const auto& [name, value] : e.extras) {
      icalproperty* p = TextProperty(icalproperty_new_x, value);
      icalproperty_set_x_name(p, name.toUtf8().constData());
      icalcomponent_add_property(ev, p);
    }
    if (e.hasAlarm) {
      icalcomponent* alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
      icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
      icaltriggertype trigger = icaltriggertype_from_int(0);
      icalproperty* t = nullptr;
      if (e.series.isEmpty()) {
        trigger.time = IcalUtc(e.alarm);
        t = icalproperty_new_trigger(trigger);
        icalproperty_add_parameter(t, icalparameter_new_value(ICAL_VALUE_DATETIME));
      } else {
        trigger.duration = icaldurationtype_from_int(static_cast<int>(-e.alarmLead));
        t = icalproperty_new_trigger(trigger);
      }
      icalcomponent_add_property(alarm, t);
      icalcomponent_add_property(
          alarm, TextProperty(icalproperty_new_description, e.alarmText.isEmpty() ? e.summary : e.alarmText));
      icalcomponent_add_component(ev, alarm);
    }
  }
  // The zones come before the events that name them.
  if (result.error.isEmpty()) result.error = zones.addTo(cal);
  for (icalcomponent* ev : written) {
    if (result.error.isEmpty())
      icalcomponent_add_component(cal, ev);
    else
      icalcomponent_free(ev);
  }
  if (!result.error.isEmpty()) return result;
  result.text = TakeUtf8(icalcomponent_as_ical_string_r(cal)).toUtf8();
  return result;
}

}  // namespace icalendar::backend

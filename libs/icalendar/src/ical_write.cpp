// Writing a calendar: a VTIMEZONE for the zone timed starts are written in (libical's own,
// from the system's zone data), then one VEVENT per event with its VALARM.

#include "backend.h"
#include "ical_util.h"

namespace icalendar::backend {

namespace {

icalproperty* TextProperty(icalproperty* (*make)(const char*), const QString& text) {
  return make(text.toUtf8().constData());
}

// A timed moment as DTSTART takes it: the wall time in `zone` with its TZID, or UTC without one.
icalproperty* StartProperty(const QDateTime& start, icaltimezone* zone, const QTimeZone& qzone,
                            const QByteArray& tzid) {
  if (!zone) return icalproperty_new_dtstart(IcalUtc(start));
  const QDateTime wall = start.toTimeZone(qzone);
  icaltimetype t = icaltime_null_time();
  t.year = wall.date().year();
  t.month = wall.date().month();
  t.day = wall.date().day();
  t.hour = wall.time().hour();
  t.minute = wall.time().minute();
  t.second = wall.time().second();
  icalproperty* p = icalproperty_new_dtstart(t);
  icalproperty_add_parameter(p, icalparameter_new_tzid(tzid.constData()));
  return p;
}

}  // namespace

WriteResult WriteWithLibical(const std::vector<WriteEvent>& events, const WriteOptions& options) {
  QuietLibical();
  WriteResult result;
  icaltimezone* zone = nullptr;
  const QTimeZone qzone(options.timeZone.toUtf8());
  if (!options.timeZone.isEmpty() && options.timeZone != QStringLiteral("UTC")) {
    zone = icaltimezone_get_builtin_timezone(options.timeZone.toUtf8().constData());
    if (!zone || !qzone.isValid()) {
      result.error = QStringLiteral("the time zone \"%1\" is not known to the calendar writer").arg(options.timeZone);
      return result;
    }
  }
  const ComponentPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  icalcomponent* cal = calendar.get();
  icalcomponent_add_property(cal, TextProperty(icalproperty_new_prodid, options.productId));
  icalcomponent_add_property(cal, icalproperty_new_version("2.0"));
  icalcomponent_add_property(cal, icalproperty_new_calscale("GREGORIAN"));
  // libical names its own zones "/freeassociation.sourceforge.net/Europe/Berlin"; the file names
  // the zone as everyone else does.
  const QByteArray tzid = options.timeZone.toUtf8();
  icalcomponent* vtimezone = nullptr;
  if (zone) {
    vtimezone = icalcomponent_new_clone(icaltimezone_get_component(zone));
    if (icalproperty* p = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY))
      icalproperty_set_tzid(p, tzid.constData());
    icalcomponent_add_component(cal, vtimezone);
  }

  QDateTime earliest;  // the earliest moment written in the zone
  for (const WriteEvent& e : events) {
    icalcomponent* ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_component(cal, ev);
    icalcomponent_add_property(ev, TextProperty(icalproperty_new_uid, e.uid));
    icalcomponent_add_property(ev, icalproperty_new_dtstamp(IcalUtc(options.stamp)));

    // A series starts where it started, not at the occurrence the reminder stands at.
    bool allDay = e.allDay;
    QDate date = e.date;
    QDateTime start = e.start;
    for (const QString& line : e.series) {
      icalproperty* p = icalproperty_new_from_string(line.toUtf8().constData());
      if (!p) {
        result.error = QStringLiteral("the repeat rule of \"%1\" cannot be written (%2)").arg(e.summary, line);
        return result;
      }
      if (icalproperty_isa(p) == ICAL_DTSTART_PROPERTY) {
        const icaltimetype t = icalproperty_get_dtstart(p);
        allDay = t.is_date;
        date = DateOf(t);
        start = QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), Qt::UTC);
        icalproperty_free(p);
      } else if (icalproperty_isa(p) == ICAL_EXDATE_PROPERTY && zone && !icalproperty_get_exdate(p).is_date) {
        // Excluded moments are written in the zone the start is written in.
        const icaltimetype t = icalproperty_get_exdate(p);
        icalproperty_free(p);
        icalproperty* x =
            StartProperty(QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), Qt::UTC), zone, qzone, tzid);
        icalproperty* exdate = icalproperty_new_exdate(icalproperty_get_dtstart(x));
        icalproperty_add_parameter(exdate, icalparameter_new_tzid(tzid.constData()));
        icalproperty_free(x);
        icalcomponent_add_property(ev, exdate);
      } else {
        icalcomponent_add_property(ev, p);
      }
    }
    if (allDay) {
      icalproperty* p = icalproperty_new_dtstart(IcalDate(date));
      icalcomponent_add_property(ev, p);
    } else {
      icalcomponent_add_property(ev, StartProperty(start, zone, qzone, tzid));
      if (!earliest.isValid() || start < earliest) earliest = start;
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
  // The zone's rules from a year before the earliest moment on, not its whole history: a calendar
  // of one reminder (a CalDAV resource) stays small.
  if (vtimezone && earliest.isValid())
    icaltimezone_truncate_vtimezone(vtimezone, IcalUtc(earliest.addDays(-366)), icaltime_null_time(), 0);
  result.text = TakeUtf8(icalcomponent_as_ical_string_r(cal)).toUtf8();
  return result;
}

}  // namespace icalendar::backend

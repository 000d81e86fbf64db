#pragma once
// Small helpers the module's reader and writer share over libical's C interface.

#include <libical/ical.h>

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdlib>
#include <memory>

namespace icalendar::backend {

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

// libical's own checks report through icalerrno; they must never end the process.
inline void QuietLibical() {
  static const bool once = [] {
    icalerror_set_errors_are_fatal(0);
    return true;
  }();
  (void)once;
}

inline QString Utf8(const char* text) { return text ? QString::fromUtf8(text) : QString(); }

// A libical string the caller owns (the *_r functions), as text.
inline QString TakeUtf8(char* text) {
  const QString s = Utf8(text);
  std::free(text);
  return s;
}

inline QDate DateOf(const icaltimetype& t) { return QDate(t.year, t.month, t.day); }
inline QDateTime WallOf(const icaltimetype& t, const QTimeZone& zone) {
  return QDateTime(DateOf(t), QTime(t.hour, t.minute, t.second), zone);
}

inline icaltimetype IcalDate(const QDate& d) {
  icaltimetype t = icaltime_null_date();
  t.year = d.year();
  t.month = d.month();
  t.day = d.day();
  return t;
}

inline icaltimetype IcalUtc(const QDateTime& moment) {
  return icaltime_from_timet_with_zone(static_cast<time_t>(moment.toSecsSinceEpoch()), 0,
                                       icaltimezone_get_utc_timezone());
}

// UTC in the form DTSTART and EXDATE take it: "20270105T090000Z".
inline QString UtcText(const QDateTime& moment) {
  return moment.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}
inline QString DateText(const QDate& d) { return d.toString(QStringLiteral("yyyyMMdd")); }

}  // namespace icalendar::backend

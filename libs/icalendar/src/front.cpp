// The library's face: reading and writing go to the calendar module, loaded the first time one is
// asked for.

#include "backend.h"

#include <modules/module.h>

#include <QTimeZone>

namespace icalendar {

namespace {

const modules::Table<backend::Api>& TheBackend() {
  static const auto table =
      modules::LoadTable<backend::Api>(QString::fromLatin1(backend::kModuleFile), backend::kEntryPoint,
                                       backend::kVersion, QStringLiteral("the calendar reader"));
  return table;
}

}  // namespace

ReadResult Read(const QByteArray& text, const ReadOptions& options) {
  if (const auto* api = TheBackend().api) return api->read(text, options);
  ReadResult r;
  r.error = TheBackend().error;
  return r;
}

WriteResult Write(const std::vector<WriteEvent>& events, const WriteOptions& options) {
  if (const auto* api = TheBackend().api) return api->write(events, options);
  WriteResult r;
  r.error = TheBackend().error;
  return r;
}

ReadEvent NextOccurrence(const QStringList& series, const QDateTime& after) {
  // A calendar of one event. Its lines go in as they are, but for an older stored start
  // ("DTSTART:...Z" without VALUE=DATE-TIME): that start is the wall time of its moment in the zone
  // of an "X-CHIMEWISE-TZID:" line, else of the system zone, so that a weekly 09:30 stays at 09:30
  // there on both sides of a change of the clocks.
  QTimeZone zone = QTimeZone::systemTimeZone();
  for (const QString& line : series)
    if (line.startsWith(QStringLiteral("X-CHIMEWISE-TZID:"))) {
      const QTimeZone given(line.mid(17).trimmed().toUtf8());
      if (given.isValid()) zone = given;
    }
  const bool named = zone != QTimeZone::systemTimeZone();
  QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
  // A zone of the series' own file (its VTIMEZONE's lines), read as the file's would be.
  bool inZone = false;
  for (const QString& line : series) {
    inZone = inZone || line == QLatin1String("BEGIN:VTIMEZONE");
    if (inZone) text += line.toUtf8() + "\r\n";
    inZone = inZone && line != QLatin1String("END:VTIMEZONE");
  }
  text += "BEGIN:VEVENT\r\nUID:series\r\n";
  for (const QString& line : series) {
    inZone = inZone || line == QLatin1String("BEGIN:VTIMEZONE");
    const bool zoneLine = inZone;
    inZone = inZone && line != QLatin1String("END:VTIMEZONE");
    if (zoneLine) continue;
    QString l = line;
    if (l.startsWith(QStringLiteral("DTSTART:")) && l.endsWith(u'Z')) {
      const QDateTime utc = QDateTime::fromString(l.mid(8), QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
      if (utc.isValid()) {
        const QDateTime u(utc.date(), utc.time(), QTimeZone::utc());
        l = (named ? QStringLiteral("DTSTART;TZID=") + QString::fromUtf8(zone.id()) + u':'
                   : QStringLiteral("DTSTART:")) +
            u.toTimeZone(zone).toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
      }
    }
    for (const char* name : {"DTSTART", "RRULE", "EXDATE", "RDATE"})
      if (l.startsWith(QLatin1String(name)) && l.size() > qsizetype(qstrlen(name)) &&
          (l[qstrlen(name)] == u':' || l[qstrlen(name)] == u';'))
        text += l.toUtf8() + "\r\n";
  }
  text += "END:VEVENT\r\nEND:VCALENDAR\r\n";
  ReadOptions options;
  options.now = after;
  ReadResult r = Read(text, options);
  if (!r.error.isEmpty() || r.events.size() != 1) {
    ReadEvent e;
    e.refused = r.error.isEmpty() ? QStringLiteral("no series") : r.error;
    return e;
  }
  return r.events.front();
}

}  // namespace icalendar

// Time-zone names as calendars write them, resolved to the IANA ids the system's zone data
// knows. Plain QtCore: the library's face and its calendar module both use it.

#include "zone_names.h"

#include "icalendar/icalendar.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTimeZone>

namespace icalendar {

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

}  // namespace icalendar

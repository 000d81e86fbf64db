#pragma once
// Time-zone names as calendars write them (TZID), resolved to IANA ids.

#include <QString>

namespace icalendar {

// The IANA id a TZID stands for: an id the system's zone data knows (also behind a vendor
// prefix such as "/mozilla.org/20070129_1/"), a Windows zone name, or one of a few common names
// with one likely meaning. Empty when it stands for none of them.
QString KnownZoneName(const QString& tzid);

// Whether an IANA id is UTC under another name (Etc/UTC, GMT, Zulu...).
bool IsUtcZone(const QString& iana);

}  // namespace icalendar

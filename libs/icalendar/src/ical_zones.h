#pragma once
// How the reader names and trusts time zones: a TZID to an IANA id the system's zone data knows,
// and whether a file's own VTIMEZONE can be expanded within bounds.

#include <libical/ical.h>

#include <QString>

namespace icalendar::backend {

// The IANA id a TZID stands for: an id the system's zone data knows (also behind a vendor
// prefix such as "/mozilla.org/20070129_1/"), a Windows zone name, or one of a few common names
// with one likely meaning. Empty when it stands for none of them.
QString KnownZoneName(const QString& tzid);

// Whether an IANA id is UTC under another name (Etc/UTC, GMT, Zulu...).
bool IsUtcZone(const QString& iana);

// Why libical could not expand this VTIMEZONE's rules within bounds (a change every minute, a
// flood of fixed dates); empty when it can.
QString UnboundedZoneRules(icalcomponent* vtimezone);

}  // namespace icalendar::backend

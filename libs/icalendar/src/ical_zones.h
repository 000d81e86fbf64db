#pragma once
// How the reader names and trusts time zones: a TZID to an IANA id the system's zone data knows,
// and whether a file's own VTIMEZONE can be expanded within bounds.

#include "zone_names.h"

#include <libical/ical.h>

#include <QString>

namespace icalendar::backend {

// Why libical could not expand this VTIMEZONE's rules within bounds (a change every minute, a
// flood of fixed dates); empty when it can.
QString UnboundedZoneRules(icalcomponent* vtimezone);

}  // namespace icalendar::backend

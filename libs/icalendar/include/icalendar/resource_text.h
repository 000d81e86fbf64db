#pragma once
// iCalendar text handled as text (RFC 5545 content lines), without libical: a calendar split into
// the resources of its UIDs, resources joined into one calendar, and one event changed in place.
// Every line that is not changed keeps its bytes, folding and line ends included: what another
// program wrote and this one did not change is never re-written.

#include "icalendar/icalendar.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

namespace icalendar {

// Bounds on the text handled here (the same order as the reader's).
inline constexpr int kMaxResourceLines = 200000;

// What a user changed in one event. Each field left empty stays as the event has it.
struct EventChanges {
  std::optional<QString> summary;
  std::optional<QString> description;     // empty text: the property is removed
  std::optional<QStringList> categories;  // empty list: removed
  // A new start for an event that does not repeat, moved keeping its length (DTEND moves with it;
  // a DURATION stays). A timed start is written in the form its DTSTART has: in the zone its TZID
  // names, in UTC, or floating (this computer's wall time). An all-day event takes `date`.
  std::optional<QDateTime> start;
  std::optional<QDate> date;
  // The start as the reminder had it: what a start in a zone not known here is moved from.
  QDateTime startWas;
  // A new moment for the alarm the reminder stood at: the VALARM whose trigger fell at
  // `alarmWas` gets a trigger at `alarm`, relative when it was relative (to the new start or
  // end); without such a VALARM one is added (relative to the start, described by `alarmText`).
  std::optional<QDateTime> alarm;
  QDateTime alarmWas;
  QString alarmText;
  // X- properties set: the first of each name replaced, else added.
  std::vector<ExtraProperty> extras;
  // Properties of the event itself taken out, every one of each name.
  QStringList removed;
  // When the change was made: DTSTAMP and LAST-MODIFIED of a changed event.
  QDateTime stamp;
};

struct PatchResult {
  QString error;  // the resource has no event to change (nothing was changed); empty otherwise
  QByteArray text;
  bool changed = false;  // some line differs from the resource given
};

// The event of `resource` that is not an occurrence changed on its own (no RECURRENCE-ID), with
// `changes` made to it; every other line, component and byte as it was.
PatchResult PatchEvent(const QByteArray& resource, const EventChanges& changes);

// The events and to-dos of `calendar` by UID, each as a calendar of its own: the calendar's
// VERSION, PRODID and CALSCALE, the VTIMEZONEs its lines name, and every component of that UID
// (a series with its changed occurrences), each component's lines byte for byte.
std::map<QString, QByteArray> ResourcesByUid(const QByteArray& calendar);

// One calendar of the events and to-dos of every resource, each VTIMEZONE once (the first of its
// TZID), with `productId`.
QByteArray JoinResources(const std::vector<QByteArray>& resources, const QString& productId);

}  // namespace icalendar

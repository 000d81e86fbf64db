#pragma once
// A reminder that repeats keeps its rule as the lines of a calendar series (data/kept_events.h:
// DTSTART, RRULE, EXDATE, RDATE and X-CHIMEWISE-LEAD), whether it was made here, imported from a
// file or synced from a server: one form, one way of moving on, one way of being written out.
// These are the changes made here to such lines, as plain functions of them.

#include "alarms/alarm_rules.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace chimewise {

// The RRULE value of a series ("FREQ=DAILY"); empty when it does not repeat by a rule.
QString RuleOfSeries(const QStringList& series);

// Why an RRULE value cannot be a reminder's repeat (names the part not understood); none when it can.
std::optional<QString> RepeatRuleProblem(const QString& rule);

// The first occurrence, not before `activity`, of `rule` counted from `activity` in the local zone;
// none when the rule has none from there on.
std::optional<QDateTime> FirstRepeatOccurrence(const QString& rule, const QDateTime& activity);

// The lines of a reminder that repeats by `rule`, standing at `activity` and reminding `leadSecs`
// before each occurrence, made from what it kept (`was`, empty for a reminder that did not repeat).
// A series whose rule stays and that still comes to `activity` keeps its start (and so its zone and
// the occurrences counted from it); otherwise it starts at `activity`, written in `zone` (an IANA
// id; an all-day series stays all-day). Its exceptions, added dates and zone lines stay either way.
QStringList RepeatSeries(const QStringList& was, const QString& rule, const QDateTime& activity, qint64 leadSecs,
                         const QString& zone);

// The lines of a reminder that repeated and no longer does: none, or the DTSTART line of an
// all-day event standing at `activity`.
QStringList OneOffSeries(const QStringList& was, const QDateTime& activity);

// The EXDATE line that takes the occurrence at `occurrence` out of `series`, written in the form
// of its DTSTART (in its zone, UTC, floating, or a date).
QString ExceptionLine(const QStringList& series, const QDateTime& occurrence);

// The first occurrence of a series not before `after` (libical); none when the series has ended or
// cannot be read.
std::optional<SeriesOccurrence> NextSeriesOccurrence(const QStringList& series, const QDateTime& after);

// What the user does to the occurrence a repeating reminder stands at.
enum class OccurrenceStep {
  Done,       // dealt with: the reminder waits for the next occurrence
  Skip,       // the next occurrence will not happen (the one it stands at, unless that has gone by)
  DeleteOne,  // the occurrence it stands at will not happen
};

struct OccurrenceChange {
  QStringList series;  // the series from now on (an EXDATE more when one was taken out)
  QDateTime excluded;  // the occurrence taken out; invalid for Done
  // Where the reminder moves; none when no occurrence is left (it then has no alarm pending).
  std::optional<SeriesMove> move;
};

// What `step` does to the reminder `r` of `series` at `now`; none when it does not repeat.
std::optional<OccurrenceChange> PlanOccurrenceStep(const ReminderFacts& r, const QStringList& series,
                                                   OccurrenceStep step, const QDateTime& now);

// Where a repeating reminder goes once it was told at `now`, its alarm due: while its occurrence is
// still to come, or while `nag` (where the late-reminder rules put the alarm next) comes before the
// next occurrence's alarm, it stays (none); otherwise the next occurrence replaces it. None too for
// a series without an occurrence left.
std::optional<SeriesMove> PlanSeriesAfterTelling(const ReminderFacts& r, const QStringList& series,
                                                 const std::optional<QDateTime>& nag, const QDateTime& now);

// Occurrences of a repeating reminder that went by unannounced (the computer asleep or off): those
// whose alarm has come by `now`, the one it stands at included unless it was told already. When
// there are two or more and one of them is more than `waitMinutes` old, they are said together
// and the reminder moves on to the first occurrence still to come.
struct AwayPlan {
  int missed = 0;
  bool more = false;               // more went by than were counted (kMaxAwayCounted)
  std::optional<SeriesMove> next;  // none: the series has ended
};
inline constexpr int kMaxAwayCounted = 1000;
std::optional<AwayPlan> PlanAway(const ReminderFacts& r, const QStringList& series, const QDateTime& now,
                                 int waitMinutes);
// "While you were away, 3 occurrences of Take the pills went by; the next is tomorrow at 8:00 am"
QString AwayText(const AwayPlan& away, const QString& activity, const QDateTime& now, const QString& timeFormat);

// The series' rule in plain words ("every day at 8:00 am"), its times in `timeFormat`; empty for a
// series without a rule.
QString SeriesSummary(const QStringList& series, const QString& timeFormat);

}  // namespace chimewise

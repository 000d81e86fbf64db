#include "alarms/repeat_series.h"

#include "core/repeat_rule.h"
#include "core/time_format.h"

#include <QTimeZone>
#include <icalendar/icalendar.h>

namespace chimewise {

namespace {

const QString kWallForm = QStringLiteral("yyyyMMdd'T'HHmmss");
const QString kUtcForm = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
const QString kDateForm = QStringLiteral("yyyyMMdd");

// Whether `line` is the property `name` (its name, then its parameters or its value).
bool IsProperty(const QString& line, QLatin1StringView name) {
  return line.startsWith(name, Qt::CaseInsensitive) && line.size() > name.size() &&
         (line[name.size()] == u':' || line[name.size()] == u';');
}

std::optional<QString> StartLine(const QStringList& series) {
  for (const QString& line : series)
    if (IsProperty(line, QLatin1StringView("DTSTART"))) return line;
  return std::nullopt;
}

// The parameters of a property line (between its name and the colon) and its value.
std::pair<QString, QString> Split(const QString& line) {
  const qsizetype colon = line.indexOf(u':');
  const qsizetype semicolon = line.indexOf(u';');
  const QString params =
      semicolon >= 0 && semicolon < colon ? line.mid(semicolon + 1, colon - semicolon - 1) : QString();
  return {params.toUpper(), colon >= 0 ? line.mid(colon + 1) : QString()};
}

QString Parameter(const QString& line, const QString& name) {
  const QString params = line.left(std::max<qsizetype>(line.indexOf(u':'), 0));
  for (const QString& p : params.split(u';'))
    if (p.startsWith(name + u'=', Qt::CaseInsensitive)) return p.mid(name.size() + 1);
  return {};
}

bool AllDayStart(const QString& line) {
  return Split(line).first.contains(QLatin1String("VALUE=DATE")) &&
         !Split(line).first.contains(QLatin1String("VALUE=DATE-TIME"));
}

// The start a DTSTART line names, in the zone it names (an all-day one at its local midnight);
// invalid when it cannot be read.
QDateTime StartMoment(const QString& line) {
  const QString value = Split(line).second.trimmed();
  if (AllDayStart(line)) return QDateTime(QDate::fromString(value, kDateForm), QTime(0, 0));
  if (value.endsWith(u'Z')) {
    const QDateTime utc = QDateTime::fromString(value, kUtcForm);
    return utc.isValid() ? QDateTime(utc.date(), utc.time(), QTimeZone::utc()).toLocalTime() : QDateTime();
  }
  const QDateTime wall = QDateTime::fromString(value, kWallForm);
  if (!wall.isValid()) return {};
  const QString tzid = Parameter(line, QStringLiteral("TZID"));
  const QTimeZone zone = tzid.isEmpty() ? QTimeZone::systemTimeZone() : QTimeZone(tzid.toUtf8());
  return zone.isValid() ? QDateTime(wall.date(), wall.time(), zone) : QDateTime();
}

QString TimedStart(const QDateTime& activity, const QString& zone) {
  const QTimeZone z(zone.toUtf8());
  if (!z.isValid() || zone.isEmpty()) return QStringLiteral("DTSTART:") + activity.toLocalTime().toString(kWallForm);
  return QStringLiteral("DTSTART;TZID=") + zone + u':' + activity.toTimeZone(z).toString(kWallForm);
}

}  // namespace

QString RuleOfSeries(const QStringList& series) {
  for (const QString& line : series)
    if (IsProperty(line, QLatin1StringView("RRULE"))) return Split(line).second.trimmed();
  return {};
}

std::optional<QString> RepeatRuleProblem(const QString& rule) {
  const QString text = rule.trimmed();
  if (text.isEmpty()) return QStringLiteral("the rule is empty");
  if (const RepeatRuleRead read = ReadRepeatRule(text); !read.rule) return read.error;
  const QDateTime probe(QDate(2027, 1, 4), QTime(9, 0), QTimeZone::utc());
  const icalendar::ReadEvent e = icalendar::NextOccurrence(
      {QStringLiteral("DTSTART;VALUE=DATE-TIME:") + probe.toString(kUtcForm), QStringLiteral("RRULE:") + text}, probe);
  if (!e.refused.isEmpty()) return e.refused;
  return std::nullopt;
}

std::optional<QDateTime> FirstRepeatOccurrence(const QString& rule, const QDateTime& activity) {
  // A start that does not fit its rule counts as an occurrence of its own: the rule is asked from one
  // whole period before the activity instead (the period's count, the time of day, the weekday and
  // the day of the month all kept), that start left out, and without COUNT (which counts from the
  // first occurrence found).
  QStringList parts;
  QString freq;
  int interval = 1;
  for (const QString& part : rule.trimmed().split(u';', Qt::SkipEmptyParts)) {
    const QString name = part.section(u'=', 0, 0).trimmed().toUpper();
    if (name == QLatin1String("FREQ")) freq = part.section(u'=', 1).trimmed().toUpper();
    if (name == QLatin1String("INTERVAL")) interval = std::max(1, part.section(u'=', 1).trimmed().toInt());
    if (name != QLatin1String("COUNT")) parts << part;
  }
  const QDateTime local = activity.toLocalTime();
  const QDateTime before = freq == QLatin1String("MINUTELY") ? local.addSecs(-60LL * interval)
                           : freq == QLatin1String("HOURLY") ? local.addSecs(-3600LL * interval)
                           : freq == QLatin1String("DAILY")  ? local.addDays(-interval)
                           : freq == QLatin1String("WEEKLY") ? local.addDays(-7LL * interval)
                           : freq == QLatin1String("MONTHLY")
                               ? QDateTime(local.date().addMonths(-interval), local.time())
                               : QDateTime(local.date().addYears(-interval), local.time());
  const QString zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
  const QString start = TimedStart(before, zone);
  const QStringList series = {start, QStringLiteral("RRULE:") + parts.join(u';'), QStringLiteral("EX") + start.mid(2)};
  const icalendar::ReadEvent e = icalendar::NextOccurrence(series, activity.toUTC());
  if (!e.refused.isEmpty() || e.past || !e.start.isValid()) return std::nullopt;
  return e.start.toLocalTime();
}

QStringList RepeatSeries(const QStringList& was, const QString& rule, const QDateTime& activity, qint64 leadSecs,
                         const QString& zone) {
  const std::optional<QString> start = StartLine(was);
  const bool allDay = start && AllDayStart(*start);
  bool keepStart = false;
  if (start && RuleOfSeries(was) == rule.trimmed()) {
    // Still an occurrence of the series as kept: its first occurrence from that moment on is it.
    const icalendar::ReadEvent e = icalendar::NextOccurrence(was, activity.toUTC());
    keepStart = e.refused.isEmpty() && !e.past &&
                (allDay ? e.date == activity.date() : e.start.isValid() && e.start == activity.toUTC());
  }
  QString startLine = keepStart ? *start
                      : allDay  ? QStringLiteral("DTSTART;VALUE=DATE:") + activity.date().toString(kDateForm)
                                : TimedStart(activity, zone);
  QStringList out;
  out << startLine << QStringLiteral("RRULE:") + rule.trimmed();
  for (const QString& line : was) {
    if (IsProperty(line, QLatin1StringView("DTSTART")) || IsProperty(line, QLatin1StringView("RRULE")) ||
        line.startsWith(QLatin1String("X-CHIMEWISE-LEAD:")))
      continue;
    // The zone an older start was counted in goes with that start.
    if (!keepStart && line.startsWith(QLatin1String("X-CHIMEWISE-TZID:"))) continue;
    out << line;
  }
  // The lead goes before a zone's lines, which end a series.
  const qsizetype zoneAt = out.indexOf(QStringLiteral("BEGIN:VTIMEZONE"));
  out.insert(zoneAt >= 0 ? zoneAt : out.size(), QStringLiteral("X-CHIMEWISE-LEAD:%1").arg(leadSecs));
  return out;
}

QStringList OneOffSeries(const QStringList& was, const QDateTime& activity) {
  const std::optional<QString> start = StartLine(was);
  if (start && AllDayStart(*start))
    return {QStringLiteral("DTSTART;VALUE=DATE:") + activity.date().toString(kDateForm)};
  return {};
}

QString ExceptionLine(const QStringList& series, const QDateTime& occurrence) {
  const std::optional<QString> start = StartLine(series);
  const QString line = start.value_or(QString());
  if (start && AllDayStart(line)) return QStringLiteral("EXDATE;VALUE=DATE:") + occurrence.date().toString(kDateForm);
  const QString value = Split(line).second.trimmed();
  const QString tzid = Parameter(line, QStringLiteral("TZID"));
  if (start && !value.endsWith(u'Z')) {
    if (tzid.isEmpty()) return QStringLiteral("EXDATE:") + occurrence.toLocalTime().toString(kWallForm);
    const QTimeZone zone(tzid.toUtf8());
    if (zone.isValid())
      return QStringLiteral("EXDATE;TZID=") + tzid + u':' + occurrence.toTimeZone(zone).toString(kWallForm);
  }
  // UTC starts, the older stored form and zones known only by their own lines: the moment in UTC.
  return QStringLiteral("EXDATE;VALUE=DATE-TIME:") + occurrence.toUTC().toString(kUtcForm);
}

std::optional<SeriesOccurrence> NextSeriesOccurrence(const QStringList& series, const QDateTime& after) {
  const icalendar::ReadEvent e = icalendar::NextOccurrence(series, after.toUTC());
  if (!e.refused.isEmpty() || e.past) return std::nullopt;
  return SeriesOccurrence{e.allDay, e.date, e.start};
}

std::optional<OccurrenceChange> PlanOccurrenceStep(const ReminderFacts& r, const QStringList& series,
                                                   OccurrenceStep step, const QDateTime& now) {
  if (RuleOfSeries(series).isEmpty() || !r.activity.isValid()) return std::nullopt;
  OccurrenceChange change;
  change.series = series;
  // The occurrence taken out: the one the reminder stands at, or for a skip of one gone by (it is
  // dealt with), the one after it.
  if (step == OccurrenceStep::DeleteOne || (step == OccurrenceStep::Skip && r.activity >= now)) {
    change.excluded = r.activity;
  } else if (step == OccurrenceStep::Skip) {
    const std::optional<SeriesOccurrence> after = NextSeriesOccurrence(series, r.activity.addSecs(60));
    if (after)
      change.excluded = after->allDay ? AlarmMoment(after->date, MinuteOfDay(r.activity)) : after->start.toLocalTime();
  }
  if (change.excluded.isValid()) {
    // Before a zone's lines, which end a series.
    const qsizetype zoneAt = change.series.indexOf(QStringLiteral("BEGIN:VTIMEZONE"));
    change.series.insert(zoneAt >= 0 ? zoneAt : change.series.size(), ExceptionLine(series, change.excluded));
  }
  // From whichever is later, the occurrence dealt with or now: PlanSeriesMove moves a reminder whose
  // activity lies before the moment it is given.
  const QDateTime dealtWith = change.excluded.isValid() ? std::max(r.activity, change.excluded) : r.activity;
  const QDateTime from = std::max(now, dealtWith.addSecs(1));
  change.move = PlanSeriesMove(r, change.series, from, &NextSeriesOccurrence);
  return change;
}

namespace {

qint64 LeadOf(const QStringList& series) {
  qint64 lead = 0;
  for (const QString& line : series)
    if (line.startsWith(QLatin1String("X-CHIMEWISE-LEAD:"))) lead = line.mid(17).toLongLong();
  return lead;
}

// The occurrence after the one at `activity`, as the reminder would stand at it.
std::optional<SeriesMove> After(const ReminderFacts& r, const QStringList& series, const QDateTime& activity) {
  ReminderFacts at = r;
  at.activity = activity;
  return PlanSeriesMove(at, series, activity.addSecs(1), &NextSeriesOccurrence);
}

}  // namespace

std::optional<SeriesMove> PlanSeriesAfterTelling(const ReminderFacts& r, const QStringList& series,
                                                 const std::optional<QDateTime>& nag, const QDateTime& now) {
  if (RuleOfSeries(series).isEmpty() || !r.activity.isValid() || r.activity >= now) return std::nullopt;
  const std::optional<SeriesMove> after = After(r, series, r.activity);
  if (!after) return std::nullopt;
  // Occurrences whose alarms came by already were told with this telling: it moves past them.
  if (after->alarm <= now) return PlanSeriesMove(r, series, now, &NextSeriesOccurrence);
  if (nag && *nag < after->alarm) return std::nullopt;
  return after;
}

std::optional<AwayPlan> PlanAway(const ReminderFacts& r, const QStringList& series, const QDateTime& now,
                                 int waitMinutes) {
  if (RuleOfSeries(series).isEmpty() || !r.activity.isValid()) return std::nullopt;
  const qint64 lead = LeadOf(series);
  const QDateTime cutoff = now.addSecs(-60LL * std::max(waitMinutes, 0));
  AwayPlan away;
  bool longAgo = false;  // one of them went by more than the wait ago: not merely falling due now
  // The occurrence it stands at counts unless it was told already (its alarm then lies after it).
  if (!RepeatOfLateReminder(r) && r.activity.addSecs(-lead) <= now) {
    ++away.missed;
    longAgo = r.activity.addSecs(-lead) <= cutoff;
  }
  std::optional<SeriesMove> next = After(r, series, r.activity);
  while (next && next->alarm <= now) {
    if (away.missed == kMaxAwayCounted) {
      // Too many to count one by one: straight to the first whose alarm is still to come.
      away.more = true;
      ReminderFacts at = r;
      at.activity = now.addSecs(lead);
      next = PlanSeriesMove(at, series, at.activity.addSecs(1), &NextSeriesOccurrence);
      break;
    }
    ++away.missed;
    longAgo = longAgo || next->alarm <= cutoff;
    next = After(r, series, next->activity);
  }
  if (away.missed < 2 || !longAgo) return std::nullopt;
  away.next = next;
  return away;
}

QString AwayText(const AwayPlan& away, const QString& activity, const QDateTime& now, const QString& timeFormat) {
  const QString count = away.more ? QStringLiteral("more than %1 occurrences").arg(away.missed)
                                  : QStringLiteral("%1 occurrences").arg(away.missed);
  QString text = QStringLiteral("While you were away, %1 of %2 went by").arg(count, activity.trimmed());
  if (!away.next) return text + QStringLiteral("; that was the last of them.");
  const QDateTime at = away.next->activity.toLocalTime();
  const qint64 days = now.toLocalTime().date().daysTo(at.date());
  const QString day = days == 0   ? QStringLiteral("today")
                      : days == 1 ? QStringLiteral("tomorrow")
                      : days < 7  ? QStringLiteral("on ") + RepeatWeekdayName(at.date().dayOfWeek())
                                  : QStringLiteral("on ") + RepeatDateWords(at.date());
  return text + QStringLiteral("; the next is %1 at %2.").arg(day, FormatTime(at.time(), timeFormat));
}

QString SeriesSummary(const QStringList& series, const QString& timeFormat) {
  const QString rule = RuleOfSeries(series);
  if (rule.isEmpty()) return {};
  RepeatWords words;
  words.timePattern = timeFormat;
  if (const std::optional<QString> start = StartLine(series)) {
    words.start = StartMoment(*start);
    // An all-day series has no time of day to tell.
    if (AllDayStart(*start)) words.start = QDateTime();
  }
  return RepeatSummary(rule, words);
}

}  // namespace chimewise

#include "alarms/alarm_rules.h"

#include "core/time_format.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace chimewise {

namespace {

// The start of now's minute in real time (seconds dropped).
QDateTime minuteOf(const QDateTime& now) { return now.addSecs(-now.time().second()).addMSecs(-now.time().msec()); }

// Now, moved on a minute when more than 30 of its seconds have gone, without its seconds.
QDateTime roundedMinute(const QDateTime& now) {
  const QDateTime t = minuteOf(now);
  return now.time().second() > 30 ? t.addSecs(60) : t;
}

QString longDate(const QDate& d) {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  return english.dayName(d.dayOfWeek(), QLocale::LongFormat) + QStringLiteral(", ") +
         english.monthName(d.month(), QLocale::LongFormat) + u' ' + QString::number(d.day()) + QStringLiteral(", ") +
         QString::number(d.year());
}

}  // namespace

// Alarms are stored as wall times; the second run of a repeated hour has a form of its own (see
// StoredWallTime), so every minute can be an alarm.
AlarmWrite StoredAlarm(const QDateTime& moment, const QString& timeFormat) {
  const StoredWall w = StoredWallTime(moment);
  return {w.date, w.minutes, FormatDateTimeText(AlarmMoment(w.date, w.minutes), timeFormat)};
}

QString RemarkText(qint64 minutes, bool late) {
  qint64 c = minutes < 0 ? -minutes : minutes;
  if (c == 0) return {};
  QStringList parts;
  const auto count = [&parts](qint64 n, const char* unit) {
    if (n > 0) parts << QString::number(n) + u' ' + QLatin1String(unit) + (n > 1 ? QStringLiteral("s") : QString());
  };
  count(c / 1440, "day");
  count(c % 1440 / 60, "hour");
  count(c % 60, "minute");
  QString text = parts.takeLast();
  if (!parts.isEmpty()) text = parts.join(u' ') + QStringLiteral(" and ") + text;
  return late ? QStringLiteral(". You're ") + text + QStringLiteral(" late.") : QStringLiteral(". In ") + text;
}

AnnouncementPlan PlanAnnouncement(const ReminderFacts& r, const AnnounceSettings& s, int readActivity, int readMemos,
                                  AnnounceMode mode, const QDateTime& now) {
  AnnouncementPlan plan;
  // An activity whose moment cannot be read at all counts as due now.
  const QDateTime activity = r.activity.isValid() ? r.activity : now;
  const qint64 toGo = MinuteBoundaries(now, activity);
  const bool late = toGo < 0;
  plan.due = toGo <= 0;
  plan.remark = toGo == 0 ? QStringLiteral(". Is Due Now!") : RemarkText(toGo, late);

  if (r.countdown <= 0 && !late) plan.remark.clear();  // without a countdown only lateness is remarked on

  // Where the alarm goes next. A reminder without a pending alarm keeps none.
  if (r.alarmDate.isValid()) {
    QDateTime alarm = AlarmMoment(r.alarmDate, r.alarmTime);
    bool moved = false;
    if (r.countdown > 0) {
      if (alarm <= now) {
        alarm = minuteOf(now).addSecs(60LL * r.countdown);
        moved = true;
      }
    } else {
      if (s.remindOn == 1 && s.waitTime > 0 && activity < now) {
        alarm = roundedMinute(now).addSecs(60LL * s.waitTime);
        moved = true;
      }
    }
    if (alarm.date() < now.date()) {
      alarm = AlarmMoment(now.date(), MinuteOfDay(alarm));
      moved = true;
    }
    // Minutes are added in real time; an alarm at now itself has just gone off and moves on.
    if (StorableMoment(alarm) <= now) {
      alarm = minuteOf(now).addSecs(60LL * 5);
      moved = true;
    }
    if (moved) plan.alarm = StoredAlarm(alarm, s.timeFormat);
  }

  if (r.sayDate != 0) plan.datePhrase = longDate(r.eventDate) + u' ';
  if (r.startTime > -1 && r.sayTime != 0) {
    if (!plan.datePhrase.isEmpty()) plan.datePhrase += QStringLiteral("at ");
    plan.datePhrase += r.timeText.trimmed();
  }

  if (mode != AnnounceMode::TextsOnly) plan.sound = r.sound;
  const bool memoAlone = readActivity != 1 && readMemos != 0;
  if (mode != AnnounceMode::SoundOnly && !memoAlone) {
    if (!plan.datePhrase.isEmpty())
      plan.sayTexts.push_back(QStringLiteral("Reminder, you have an activity scheduled for ") + plan.datePhrase);
    plan.sayTexts.push_back(r.activityText + plan.remark);
  }
  if (readMemos == 1) plan.sayTexts.push_back(r.memo);
  return plan;
}

bool ReminderCurrent(const ReminderFacts& r, const QDateTime& now) {
  return r.alarmDate.isValid() && AlarmMoment(r.alarmDate, r.alarmTime) <= now;
}

bool RepeatOfLateReminder(const ReminderFacts& r) {
  return r.alarmDate.isValid() && r.activity.isValid() && AlarmMoment(r.alarmDate, r.alarmTime) > r.activity;
}

QString LateSummaryText(int count, const QString& latest) {
  return QStringLiteral("You have %1 late reminders; the latest is %2.").arg(count).arg(latest.trimmed());
}

const std::array<SnoozeChoice, 9>& SnoozeChoices() {
  static const std::array<SnoozeChoice, 9> choices{{{"&1 Minute", 1},
                                                    {"&5 Minutes", 5},
                                                    {"&10 Minutes", 10},
                                                    {"&30 Minutes", 30},
                                                    {"1 &Hour", 60},
                                                    {"3 Ho&urs", 180},
                                                    {"5 Hou&rs", 300},
                                                    {"1 &Day", 1440},
                                                    {"1 &Week", 7 * 1440}}};
  return choices;
}

std::optional<SnoozePlan> PlanSnooze(int choice, const QDateTime& activity, const QDateTime& now) {
  if (choice < 0 || choice >= static_cast<int>(SnoozeChoices().size())) return std::nullopt;
  SnoozePlan plan;
  const int minutes = SnoozeChoices()[static_cast<size_t>(choice)].minutes;
  // Days are calendar days: a week from 23:50 is 23:50 a week later, whatever the clocks did.
  // Shorter delays are real time: "1 Hour" from 01:45 on the night the clocks go forward is 03:45.
  // The alarm is stored as a wall time, so it is a moment a wall time names (see alarmAt).
  const QDateTime start = roundedMinute(now);
  plan.alarm =
      StorableMoment(minutes % 1440 == 0 ? AlarmMoment(start.date().addDays(minutes / 1440), MinuteOfDay(start))
                                         : start.addSecs(60LL * minutes));
  plan.moveActivity = !activity.isValid() || MinuteBoundaries(plan.alarm, activity) < 0;
  return plan;
}

std::string NewRecordId(const QDateTime& now, double randomFraction, char prefix) {
  // The moment as days since 30 December 1899 with the time as a fraction; the day number is
  // that rounded to the nearest whole day (so after noon the day counts as the next).
  const int secs = now.time().hour() * 3600 + now.time().minute() * 60 + now.time().second();
  const double serial = static_cast<double>(kDayZero.daysTo(now.date())) + secs / 86400.0;
  const qint64 dayNumber = static_cast<qint64>(std::nearbyint(serial));
  const qint64 day1990 = kDayZero.daysTo(QDate(1990, 1, 1));
  qint64 n = (dayNumber - day1990) * 86400 + secs;
  std::string stamp;
  for (int i = 0; i < 4; ++i) {
    qint64 c = n % 256;
    if (c < 0) c += 256;
    if (c == 0)
      c = 1;
    else if (c == 39)
      c = 2;
    else if (c == 34)
      c = 3;
    else if (c == 9)
      c = 4;
    stamp.insert(stamp.begin(), static_cast<char>(static_cast<unsigned char>(c)));
    n = static_cast<qint64>(std::nearbyint(static_cast<double>(n) / 256.0));
  }
  if (!(randomFraction >= 0.0 && randomFraction < 1.0)) randomFraction = 0.0;
  const auto digits = static_cast<long long>(std::floor(1e8 * randomFraction));
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08lld", digits);
  return std::string(1, prefix) + stamp + buf;
}

std::optional<SeriesMove> PlanSeriesMove(
    const ReminderFacts& r, const QStringList& series, const QDateTime& now,
    const std::function<std::optional<SeriesOccurrence>(const QStringList& series, const QDateTime& after)>& next) {
  const bool repeats =
      std::any_of(series.begin(), series.end(), [](const QString& l) { return l.startsWith("RRULE"); });
  if (!repeats || !r.activity.isValid() || r.activity >= now) return std::nullopt;
  qint64 lead = 0;
  for (const QString& line : series)
    if (line.startsWith(QStringLiteral("X-CHIMEWISE-LEAD:"))) lead = line.mid(17).toLongLong();
  // The first occurrence after the one gone by, and not before now either.
  const std::optional<SeriesOccurrence> o = next(series, std::max(r.activity.addSecs(60), now));
  if (!o) return std::nullopt;
  SeriesMove move;
  move.activity = o->allDay ? AlarmMoment(o->date, MinuteOfDay(r.activity)) : o->start.toLocalTime();
  move.alarm = move.activity.addSecs(-lead);
  return move;
}

}  // namespace chimewise

// The model test of repeating reminders: for random rules from random starts in three zones with
// daylight saving (Lord Howe's clocks move by half an hour), the next 50 alarm moments the program
// plans (PlanSeriesMove over icalendar::NextOccurrence, as the alarm service calls them) against
// python3-dateutil's rrule, run by series_reference.py, which also says how wall times become
// moments across the changes of the clocks.
//
// Rules are drawn from every FREQ and BY part the program takes, with COUNT, UNTIL and EXDATE,
// leaving out what the program refuses on purpose (a minutely or hourly rule limited to some days of
// the month or year, whose next occurrence could lie millions of steps away) and combinations with
// no occurrence at all. CHIMEWISE_SERIES_MODEL_RULES sets how many (default 1000) and
// CHIMEWISE_SERIES_MODEL_SEED the seed; every difference is printed with its series.

#include "alarms/alarm_rules.h"

#include <icalendar/icalendar.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace chimewise;

namespace {

const char* const kZones[] = {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe"};
const char* const kDays[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
const char* const kFreqs[] = {"MINUTELY", "HOURLY", "DAILY", "WEEKLY", "MONTHLY", "YEARLY"};
enum { Minutely, Hourly, Daily, Weekly, Monthly, Yearly };

struct Drawn {
  QString zone;
  QString start;  // wall time to look from
  QString rule;   // without UNTIL
  std::optional<qint64> until;
  int exdates = 0;
  qint64 lead = 0;
  qint64 period = 0;  // seconds of one step of the rule, roughly
};

class Draw {
 public:
  explicit Draw(unsigned seed) : m_gen(seed) {}
  int upTo(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_gen); }
  bool chance(int percent) { return upTo(100) < percent; }
  int between(int lo, int hi) { return lo + upTo(hi - lo + 1); }
  int sign() { return chance(50) ? 1 : -1; }
  QStringList distinct(int count, int lo, int hi, bool signedValues = false) {
    std::vector<int> all;
    for (int i = lo; i <= hi; ++i) all.push_back(i);
    std::shuffle(all.begin(), all.end(), m_gen);
    QStringList out;
    for (int i = 0; i < count && i < int(all.size()); ++i)
      out << QString::number(signedValues ? all[i] * sign() : all[i]);
    return out;
  }
  QStringList weekdays(int count) {
    QStringList out;
    for (const QString& d : distinct(count, 0, 6)) out << QLatin1String(kDays[d.toInt()]);
    return out;
  }

  Drawn rule() {
    Drawn d;
    d.zone = QLatin1String(kZones[upTo(3)]);
    const QTimeZone tz(d.zone.toLatin1());
    const int f = upTo(6);
    const std::vector<int> intervals[] = {
        {1, 5, 7, 15, 30, 45, 90}, {1, 2, 3, 5, 25}, {1, 2, 3, 10}, {1, 2, 3}, {1, 2, 5}, {1, 2}};
    const int step = chance(50) ? 1 : intervals[f][upTo(int(intervals[f].size()))];
    const qint64 unit[] = {60, 3600, 86400, 7 * 86400, 30 * 86400, 365 * 86400};
    d.period = unit[f] * step;
    // From shortly before a change of the clocks half the time, anywhere in 2020-2030 otherwise.
    QDateTime from;
    if (chance(50)) {
      static std::map<QString, QTimeZone::OffsetDataList> changes;
      auto& list = changes[d.zone];
      if (list.isEmpty())
        list = tz.transitions(QDateTime(QDate(2020, 1, 1), QTime(0, 0), QTimeZone::utc()),
                              QDateTime(QDate(2031, 1, 1), QTime(0, 0), QTimeZone::utc()));
      const qint64 before[] = {150 * 60, 2 * 86400, 7 * 86400, 60 * 86400, 365 * 86400, 3 * 365 * 86400};
      from = list[upTo(int(list.size()))].atUtc.addSecs(-between(0, int(std::min<qint64>(before[f], 2e9))));
    } else {
      from = QDateTime(QDate(2020, 1, 1).addDays(upTo(11 * 365)), QTime(upTo(24), upTo(60)), tz);
    }
    const QDateTime wall = from.toTimeZone(tz);
    d.start = QDateTime(wall.date(), QTime(wall.time().hour(), wall.time().minute()), QTimeZone::utc())
                  .toString(QStringLiteral("yyyyMMdd'T'HHmmss"));

    QStringList parts{QStringLiteral("FREQ=") + QLatin1String(kFreqs[f])};
    if (step > 1) parts << QStringLiteral("INTERVAL=%1").arg(step);
    const bool withinDay = f == Minutely || f == Hourly;
    int perPeriod = 1;  // how many a BY part gives in one period, at least (for BYSETPOS)
    bool byMonth = false;
    if (!withinDay && chance(f == Yearly ? 50 : 15)) {
      parts << QStringLiteral("BYMONTH=") + distinct(between(1, 3), 1, 12).join(u',');
      byMonth = true;
    }
    bool numbered = false;
    if ((f == Monthly || f == Yearly) && chance(30)) {
      QStringList days;
      for (int i = between(1, 2); i > 0; --i) {
        const int n = f == Monthly || byMonth ? (chance(10) ? 5 : between(1, 4)) : between(1, 52);
        days << QString::number(n * sign()) + QLatin1String(kDays[upTo(7)]);
      }
      days.removeDuplicates();
      parts << QStringLiteral("BYDAY=") + days.join(u',');
      numbered = true;
    } else if (chance(30)) {
      const int n = between(1, 5);
      parts << QStringLiteral("BYDAY=") + weekdays(n).join(u',');
      perPeriod = f == Monthly ? 4 * n : f == Yearly ? (byMonth ? 4 * n : 52 * n) : f == Weekly ? n : 1;
    }
    if (!numbered && ((f == Daily && chance(15)) || (f == Monthly && chance(35)) || (f == Yearly && chance(25)))) {
      const bool late = !byMonth && f != Yearly && chance(10);
      parts << QStringLiteral("BYMONTHDAY=") +
                   (late ? distinct(between(1, 2), 29, 31, true) : distinct(between(1, 3), 1, 28, true)).join(u',');
      if (f == Monthly && !parts.join(u';').contains(QLatin1String("BYDAY"))) perPeriod = 1;
    }
    if (chance(withinDay ? 40 : 25)) {
      if (f == Minutely || (f == Hourly && chance(50))) {
        const int first = upTo(20), length = between(1, 6);
        QStringList hours;
        for (int h = first; h < first + length && h < 24; ++h) hours << QString::number(h);
        parts << QStringLiteral("BYHOUR=") + hours.join(u',');
      } else {
        // The hours the clocks skip or repeat come up often.
        QStringList hours = distinct(between(1, 3), 0, 23);
        if (chance(40)) hours[0] = QString::number(between(1, 2));
        hours.removeDuplicates();
        parts << QStringLiteral("BYHOUR=") + hours.join(u',');
        if (!withinDay) perPeriod = std::max(perPeriod, int(hours.size()));
      }
    }
    if (chance(f == Minutely ? (step == 1 ? 20 : 0) : 25)) {
      const QStringList minutes = distinct(between(1, f == Hourly ? 2 : 3), 0, 59);
      parts << QStringLiteral("BYMINUTE=") + minutes.join(u',');
      if (!withinDay) perPeriod = std::max(perPeriod, int(minutes.size()));
    }
    if (!withinDay && perPeriod >= 2 && chance(30))
      parts << QStringLiteral("BYSETPOS=") + distinct(between(1, 2), 1, std::min(perPeriod, 3), true).join(u',');
    if (chance(15)) parts << QStringLiteral("WKST=") + QLatin1String(kDays[upTo(7)]);
    const int end = upTo(100);
    if (end < 25) parts << QStringLiteral("COUNT=%1").arg(between(1, 80));
    if (end >= 25 && end < 45) d.until = from.toSecsSinceEpoch() + qint64(between(0, 60)) * d.period;
    d.rule = parts.join(u';');
    d.exdates = chance(30) ? between(1, 3) : 0;
    d.lead = chance(50) ? 0 : 60 * between(1, 120);
    return d;
  }

 private:
  std::mt19937 m_gen;
};

int EnvNumber(const char* name, int fallback) {
  bool ok = false;
  const int n = qEnvironmentVariable(name).toInt(&ok);
  return ok && n > 0 ? n : fallback;
}

QString UtcText(qint64 secs) {
  return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

std::optional<SeriesOccurrence> NextAsTheAlarmsDo(const QStringList& series, const QDateTime& after) {
  const icalendar::ReadEvent e = icalendar::NextOccurrence(series, after.toUTC());
  if (!e.refused.isEmpty() || e.past) return std::nullopt;
  return SeriesOccurrence{e.allDay, e.date, e.start};
}

}  // namespace

TEST(SeriesModel, NextFiftyAlarmMomentsAgreeWithDateutil) {
  const int rules = EnvNumber("CHIMEWISE_SERIES_MODEL_RULES", 1000);
  const unsigned seed = unsigned(EnvNumber("CHIMEWISE_SERIES_MODEL_SEED", 20261208));
  Draw draw(seed);
  std::vector<Drawn> drawn;
  QJsonArray asked;
  for (int i = 0; i < rules; ++i) {
    drawn.push_back(draw.rule());
    const Drawn& d = drawn.back();
    asked.append(QJsonObject{{"zone", d.zone},
                             {"start", d.start},
                             {"rule", d.rule},
                             {"until", d.until ? QJsonValue(double(*d.until)) : QJsonValue()},
                             {"exdates", d.exdates},
                             {"seed", i},
                             {"walls", 150}});
  }
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(SERIES_REFERENCE)});
  ASSERT_TRUE(python.waitForStarted());
  python.write(QJsonDocument(asked).toJson(QJsonDocument::Compact));
  python.closeWriteChannel();
  ASSERT_TRUE(python.waitForFinished(600000));
  ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  const QJsonArray answers = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
  ASSERT_EQ(answers.size(), rules);

  std::mt19937 jumps(seed + 1);
  int compared = 0, skipped = 0, differences = 0;
  for (int i = 0; i < rules; ++i) {
    const Drawn& d = drawn[size_t(i)];
    const QJsonObject a = answers[i].toObject();
    if (a.contains(QLatin1String("skipped"))) {
      if (++skipped <= 5)
        std::printf("not followed: %s (%s)\n", qPrintable(d.rule), qPrintable(a["skipped"].toString()));
      continue;
    }
    QStringList series{
        QStringLiteral("DTSTART;TZID=%1:%2").arg(d.zone, a["dtstart"].toString()),
        QStringLiteral("RRULE:") + d.rule + (d.until ? QStringLiteral(";UNTIL=") + UtcText(*d.until) : QString())};
    for (const QJsonValue& x : a["exdates"].toArray())
      series << QStringLiteral("EXDATE;TZID=%1:%2").arg(d.zone, x.toString());
    series << QStringLiteral("X-CHIMEWISE-LEAD:%1").arg(d.lead);
    std::vector<qint64> expected;
    for (const QJsonValue& m : a["moments"].toArray()) expected.push_back(qint64(m.toDouble()));
    const bool complete = a["complete"].toBool();
    // The reference's answer for the first moment not before `t`: a moment, none (the series has
    // ended), or unknown (past what the reference followed).
    const auto want = [&](qint64 t) -> std::optional<std::optional<qint64>> {
      const auto it = std::lower_bound(expected.begin(), expected.end(), t);
      if (it != expected.end()) return std::optional<qint64>(*it);
      if (complete) return std::optional<qint64>();
      return std::nullopt;
    };
    const auto report = [&](const QString& what) {
      if (++differences <= 20) ADD_FAILURE() << what.toStdString() << "\n  " << series.join("\n  ").toStdString();
    };
    // The first occurrence, then each next one as the alarm service moves the reminder on: mostly
    // just after the last, sometimes a while later (a suspend), when the ones between go by.
    std::optional<SeriesOccurrence> o =
        NextAsTheAlarmsDo(series, QDateTime::fromSecsSinceEpoch(qint64(a["from"].toDouble())));
    const auto w0 = want(qint64(a["from"].toDouble()));
    if (!w0) continue;
    if (o.has_value() != w0->has_value() || (o && o->start.toSecsSinceEpoch() != **w0)) {
      report(QStringLiteral("first: program %1, dateutil %2")
                 .arg(o ? o->start.toUTC().toString(Qt::ISODate) : QStringLiteral("none"),
                      *w0 ? QDateTime::fromSecsSinceEpoch(**w0, QTimeZone::utc()).toString(Qt::ISODate)
                          : QStringLiteral("none")));
      continue;
    }
    if (!o) continue;
    ++compared;
    ReminderFacts facts;
    facts.activity = o->start.toLocalTime();
    for (int k = 1; k < 50; ++k) {
      const qint64 late = std::uniform_int_distribution<int>(0, 99)(jumps) < 15
                              ? std::uniform_int_distribution<qint64>(1, 4 * d.period)(jumps)
                              : 1;
      const QDateTime now = facts.activity.addSecs(late);
      const auto w = want(std::max(facts.activity.addSecs(60), now).toSecsSinceEpoch());
      if (!w) break;
      const std::optional<SeriesMove> move = PlanSeriesMove(facts, series, now, &NextAsTheAlarmsDo);
      const bool same =
          move.has_value() == w->has_value() &&
          (!move || (move->activity.toSecsSinceEpoch() == **w && move->alarm.toSecsSinceEpoch() == **w - d.lead));
      if (!same) {
        report(QStringLiteral("after %1 (now %2): program %3, dateutil %4")
                   .arg(facts.activity.toUTC().toString(Qt::ISODate), now.toUTC().toString(Qt::ISODate),
                        move ? move->activity.toUTC().toString(Qt::ISODate) : QStringLiteral("none"),
                        *w ? QDateTime::fromSecsSinceEpoch(**w, QTimeZone::utc()).toString(Qt::ISODate)
                           : QStringLiteral("none")));
        break;
      }
      if (!move) break;
      ++compared;
      facts.activity = move->activity;
    }
  }
  std::printf(
      "series model: %d rules (seed %u), %d alarm moments compared, %d rules dateutil could not follow, "
      "%d differences\n",
      rules, seed, compared, skipped, differences);
  EXPECT_EQ(differences, 0);
  EXPECT_LE(skipped, rules / 40);  // rules drawn with no occurrence at all
}

#include "core/time_format.h"

#include <algorithm>
#include <vector>

namespace chimewise {

namespace {

bool startsWithCi(QStringView s, qsizetype at, QLatin1String what) {
  return s.sliced(at).startsWith(what, Qt::CaseInsensitive);
}

bool hasMarker(const QString& pattern) {
  return pattern.contains(QLatin1String("am/pm"), Qt::CaseInsensitive) ||
         pattern.contains(QLatin1String("a/p"), Qt::CaseInsensitive);
}

QString twoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0')); }

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// The offset from UTC, in seconds, in force at an instant of real time.
int offsetAt(qint64 secsSinceEpoch) { return QDateTime::fromSecsSinceEpoch(secsSinceEpoch).offsetFromUtc(); }

struct Resolved {
  QDateTime moment;  // the first run of a repeated wall time
  bool skipped = false;
  QDateTime second;  // the second run of a repeated wall time; invalid when it happens once
};

// A wall time on a date as a moment of real time. The offsets in force a day before and a day
// after bracket any change of the clocks near it; each gives a candidate instant, and a candidate
// counts when the wall clock really shows that date and time at it. The earliest such candidate is
// the first run of a repeated wall time, the other its second run. When none counts the clocks
// skipped the wall time: read with the offset in force before the change, it lands as far after
// the change as it lay after the last wall time before it.
Resolved resolveWallTime(const QDate& date, const QTime& time) {
  const qint64 naive = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
  const int before = offsetAt(naive - 86400);
  const int after = offsetAt(naive + 86400);
  std::vector<qint64> runs;
  for (const int offset : {before, after}) {
    const qint64 candidate = naive - offset;
    const QDateTime local = QDateTime::fromSecsSinceEpoch(candidate);
    if (local.date() == date && local.time() == time) runs.push_back(candidate);
  }
  std::sort(runs.begin(), runs.end());
  runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
  if (!runs.empty())
    return {QDateTime::fromSecsSinceEpoch(runs.front()), false,
            runs.size() > 1 ? QDateTime::fromSecsSinceEpoch(runs.back()) : QDateTime()};
  return {QDateTime::fromSecsSinceEpoch(naive - before), true, {}};
}

void splitMinutes(const QDate& date, int minutes, QDate* day, QTime* time) {
  const int days = minutes >= 0 ? minutes / 1440 : -((1439 - minutes) / 1440);
  const int rest = minutes - days * 1440;
  *day = date.addDays(days);
  *time = QTime(rest / 60, rest % 60);
}

}  // namespace

QString FormatTime(const QTime& time, const QString& pattern) {
  const bool twelve = hasMarker(pattern);
  int hour = time.hour();
  if (twelve) {
    hour %= 12;
    if (hour == 0) hour = 12;
  }
  const bool pm = time.hour() >= 12;
  const QStringView view(pattern);
  QString out;
  for (qsizetype i = 0; i < view.size();) {
    const QChar c = view.at(i);
    if (startsWithCi(view, i, QLatin1String("am/pm"))) {
      const QString m = pm ? QStringLiteral("pm") : QStringLiteral("am");
      out += c.isUpper() ? m.toUpper() : m;
      i += 5;
    } else if (startsWithCi(view, i, QLatin1String("a/p"))) {
      const QString m = pm ? QStringLiteral("p") : QStringLiteral("a");
      out += c.isUpper() ? m.toUpper() : m;
      i += 3;
    } else if (c == u'h' || c == u'H') {
      const bool two = i + 1 < view.size() && view.at(i + 1).toLower() == u'h';
      out += two ? twoDigits(hour) : QString::number(hour);
      i += two ? 2 : 1;
    } else if (c == u'm' || c == u'M' || c == u'n' || c == u'N') {
      const bool two = i + 1 < view.size() && view.at(i + 1).toLower() == c.toLower();
      out += two ? twoDigits(time.minute()) : QString::number(time.minute());
      i += two ? 2 : 1;
    } else if (c == u's' || c == u'S') {
      const bool two = i + 1 < view.size() && view.at(i + 1).toLower() == u's';
      out += two ? twoDigits(time.second()) : QString::number(time.second());
      i += two ? 2 : 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

QString FormatShortDate(const QDate& date) {
  return twoDigits(date.month()) + u'/' + twoDigits(date.day()) + u'/' +
         QStringLiteral("%1").arg(date.year(), 4, 10, QChar(u'0'));
}

QString FormatDateTimeText(const QDateTime& when, const QString& timePattern) {
  return FormatShortDate(when.date()) + u' ' + FormatTime(when.time(), timePattern);
}

int MinuteOfDay(const QTime& time) { return time.hour() * 60 + time.minute(); }

int MinuteOfDay(const QDateTime& when) { return MinuteOfDay(when.time()); }

qint64 MinuteBoundaries(const QDateTime& from, const QDateTime& to) {
  return floorDiv(to.toSecsSinceEpoch(), 60) - floorDiv(from.toSecsSinceEpoch(), 60);
}

QDateTime AlarmMoment(const QDate& date, int minutes) {
  QDate day;
  QTime time;
  splitMinutes(date, minutes, &day, &time);
  const Resolved r = resolveWallTime(day, time);
  // Minutes past the end of the day before name the second run of a repeated wall time.
  return minutes >= 1440 && r.second.isValid() ? r.second : r.moment;
}

StoredWall StoredWallTime(const QDateTime& moment) {
  const QDateTime t = QDateTime::fromSecsSinceEpoch(floorDiv(moment.toSecsSinceEpoch(), 60) * 60);
  const StoredWall plain{t.date(), MinuteOfDay(t)};
  if (AlarmMoment(plain.date, plain.minutes) == t) return plain;
  const StoredWall second{t.date().addDays(-1), 1440 + MinuteOfDay(t)};
  return AlarmMoment(second.date, second.minutes) == t ? second : plain;
}

QDateTime TypedMoment(const QDate& date, const QTime& time, const QDateTime& now) {
  const QTime minute(time.hour(), time.minute());
  const Resolved r = resolveWallTime(date, minute);
  // The first run while it is still to come; else the second, to come or nearer gone by.
  if (r.second.isValid() && r.moment <= now) return r.second;
  return r.moment;
}

bool WallTimeSkipped(const QDate& date, int minutes) {
  QDate day;
  QTime time;
  splitMinutes(date, minutes, &day, &time);
  return resolveWallTime(day, time).skipped;
}

QDateTime StorableMoment(const QDateTime& moment) {
  const StoredWall w = StoredWallTime(moment);
  return AlarmMoment(w.date, w.minutes);
}

QDateTime WallReading(const QDate& date, int minutes) {
  return QDateTime(date, QTime(0, 0), Qt::UTC).addSecs(60LL * minutes);
}

QDateTime WallReading(const QDateTime& moment) {
  const QDateTime local = moment.toLocalTime();
  return QDateTime(local.date(), local.time(), Qt::UTC);
}

QDateTime LatestWallReadingBy(const QDateTime& now) {
  // Within a day after the clocks went back, the wall clock may read behind wall times that have
  // had their first run; read with the larger offset of the day before, none is missed.
  const qint64 secs = now.toSecsSinceEpoch();
  const int offset = std::max(offsetAt(secs - 86400), offsetAt(secs));
  return QDateTime::fromSecsSinceEpoch(secs + offset, Qt::UTC);
}

}  // namespace chimewise

#include "core/time_format.h"

#include "core/date_text.h"

#include <QLocale>

namespace chimewise {

namespace {

bool startsWithCi(const QString& s, qsizetype at, const char* what) {
  return s.mid(at).startsWith(QLatin1String(what), Qt::CaseInsensitive);
}

bool hasMarker(const QString& pattern) {
  return pattern.contains(QLatin1String("am/pm"), Qt::CaseInsensitive) ||
         pattern.contains(QLatin1String("a/p"), Qt::CaseInsensitive);
}

// Minutes on the wall clock since day zero.
qint64 wallMinute(const QDateTime& t) {
  return t.date().toJulianDay() * 1440 + t.time().hour() * 60 + t.time().minute();
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
  QString out;
  for (qsizetype i = 0; i < pattern.size();) {
    const QChar c = pattern.at(i);
    if (startsWithCi(pattern, i, "am/pm")) {
      const bool upper = pattern.at(i).isUpper();
      QString m = pm ? QStringLiteral("pm") : QStringLiteral("am");
      out += upper ? m.toUpper() : m;
      i += 5;
    } else if (startsWithCi(pattern, i, "a/p")) {
      const bool upper = pattern.at(i).isUpper();
      QString m = pm ? QStringLiteral("p") : QStringLiteral("a");
      out += upper ? m.toUpper() : m;
      i += 3;
    } else if (c == u'h' || c == u'H') {
      const bool two = i + 1 < pattern.size() && pattern.at(i + 1).toLower() == u'h';
      out += two ? QStringLiteral("%1").arg(hour, 2, 10, QChar('0')) : QString::number(hour);
      i += two ? 2 : 1;
    } else if (c == u'm' || c == u'M' || c == u'n' || c == u'N') {
      const bool two = i + 1 < pattern.size() && pattern.at(i + 1).toLower() == c.toLower();
      out += two ? QStringLiteral("%1").arg(time.minute(), 2, 10, QChar('0')) : QString::number(time.minute());
      i += two ? 2 : 1;
    } else if (c == u's' || c == u'S') {
      const bool two = i + 1 < pattern.size() && pattern.at(i + 1).toLower() == u's';
      out += two ? QStringLiteral("%1").arg(time.second(), 2, 10, QChar('0')) : QString::number(time.second());
      i += two ? 2 : 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::optional<QTime> ParseTime(const QString& text, const QString&) {
  return ParseTimeText(text);
}

QString ShortDateFormat() {
  QString f = QLocale::system().dateFormat(QLocale::ShortFormat);
  // Widen a two-digit year to four digits.
  if (!f.contains(QLatin1String("yyyy"))) f.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  return f;
}

QString FormatShortDate(const QDate& date) { return QLocale::system().toString(date, ShortDateFormat()); }

std::optional<QDate> ParseShortDate(const QString& text) {
  const QDate d = QLocale::system().toDate(text.trimmed(), ShortDateFormat());
  if (d.isValid()) return d;
  if (auto dt = ParseDateText(text)) return dt->date();
  return std::nullopt;
}

QString FormatDateTimeText(const QDateTime& when, const QString& timePattern) {
  return FormatShortDate(when.date()) + u' ' + FormatTime(when.time(), timePattern);
}

std::optional<QDateTime> ParseDateTimeText(const QString& text, const QString& timePattern) {
  const QString t = text.trimmed();
  // The date is everything up to the first blank of the time part; short date forms hold no blank
  // in the locales we meet, but try every split to be safe.
  for (qsizetype space = t.indexOf(u' '); space > 0; space = t.indexOf(u' ', space + 1)) {
    const auto d = ParseShortDate(t.left(space));
    const auto time = ParseTime(t.mid(space + 1), timePattern);
    if (d && time) return QDateTime(*d, *time);
  }
  if (auto d = ParseShortDate(t)) return QDateTime(*d, QTime(0, 0));
  return std::nullopt;
}

int MinuteOfDay(const QDateTime& when) { return when.time().hour() * 60 + when.time().minute(); }

qint64 MinuteBoundaries(const QDateTime& from, const QDateTime& to) { return wallMinute(to) - wallMinute(from); }

QDateTime AlarmMoment(const QDate& date, int minutes) {
  const int days = minutes >= 0 ? minutes / 1440 : -((1439 - minutes) / 1440);
  const int rest = minutes - days * 1440;
  return QDateTime(date.addDays(days), QTime(rest / 60, rest % 60));
}

}  // namespace chimewise

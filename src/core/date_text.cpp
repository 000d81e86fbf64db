// The texts of dates and times kept in the settings store: the part of the time module that reads
// them. Declared in core/time_format.h.
#include "core/time_format.h"

#include <QRegularExpression>

namespace chimewise {

namespace {

std::optional<QTime> parseClock(const QString& text) {
  static const QRegularExpression re(
      QStringLiteral("^(\\d{1,2})(?::(\\d{1,2}))?(?::(\\d{1,2}))?\\s*([AaPp])?\\.?\\s*(?:[Mm]\\.?)?$"));
  const auto m = re.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  int h = m.captured(1).toInt();
  const bool hasMinutes = !m.captured(2).isEmpty();
  const int mi = hasMinutes ? m.captured(2).toInt() : 0;
  const int s = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
  const QString ap = m.captured(4).toUpper();
  if (!hasMinutes && ap.isEmpty()) return std::nullopt;  // a bare number is not a time
  if (!ap.isEmpty()) {
    if (h < 1 || h > 12) return std::nullopt;
    if (ap == u'A' && h == 12) h = 0;
    if (ap == u'P' && h != 12) h += 12;
  }
  const QTime t(h, mi, s);
  if (!t.isValid()) return std::nullopt;
  return t;
}

// A date followed, optionally, by a time of day.
std::optional<QDateTime> dateWithTime(const QDate& d, const QString& timePart) {
  if (!d.isValid()) return std::nullopt;
  if (timePart.isEmpty()) return QDateTime(d, QTime(0, 0));
  const auto t = parseClock(timePart);
  if (!t) return std::nullopt;
  return QDateTime(d, *t);
}

}  // namespace

std::optional<QTime> ParseTimeText(const QString& text) { return parseClock(text); }

std::optional<QDateTime> ParseDateText(const QString& raw) {
  const QString text = raw.trimmed();
  if (text.isEmpty()) return std::nullopt;

  // A plain number: days (and fractions of a day) since 30 December 1899.
  static const QRegularExpression number(QStringLiteral("^[+-]?\\d+(\\.\\d+)?$"));
  if (number.match(text).hasMatch()) {
    bool ok = false;
    const double days = text.toDouble(&ok);
    if (!ok || days < -657434 || days > 2958465) return std::nullopt;  // years 100 to 9999
    const qint64 whole = static_cast<qint64>(days);
    const double frac = days - static_cast<double>(whole);
    QDateTime dt(kDayZero.addDays(whole), QTime(0, 0));
    return dt.addMSecs(static_cast<qint64>(frac * 86400000.0 + (frac >= 0 ? 0.5 : -0.5)));
  }

  // yyyy-MM-dd[ T]HH:mm[:ss]
  static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})(?:[ T](.+))?$"));
  if (auto m = iso.match(text); m.hasMatch())
    return dateWithTime(QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()), m.captured(4));

  // d-MMM-yyyy [time]
  static const QRegularExpression named(QStringLiteral("^(\\d{1,2})-([A-Za-z]{3})-(\\d{4})(?:\\s+(.+))?$"));
  if (auto m = named.match(text); m.hasMatch()) {
    static const QStringList months = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const int month = static_cast<int>(months.indexOf(m.captured(2).toUpper())) + 1;
    if (month < 1) return std::nullopt;
    return dateWithTime(QDate(m.captured(3).toInt(), month, m.captured(1).toInt()), m.captured(4));
  }

  // M/d/yyyy [time]
  static const QRegularExpression slashed(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4})(?:\\s+(.+))?$"));
  if (auto m = slashed.match(text); m.hasMatch())
    return dateWithTime(QDate(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt()), m.captured(4));
  return std::nullopt;
}

QString FormatDateText(const QDateTime& when) { return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

}  // namespace chimewise

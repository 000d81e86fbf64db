#include "clock/spoken_time.h"

#include "core/time_format.h"

#include <QLocale>
#include <array>

namespace chimewise {

QString SpokenTime(const QDateTime& now, const QString& timeFormat) { return FormatTime(now.time(), timeFormat); }

QString SpokenWeekday(const QDate& date) {
  return QLocale(QLocale::English, QLocale::UnitedStates).dayName(date.dayOfWeek(), QLocale::LongFormat);
}

QString OrdinalSuffix(int day) {
  if (day >= 11 && day <= 13) return QStringLiteral("th");
  switch (day % 10) {
    case 1: return QStringLiteral("st");
    case 2: return QStringLiteral("nd");
    case 3: return QStringLiteral("rd");
    default: return QStringLiteral("th");
  }
}

QString SpokenDate(const QDate& date) {
  const QString month = QLocale(QLocale::English, QLocale::UnitedStates).monthName(date.month(), QLocale::LongFormat);
  return month + u' ' + QString::number(date.day()) + OrdinalSuffix(date.day()) + QStringLiteral(", ") +
         QString::number(date.year());
}

QString PartOfDayWord(int hour) {
  if (hour < 12) return QStringLiteral("Morning");
  if (hour < 17) return QStringLiteral("Afternoon");
  return QStringLiteral("Evening");
}

int AnnouncementStep(int intervalIndex) {
  static constexpr std::array<int, 7> steps{1, 5, 10, 15, 20, 30, 60};
  if (intervalIndex < 0 || intervalIndex >= static_cast<int>(steps.size())) return 60;
  return steps[static_cast<size_t>(intervalIndex)];
}

QDateTime NextAnnouncementTime(const QDateTime& now, const QString& announceOn, int intervalIndex) {
  if (announceOn == QStringLiteral("0")) return {};
  const QDateTime minuteStart(now.date(), QTime(now.time().hour(), now.time().minute()));
  const int step = AnnouncementStep(intervalIndex);
  const int m = now.time().minute();
  const int r = -(m % step);  // between -(step-1) and 0
  return minuteStart.addSecs(60LL * (step + r));
}

}  // namespace chimewise

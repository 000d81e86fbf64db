#include "core/repeat_rule.h"

#include "core/time_format.h"

#include <QLocale>
#include <QStringList>
#include <QTimeZone>

#include <algorithm>
#include <set>

namespace chimewise {

namespace {

constexpr qsizetype kMaxRuleText = 2000;
constexpr int kMaxInterval = 10000;
constexpr int kMaxCount = 100000;

const char* const kDayCodes[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
const char* const kFrequencies[] = {"MINUTELY", "HOURLY", "DAILY", "WEEKLY", "MONTHLY", "YEARLY"};

struct Refusal {
  QString message;
};

// A whole number, optionally signed; none for anything else (also for an overflow).
std::optional<int> wholeNumber(const QString& text, bool signedOk) {
  QString t = text;
  if (signedOk && t.startsWith(u'+')) t.remove(0, 1);
  if (t.isEmpty() || t.size() > 9) return std::nullopt;
  for (qsizetype i = 0; i < t.size(); ++i)
    if (!t[i].isDigit() && !(signedOk && i == 0 && t[i] == u'-' && t.size() > 1)) return std::nullopt;
  bool ok = false;
  const int n = t.toInt(&ok);
  return ok ? std::optional<int>(n) : std::nullopt;
}

int dayCode(const QString& code) {
  for (int i = 0; i < 7; ++i)
    if (code == QLatin1String(kDayCodes[i])) return i + 1;
  return 0;
}

// A comma list of numbers in [low, high], zero refused where `noZero`.
std::vector<int> numberList(const QString& name, const QString& value, int low, int high, bool noZero) {
  std::vector<int> out;
  for (const QString& item : value.split(u',')) {
    const auto n = wholeNumber(item, low < 0);
    if (!n || *n < low || *n > high || (noZero && *n == 0))
      throw Refusal{QStringLiteral("%1=%2: \"%3\" is not a number from %4 to %5%6")
                        .arg(name, value, item)
                        .arg(low)
                        .arg(high)
                        .arg(noZero ? QStringLiteral(" other than 0") : QString())};
    out.push_back(*n);
  }
  return out;
}

void readUntil(const QString& value, RepeatRule* rule) {
  const auto bad = [&] {
    return Refusal{QStringLiteral("UNTIL=%1: not a date (20270331) or a date and time (20270331T090000 or "
                                  "20270331T070000Z)")
                       .arg(value)};
  };
  if (value.size() < 8) throw bad();
  const QDate date = QDate::fromString(value.left(8), QStringLiteral("yyyyMMdd"));
  if (!date.isValid()) throw bad();
  rule->untilDate = date;
  if (value.size() == 8) return;
  QString rest = value.mid(8);
  if (!rest.startsWith(u'T')) throw bad();
  rest.remove(0, 1);
  if (rest.endsWith(u'Z')) {
    rule->untilUtc = true;
    rest.chop(1);
  }
  const QTime time = QTime::fromString(rest, QStringLiteral("HHmmss"));
  if (rest.size() != 6 || !time.isValid()) throw bad();
  rule->untilTime = time;
}

RepeatRule readRule(const QString& given) {
  QString text = given.trimmed();
  if (text.size() > kMaxRuleText)
    throw Refusal{QStringLiteral("the rule is longer than %1 characters").arg(kMaxRuleText)};
  if (text.startsWith(QLatin1String("RRULE:"), Qt::CaseInsensitive)) text = text.mid(6);
  text = text.toUpper();
  if (text.endsWith(u';')) text.chop(1);
  RepeatRule rule;
  std::set<QString> seen;
  bool hasFreq = false;
  for (const QString& part : text.split(u';')) {
    const qsizetype eq = part.indexOf(u'=');
    if (part.trimmed().isEmpty()) throw Refusal{QStringLiteral("\"%1\": an empty part").arg(given.trimmed())};
    if (eq <= 0) throw Refusal{QStringLiteral("%1: not NAME=VALUE").arg(part)};
    const QString name = part.left(eq).trimmed();
    const QString value = part.mid(eq + 1).trimmed();
    if (!seen.insert(name).second) throw Refusal{QStringLiteral("%1: given twice").arg(name)};
    if (value.isEmpty()) throw Refusal{QStringLiteral("%1=: no value").arg(name)};
    if (name == QLatin1String("FREQ")) {
      int i = 0;
      while (i < 6 && value != QLatin1String(kFrequencies[i])) ++i;
      if (i == 6)
        throw Refusal{
            QStringLiteral("FREQ=%1: not a frequency (MINUTELY, HOURLY, DAILY, WEEKLY, MONTHLY or YEARLY)").arg(value)};
      rule.frequency = RepeatFrequency(i);
      hasFreq = true;
    } else if (name == QLatin1String("INTERVAL")) {
      rule.interval = numberList(name, value, 1, kMaxInterval, true).front();
      if (value.contains(u',')) throw Refusal{QStringLiteral("INTERVAL=%1: one number").arg(value)};
    } else if (name == QLatin1String("COUNT")) {
      rule.count = numberList(name, value, 1, kMaxCount, true).front();
      if (value.contains(u',')) throw Refusal{QStringLiteral("COUNT=%1: one number").arg(value)};
    } else if (name == QLatin1String("UNTIL")) {
      readUntil(value, &rule);
    } else if (name == QLatin1String("BYMONTHDAY")) {
      rule.byMonthDay = numberList(name, value, -31, 31, true);
    } else if (name == QLatin1String("BYMONTH")) {
      rule.byMonth = numberList(name, value, 1, 12, false);
    } else if (name == QLatin1String("BYSETPOS")) {
      rule.bySetPos = numberList(name, value, -366, 366, true);
    } else if (name == QLatin1String("BYHOUR")) {
      rule.byHour = numberList(name, value, 0, 23, false);
    } else if (name == QLatin1String("BYMINUTE")) {
      rule.byMinute = numberList(name, value, 0, 59, false);
    } else if (name == QLatin1String("WKST")) {
      rule.weekStart = dayCode(value);
      if (!rule.weekStart) throw Refusal{QStringLiteral("WKST=%1: not a weekday (MO to SU)").arg(value)};
    } else if (name == QLatin1String("BYDAY")) {
      for (const QString& item : value.split(u',')) {
        const QString code = item.right(2);
        RepeatWeekday day;
        day.weekday = dayCode(code);
        if (item.size() > 2) {
          const auto n = wholeNumber(item.chopped(2), true);
          if (!n || *n == 0 || *n < -53 || *n > 53) day.weekday = 0;
          day.ordinal = n.value_or(0);
        }
        if (!day.weekday)
          throw Refusal{QStringLiteral("BYDAY=%1: \"%2\" is not a weekday (MO to SU, or with a number: 2MO, -1FR)")
                            .arg(value, item)};
        rule.byDay.push_back(day);
      }
    } else {
      throw Refusal{QStringLiteral("%1: not understood here (understood: FREQ, INTERVAL, BYDAY, BYMONTHDAY, BYMONTH, "
                                   "BYSETPOS, BYHOUR, BYMINUTE, COUNT, UNTIL, WKST)")
                        .arg(name)};
    }
  }
  if (!hasFreq) throw Refusal{QStringLiteral("FREQ: missing (every rule says how often: FREQ=DAILY, ...)")};
  if (rule.count && rule.untilDate.isValid())
    throw Refusal{QStringLiteral("COUNT and UNTIL: a rule ends after a number of times or on a date, not both")};
  const bool monthlyOrYearly = rule.frequency == RepeatFrequency::Monthly || rule.frequency == RepeatFrequency::Yearly;
  for (const RepeatWeekday& d : rule.byDay) {
    if (d.ordinal && !monthlyOrYearly)
      throw Refusal{QStringLiteral("BYDAY=%1%2: a numbered weekday needs FREQ=MONTHLY or FREQ=YEARLY")
                        .arg(d.ordinal)
                        .arg(QLatin1String(kDayCodes[d.weekday - 1]))};
    if (rule.frequency == RepeatFrequency::Monthly && std::abs(d.ordinal) > 5)
      throw Refusal{QStringLiteral("BYDAY=%1%2: a month has at most 5 of a weekday")
                        .arg(d.ordinal)
                        .arg(QLatin1String(kDayCodes[d.weekday - 1]))};
  }
  if (rule.frequency == RepeatFrequency::Weekly && !rule.byMonthDay.empty())
    throw Refusal{QStringLiteral("BYMONTHDAY: not with FREQ=WEEKLY")};
  if (!rule.bySetPos.empty() && rule.byDay.empty() && rule.byMonthDay.empty() && rule.byMonth.empty() &&
      rule.byHour.empty() && rule.byMinute.empty())
    throw Refusal{QStringLiteral("BYSETPOS: needs another BY part to pick from")};
  return rule;
}

QString joinNumbers(const std::vector<int>& list) {
  QStringList out;
  for (const int n : list) out << QString::number(n);
  return out.join(u',');
}

QString andList(const QStringList& items) {
  if (items.size() <= 1) return items.value(0);
  return QStringList(items.mid(0, items.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
         items.back();
}

std::set<int> plainDays(const std::vector<RepeatWeekday>& days, bool* numbered) {
  std::set<int> out;
  for (const RepeatWeekday& d : days) {
    if (d.ordinal) *numbered = true;
    out.insert(d.weekday);
  }
  return out;
}

// "every weekday", "every day", "every Monday and Thursday".
QString everyDays(const std::set<int>& days) {
  if (days.size() == 7) return QStringLiteral("every day");
  if (days == std::set<int>{1, 2, 3, 4, 5}) return QStringLiteral("every weekday");
  QStringList names;
  for (const int d : days) names << RepeatWeekdayName(d);
  return QStringLiteral("every ") + andList(names);
}

QString dayNames(const std::set<int>& days) {
  if (days == std::set<int>{1, 2, 3, 4, 5}) return QStringLiteral("weekdays");
  QStringList names;
  for (const int d : days) names << RepeatWeekdayName(d);
  return andList(names);
}

QString every(int n, const char* one, const char* many) {
  return n == 1 ? QStringLiteral("every ") + QLatin1String(one)
                : QStringLiteral("every %1 ").arg(n) + QLatin1String(many);
}

struct Said {
  bool custom = false;
  QString text;
};

Said custom() { return {true, {}}; }

// " at 8:00 am", " at 8:00 am and 6:00 pm", "" when the time is not known; custom for more than
// three times a day.
Said timesOfDay(const RepeatRule& rule, const RepeatWords& words) {
  const bool known = words.start.isValid();
  std::vector<int> hours = rule.byHour, minutes = rule.byMinute;
  if (hours.empty() && known) hours = {words.start.time().hour()};
  if (minutes.empty() && known) minutes = {words.start.time().minute()};
  if (hours.empty() && minutes.empty()) return {};
  if (hours.empty() || minutes.empty()) return custom();
  std::set<int> all;
  for (const int h : hours)
    for (const int m : minutes) all.insert(h * 60 + m);
  if (all.size() > 3) return custom();
  QStringList said;
  for (const int t : all) said << FormatTime(QTime(t / 60, t % 60), words.timePattern);
  return {false, QStringLiteral(" at ") + andList(said)};
}

// The hours of BYHOUR as one run (9,10,...,17): its first and last; none otherwise.
std::optional<std::pair<int, int>> hourRun(std::vector<int> hours) {
  std::sort(hours.begin(), hours.end());
  hours.erase(std::unique(hours.begin(), hours.end()), hours.end());
  for (size_t i = 1; i < hours.size(); ++i)
    if (hours[i] != hours[i - 1] + 1) return std::nullopt;
  return std::make_pair(hours.front(), hours.back());
}

Said withinDay(const RepeatRule& rule, const RepeatWords& words) {
  const bool minutely = rule.frequency == RepeatFrequency::Minutely;
  if (!rule.byMonthDay.empty() || !rule.byMonth.empty() || !rule.bySetPos.empty()) return custom();
  if (minutely ? !rule.byMinute.empty() : rule.byMinute.size() > 1) return custom();
  bool numbered = false;
  const std::set<int> days = plainDays(rule.byDay, &numbered);
  QString text = minutely ? every(rule.interval, "minute", "minutes") : every(rule.interval, "hour", "hours");
  if (!rule.byHour.empty()) {
    const auto run = hourRun(rule.byHour);
    if (!run) return custom();
    if (minutely) {
      text += QStringLiteral(" from %1 to %2")
                  .arg(FormatTime(QTime(run->first, 0), words.timePattern),
                       FormatTime(QTime((run->second + 1) % 24, 0), words.timePattern));
    } else {
      const int minute = !rule.byMinute.empty()  ? rule.byMinute.front()
                         : words.start.isValid() ? words.start.time().minute()
                                                 : -1;
      if (minute < 0) return custom();
      text += QStringLiteral(" from %1 to %2")
                  .arg(FormatTime(QTime(run->first, minute), words.timePattern),
                       FormatTime(QTime(run->second, minute), words.timePattern));
    }
  }
  if (!days.empty()) text += QStringLiteral(" on ") + dayNames(days);
  return {false, text};
}

Said daysOfWeek(const RepeatRule& rule, const RepeatWords& words) {
  if (!rule.byMonthDay.empty() || !rule.byMonth.empty() || !rule.bySetPos.empty()) return custom();
  bool numbered = false;
  std::set<int> days = plainDays(rule.byDay, &numbered);
  const bool weekly = rule.frequency == RepeatFrequency::Weekly;
  if (weekly && days.empty() && words.start.isValid()) days.insert(words.start.date().dayOfWeek());
  QString text;
  if (days.empty()) {
    text = weekly ? every(rule.interval, "week", "weeks") : every(rule.interval, "day", "days");
  } else if (rule.interval == 1) {
    text = everyDays(days);
  } else if (weekly) {
    text = every(rule.interval, "week", "weeks") + QStringLiteral(" on ") + dayNames(days);
  } else {
    return custom();
  }
  const Said at = timesOfDay(rule, words);
  if (at.custom) return at;
  return {false, text + at.text};
}

// "the 2nd Monday", "the last weekday", "day 15", "the last day"; none when it is not one such day.
std::optional<QString> dayOfMonth(const RepeatRule& rule, const RepeatWords& words) {
  bool numbered = false;
  const std::set<int> days = plainDays(rule.byDay, &numbered);
  if (rule.byDay.empty() && rule.bySetPos.empty()) {
    if (rule.byMonthDay.size() > 1) return std::nullopt;
    const int d =
        rule.byMonthDay.empty() ? (words.start.isValid() ? words.start.date().day() : 0) : rule.byMonthDay.front();
    if (d == 0) return QString();
    if (d == -1) return QStringLiteral("the last day");
    if (d < 0) return std::nullopt;
    return QStringLiteral("day %1").arg(d);
  }
  if (!rule.byMonthDay.empty()) return std::nullopt;
  int ordinal = 0;
  if (rule.byDay.size() == 1 && rule.bySetPos.empty()) {
    ordinal = rule.byDay.front().ordinal;
  } else if (!numbered && rule.bySetPos.size() == 1 && (days.size() == 1 || days == std::set<int>{1, 2, 3, 4, 5})) {
    ordinal = rule.bySetPos.front();
  }
  const QString which = RepeatOrdinalWord(ordinal);
  if (ordinal == 0 || which.isEmpty() || std::abs(ordinal) > 5) return std::nullopt;
  return QStringLiteral("the ") + which + u' ' +
         (days.size() == 1 ? RepeatWeekdayName(*days.begin()) : QStringLiteral("weekday"));
}

Said monthly(const RepeatRule& rule, const RepeatWords& words) {
  if (!rule.byMonth.empty()) return custom();
  const auto day = dayOfMonth(rule, words);
  if (!day) return custom();
  const QString months = every(rule.interval, "month", "months");
  const QString text = day->isEmpty() ? months : QStringLiteral("on ") + *day + QStringLiteral(" of ") + months;
  const Said at = timesOfDay(rule, words);
  if (at.custom) return at;
  return {false, text + at.text};
}

Said yearly(const RepeatRule& rule, const RepeatWords& words) {
  if (!rule.bySetPos.empty() || rule.byMonth.size() > 1 || rule.byMonthDay.size() > 1 || rule.byDay.size() > 1)
    return custom();
  const bool known = words.start.isValid();
  const int month = !rule.byMonth.empty() ? rule.byMonth.front() : known ? words.start.date().month() : 0;
  const QString years = every(rule.interval, "year", "years");
  const QString monthName = month ? QLocale(QLocale::English).standaloneMonthName(month) : QString();
  QString text;
  if (!rule.byDay.empty()) {
    const RepeatWeekday d = rule.byDay.front();
    const QString which = RepeatOrdinalWord(d.ordinal);
    if (!month || rule.byMonth.empty() || !rule.byMonthDay.empty() || which.isEmpty() || std::abs(d.ordinal) > 5)
      return custom();
    text = years + QStringLiteral(" on the ") + which + u' ' + RepeatWeekdayName(d.weekday) + QStringLiteral(" of ") +
           monthName;
  } else {
    const int day = !rule.byMonthDay.empty() ? rule.byMonthDay.front() : known ? words.start.date().day() : 0;
    if (!month && !day) {
      text = years;
    } else if (!month || !day || day < -1) {
      return custom();
    } else if (day == -1) {
      text = years + QStringLiteral(" on the last day of ") + monthName;
    } else {
      text = years + QStringLiteral(" on %1 ").arg(day) + monthName;
    }
  }
  const Said at = timesOfDay(rule, words);
  if (at.custom) return at;
  return {false, text + at.text};
}

}  // namespace

RepeatRuleRead ReadRepeatRule(const QString& text) {
  try {
    return {readRule(text), {}};
  } catch (const Refusal& refusal) {
    return {std::nullopt, refusal.message};
  }
}

QString RepeatRuleText(const RepeatRule& rule) {
  QStringList parts{QStringLiteral("FREQ=") + QLatin1String(kFrequencies[int(rule.frequency)])};
  if (rule.interval != 1) parts << QStringLiteral("INTERVAL=%1").arg(rule.interval);
  if (!rule.byMonth.empty()) parts << QStringLiteral("BYMONTH=") + joinNumbers(rule.byMonth);
  if (!rule.byMonthDay.empty()) parts << QStringLiteral("BYMONTHDAY=") + joinNumbers(rule.byMonthDay);
  if (!rule.byDay.empty()) {
    QStringList days;
    for (const RepeatWeekday& d : rule.byDay)
      days << (d.ordinal ? QString::number(d.ordinal) : QString()) + QLatin1String(kDayCodes[d.weekday - 1]);
    parts << QStringLiteral("BYDAY=") + days.join(u',');
  }
  if (!rule.byHour.empty()) parts << QStringLiteral("BYHOUR=") + joinNumbers(rule.byHour);
  if (!rule.byMinute.empty()) parts << QStringLiteral("BYMINUTE=") + joinNumbers(rule.byMinute);
  if (!rule.bySetPos.empty()) parts << QStringLiteral("BYSETPOS=") + joinNumbers(rule.bySetPos);
  if (rule.weekStart) parts << QStringLiteral("WKST=") + QLatin1String(kDayCodes[rule.weekStart - 1]);
  if (rule.count) parts << QStringLiteral("COUNT=%1").arg(rule.count);
  if (rule.untilDate.isValid()) {
    QString until = rule.untilDate.toString(QStringLiteral("yyyyMMdd"));
    if (rule.untilTime) until += u'T' + rule.untilTime->toString(QStringLiteral("HHmmss"));
    if (rule.untilTime && rule.untilUtc) until += u'Z';
    parts << QStringLiteral("UNTIL=") + until;
  }
  return parts.join(u';');
}

QString RepeatSummary(const RepeatRule& rule, const RepeatWords& words) {
  Said said;
  switch (rule.frequency) {
    case RepeatFrequency::Minutely:
    case RepeatFrequency::Hourly: said = withinDay(rule, words); break;
    case RepeatFrequency::Daily:
    case RepeatFrequency::Weekly: said = daysOfWeek(rule, words); break;
    case RepeatFrequency::Monthly: said = monthly(rule, words); break;
    case RepeatFrequency::Yearly: said = yearly(rule, words); break;
  }
  if (said.custom) return kCustomRepeatSummary;
  QString text = said.text;
  if (rule.count == 1) text += QStringLiteral(", once");
  if (rule.count > 1) text += QStringLiteral(", %1 times").arg(rule.count);
  if (rule.untilDate.isValid()) {
    QDate last = rule.untilDate;
    if (rule.untilTime && rule.untilUtc) {
      const QDateTime utc(rule.untilDate, *rule.untilTime, QTimeZone::utc());
      last = (words.start.isValid() ? utc.toTimeZone(words.start.timeZone()) : utc.toLocalTime()).date();
    }
    text += QStringLiteral(", until ") + RepeatDateWords(last);
  }
  return text;
}

QString RepeatSummary(const QString& rruleText, const RepeatWords& words) {
  const RepeatRuleRead read = ReadRepeatRule(rruleText);
  return read.rule ? RepeatSummary(*read.rule, words) : kCustomRepeatSummary;
}

QString RepeatWeekdayName(int weekday) { return QLocale(QLocale::English).dayName(weekday); }

QString RepeatOrdinalWord(int ordinal) {
  if (ordinal == -1) return QStringLiteral("last");
  if (ordinal < 1) return {};
  const int tens = ordinal % 100, ones = ordinal % 10;
  const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                       : ones == 1                ? "st"
                       : ones == 2                ? "nd"
                       : ones == 3                ? "rd"
                                                  : "th";
  return QString::number(ordinal) + QLatin1String(suffix);
}

QString RepeatDateWords(const QDate& date) {
  return QStringLiteral("%1 %2 %3")
      .arg(date.day())
      .arg(QLocale(QLocale::English).standaloneMonthName(date.month()))
      .arg(date.year());
}

}  // namespace chimewise

#include "core/moment_words.h"

#include "core/time_format.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace chimewise {

namespace {

// Limits at the door: no phrase of when is longer, and a line is searched only this far from
// either end.
constexpr int kMaxWords = 16;
constexpr qsizetype kMaxPhraseChars = 200;

struct Token {
  QString word;  // lower case, surrounding punctuation dropped
  qsizetype start = 0;
  qsizetype end = 0;
};

std::vector<Token> tokenize(const QString& text) {
  static const QRegularExpression piece(QStringLiteral("[^\\s,]+"));
  std::vector<Token> tokens;
  for (auto it = piece.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    QString w = m.captured().toLower();
    // A sentence's own marks around a word are no part of it ("(tomorrow", "9am.", "noon!").
    while (!w.isEmpty() && QStringLiteral("\"'(").contains(w.front())) w.remove(0, 1);
    while (!w.isEmpty() && QStringLiteral("\"').;!?:").contains(w.back())) w.chop(1);
    tokens.push_back({w, m.capturedStart(), m.capturedEnd()});
  }
  return tokens;
}

enum class Meridiem { None, Am, Pm };
enum class Period { None, Morning, Afternoon, Evening, Night };

struct ClockTime {
  int hour = 0;  // 0-23, or 1-12 while `bare`
  int minute = 0;
  bool bare = false;      // a 12-hour time with no am/pm: which half is settled later
  bool midnight = false;  // the midnight that ends the day
};

struct PeriodRule {
  int start;  // its hour when no time is said
  int end;    // the hour at which it is over
  Meridiem half;
};
PeriodRule ruleOf(Period p) {
  switch (p) {
    case Period::Morning: return {9, 12, Meridiem::Am};
    case Period::Afternoon: return {14, 18, Meridiem::Pm};
    case Period::Evening: return {19, 24, Meridiem::Pm};
    case Period::Night: return {20, 24, Meridiem::Pm};
    case Period::None: break;
  }
  return {9, 24, Meridiem::None};
}

// A 12-hour time said with a day but no am/pm, as people mean it: 7 to 11 the morning, 12 noon,
// 1 to 6 the afternoon.
int daytimeHour(int hour12) { return hour12 >= 7 && hour12 <= 11 ? hour12 : hour12 % 12 + 12; }

int withHalf(int hour12, Meridiem half) { return hour12 % 12 + (half == Meridiem::Pm ? 12 : 0); }

const std::array<const char*, 7> kWeekdayCodes{"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

std::optional<int> weekdayOf(const QString& w) {
  static const std::array<QStringList, 7> names{{
      {"monday", "mon", "mondays"},
      {"tuesday", "tue", "tues", "tuesdays"},
      {"wednesday", "wed", "wednesdays"},
      {"thursday", "thu", "thur", "thurs", "thursdays"},
      {"friday", "fri", "fridays"},
      {"saturday", "sat", "saturdays"},
      {"sunday", "sun", "sundays"},
  }};
  for (int i = 0; i < 7; ++i)
    if (names[static_cast<size_t>(i)].contains(w)) return i + 1;
  return std::nullopt;
}

std::optional<int> monthOf(const QString& w) {
  static const std::array<const char*, 12> names{"january", "february", "march",     "april",   "may",      "june",
                                                 "july",    "august",   "september", "october", "november", "december"};
  for (int i = 0; i < 12; ++i) {
    const QLatin1String full(names[static_cast<size_t>(i)]);
    if (w == full || (w.size() >= 3 && full.startsWith(w) && (w.size() == 3 || w == QLatin1String("sept"))))
      return i + 1;
  }
  return std::nullopt;
}

std::optional<int> numberOf(const QString& w) {
  static const QStringList words{"zero",  "one",   "two",  "three", "four",   "five",  "six",
                                 "seven", "eight", "nine", "ten",   "eleven", "twelve"};
  if (const qsizetype i = words.indexOf(w); i >= 0) return static_cast<int>(i);
  if (w == QLatin1String("fifteen")) return 15;
  if (w == QLatin1String("twenty")) return 20;
  if (w == QLatin1String("thirty")) return 30;
  if (w == QLatin1String("forty") || w == QLatin1String("fourty")) return 40;
  if (w == QLatin1String("forty-five")) return 45;
  if (w.isEmpty() || w.size() > 4) return std::nullopt;
  bool ok = false;
  const int n = w.toInt(&ok);
  return ok && w.front().isDigit() ? std::optional<int>(n) : std::nullopt;
}

enum class Unit { Minute, Hour, Day, Week, Month, Year };

std::optional<Unit> unitOf(const QString& w) {
  static const std::array<std::pair<Unit, QStringList>, 6> units{{
      {Unit::Minute, {"m", "min", "mins", "minute", "minutes"}},
      {Unit::Hour, {"h", "hr", "hrs", "hour", "hours"}},
      {Unit::Day, {"d", "day", "days"}},
      {Unit::Week, {"w", "wk", "wks", "week", "weeks"}},
      {Unit::Month, {"month", "months"}},
      {Unit::Year, {"year", "years", "yr", "yrs"}},
  }};
  for (const auto& [unit, names] : units)
    if (names.contains(w)) return unit;
  return std::nullopt;
}

QString codeList(const std::vector<int>& days) {
  QStringList codes;
  for (int d : days) codes << QLatin1String(kWeekdayCodes[static_cast<size_t>(d - 1)]);
  return codes.join(u',');
}

QString englishList(const QStringList& items) {
  if (items.size() < 2) return items.join(QString());
  return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + items.back();
}

QString hourText(int hour) {
  if (hour == 0) return QStringLiteral("midnight");
  if (hour == 12) return QStringLiteral("noon");
  return QStringLiteral("%1 %2").arg(hour % 12 == 0 ? 12 : hour % 12).arg(hour < 12 ? "am" : "pm");
}

class Reader {
 public:
  Reader(const QString& text, const QDateTime& now, const QLocale& locale)
      : m_text(text), m_tokens(tokenize(text)), m_now(now), m_locale(locale) {
    // Clocks change on whole minutes: dropping the seconds in real time keeps the wall minute.
    m_nowMinute = now.addMSecs(-(now.time().second() * 1000 + now.time().msec()));
    m_today = now.date();
  }

  MomentReading read() {
    MomentReading r;
    if (m_text.size() > kMaxPhraseChars || m_tokens.size() > kMaxWords) {
      r.refusal = QStringLiteral("a time is said in fewer words");
      return r;
    }
    parse();
    if (!m_unknown.isEmpty()) {
      r.refusal = QStringLiteral("not understood: ") + m_unknown.join(QStringLiteral(", "));
      return r;
    }
    r.known = true;
    if (!m_conflict.isEmpty()) {
      r.refusal = m_conflict;
      return r;
    }
    settle(r);
    if (r.ok() && r.moment < m_nowMinute) r.refusal = QStringLiteral("\"%1\" is past").arg(m_text.trimmed());
    return r;
  }

 private:
  // ---- reading the words ----
  const QString& w(size_t i) const {
    static const QString none;
    return i < m_tokens.size() ? m_tokens[i].word : none;
  }
  bool is(size_t i, const char* word) const { return w(i) == QLatin1String(word); }
  QString typed(size_t from, size_t to) const {  // the words [from, to) as typed
    return m_text.mid(m_tokens[from].start, m_tokens[to - 1].end - m_tokens[from].start);
  }

  void parse() {
    size_t i = 0;
    size_t unknownFrom = SIZE_MAX;
    const auto flushUnknown = [&](size_t to) {
      if (unknownFrom != SIZE_MAX) m_unknown << QStringLiteral("\"%1\"").arg(typed(unknownFrom, to));
      unknownFrom = SIZE_MAX;
    };
    while (i < m_tokens.size()) {
      if (w(i).isEmpty() || (is(i, "and") && m_afterItem)) {  // a lone mark, or "and" between two items
        ++i;
        continue;
      }
      const size_t used = item(i);
      if (used == 0) {
        if (unknownFrom == SIZE_MAX) unknownFrom = i;
        ++i;
        m_afterItem = false;
        continue;
      }
      flushUnknown(i);
      i += used;
      m_afterItem = true;
    }
    flushUnknown(i);
    if (m_unknown.isEmpty() && !m_any) m_unknown << QStringLiteral("\"%1\" (no time in it)").arg(m_text.trimmed());
  }

  // One item at i: the number of words it takes, 0 when none starts there.
  size_t item(size_t i) {
    for (auto reader : {&Reader::nowWord, &Reader::relative, &Reader::repeat, &Reader::window, &Reader::date,
                        &Reader::day, &Reader::period, &Reader::clock}) {
      const size_t used = (this->*reader)(i);
      if (used > 0) {
        m_any = true;
        return used;
      }
    }
    return 0;
  }

  void setOnce(bool taken, const char* what, size_t from, size_t to, QString* words) {
    if (taken && m_conflict.isEmpty())
      m_conflict =
          QStringLiteral("\"%1\" and \"%2\" both say the %3").arg(*words, typed(from, to), QLatin1String(what));
    else if (!taken)
      *words = typed(from, to);
  }

  size_t nowWord(size_t i) {
    size_t n = is(i, "right") && is(i + 1, "now") ? 2 : is(i, "now") ? 1 : 0;
    if (n == 0) return 0;
    setOnce(m_now_ || m_relative, "time", i, i + n, &m_relativeWords);
    m_now_ = true;
    return n;
  }

  // A span of time: "20 minutes", "an hour", "half an hour", "1h30", "2 hours and 15 minutes",
  // "an hour and a half". Adds to *minutes (minutes and hours) and *days (days and weeks).
  size_t duration(size_t i, qint64* minutes, qint64* days, bool* calendar = nullptr) const {
    static const QRegularExpression compact(
        QStringLiteral("^(\\d{1,4})(m|min|mins|h|hr|hrs|d|w)(?:(\\d{1,2})(m|min|mins)?)?$"));
    size_t at = i;
    bool anyPart = false;
    Unit last = Unit::Minute;
    for (;;) {
      size_t step = 0;
      qint64 count = 0;
      Unit unit = Unit::Minute;
      if (const QRegularExpressionMatch m = compact.match(w(at)); m.hasMatch()) {
        const QString u = m.captured(2);
        count = m.captured(1).toInt();
        unit = u.startsWith(u'h')        ? Unit::Hour
               : u == QLatin1String("d") ? Unit::Day
               : u == QLatin1String("w") ? Unit::Week
                                         : Unit::Minute;
        if (m.hasCaptured(3)) {
          if (unit != Unit::Hour) return 0;
          *minutes += m.captured(3).toInt();
        }
        step = 1;
      } else if (is(at, "half") && (is(at + 1, "hour") || (is(at + 1, "an") && is(at + 2, "hour")))) {
        *minutes += 30;
        anyPart = true;
        last = Unit::Hour;
        at += is(at + 1, "an") ? 3 : 2;
        continue;
      } else if (anyPart && is(at, "and") && is(at + 1, "a") && is(at + 2, "half")) {
        if (last == Unit::Hour)
          *minutes += 30;
        else if (last == Unit::Day)
          *minutes += 720;
        else
          return 0;
        at += 3;
        break;
      } else {
        const QString n = w(at);
        const std::optional<int> number =
            n == QLatin1String("a") || n == QLatin1String("an") ? std::optional<int>(1) : numberOf(n);
        const std::optional<Unit> u = unitOf(w(at + 1));
        if (!number || !u || *u == Unit::Month || *u == Unit::Year) break;
        count = *number;
        unit = *u;
        step = 2;
      }
      if (unit == Unit::Minute) *minutes += count;
      if (unit == Unit::Hour) *minutes += count * 60;
      if (unit == Unit::Day) *days += count;
      if (unit == Unit::Week) *days += count * 7;
      if (calendar && (unit == Unit::Day || unit == Unit::Week)) *calendar = true;
      last = unit;
      anyPart = true;
      at += step;
      if (is(at, "and") && !is(at + 1, "a")) {
        qint64 m2 = 0, d2 = 0;
        if (duration(at + 1, &m2, &d2) == 0) break;
        ++at;
      }
    }
    return anyPart ? at - i : 0;
  }

  size_t relative(size_t i) {
    static const QRegularExpression plus(QStringLiteral("^\\+(\\d{1,4})$"));
    size_t used = 0;
    qint64 minutes = 0, days = 0;
    if (const QRegularExpressionMatch m = plus.match(w(i)); m.hasMatch()) {
      minutes = m.captured(1).toInt();
      used = 1;
    } else if (is(i, "in") || is(i, "+")) {
      const size_t d = duration(i + 1, &minutes, &days);
      if (d == 0) return 0;
      used = d + 1;
    } else {
      // "20 minutes from now"
      const size_t d = duration(i, &minutes, &days);
      if (d == 0 || !is(i + d, "from") || !is(i + d + 1, "now")) return 0;
      used = d + 2;
    }
    setOnce(m_relative || m_now_, "time", i, i + used, &m_relativeWords);
    m_relative = true;
    m_relMinutes = minutes;
    m_relDays = days;
    return used;
  }

  size_t weekdays(size_t i, std::vector<int>* days) const {
    size_t at = i;
    while (const std::optional<int> d = weekdayOf(w(at))) {
      days->push_back(*d);
      ++at;
      if ((is(at, "and") || is(at, "&")) && weekdayOf(w(at + 1))) ++at;
    }
    return at - i;
  }

  size_t repeat(size_t i) {
    size_t used = 0;
    int interval = 1;
    QString freq;
    std::vector<int> byDay;
    Period period = Period::None;
    static const std::array<std::pair<const char*, const char*>, 6> single{{{"hourly", "HOURLY"},
                                                                            {"daily", "DAILY"},
                                                                            {"weekly", "WEEKLY"},
                                                                            {"monthly", "MONTHLY"},
                                                                            {"yearly", "YEARLY"},
                                                                            {"annually", "YEARLY"}}};
    for (const auto& [word, f] : single)
      if (is(i, word)) {
        freq = QLatin1String(f);
        used = 1;
      }
    if (used == 0 && (is(i, "every") || is(i, "each"))) {
      size_t at = i + 1;
      if (is(at, "other")) {
        interval = 2;
        ++at;
      } else if (const std::optional<int> n = numberOf(w(at)); n && unitOf(w(at + 1))) {
        interval = *n;
        ++at;
      }
      const QString unitWord = w(at);
      if (const std::optional<Unit> u = unitOf(unitWord); u && unitWord.size() > 1) {
        static const std::array<const char*, 6> freqs{"MINUTELY", "HOURLY", "DAILY", "WEEKLY", "MONTHLY", "YEARLY"};
        freq = QLatin1String(freqs[static_cast<size_t>(*u)]);
        ++at;
      } else if (interval == 1 && (unitWord == QLatin1String("weekday") || unitWord == QLatin1String("weekdays"))) {
        freq = QStringLiteral("WEEKLY");
        byDay = {1, 2, 3, 4, 5};
        ++at;
      } else if (interval == 1 && (unitWord == QLatin1String("weekend") || unitWord == QLatin1String("weekends"))) {
        freq = QStringLiteral("WEEKLY");
        byDay = {6, 7};
        ++at;
      } else if (const size_t n = interval == 1 ? weekdays(at, &byDay) : 0; n > 0) {
        freq = QStringLiteral("WEEKLY");
        at += n;
      } else if (interval == 1 && (unitWord == QLatin1String("morning") || unitWord == QLatin1String("afternoon") ||
                                   unitWord == QLatin1String("evening") || unitWord == QLatin1String("night"))) {
        freq = QStringLiteral("DAILY");
        period = unitWord == QLatin1String("morning")     ? Period::Morning
                 : unitWord == QLatin1String("afternoon") ? Period::Afternoon
                 : unitWord == QLatin1String("evening")   ? Period::Evening
                                                          : Period::Night;
        ++at;
      } else {
        return 0;
      }
      used = at - i;
    }
    if (used == 0) return 0;
    if (interval < 1) return 0;
    setOnce(!m_freq.isEmpty(), "repeat", i, i + used, &m_repeatWords);
    m_freq = freq;
    m_interval = interval;
    m_byDay = byDay;
    if (period != Period::None) setPeriod(period, i, i + used);
    return used;
  }

  // "from 9 to 5", "between 9 am and 5 pm": the hours of a repeat.
  size_t window(size_t i) {
    const bool between = is(i, "between");
    if (!between && !is(i, "from")) return 0;
    ClockTime from, to;
    const size_t a = clockAt(i + 1, true, &from);
    if (a == 0) return 0;
    const size_t sep = i + 1 + a;
    if (!(between ? is(sep, "and") : (is(sep, "to") || is(sep, "until") || is(sep, "till") || is(sep, "-")))) return 0;
    const size_t b = clockAt(sep + 1, true, &to);
    if (b == 0) return 0;
    const size_t used = a + b + 2;
    setOnce(m_window, "hours", i, i + used, &m_windowWords);
    m_window = true;
    m_from = from.bare ? daytimeHour(from.hour) * 60 + from.minute : from.hour * 60 + from.minute;
    if (to.midnight) {
      m_to = 24 * 60;
    } else if (to.bare) {
      m_to = withHalf(to.hour, Meridiem::Am) * 60 + to.minute;
      if (m_to <= m_from) m_to += 12 * 60;
    } else {
      m_to = to.hour * 60 + to.minute;
    }
    return used;
  }

  size_t date(size_t i) {
    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})$"));
    static const QRegularExpression numeric(QStringLiteral("^(\\d{1,2})/(\\d{1,2})(?:/(\\d{2}|\\d{4}))?$"));
    static const QRegularExpression ordinal(QStringLiteral("^(\\d{1,2})(?:st|nd|rd|th)?$"));
    static const QRegularExpression year(QStringLiteral("^\\d{4}$"));
    const size_t on = is(i, "on") ? 1 : 0;
    const size_t at = i + on;
    int y = 0, mo = 0, d = 0;
    size_t used = 0;
    if (const QRegularExpressionMatch m = iso.match(w(at)); m.hasMatch()) {
      y = m.captured(1).toInt();
      mo = m.captured(2).toInt();
      d = m.captured(3).toInt();
      used = 1;
    } else if (const QRegularExpressionMatch m = numeric.match(w(at)); m.hasMatch()) {
      const QString format = m_locale.dateFormat(QLocale::ShortFormat);
      const bool dayFirst = format.indexOf(u'd') < format.indexOf(u'M');
      d = m.captured(dayFirst ? 1 : 2).toInt();
      mo = m.captured(dayFirst ? 2 : 1).toInt();
      if (m.hasCaptured(3)) y = m.captured(3).size() == 2 ? 2000 + m.captured(3).toInt() : m.captured(3).toInt();
      used = 1;
    } else if (const QRegularExpressionMatch m = ordinal.match(w(at)); m.hasMatch()) {
      const size_t of = is(at + 1, "of") ? 1 : 0;
      const std::optional<int> month = monthOf(w(at + 1 + of));
      if (!month) return 0;
      d = m.captured(1).toInt();
      mo = *month;
      used = 2 + of;
    } else if (const std::optional<int> month = monthOf(w(at))) {
      const QRegularExpressionMatch m = ordinal.match(w(at + 1));
      if (!m.hasMatch()) return 0;
      d = m.captured(1).toInt();
      mo = *month;
      used = 2;
    } else {
      return 0;
    }
    if (y == 0 && year.match(w(at + used)).hasMatch()) y = w(at + used++).toInt();
    // A day that no year has (31 April, 30 February) is not a date.
    if (!QDate(y == 0 ? 2028 : y, mo, d).isValid()) return 0;
    used += on;
    setOnce(m_day.isValid() || m_yearless, "day", i, i + used, &m_dayWords);
    if (y == 0) {
      m_yearless = true;
      m_month = mo;
      m_dom = d;
    } else {
      m_day = QDate(y, mo, d);
    }
    return used;
  }

  size_t day(size_t i) {
    size_t used = 0;
    QDate d;
    Period period = Period::None;
    if (is(i, "today")) {
      d = m_today;
      used = 1;
      m_todayWord = true;
    } else if (is(i, "tonight")) {
      d = m_today;
      period = Period::Night;
      used = 1;
    } else if (is(i, "tomorrow") || is(i, "tmrw") || is(i, "tomorow")) {
      d = m_today.addDays(1);
      used = 1;
    } else if (is(i, "day") && is(i + 1, "after") && is(i + 2, "tomorrow")) {
      d = m_today.addDays(2);
      used = 3;
    } else if (is(i, "the") && is(i + 1, "day") && is(i + 2, "after") && is(i + 3, "tomorrow")) {
      d = m_today.addDays(2);
      used = 4;
    } else if (is(i, "this") && (is(i + 1, "morning") || is(i + 1, "afternoon") || is(i + 1, "evening"))) {
      d = m_today;
      used = 1;  // the part of the day is read next
    } else {
      const size_t lead = is(i, "on") || is(i, "by") || is(i, "next") || is(i, "this") || is(i, "coming") ? 1 : 0;
      const size_t lead2 = lead == 1 && is(i, "this") && is(i + 1, "coming") ? 1 : 0;
      const std::optional<int> wd = weekdayOf(w(i + lead + lead2));
      if (!wd) return 0;
      // A weekday said in a repeat of weeks is its day of the week ("every 2 weeks on Monday").
      if (m_freq == QLatin1String("WEEKLY") && m_byDay.empty()) {
        m_byDay = {*wd};
        return lead + lead2 + 1;
      }
      // The first such day after today.
      int ahead = (*wd - m_today.dayOfWeek() + 7) % 7;
      if (ahead == 0) ahead = 7;
      d = m_today.addDays(ahead);
      used = lead + lead2 + 1;
    }
    setOnce(m_day.isValid() || m_yearless, "day", i, i + used, &m_dayWords);
    m_day = d;
    if (period != Period::None) setPeriod(period, i, i + used);
    return used;
  }

  void setPeriod(Period p, size_t from, size_t to) {
    setOnce(m_period != Period::None, "part of the day", from, to, &m_periodWords);
    m_period = p;
  }

  size_t period(size_t i) {
    size_t lead = 0;
    if (is(i, "in") && is(i + 1, "the"))
      lead = 2;
    else if (is(i, "at") && is(i + 1, "night"))
      lead = 1;
    else if (is(i, "this") && m_day.isValid())
      lead = 1;
    const QString word = w(i + lead);
    Period p = Period::None;
    if (word == QLatin1String("morning")) p = Period::Morning;
    if (word == QLatin1String("afternoon")) p = Period::Afternoon;
    if (word == QLatin1String("evening")) p = Period::Evening;
    if (word == QLatin1String("night")) p = Period::Night;
    if (p == Period::None) return 0;
    setPeriod(p, i, i + lead + 1);
    return lead + 1;
  }

  // A time of day at i; `plainHour` lets a bare number stand for an hour (after "at", "from").
  size_t clockAt(size_t i, bool plainHour, ClockTime* out) const {
    static const QRegularExpression time(QStringLiteral("^(\\d{1,2})(?:[:.](\\d{2}))?(am|pm|a|p|a\\.m|p\\.m)?$"));
    if (is(i, "noon") || is(i, "midday")) {
      *out = {12, 0, false, false};
      return 1;
    }
    if (is(i, "midnight")) {
      *out = {0, 0, false, true};
      return 1;
    }
    const QRegularExpressionMatch m = time.match(w(i));
    std::optional<int> wordHour;
    if (!m.hasMatch()) {
      wordHour = numberOf(w(i));
      if (!wordHour || w(i).front().isDigit() || !plainHour) return 0;
    }
    const int hour = wordHour ? *wordHour : m.captured(1).toInt();
    const int minute = !wordHour && m.hasCaptured(2) ? m.captured(2).toInt() : 0;
    QString half = wordHour ? QString() : m.captured(3);
    size_t used = 1;
    if (half.isEmpty()) {
      const QString next = w(i + 1);
      if (next == QLatin1String("am") || next == QLatin1String("pm") || next == QLatin1String("a.m") ||
          next == QLatin1String("p.m")) {
        half = next;
        used = 2;
      } else if (next == QLatin1String("o'clock") || next == QLatin1String("oclock")) {
        used = 2;
      }
    }
    const bool colon = !wordHour && m.hasCaptured(2);
    if (!plainHour && !colon && half.isEmpty() && used == 1) return 0;
    if (minute > 59) return 0;
    if (!half.isEmpty()) {
      if (hour < 1 || hour > 12) return 0;
      *out = {withHalf(hour, half.startsWith(u'p') ? Meridiem::Pm : Meridiem::Am), minute, false, false};
      return used;
    }
    if (hour > 23) return 0;
    // A 24-hour time: past 12, 0, or written with a leading zero ("09:30").
    const bool twentyFour = hour > 12 || hour == 0 || (colon && m.captured(1).size() == 2 && hour < 10);
    *out = {hour, minute, !twentyFour, false};
    return used;
  }

  size_t clock(size_t i) {
    const size_t lead = is(i, "at") || is(i, "by") || is(i, "@") ? 1 : 0;
    ClockTime t;
    const size_t used = clockAt(i + lead, lead == 1, &t);
    if (used == 0) return 0;
    setOnce(m_clock.has_value(), "time", i, i + lead + used, &m_clockWords);
    m_clock = t;
    return lead + used;
  }

  // ---- settling the moment ----
  QDateTime moment(const QDate& d, int minutes) const {
    return TypedMoment(d, QTime(minutes / 60, minutes % 60), m_now);
  }
  bool toCome(const QDate& d, int minutes) const { return moment(d, minutes) > m_now; }

  // The minutes of the day a time may mean on day `d` (more than one while its half is open),
  // in order; `dayKnown` says the day was named.
  std::vector<int> timesOn(const QDate& d, bool dayKnown) const {
    const bool daytime = !m_freq.isEmpty();
    if (m_clock) {
      const ClockTime& t = *m_clock;
      if (t.midnight) return {24 * 60};
      if (!t.bare) return {t.hour * 60 + t.minute};
      if (m_period != Period::None) return {withHalf(t.hour, ruleOf(m_period).half) * 60 + t.minute};
      if (daytime || (dayKnown && d != m_today)) return {daytimeHour(t.hour) * 60 + t.minute};
      return {withHalf(t.hour, Meridiem::Am) * 60 + t.minute, withHalf(t.hour, Meridiem::Pm) * 60 + t.minute};
    }
    if (m_period != Period::None) {
      const PeriodRule rule = ruleOf(m_period);
      std::vector<int> times{rule.start * 60};
      // Later in a part of the day that has begun: its next whole hour.
      if (d == m_today) {
        const int next = (m_now.time().hour() + 1) * 60;
        if (next > rule.start * 60 && next < rule.end * 60) times.push_back(next);
      }
      return times;
    }
    if (m_todayWord && d == m_today) {
      // "today" alone: its next whole hour; in its last hour there is none, and it is past.
      const int next = (m_now.time().hour() + 1) * 60;
      return {next < 24 * 60 ? next : MinuteOfDay(m_nowMinute)};
    }
    return {9 * 60};
  }

  // The first of the times on `d` still to come, if any.
  std::optional<int> firstToCome(const QDate& d, bool dayKnown) const {
    for (int t : timesOn(d, dayKnown))
      if (t < 24 * 60 ? toCome(d, t) : toCome(d.addDays(1), 0)) return t;
    return std::nullopt;
  }

  void place(MomentReading& r, const QDate& d, int minutes) const {
    r.date = minutes >= 24 * 60 ? d.addDays(1) : d;
    r.time = QTime((minutes % (24 * 60)) / 60, minutes % 60);
    r.moment = moment(r.date, minutes % (24 * 60));
  }

  void settle(MomentReading& r) {
    if (!m_freq.isEmpty()) return settleRepeat(r);
    if (m_window) {
      r.refusal = QStringLiteral("\"%1\" goes with a repeat (\"every 2 hours %1\")").arg(m_windowWords);
      return;
    }
    if (m_now_) {
      if (m_day.isValid() || m_yearless || m_clock || m_period != Period::None)
        r.refusal = QStringLiteral("\"%1\" and a day or time at once").arg(m_relativeWords);
      else
        place(r, m_nowMinute.date(), MinuteOfDay(m_nowMinute));
      return;
    }
    if (m_relative) {
      if (m_day.isValid() || m_yearless || ((m_clock || m_period != Period::None) && m_relMinutes != 0)) {
        r.refusal = QStringLiteral("\"%1\" and a day or time at once").arg(m_relativeWords);
        return;
      }
      if (m_clock || m_period != Period::None) {  // "in 3 days at 10"
        const QDate d = m_today.addDays(m_relDays);
        place(r, d, timesOn(d, true).front());
        return;
      }
      // Minutes and hours run in real time; days and weeks are calendar days at the same wall time.
      QDateTime at = m_nowMinute;
      if (m_relDays != 0) at = TypedMoment(m_today.addDays(m_relDays), m_nowMinute.time(), m_now);
      at = at.addSecs(m_relMinutes * 60);
      r.moment = at;
      r.date = at.date();
      r.time = QTime(at.time().hour(), at.time().minute());
      return;
    }
    if (m_yearless) {
      for (int year = m_today.year(); year <= m_today.year() + 8; ++year) {
        const QDate d(year, m_month, m_dom);
        if (!d.isValid()) continue;
        if (const std::optional<int> t = firstToCome(d, true)) return place(r, d, *t);
      }
      r.refusal = QStringLiteral("no such date: \"%1\"").arg(m_dayWords);
      return;
    }
    if (m_day.isValid()) {
      if (const std::optional<int> t = firstToCome(m_day, true)) return place(r, m_day, *t);
      place(r, m_day, timesOn(m_day, true).back());  // past: refused by the caller
      return;
    }
    // A time alone: today while it is to come, else tomorrow.
    for (const QDate& d : {m_today, m_today.addDays(1)})
      if (const std::optional<int> t = firstToCome(d, false)) return place(r, d, *t);
    place(r, m_today.addDays(1), timesOn(m_today.addDays(1), false).front());
  }

  void settleRepeat(MomentReading& r) {
    if (m_relative || m_now_) {
      r.refusal = QStringLiteral("\"%1\" and a repeat at once").arg(m_relativeWords);
      return;
    }
    QString rule = QStringLiteral("FREQ=") + m_freq;
    if (m_interval > 1) rule += QStringLiteral(";INTERVAL=%1").arg(m_interval);
    if (!m_byDay.empty()) rule += QStringLiteral(";BYDAY=") + codeList(m_byDay);
    static const std::array<std::pair<const char*, const char*>, 6> units{{{"MINUTELY", "minute"},
                                                                           {"HOURLY", "hour"},
                                                                           {"DAILY", "day"},
                                                                           {"WEEKLY", "week"},
                                                                           {"MONTHLY", "month"},
                                                                           {"YEARLY", "year"}}};
    QString unit;
    for (const auto& [f, u] : units)
      if (m_freq == QLatin1String(f)) unit = QLatin1String(u);
    r.repeatText =
        m_interval > 1 ? QStringLiteral("every %1 %2s").arg(m_interval).arg(unit) : QStringLiteral("every ") + unit;
    if (m_byDay.size() == 5 && m_byDay.back() == 5 && m_interval == 1) {
      r.repeatText = QStringLiteral("every weekday");
    } else if (!m_byDay.empty()) {
      QStringList names;
      for (int d : m_byDay) names << QLocale(QLocale::English).dayName(d);
      r.repeatText =
          (m_interval > 1 ? r.repeatText + QStringLiteral(" on ") : QStringLiteral("every ")) + englishList(names);
    }
    const bool hourly = m_freq == QLatin1String("HOURLY") || m_freq == QLatin1String("MINUTELY");
    if (m_window) {
      const int step = m_interval * (m_freq == QLatin1String("HOURLY") ? 60 : 1);
      if (!hourly || step % 60 != 0 || m_to <= m_from || m_to > 24 * 60) {
        r.refusal = QStringLiteral("\"%1\" needs a repeat of whole hours within one day").arg(m_windowWords);
        return;
      }
      std::vector<int> runs;
      QStringList hours;
      for (int t = m_from; t <= m_to && t < 24 * 60; t += step) {
        runs.push_back(t);
        hours << QString::number(t / 60);
      }
      rule = QStringLiteral("FREQ=DAILY;BYHOUR=%1;BYMINUTE=%2").arg(hours.join(u','), QString::number(m_from % 60));
      const auto at = [](int minutes) {
        return minutes % 60 == 0 ? hourText(minutes / 60 % 24)
                                 : QTime(minutes / 60, minutes % 60).toString(QStringLiteral("H:mm"));
      };
      r.repeatText = (step == 60 ? QStringLiteral("every hour") : QStringLiteral("every %1 hours").arg(step / 60)) +
                     QStringLiteral(" from %1 to %2").arg(at(m_from), at(m_to));
      r.repeat = rule;
      for (int ahead = 0; ahead < 2; ++ahead)
        for (int t : runs)
          if (toCome(m_today.addDays(ahead), t)) return place(r, m_today.addDays(ahead), t);
      return;
    }
    r.repeat = rule;
    if (hourly && !m_clock && !m_day.isValid() && !m_yearless) {
      // From now on: the first one interval from now.
      const QDateTime at = m_nowMinute.addSecs(60LL * m_interval * (m_freq == QLatin1String("HOURLY") ? 60 : 1));
      r.moment = at;
      r.date = at.date();
      r.time = QTime(at.time().hour(), at.time().minute());
      return;
    }
    if (m_yearless || m_day.isValid()) {
      // A repeat from a given day ("every year on 24 Dec"): the day settles as a single moment does.
      const QString keep = rule;
      const QString text = r.repeatText;
      m_freq.clear();
      settle(r);
      r.repeat = keep;
      r.repeatText = text;
      return;
    }
    // The first day of the repeat, from today, whose time is still to come. A time with an open
    // half means its daytime reading in a repeat ("every day at 8" is 8:00).
    for (int ahead = 0; ahead <= 7; ++ahead) {
      const QDate d = m_today.addDays(ahead);
      if (!m_byDay.empty() && std::find(m_byDay.begin(), m_byDay.end(), d.dayOfWeek()) == m_byDay.end()) continue;
      const int t = timesOn(d, true).front();
      if (t < 24 * 60 ? toCome(d, t) : toCome(d.addDays(1), 0)) return place(r, d, t);
    }
  }

  const QString m_text;
  const std::vector<Token> m_tokens;
  const QDateTime m_now;
  QDateTime m_nowMinute;
  QDate m_today;
  const QLocale m_locale;

  QStringList m_unknown;
  QString m_conflict;
  bool m_any = false;
  bool m_afterItem = false;

  bool m_now_ = false;
  bool m_relative = false;
  qint64 m_relMinutes = 0;
  qint64 m_relDays = 0;
  QString m_relativeWords;

  QDate m_day;
  bool m_todayWord = false;
  bool m_yearless = false;
  int m_month = 0;
  int m_dom = 0;
  QString m_dayWords;

  std::optional<ClockTime> m_clock;
  QString m_clockWords;
  Period m_period = Period::None;
  QString m_periodWords;

  QString m_freq;
  int m_interval = 1;
  std::vector<int> m_byDay;
  QString m_repeatWords;
  bool m_window = false;
  int m_from = 0;
  int m_to = 0;
  QString m_windowWords;
};

QString trimmedActivity(QString text) {
  static const QRegularExpression dangling(QStringLiteral("^[\\s,:;\\-–—]+|[\\s,:;\\-–—]+$"));
  text.remove(dangling);
  static const QRegularExpression connective(QStringLiteral("\\s+(at|on|by)$|^(at|on|by)\\s+"),
                                             QRegularExpression::CaseInsensitiveOption);
  text.remove(connective);
  return text.remove(dangling);
}

QString spokenTime(const QTime& t) {
  if (t == QTime(12, 0)) return QStringLiteral("noon");
  if (t == QTime(0, 0)) return QStringLiteral("midnight");
  const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
  const QString half = t.hour() < 12 ? QStringLiteral("am") : QStringLiteral("pm");
  return t.minute() == 0 ? QStringLiteral("%1 %2").arg(h12).arg(half)
                         : QStringLiteral("%1:%2 %3").arg(h12).arg(t.minute(), 2, 10, QChar(u'0')).arg(half);
}

}  // namespace

MomentReading ReadMoment(const QString& phrase, const QDateTime& now, const QLocale& locale) {
  return Reader(phrase, now, locale).read();
}

LineReading ReadMomentLine(const QString& line, const QDateTime& now, const QLocale& locale) {
  LineReading out;
  const std::vector<Token> tokens = tokenize(line);
  const size_t n = tokens.size();
  if (n == 0) {
    out.moment.refusal = QStringLiteral("nothing to remind of");
    return out;
  }
  // The longest phrase at the end, else the longest at the start.
  const size_t reach = std::min<size_t>(n, kMaxWords);
  for (size_t s = n - reach; s < n; ++s) {
    const QString phrase = line.mid(tokens[s].start);
    MomentReading r = ReadMoment(phrase, now, locale);
    if (!r.known) continue;
    out.phrase = phrase.trimmed();
    out.activity = trimmedActivity(line.left(tokens[s].start));
    out.moment = r;
    return out;
  }
  for (size_t e = reach; e >= 1; --e) {
    const QString phrase = line.left(tokens[e - 1].end);
    MomentReading r = ReadMoment(phrase, now, locale);
    if (!r.known) continue;
    out.phrase = phrase.trimmed();
    out.activity = e < n ? trimmedActivity(line.mid(tokens[e].start)) : QString();
    out.moment = r;
    return out;
  }
  out.activity = line.trimmed();
  out.moment.refusal =
      QStringLiteral("no time found in \"%1\" (say when, as in \"tomorrow at 9\" or \"in 20 minutes\")")
          .arg(line.trimmed());
  return out;
}

QString LongMomentText(const QDateTime& moment, const QString& timePattern) {
  const QLocale english(QLocale::English, QLocale::UnitedKingdom);
  return english.toString(moment.date(), QStringLiteral("dddd d MMMM yyyy")) + QStringLiteral(", ") +
         FormatTime(moment.time(), timePattern);
}

QString ShortMomentText(const QDateTime& moment, const QString& timePattern) {
  const QLocale english(QLocale::English, QLocale::UnitedKingdom);
  return english.toString(moment.date(), QStringLiteral("ddd d MMM")) + QStringLiteral(", ") +
         FormatTime(moment.time(), timePattern);
}

QString SpokenMoment(const QDateTime& moment, const QDateTime& now) {
  const QLocale english(QLocale::English, QLocale::UnitedKingdom);
  const qint64 minutes = MinuteBoundaries(now, moment);
  if (minutes <= 0) return QStringLiteral("now");
  if (minutes < 60) return QStringLiteral("in %1 minute%2").arg(minutes).arg(minutes == 1 ? "" : "s");
  const qint64 days = now.date().daysTo(moment.date());
  const QString at = QStringLiteral(" at ") + spokenTime(moment.time());
  if (days == 0) return QStringLiteral("today") + at;
  if (days == 1) return QStringLiteral("tomorrow") + at;
  if (days < 7) return QStringLiteral("on ") + english.dayName(moment.date().dayOfWeek()) + at;
  const QString format =
      moment.date().year() == now.date().year() ? QStringLiteral("d MMMM") : QStringLiteral("d MMMM yyyy");
  return QStringLiteral("on ") + english.toString(moment.date(), format) + at;
}

}  // namespace chimewise

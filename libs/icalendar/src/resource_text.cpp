// iCalendar content lines read and written as text. A logical line keeps the bytes it came in
// (its folds and line end) until it is changed; a changed or added line is written folded at 75
// octets with the line end the resource uses.

#include "icalendar/resource_text.h"

#include "zone_names.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <set>

namespace icalendar {

namespace {

struct Line {
  QByteArray raw;  // as it came: physical lines with their folds and line end
  QString text;    // unfolded, without the line end
  QString name;    // upper case
  bool edited = false;
};

// The logical lines of `text`; a line begun with a blank or a tab continues the one before.
std::vector<Line> SplitLines(const QByteArray& text, QByteArray* lineEnd) {
  std::vector<Line> lines;
  QByteArray unfolded;
  *lineEnd = "\r\n";
  bool endSeen = false;
  qsizetype at = 0;
  const auto close = [&] {
    if (lines.empty()) return;
    Line& l = lines.back();
    l.text = QString::fromUtf8(unfolded);
    const qsizetype stop =
        std::min(l.text.indexOf(u':'), l.text.indexOf(u';') < 0 ? l.text.size() : l.text.indexOf(u';'));
    l.name = l.text.left(stop < 0 ? l.text.size() : stop).trimmed().toUpper();
  };
  while (at < text.size()) {
    qsizetype end = text.indexOf('\n', at);
    end = end < 0 ? text.size() : end + 1;
    const QByteArray physical = text.mid(at, end - at);
    at = end;
    QByteArray content = physical;
    if (content.endsWith('\n')) content.chop(1);
    if (content.endsWith('\r')) content.chop(1);
    if (!endSeen && physical.endsWith('\n')) {
      *lineEnd = physical.endsWith("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
      endSeen = true;
    }
    if (!lines.empty() && (physical.startsWith(' ') || physical.startsWith('\t'))) {
      lines.back().raw += physical;
      unfolded += content.mid(1);
      continue;
    }
    close();
    if (content.trimmed().isEmpty() && !lines.empty()) {
      // A blank line goes with the line before it, unchanged.
      lines.back().raw += physical;
      continue;
    }
    lines.push_back(Line{physical, {}, {}, false});
    unfolded = content;
  }
  close();
  return lines;
}

// The value of a line: what follows the first colon outside a quoted parameter value.
qsizetype ValueStart(const QString& text) {
  bool quoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'"')
      quoted = !quoted;
    else if (text[i] == u':' && !quoted)
      return i + 1;
  }
  return -1;
}
QString ValueOf(const QString& text) {
  const qsizetype v = ValueStart(text);
  return v < 0 ? QString() : text.mid(v);
}
// Name and parameters: everything before the value's colon.
QString HeadOf(const QString& text) {
  const qsizetype v = ValueStart(text);
  return v < 0 ? text : text.left(v - 1);
}

QString ParamOf(const QString& text, const QString& name) {
  const QString head = HeadOf(text);
  bool quoted = false;
  QStringList parts;
  QString part;
  for (const QChar c : head) {
    if (c == u'"') quoted = !quoted;
    if (c == u';' && !quoted) {
      parts << part;
      part.clear();
    } else {
      part += c;
    }
  }
  parts << part;
  for (qsizetype i = 1; i < parts.size(); ++i) {
    const qsizetype eq = parts[i].indexOf(u'=');
    if (eq > 0 && parts[i].left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
      QString v = parts[i].mid(eq + 1).trimmed();
      if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"')) v = v.mid(1, v.size() - 2);
      return v;
    }
  }
  return {};
}

// A line written anew: folded at 75 octets, never inside a UTF-8 sequence.
QByteArray Folded(const QString& text, const QByteArray& lineEnd) {
  const QByteArray bytes = text.toUtf8();
  QByteArray out;
  qsizetype at = 0;
  int room = 75;
  while (bytes.size() - at > room) {
    qsizetype cut = at + room;
    while (cut > at && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
    out += bytes.mid(at, cut - at) + lineEnd + ' ';
    at = cut;
    room = 74;
  }
  return out + bytes.mid(at) + lineEnd;
}

Line NewLine(const QString& text, const QByteArray& lineEnd) {
  Line l;
  l.text = text;
  l.raw = Folded(text, lineEnd);
  l.name = HeadOf(text).section(u';', 0, 0).toUpper();
  l.edited = true;
  return l;
}

QString EscapeText(const QString& text) {
  QString out;
  for (const QChar c : text) {
    if (c == u'\\')
      out += QStringLiteral("\\\\");
    else if (c == u';')
      out += QStringLiteral("\\;");
    else if (c == u',')
      out += QStringLiteral("\\,");
    else if (c == u'\n')
      out += QStringLiteral("\\n");
    else if (c != u'\r')
      out += c;
  }
  return out;
}

// ---- moments ---------------------------------------------------------------------------------

const QString kUtcForm = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
const QString kWallForm = QStringLiteral("yyyyMMdd'T'HHmmss");
const QString kDateForm = QStringLiteral("yyyyMMdd");

// The IANA zone a TZID names, when this computer knows it (see KnownZoneName).
std::optional<QTimeZone> KnownZone(const QString& tzid) {
  const QString iana = KnownZoneName(tzid);
  if (iana.isEmpty()) return std::nullopt;
  return QTimeZone(iana.toUtf8());
}

// One DATE or DATE-TIME value with the form it is written in.
struct Value {
  enum Form { Date, Utc, Zoned, UnknownZone, Floating } form = Floating;
  QDate date;      // Date
  QDateTime wall;  // its digits, as written (no zone)
  std::optional<QTimeZone> zone;
  bool ok = false;
  // The moment; invalid for a date or a zone not known here.
  QDateTime moment() const {
    switch (form) {
      case Utc: return QDateTime(wall.date(), wall.time(), QTimeZone::utc());
      case Zoned: return QDateTime(wall.date(), wall.time(), *zone);
      case Floating: return QDateTime(wall.date(), wall.time(), QTimeZone::systemTimeZone());
      default: return {};
    }
  }
};

Value ReadValue(const QString& line) {
  Value v;
  const QString value = ValueOf(line).trimmed().section(u',', 0, 0);
  if (value.size() == 8) {
    v.form = Value::Date;
    v.date = QDate::fromString(value, kDateForm);
    v.ok = v.date.isValid();
    return v;
  }
  const bool utc = value.endsWith(u'Z') || value.endsWith(u'z');
  v.wall = QDateTime::fromString(value.left(15), kWallForm);
  v.wall.setTimeZone(QTimeZone::utc());  // digits only; the form says what they mean
  v.ok = v.wall.isValid() && value.size() == (utc ? 16 : 15);
  const QString tzid = ParamOf(line, QStringLiteral("TZID"));
  if (utc) {
    v.form = Value::Utc;
  } else if (tzid.isEmpty()) {
    v.form = Value::Floating;
  } else if ((v.zone = KnownZone(tzid))) {
    v.form = Value::Zoned;
  } else {
    v.form = Value::UnknownZone;
  }
  return v;
}

QString Digits(const QDateTime& wall) { return wall.toString(kWallForm); }

// `line` with its value replaced (parameters kept).
QString WithValue(const QString& line, const QString& value) { return HeadOf(line) + u':' + value; }

// The value of `v` moved to the moment `to` (or, in a zone not known here, by `secs`).
QString MovedValue(const Value& v, const QDateTime& to, qint64 secs) {
  switch (v.form) {
    case Value::Utc: return to.toUTC().toString(kUtcForm);
    case Value::Zoned: return Digits(to.toTimeZone(*v.zone));
    case Value::Floating: return Digits(to.toTimeZone(QTimeZone::systemTimeZone()));
    case Value::UnknownZone: return Digits(v.wall.addSecs(secs));
    case Value::Date: return v.date.addDays(secs / 86400).toString(kDateForm);
  }
  return {};
}

// ---- durations -------------------------------------------------------------------------------

constexpr qint64 kMaxDurationSecs = 100LL * 366 * 86400;

std::optional<qint64> ParseDuration(const QString& text) {
  static const QRegularExpression form(QStringLiteral(
      "^([+-]?)P(?:(\\d{1,9})W)?(?:(\\d{1,9})D)?(?:T(?:(\\d{1,9})H)?(?:(\\d{1,9})M)?(?:(\\d{1,9})S)?)?$"));
  const QRegularExpressionMatch m = form.match(text.trimmed().toUpper());
  if (!m.hasMatch()) return std::nullopt;
  const qint64 secs = m.captured(2).toLongLong() * 7 * 86400 + m.captured(3).toLongLong() * 86400 +
                      m.captured(4).toLongLong() * 3600 + m.captured(5).toLongLong() * 60 + m.captured(6).toLongLong();
  if (secs > kMaxDurationSecs) return std::nullopt;
  return m.captured(1) == u'-' ? -secs : secs;
}

QString DurationText(qint64 secs) {
  QString out = secs < 0 ? QStringLiteral("-P") : QStringLiteral("P");
  qint64 s = std::abs(secs);
  const qint64 days = s / 86400;
  s %= 86400;
  if (days) out += QString::number(days) + u'D';
  if (s || !days) {
    out += u'T';
    if (s / 3600) out += QString::number(s / 3600) + u'H';
    if (s % 3600 / 60) out += QString::number(s % 3600 / 60) + u'M';
    if (s % 60 || s == 0) out += QString::number(s % 60) + u'S';
  }
  return out;
}

// ---- components ------------------------------------------------------------------------------

struct Span {
  size_t begin = 0, end = 0;  // the BEGIN and END lines
};

// The top-level components of the calendars in `lines` (children of a VCALENDAR), in order.
std::vector<Span> TopComponents(const std::vector<Line>& lines, std::vector<size_t>* calendarProps = nullptr) {
  std::vector<Span> spans;
  int depth = 0;
  size_t begun = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (l.name == u"BEGIN") {
      if (++depth == 2) begun = i;
      if (depth > 64) return {};
    } else if (l.name == u"END") {
      if (depth == 2) spans.push_back(Span{begun, i});
      if (--depth < 0) depth = 0;
    } else if (depth == 1 && calendarProps) {
      calendarProps->push_back(i);
    }
  }
  return spans;
}

QString KindOf(const std::vector<Line>& lines, const Span& s) {
  return ValueOf(lines[s.begin].text).trimmed().toUpper();
}

// The property lines of a component itself (not of its sub-components).
std::vector<size_t> OwnLines(const std::vector<Line>& lines, const Span& s) {
  std::vector<size_t> own;
  int depth = 0;
  for (size_t i = s.begin + 1; i < s.end; ++i) {
    if (lines[i].name == u"BEGIN")
      ++depth;
    else if (lines[i].name == u"END")
      --depth;
    else if (depth == 0)
      own.push_back(i);
  }
  return own;
}

// The sub-components of `s` of one kind.
std::vector<Span> Children(const std::vector<Line>& lines, const Span& s, const QString& kind) {
  std::vector<Span> found;
  int depth = 0;
  size_t begun = 0;
  for (size_t i = s.begin + 1; i < s.end; ++i) {
    if (lines[i].name == u"BEGIN") {
      if (depth++ == 0) begun = i;
    } else if (lines[i].name == u"END") {
      if (--depth == 0 && KindOf(lines, Span{begun, i}) == kind) found.push_back(Span{begun, i});
    }
  }
  return found;
}

std::optional<size_t> FirstOwn(const std::vector<Line>& lines, const std::vector<size_t>& own, const QString& name) {
  for (size_t i : own)
    if (lines[i].name == name) return i;
  return std::nullopt;
}

// ---- the patch -------------------------------------------------------------------------------

class Patcher {
 public:
  Patcher(std::vector<Line> lines, QByteArray lineEnd, Span event)
      : m_lines(std::move(lines)), m_end(std::move(lineEnd)), m_event(event) {
    m_own = OwnLines(m_lines, m_event);
    m_todo = KindOf(m_lines, m_event) == u"VTODO";
  }

  void apply(const EventChanges& c) {
    for (const QString& name : c.removed)
      while (const auto at = own(name.toUpper())) remove(*at);
    if (c.summary) setText(QStringLiteral("SUMMARY"), *c.summary, false);
    if (c.description) setText(QStringLiteral("DESCRIPTION"), *c.description, true);
    if (c.categories) setCategories(*c.categories);
    // The old start and end, for the alarms relative to them.
    const std::optional<size_t> startLine = own(m_todo ? QStringLiteral("DUE") : QStringLiteral("DTSTART"));
    const Value oldStart = startLine ? ReadValue(m_lines[*startLine].text) : Value();
    QDateTime oldStartAt = StartMoment(oldStart);
    // In a zone not known here, the start is as the reminder had it.
    if (!oldStartAt.isValid() && oldStart.ok && oldStart.form == Value::UnknownZone) oldStartAt = c.startWas;
    const QDateTime oldEndAt = endMoment(oldStart, oldStartAt);
    qint64 moved = 0;
    if (startLine && oldStart.ok && !own(QStringLiteral("RRULE")) && !own(QStringLiteral("RDATE"))) {
      if (oldStart.form == Value::Date && c.date && *c.date != oldStart.date) {
        moved = oldStart.date.daysTo(*c.date) * 86400;
        m_wallMoved = moved;
        edit(*startLine, WithValue(m_lines[*startLine].text, c.date->toString(kDateForm)));
      } else if (oldStart.form != Value::Date && c.start && c.start->isValid()) {
        moved = oldStartAt.isValid() ? oldStartAt.secsTo(*c.start) : 0;
        // A zone not known here moves as this computer's wall clock moved.
        const qint64 wall = c.startWas.isValid() ? Wall(c.startWas).secsTo(Wall(*c.start)) : moved;
        m_wallMoved = wall;
        const QString value = MovedValue(oldStart, *c.start, wall);
        if (value != ValueOf(m_lines[*startLine].text))
          edit(*startLine, WithValue(m_lines[*startLine].text, value));
        else
          moved = 0;
      }
      if (moved != 0) moveAlong(moved);
    }
    if (c.alarm && c.alarm->isValid())
      setAlarm(*c.alarm, c.alarmWas, c.alarmText, oldStartAt, oldEndAt, moved, oldStart.form == Value::Date);
    for (const auto& [name, value] : c.extras) setLine(name.toUpper(), name + u':' + value);
    if (m_changed && c.stamp.isValid()) {
      const QString stamp = c.stamp.toUTC().toString(kUtcForm);
      if (const auto s = own(QStringLiteral("DTSTAMP"))) edit(*s, QStringLiteral("DTSTAMP:") + stamp);
      setLine(QStringLiteral("LAST-MODIFIED"), QStringLiteral("LAST-MODIFIED:") + stamp);
    }
  }

  bool changed() const { return m_changed; }
  QByteArray text() const {
    QByteArray out;
    for (const Line& l : m_lines) out += l.raw;
    return out;
  }

 private:
  std::optional<size_t> own(const QString& name) const { return FirstOwn(m_lines, m_own, name); }

  // A moment's wall time here, as digits.
  static QDateTime Wall(const QDateTime& at) {
    const QDateTime here = at.toTimeZone(QTimeZone::systemTimeZone());
    return QDateTime(here.date(), here.time(), QTimeZone::utc());
  }

  static QDateTime StartMoment(const Value& v) {
    if (!v.ok) return {};
    if (v.form == Value::Date) return QDateTime(v.date, QTime(0, 0), QTimeZone::systemTimeZone());
    return v.moment();
  }

  QDateTime endMoment(const Value& start, const QDateTime& startAt) const {
    if (!startAt.isValid()) return {};
    if (const auto e = own(m_todo ? QStringLiteral("DUE") : QStringLiteral("DTEND")); e && !m_todo) {
      const Value end = ReadValue(m_lines[*e].text);
      if (end.ok && end.form == Value::Date) return QDateTime(end.date, QTime(0, 0), QTimeZone::systemTimeZone());
      if (end.ok && end.moment().isValid()) return end.moment();
    }
    if (const auto d = own(QStringLiteral("DURATION")))
      if (const auto secs = ParseDuration(ValueOf(m_lines[*d].text))) return startAt.addSecs(*secs);
    return startAt.addSecs(start.form == Value::Date ? 86400 : 0);
  }

  void edit(size_t i, const QString& text) {
    if (m_lines[i].text == text) return;
    m_lines[i] = NewLine(text, m_end);
    m_changed = true;
  }

  // Inserts property lines before the event's first sub-component (or its END).
  void insert(const QString& text) {
    size_t at = m_event.end;
    for (size_t i = m_event.begin + 1; i < m_event.end; ++i)
      if (m_lines[i].name == u"BEGIN") {
        at = i;
        break;
      }
    insertAt(at, {NewLine(text, m_end)});
  }

  void insertAt(size_t at, std::vector<Line> add) {
    const size_t n = add.size();
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(add.begin()),
                   std::make_move_iterator(add.end()));
    m_event.end += n;
    m_own = OwnLines(m_lines, m_event);
    m_changed = true;
  }

  void remove(size_t i) {
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(i));
    --m_event.end;
    m_own = OwnLines(m_lines, m_event);
    m_changed = true;
  }

  // The first line called `name` set to `text` (parameters included), or added.
  void setLine(const QString& name, const QString& text) {
    if (const auto at = own(name))
      edit(*at, text);
    else
      insert(text);
  }

  void setText(const QString& name, const QString& text, bool removeWhenEmpty) {
    const auto at = own(name);
    if (text.isEmpty() && removeWhenEmpty) {
      if (at) remove(*at);
      return;
    }
    if (at)
      edit(*at, WithValue(m_lines[*at].text, EscapeText(text)));
    else
      insert(name + u':' + EscapeText(text));
  }

  void setCategories(const QStringList& categories) {
    QStringList escaped;
    for (const QString& c : categories)
      if (!c.trimmed().isEmpty()) escaped << EscapeText(c.trimmed());
    // Already so (on one line or on several): nothing to write.
    QStringList now;
    for (size_t i : m_own)
      if (m_lines[i].name == u"CATEGORIES") now << ValueOf(m_lines[i].text).split(u',', Qt::SkipEmptyParts);
    if (now == escaped) return;
    for (;;) {
      const auto at = own(QStringLiteral("CATEGORIES"));
      if (!at) break;
      remove(*at);
    }
    if (!escaped.isEmpty()) insert(QStringLiteral("CATEGORIES:") + escaped.join(u','));
  }

  // DTEND (of an event) or DTSTART (of a to-do, whose DUE is its start) moved with the start.
  void moveAlong(qint64 secs) {
    const QString other = m_todo ? QStringLiteral("DTSTART") : QStringLiteral("DTEND");
    if (const auto at = own(other)) {
      const Value v = ReadValue(m_lines[*at].text);
      if (v.ok) {
        const QDateTime from = v.form == Value::Date ? QDateTime() : v.moment();
        edit(*at, WithValue(m_lines[*at].text,
                            MovedValue(v, from.isValid() ? from.addSecs(secs) : QDateTime(), m_wallMoved)));
      }
    }
    if (const auto seq = own(QStringLiteral("SEQUENCE"))) {
      bool ok = false;
      const int n = ValueOf(m_lines[*seq].text).trimmed().toInt(&ok);
      if (ok && n >= 0 && n < 1000000000) edit(*seq, WithValue(m_lines[*seq].text, QString::number(n + 1)));
    }
  }

  void setAlarm(const QDateTime& alarm, const QDateTime& was, const QString& text, const QDateTime& oldStart,
                const QDateTime& oldEnd, qint64 moved, bool allDay) {
    const QDateTime newStart = oldStart.isValid() ? oldStart.addSecs(moved) : QDateTime();
    const QDateTime newEnd = oldEnd.isValid() ? oldEnd.addSecs(moved) : QDateTime();
    for (const Span& a : Children(m_lines, m_event, QStringLiteral("VALARM"))) {
      const std::vector<size_t> own = OwnLines(m_lines, a);
      const auto at = FirstOwn(m_lines, own, QStringLiteral("TRIGGER"));
      if (!at) continue;
      const QString line = m_lines[*at].text;
      const bool absolute =
          ParamOf(line, QStringLiteral("VALUE")).compare(QStringLiteral("DATE-TIME"), Qt::CaseInsensitive) == 0;
      const bool fromEnd =
          ParamOf(line, QStringLiteral("RELATED")).compare(QStringLiteral("END"), Qt::CaseInsensitive) == 0;
      QDateTime fell;
      if (absolute) {
        const Value v = ReadValue(line);
        fell = v.ok ? v.moment() : QDateTime();
      } else if (const auto secs = ParseDuration(ValueOf(line))) {
        const QDateTime base = fromEnd ? oldEnd : oldStart;
        fell = base.isValid() ? base.addSecs(*secs) : QDateTime();
      }
      if (!fell.isValid() || !was.isValid() || std::abs(fell.secsTo(was)) >= 60) continue;
      QString value;
      if (absolute) {
        value = alarm.toUTC().toString(kUtcForm);
      } else {
        const QDateTime base = fromEnd ? newEnd : newStart;
        if (!base.isValid()) continue;
        value = DurationText(base.secsTo(alarm));
      }
      // Already where it is to be (a relative alarm moved with its start): nothing to write.
      if (value != ValueOf(line)) edit(*at, WithValue(line, value));
      return;
    }
    // None of the event's alarms was the one: one is added.
    const QDateTime base = newStart.isValid() ? newStart : QDateTime();
    const QString trigger = base.isValid() && !allDay
                                ? QStringLiteral("TRIGGER:") + DurationText(base.secsTo(alarm))
                                : QStringLiteral("TRIGGER;VALUE=DATE-TIME:") + alarm.toUTC().toString(kUtcForm);
    insertAt(m_event.end,
             {NewLine(QStringLiteral("BEGIN:VALARM"), m_end), NewLine(QStringLiteral("ACTION:DISPLAY"), m_end),
              NewLine(QStringLiteral("DESCRIPTION:") + EscapeText(text.isEmpty() ? QStringLiteral("Reminder") : text),
                      m_end),
              NewLine(trigger, m_end), NewLine(QStringLiteral("END:VALARM"), m_end)});
  }

  std::vector<Line> m_lines;
  QByteArray m_end;
  Span m_event;
  std::vector<size_t> m_own;
  bool m_todo = false;
  bool m_changed = false;
  qint64 m_wallMoved = 0;  // how far the start moved on the wall clock
};

// The TZIDs the lines of `s` name.
void ZonesNamed(const std::vector<Line>& lines, const Span& s, std::set<QString>* zones) {
  for (size_t i = s.begin; i <= s.end; ++i) {
    const QString tzid = ParamOf(lines[i].text, QStringLiteral("TZID"));
    if (!tzid.isEmpty()) zones->insert(tzid);
  }
}

QByteArray Raw(const std::vector<Line>& lines, const Span& s) {
  QByteArray out;
  for (size_t i = s.begin; i <= s.end; ++i) out += lines[i].raw;
  // The last line of a file may lack its line end.
  return out;
}

QByteArray Ended(QByteArray raw, const QByteArray& lineEnd) {
  if (!raw.endsWith('\n')) raw += lineEnd;
  return raw;
}

}  // namespace

PatchResult PatchEvent(const QByteArray& resource, const EventChanges& changes) {
  PatchResult result;
  QByteArray lineEnd;
  std::vector<Line> lines = SplitLines(resource, &lineEnd);
  std::optional<Span> event;
  for (const Span& s : TopComponents(lines)) {
    const QString kind = KindOf(lines, s);
    if (kind != u"VEVENT" && kind != u"VTODO") continue;
    if (!FirstOwn(lines, OwnLines(lines, s), QStringLiteral("RECURRENCE-ID"))) {
      event = s;
      break;
    }
  }
  if (!event) {
    result.error = QStringLiteral("the calendar resource holds no event to change");
    return result;
  }
  Patcher patcher(std::move(lines), lineEnd, *event);
  patcher.apply(changes);
  result.changed = patcher.changed();
  result.text = result.changed ? patcher.text() : resource;
  return result;
}

std::map<QString, QByteArray> ResourcesByUid(const QByteArray& calendar) {
  std::map<QString, QByteArray> out;
  QByteArray lineEnd;
  const std::vector<Line> lines = SplitLines(calendar, &lineEnd);
  // Each VCALENDAR of the file on its own: its zones serve its own events.
  std::vector<Span> calendars;
  int depth = 0;
  size_t begun = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].name == u"BEGIN" && depth++ == 0)
      begun = i;
    else if (lines[i].name == u"END" && depth > 0 && --depth == 0)
      calendars.push_back(Span{begun, i});
    if (depth > 64) return {};
  }
  std::map<QString, std::vector<QByteArray>> blocks;  // by UID
  std::map<QString, std::set<QString>> zonesOf;
  std::map<QString, QByteArray> zonesText;
  for (const Span& cal : calendars) {
    if (KindOf(lines, cal) != u"VCALENDAR") continue;
    const std::vector<Line> part(lines.begin() + static_cast<std::ptrdiff_t>(cal.begin),
                                 lines.begin() + static_cast<std::ptrdiff_t>(cal.end) + 1);
    std::vector<size_t> props;
    const std::vector<Span> top = TopComponents(part, &props);
    QByteArray header;
    bool version = false;
    for (size_t i : props)
      if (part[i].name == u"VERSION" || part[i].name == u"PRODID" || part[i].name == u"CALSCALE") {
        header += Ended(part[i].raw, lineEnd);
        version = version || part[i].name == u"VERSION";
      }
    if (!version) header = "VERSION:2.0" + lineEnd + header;
    std::map<QString, QByteArray> zones;
    for (const Span& s : top)
      if (KindOf(part, s) == u"VTIMEZONE")
        if (const auto id = FirstOwn(part, OwnLines(part, s), QStringLiteral("TZID")))
          zones.emplace(ValueOf(part[*id].text).trimmed(), Ended(Raw(part, s), lineEnd));
    for (const Span& s : top) {
      const QString kind = KindOf(part, s);
      if (kind != u"VEVENT" && kind != u"VTODO") continue;
      const auto id = FirstOwn(part, OwnLines(part, s), QStringLiteral("UID"));
      if (!id) continue;
      const QString uid = ValueOf(part[*id].text).trimmed();
      if (uid.isEmpty()) continue;
      blocks[uid].push_back(Ended(Raw(part, s), lineEnd));
      std::set<QString> named;
      ZonesNamed(part, s, &named);
      for (const QString& z : named)
        if (const auto found = zones.find(z); found != zones.end() && zonesOf[uid].insert(z).second)
          zonesText[uid] += found->second;
      if (!out.count(uid)) out[uid] = "BEGIN:VCALENDAR" + lineEnd + header;
    }
  }
  for (auto& [uid, text] : out) {
    text += zonesText[uid];
    for (const QByteArray& b : blocks[uid]) text += b;
    text += "END:VCALENDAR" + lineEnd;
  }
  return out;
}

QByteArray JoinResources(const std::vector<QByteArray>& resources, const QString& productId) {
  QByteArray zones, events;
  std::set<QString> seen;
  const auto crlf = [](const QByteArray& raw) {
    QByteArray out = raw;
    out.replace("\r\n", "\n");
    out.replace('\n', "\r\n");
    return out;
  };
  for (const QByteArray& r : resources) {
    QByteArray lineEnd;
    const std::vector<Line> lines = SplitLines(r, &lineEnd);
    for (const Span& s : TopComponents(lines)) {
      const QString kind = KindOf(lines, s);
      if (kind == u"VTIMEZONE") {
        const auto id = FirstOwn(lines, OwnLines(lines, s), QStringLiteral("TZID"));
        if (id && seen.insert(ValueOf(lines[*id].text).trimmed()).second) zones += crlf(Ended(Raw(lines, s), "\r\n"));
      } else if (kind == u"VEVENT" || kind == u"VTODO") {
        events += crlf(Ended(Raw(lines, s), "\r\n"));
      }
    }
  }
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + Folded(QStringLiteral("PRODID:") + productId, "\r\n") +
         "CALSCALE:GREGORIAN\r\n" + zones + events + "END:VCALENDAR\r\n";
}

}  // namespace icalendar

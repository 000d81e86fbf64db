#include "data/calendar_memo.h"

namespace chimewise {

namespace {

const QString kMarker = QStringLiteral("[iCalendar]");

// A line of the calendar part: one of the properties kept there, as an iCalendar content line.
bool IsContentLine(const QString& line) {
  for (const char* name : {"UID:", "DTSTART:", "DTSTART;", "RRULE:", "EXDATE:", "EXDATE;", "RDATE", "X-CHIMEWISE-"})
    if (line.startsWith(QLatin1String(name))) return true;
  return false;
}

}  // namespace

CalendarMemo SplitCalendarMemo(const QString& memo) {
  CalendarMemo m;
  m.text = memo;
  const qsizetype at = memo.startsWith(kMarker + u'\n') ? 0 : memo.lastIndexOf(u'\n' + kMarker + u'\n');
  if (at < 0) return m;
  const qsizetype body = memo.indexOf(u'\n', at + (at == 0 ? 0 : 1)) + 1;
  const QStringList lines = memo.mid(body).split(u'\n', Qt::SkipEmptyParts);
  CalendarMemo found;
  for (const QString& line : lines) {
    if (!IsContentLine(line)) return m;  // the user's own text, not the calendar part
    if (line.startsWith(QStringLiteral("UID:")))
      found.uid = line.mid(4);
    else
      found.series << line;
  }
  // The blank line before the marker belongs to the calendar part.
  found.text = memo.left(at);
  if (found.text.endsWith(u'\n')) found.text.chop(1);
  return found;
}

QString JoinCalendarMemo(const CalendarMemo& memo) {
  if (memo.uid.isEmpty() && memo.series.isEmpty()) return memo.text;
  QString out = memo.text.isEmpty() ? QString() : memo.text + QStringLiteral("\n\n");
  out += kMarker + u'\n';
  if (!memo.uid.isEmpty()) out += QStringLiteral("UID:") + memo.uid + u'\n';
  for (const QString& line : memo.series) out += line + u'\n';
  return out;
}

}  // namespace chimewise

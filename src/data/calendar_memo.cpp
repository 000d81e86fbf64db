#include "data/calendar_memo.h"

#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"

#include <xbase/engine.h>

#include <utility>
#include <vector>

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
  bool starts = false;
  for (const QString& line : lines) {
    if (!IsContentLine(line)) return m;  // the user's own text, not the calendar part
    if (line.startsWith(QStringLiteral("UID:"))) {
      found.uid = line.mid(4);
    } else {
      starts = starts || line.startsWith(QLatin1String("DTSTART"));
      found.series << line;
    }
  }
  if (found.uid.isEmpty() && !starts) return m;
  // The blank line before the marker belongs to the calendar part.
  found.text = memo.left(at);
  if (found.text.endsWith(u'\n')) found.text.chop(1);
  return found;
}

MemoMove MoveCalendarMemos(xbase::Engine& engine, const QString& appFolder) {
  MemoMove out;
  if (!CalendarPlaceProblem(appFolder).ok()) return out;  // no table yet: nothing to move
  const QString alias = QStringLiteral("MEMOMOVE");
  struct Moving {
    uint32_t recno;
    QByteArray recordId;
    std::string memo;  // as the table holds it
    CalendarMemo split;
  };
  std::vector<Moving> moving;
  const data::TableHandle table = data::TableHandle::Calendar(engine, appFolder, alias);
  xbase::Status st = table.status();
  xbase::WorkArea* wa = table.get();
  if (wa) {
    st = wa->SetOrder(0);
    if (st.ok()) st = wa->GoTop();
    for (; st.ok() && !wa->Eof(); st = wa->Skip(1)) {
      std::string memo;
      if (!wa->GetMemo("COMMENT", &memo).ok() || memo.find("[iCalendar]") == std::string::npos) continue;
      CalendarMemo split = SplitCalendarMemo(data::FromTableText(*wa, memo));
      std::string id;
      if (!split.hasPart() || !wa->GetString("REC_NO", &id).ok() || QByteArray::fromStdString(id).trimmed().isEmpty())
        continue;
      moving.push_back({wa->RecNo(), QByteArray::fromStdString(id), std::move(memo), std::move(split)});
    }
  }
  if (st.ok() && !moving.empty()) {
    // First the kept events, on the disk: a memo is only cut once its part is safe elsewhere.
    const KeptEvents kept = KeptEvents::BesideTable(QString::fromStdString(wa->path()));
    std::vector<std::pair<QByteArray, KeptEvent>> keeping;
    for (const Moving& m : moving) {
      KeptEvent k = kept.Get(m.recordId).value_or(KeptEvent());
      if (!m.split.uid.isEmpty()) k.uid = m.split.uid;
      k.series = m.split.series;
      // What the reminder read in as held the part too; the memo it is compared with is the text.
      if (k.hasSynced) k.synced.memo = SplitCalendarMemo(k.synced.memo).text;
      keeping.emplace_back(m.recordId, std::move(k));
    }
    out.problem = kept.PutMany(keeping);
    for (size_t i = 0; out.problem.ok() && i < moving.size(); ++i) {
      const Moving& m = moving[i];
      std::string now;
      // Changed meanwhile (another program has the table too): left for the next time.
      if (!wa->Go(m.recno).ok() || !wa->GetMemo("COMMENT", &now).ok() || now != m.memo) continue;
      // The text is the memo's own bytes before the part (as many as the text takes in the table's code page).
      st = wa->ReplaceMemo("COMMENT", m.memo.substr(0, data::ToTableText(*wa, m.split.text).size()));
      if (!st.ok() || !CommitRecord(*wa, &st)) {
        wa->Discard().IgnoreError();
        break;
      }
      ++out.moved;
    }
  }
  if (out.problem.ok() && !st.ok()) out.problem = ProblemOf(st);
  return out;
}

}  // namespace chimewise

#include "exchange/calendar_import.h"

#include "alarms/alarm_service.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/calendar_memo.h"
#include "data/reminder_record.h"
#include "exchange/calendar_export.h"
#include "schedule/save_event.h"

#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <xbase/engine.h>
#include <icalendar/icalendar.h>

#include <algorithm>
#include <map>
#include <optional>

namespace chimewise {

namespace {

const QString kImportAlias = QStringLiteral("CALIMPORT");

// What a reminder already in the table holds, to tell an update from a file read in again.
struct Stored {
  qint64 recno = 0;
  EventInput values;
  bool byRecordId = false;  // found by the UID an export gives it, not by a stored one
};

}  // namespace

EventInput StoredReminder(xbase::WorkArea& area) {
  const ReminderFacts f = ReadReminderFacts(area);
  EventInput in;
  in.event = TableText(area, "EVENT");
  in.activity = f.activityText;
  in.memo = f.memo;
  in.activityDate = f.eventDate;
  in.activityTime = QTime(0, 0).addSecs(std::max(f.startTime, 0) * 60);
  in.remindDate = f.alarmDate;
  in.remindTime = QTime(0, 0).addSecs(f.alarmTime * 60);
  in.sound = f.sound;
  in.sayDate = f.sayDate;
  in.sayTime = f.sayTime;
  in.countdown = f.countdown;
  in.countdownOn = f.countdown > 0;
  return in;
}

namespace {

bool SameValues(const EventInput& a, const EventInput& b) {
  return a.event.trimmed() == b.event.trimmed() && a.activity.trimmed() == b.activity.trimmed() && a.memo == b.memo &&
         a.activityDate == b.activityDate && MinuteOfDay(a.activityTime) == MinuteOfDay(b.activityTime) &&
         a.remindDate == b.remindDate && MinuteOfDay(a.remindTime) == MinuteOfDay(b.remindTime) && a.sound == b.sound &&
         a.sayDate == b.sayDate && a.sayTime == b.sayTime &&
         (a.countdownOn ? a.countdown : 0) == (b.countdownOn ? b.countdown : 0);
}

// Every live reminder that answers to a UID: one read from a calendar by its stored UID, any
// other by the UID an export gives it.
xbase::Status ReadStored(xbase::WorkArea& area, std::map<QString, Stored>* byUid) {
  XBASE_RETURN_IF_ERROR(area.SetOrder(0));
  xbase::Status st = area.GoTop();
  for (; st.ok() && !area.Eof(); st = area.Skip(1)) {
    Stored s;
    s.recno = area.RecNo();
    s.values = StoredReminder(area);
    std::string id;
    XBASE_RETURN_IF_ERROR(area.GetString("REC_NO", &id));
    const QString uid = SplitCalendarMemo(s.values.memo).uid;
    s.byRecordId = uid.isEmpty();
    (*byUid)[uid.isEmpty() ? RecordUid(id) : uid] = s;
  }
  return st;
}

// A whole number from an X-CHIMEWISE-... property within [lo, hi].
std::optional<int> ExtraNumber(const icalendar::ReadEvent& e, const char* name, int lo, int hi) {
  for (const auto& [key, value] : e.extras) {
    if (key.compare(QLatin1String(name), Qt::CaseInsensitive) != 0) continue;
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    if (ok && v >= lo && v <= hi) return v;
  }
  return std::nullopt;
}

QString Describe(const icalendar::ReadEvent& e) {
  const QString what = e.summary.isEmpty() ? QStringLiteral("(no summary)") : QStringLiteral("\"%1\"").arg(e.summary);
  return e.uid.isEmpty() ? what : QStringLiteral("%1 (UID %2)").arg(what, e.uid);
}

}  // namespace

EventInput ReminderFromEvent(const icalendar::ReadEvent& e, const ImportOptions& options, const QDateTime& now,
                             const EventInput* before, bool keepUid) {
  const QTimeZone local = QTimeZone::systemTimeZone();
  EventInput in;
  in.event = e.categories.join(QStringLiteral(", "));
  in.activity = e.summary;
  CalendarMemo memo;
  memo.text = e.description;
  if (keepUid) memo.uid = e.uid;
  memo.series = e.series;
  if (e.allDay && memo.series.isEmpty())
    memo.series << QStringLiteral("DTSTART;VALUE=DATE:") + e.date.toString(QStringLiteral("yyyyMMdd"));
  const QDateTime start = e.allDay ? QDateTime(e.date, options.allDayAt, local) : e.start.toTimeZone(local);
  in.activityDate = start.date();
  in.activityTime = QTime(start.time().hour(), start.time().minute());
  // The earliest alarm still to come; when all have gone by, the last of them (the reminder is
  // due at once, as the alarm was); without any the start, less the lead time.
  QDateTime remind = start.addSecs(-60LL * options.leadMinutes);
  const auto coming = std::find_if(e.alarms.begin(), e.alarms.end(), [&](const QDateTime& a) { return a >= now; });
  if (coming != e.alarms.end())
    remind = coming->toTimeZone(local);
  else if (!e.alarms.empty())
    remind = e.alarms.back().toTimeZone(local);
  in.remindDate = remind.date();
  in.remindTime = QTime(remind.time().hour(), remind.time().minute());
  // A series keeps how long before each occurrence it reminds, for the alarm scan to move it on.
  if (!e.series.isEmpty())
    memo.series << QStringLiteral("X-CHIMEWISE-LEAD:%1")
                       .arg(
                           QDateTime(in.remindDate, in.remindTime).secsTo(QDateTime(in.activityDate, in.activityTime)));
  // A timed series keeps the zone it was written in on its DTSTART line, so that it moves on as
  // its organiser's clocks change, not this computer's.
  in.memo = JoinCalendarMemo(memo);
  // The program's own fields, when the component has them; an update keeps what the reminder had.
  in.sound = ExtraNumber(e, "X-CHIMEWISE-SOUND", 0, 8).value_or(before ? before->sound : 0);
  in.sayDate = ExtraNumber(e, "X-CHIMEWISE-SAY-DATE", 0, 1).value_or(before ? before->sayDate : 0);
  in.sayTime = ExtraNumber(e, "X-CHIMEWISE-SAY-TIME", 0, 1).value_or(before ? before->sayTime : 0);
  in.countdown = ExtraNumber(e, "X-CHIMEWISE-COUNTDOWN", 0, 99999).value_or(before ? before->countdown : 0);
  in.countdownOn = in.countdown > 0;
  return in;
}

QString ImportSummary(const ImportReport& r) {
  return QStringLiteral("imported %1, updated %2, deleted %3, unchanged %4, skipped %5")
      .arg(r.imported)
      .arg(r.updated)
      .arg(r.deleted)
      .arg(r.unchanged)
      .arg(r.skipped.size());
}

CalendarImporter::CalendarImporter(SharedState& state, Clock& clock, xbase::Engine& engine, Speaker& speaker,
                                   AlarmService& alarms, ViewerPort& viewer)
    : m_state(state), m_clock(clock), m_engine(engine), m_speaker(speaker), m_alarms(alarms), m_viewer(viewer) {}

ImportReport CalendarImporter::Import(const QString& path, const ImportOptions& options) {
  ImportReport report;
  const QFileInfo info(path);
  if (!info.exists()) {
    report.error = QStringLiteral("%1 does not exist").arg(path);
    return report;
  }
  if (!info.isFile()) {
    report.error = QStringLiteral("%1 is not a regular file").arg(path);
    return report;
  }
  if (info.size() > kMaxCalendarBytes) {
    report.error = QStringLiteral("%1 is larger than %2 MB; a calendar that large is not read")
                       .arg(path)
                       .arg(kMaxCalendarBytes / (1024 * 1024));
    return report;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    report.error = QStringLiteral("%1 cannot be read (%2)").arg(path, file.errorString());
    return report;
  }
  const QByteArray text = file.read(kMaxCalendarBytes + 1);
  if (text.size() > kMaxCalendarBytes) {
    report.error = QStringLiteral("%1 is larger than %2 MB; a calendar that large is not read")
                       .arg(path)
                       .arg(kMaxCalendarBytes / (1024 * 1024));
    return report;
  }

  const QDateTime now = m_clock.now();
  icalendar::ReadOptions readOptions;
  readOptions.now = now.toUTC();
  readOptions.maxComponents = kMaxCalendarComponents;
  readOptions.maxOccurrences = kMaxOccurrencesPerSeries;
  const icalendar::ReadResult calendar = icalendar::Read(text, readOptions);
  if (!calendar.error.isEmpty()) {
    report.error = QStringLiteral("%1: %2").arg(path, calendar.error);
    return report;
  }

  // The reminders already there, by UID.
  std::map<QString, Stored> byUid;
  {
    if (report.problem = CalendarPlaceProblem(m_state.AppFolder); !report.problem.ok()) return report;
    int area = 0;
    xbase::Status st = OpenCalendar(m_engine, m_state.AppFolder, kImportAlias, &area);
    if (st.ok()) st = ReadStored(*m_engine.Area(area), &byUid);
    data::CloseTableIfOpen(m_engine, kImportAlias);
    if (!st.ok()) {
      report.problem = ProblemOf(st);
      return report;
    }
  }

  for (const icalendar::ReadEvent& e : calendar.events) {
    // One line each: a message worded for a box loses its line breaks.
    const auto skip = [&](const QString& why) {
      report.skipped << QStringLiteral("%1: %2").arg(Describe(e), why.simplified());
    };
    if (!e.refused.isEmpty()) {
      skip(e.refused);
      continue;
    }
    if (e.uid.isEmpty()) {
      skip(QStringLiteral("it has no UID, so reading the file again would add it again"));
      continue;
    }
    const auto known = byUid.find(e.uid);
    if (e.cancelled || e.done) {
      const QString gone = e.done ? QStringLiteral("done") : QStringLiteral("cancelled");
      if (known == byUid.end()) {
        skip(gone + QStringLiteral(", and not among the reminders"));
        continue;
      }
      int area = 0;
      bool deleted = false;
      Problem problem = ProblemOf(OpenCalendar(m_engine, m_state.AppFolder, kImportAlias, &area));
      if (problem.ok()) problem = m_alarms.DeleteReminder(area, known->second.recno, &deleted);
      data::CloseTableIfOpen(m_engine, kImportAlias);
      if (!deleted) {
        skip(gone + QStringLiteral(", but the reminder could not be deleted: ") + chimewise::Describe(problem).text);
        continue;
      }
      ++report.deleted;
      byUid.erase(known);
      continue;
    }
    if (e.past) {
      skip(e.series.isEmpty() ? QStringLiteral("it is past") : QStringLiteral("every occurrence is past"));
      continue;
    }

    const EventInput* before = known != byUid.end() ? &known->second.values : nullptr;
    // A reminder that answers to its record's own UID needs no other.
    const EventInput in = ReminderFromEvent(e, options, now, before, known == byUid.end() || !known->second.byRecordId);
    if (before && SameValues(*before, in)) {
      ++report.unchanged;
      continue;
    }
    EventSaver saver(m_state, m_clock, m_engine, m_speaker, m_alarms, m_viewer);
    const SaveResult saved = saver.SaveEvent(in, before ? std::optional<qint64>(known->second.recno) : std::nullopt);
    if (!saved.saved) {
      skip(chimewise::Describe(saved.problem).text);
      continue;
    }
    if (!saved.problem.ok()) report.problem = saved.problem;
    ++(before ? report.updated : report.imported);
    byUid[e.uid] = Stored{saved.recno, in, before && known->second.byRecordId};
  }
  if (calendar.componentsOverLimit > 0)
    report.skipped << QStringLiteral("%1 more events and to-dos: a file is read up to %2 of them")
                          .arg(calendar.componentsOverLimit)
                          .arg(kMaxCalendarComponents);
  return report;
}

}  // namespace chimewise

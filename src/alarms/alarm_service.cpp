#include "alarms/alarm_service.h"

#include "character/speaker.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/prompts.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <xbase/engine.h>
#include <icalendar/icalendar.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace chimewise {

namespace {

// The first occurrence of a calendar series not before `after` (libical, loaded on first use).
std::optional<SeriesOccurrence> NextSeriesOccurrence(const QStringList& series, const QDateTime& after) {
  const icalendar::ReadEvent e = icalendar::NextOccurrence(series, after.toUTC());
  if (!e.refused.isEmpty() || e.past) return std::nullopt;
  return SeriesOccurrence{e.allDay, e.date, e.start};
}
const QString kTimerAlias = QString::fromLatin1(data::kAliasTimer);
const QString kAlarmAlias = QString::fromLatin1(data::kAliasAlarm);
// A snooze asked for from outside the viewer (a desktop notification's action).
const QString kSnoozeAlias = QStringLiteral("SNOOZEDBF");
// The lowest alarm key that counts: alarms dated before 1980 are never found.
constexpr char kLowestAlarmKey[] = "198001010000";

// The earliest alarm moment among the keys from the work area's position on, in ALARM order.
// Keys are wall times, and their moments follow key order except where the clocks change: a wall
// time the clocks skip means the time after the change, so 02:30 (03:30) comes after 03:05 in real
// time though its key sorts first; the second run of a repeated hour is keyed on the day before.
// Keys are read on until one reads later on the wall clock than any wall time of a moment up to
// the earliest found so far: no later key can mean an earlier moment.
xbase::Status earliestAlarmFromHere(xbase::WorkArea& wa, QDateTime* earliest) {
  *earliest = QDateTime();
  QDateTime bound;
  xbase::Status s;
  for (; s.ok() && !wa.Eof(); s = wa.Skip(1)) {
    const QDate date = TableDate(wa, "ALARMDATE");
    if (!date.isValid()) continue;
    const int minutes = TableInt(wa, "ALARMTIME");
    // A key past the day's end (the second run of a repeated hour) sorts before the next day's.
    if (earliest->isValid() && WallReading(date, std::min(minutes, 1440)) >= bound) break;
    const QDateTime moment = AlarmMoment(date, minutes);
    if (!earliest->isValid() || moment < *earliest) {
      *earliest = moment;
      bound = LatestWallReadingBy(moment);
    }
  }
  return s;
}

}  // namespace

AlarmService::AlarmService(SharedState& state, const ProgramOptions& options, Clock& clock, xbase::Engine& engine,
                           Speaker& speaker, MainTimerPort& timer, ViewerPort& viewer)
    : m_state(state),
      m_options(options),
      m_clock(clock),
      m_engine(engine),
      m_speaker(speaker),
      m_timer(timer),
      m_viewer(viewer) {}

QString AlarmService::tablePath() const { return data::CalendarPath(m_state.AppFolder); }

void AlarmService::setTimer(bool on) { m_timer.SetTimerEnabled(on); }

xbase::Status AlarmService::lookUpNextAlarm(Problem* notice) {
  int area = 0;
  XBASE_RETURN_IF_ERROR(
      OpenCalendar(m_engine, m_state.AppFolder, kTimerAlias, &area, !m_dryRun, nullptr, &m_foreignIndex));
  xbase::WorkArea* wa = m_engine.Area(area);
  *notice = TableRepairProblem(*wa);
  const bool soft = m_engine.settings().soft_seek;
  m_engine.settings().soft_seek = true;
  xbase::Status s = wa->Seek(kLowestAlarmKey);
  m_engine.settings().soft_seek = soft;
  if (s.ok()) {
    QDateTime earliest;
    s = earliestAlarmFromHere(*wa, &earliest);
    m_nextAlarm = MomentOrNone(earliest);
  }
  data::CloseTableIfOpen(m_engine, kTimerAlias);
  return s;
}

Problem AlarmService::FindNextAlarm() {
  m_nextAlarm.reset();
  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) return place;
  Problem notice;
  xbase::Status s = lookUpNextAlarm(&notice);
  if (IsIndexTrouble(s) && !m_dryRun) {
    // An index found damaged during the lookup is rebuilt once, and the lookup runs again.
    s = RepairCalendarIndex(m_engine.env(), m_state.AppFolder, &m_foreignIndex);
    if (s.ok()) s = lookUpNextAlarm(&notice);
  }
  // The table held by another program (a pack, a writer) past the engine's short wait: the next
  // tick's scan looks again, and finds what fell due meanwhile, rather than no alarm being looked
  // for until something else asks.
  if (s.IsBusy()) m_nextAlarm = m_clock.now();
  // A header repaired on the way is told, though the lookup itself worked; so is another
  // program's index replaced, once.
  if (!s.ok()) return ProblemOf(s);
  if (!notice.ok()) return notice;
  if (std::exchange(m_foreignIndex, false)) return ForeignIndexProblem(m_state.AppFolder);
  return {};
}

xbase::Status AlarmService::collectDue(DueList* due, int* area) {
  *due = {};
  XBASE_RETURN_IF_ERROR(
      OpenCalendar(m_engine, m_state.AppFolder, kAlarmAlias, area, !m_dryRun, nullptr, &m_foreignIndex));
  xbase::WorkArea* wa = m_engine.Area(*area);
  // The query selects by wall time, up to a bound that misses nothing due; what it selects is
  // kept when its moment has come in real time, and announced in the order of the alarms' moments.
  const QDateTime now = m_clock.now();
  xbase::Status s = wa->Query(data::RemindersUpToQuery(LatestWallReadingBy(now)).toStdString());
  if (s.ok()) s = wa->GoTop();
  const uint32_t n = s.ok() ? wa->QueryRecCount() : 0;
  // The list is complete before anything is said: each announcement moves alarms, and so
  // changes what the query selects.
  struct Found {
    int turn;  // 0 falling due now, 1 missed (a suspend, a held scan), 2 a repeat
    qint64 alarm;
    uint32_t recno;
  };
  std::vector<Found> found;
  for (uint32_t i = 0; s.ok() && i < n && !wa->Eof(); ++i) {
    const ReminderFacts facts = ReadReminderFacts(*wa);
    if (ReminderCurrent(facts, now)) {
      const QDateTime alarm = AlarmMoment(facts.alarmDate, facts.alarmTime);
      const int turn = RepeatOfLateReminder(facts) ? 2 : alarm.secsTo(now) < kFallingDueSecs ? 0 : 1;
      found.push_back({turn, alarm.toSecsSinceEpoch(), wa->RecNo()});
    }
    s = wa->Skip(1);
  }
  std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::pair(a.turn, a.alarm) < std::pair(b.turn, b.alarm);
  });
  for (const Found& f : found) {
    due->records.push_back(f.recno);
    if (f.turn == 0) ++due->firstInLine;
    if (f.turn < 2) ++due->repeatsFrom;
  }
  if (!s.ok()) {
    data::CloseTableIfOpen(m_engine, kAlarmAlias);
    *area = 0;
  }
  return s;
}

Problem AlarmService::ScanDueAlarms(ScanCounts* counts) {
  ScanCounts ownCounts;
  if (!counts) counts = &ownCounts;
  *counts = {};
  setTimer(false);
  const bool viewerWasOpen = m_viewer.ViewerOpen();
  m_nextAlarm.reset();
  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) {
    setTimer(true);
    return place;
  }
  DueList list;
  int area = 0;
  xbase::Status s = collectDue(&list, &area);
  if (IsIndexTrouble(s) && !m_dryRun) {
    s = RepairCalendarIndex(m_engine.env(), m_state.AppFolder, &m_foreignIndex);
    if (s.ok()) s = collectDue(&list, &area);
  }
  if (!s.ok()) {
    // Keep the reminders coming even after a failed scan.
    static_cast<void>(FindNextAlarm());  // the scan's own trouble is the one told
    setTimer(true);
    return ProblemOf(s);
  }
  bool somethingDue = false;
  std::uint32_t lastSaid = 0;
  const std::vector<uint32_t>& due = list.records;
  const std::size_t firstRepeat = list.repeatsFrom;
  Problem problem;
  // Reminders falling due wait for no one but the line under way; those missed and the repeats of
  // late ones take their turn.
  const bool summed = due.size() - firstRepeat >= static_cast<std::size_t>(kLateSummaryFrom);
  std::optional<FirstInLine> first;
  first.emplace(m_speaker);
  ReminderFacts latest;
  int repeated = 0;
  for (std::size_t i = 0; i < due.size(); ++i) {
    const uint32_t recno = due[i];
    if (i == list.firstInLine) first.reset();
    Problem one;
    AlarmMove move = AlarmMove::None;
    ReminderFacts told;
    if (announce(area, recno, m_options.readActivity ? 1 : 0, m_options.readMemos ? 1 : 0, AnnounceMode::Alarm, &one,
                 &move, i >= firstRepeat && summed, &told)) {
      somethingDue = true;
      lastSaid = recno;
    }
    if (i >= firstRepeat && told.activity.isValid()) {
      ++repeated;
      if (!latest.activity.isValid() || told.activity >= latest.activity) latest = told;
    }
    if (move == AlarmMove::Stored) ++counts->stored;
    if (move == AlarmMove::Failed) ++counts->failed;
    if (problem.ok() || (move == AlarmMove::Failed && counts->failed == 1)) problem = one;
    if (m_engine.WorkAreaOf(kAlarmAlias.toStdString()) != area) break;  // closed meanwhile
  }
  first.reset();
  if (summed && repeated > 0) m_speaker.SayText(LateSummaryText(repeated, latest.activityText));
  data::CloseTableIfOpen(m_engine, kAlarmAlias);
  // Also when nothing was selected, so a reminder never stops firing until a restart.
  if (Problem lookup = FindNextAlarm(); problem.ok()) problem = lookup;
  if (somethingDue) {
    m_viewer.ShowAnnounced(lastSaid);
  } else if (!due.empty() && m_viewer.ViewerOpen() && !viewerWasOpen) {
    m_viewer.CloseViewerAndHideCharacter();
  }
  setTimer(true);
  return problem;
}

bool AlarmService::AnnounceReminder(int area, qint64 recno, int readActivity, int readMemos, AnnounceMode mode,
                                    Problem* problem) {
  AlarmMove move = AlarmMove::None;
  return announce(area, recno, readActivity, readMemos, mode, problem, &move);
}

bool AlarmService::announce(int area, qint64 recno, int readActivity, int readMemos, AnnounceMode mode,
                            Problem* problem, AlarmMove* move, bool quiet, ReminderFacts* told) {
  if (recno < 1 || area < 1) return false;
  if (!m_engine.Select(area).ok()) return false;
  xbase::WorkArea* wa = m_engine.Current();
  if (!wa || recno > wa->RecCount()) return false;
  if (!wa->Go(static_cast<uint32_t>(recno)).ok()) return false;

  const QDateTime now = m_clock.now();
  const ReminderFacts facts = ReadReminderFacts(*wa);
  if (told) *told = facts;
  const AnnounceSettings settings{m_options.remindOn ? 1 : 0, m_options.waitTime, m_options.timeFormat};
  const AnnouncementPlan plan = PlanAnnouncement(facts, settings, readActivity, readMemos, mode, now);
  // A repeating reminder whose occurrence has gone by moves on to the next one.
  std::optional<AlarmWrite> alarm = plan.alarm;
  std::optional<SeriesMove> series;
  if (mode == AnnounceMode::Alarm && !m_dryRun) {
    // A series lives in the reminder's kept event: one small file read, for a reminder falling due.
    std::string id;
    const std::optional<KeptEvent> kept =
        wa->GetString("REC_NO", &id).ok()
            ? KeptEvents::BesideTable(QString::fromStdString(wa->path())).Get(QByteArray::fromStdString(id))
            : std::nullopt;
    if (kept) series = PlanSeriesMove(facts, kept->series, now, &NextSeriesOccurrence);
  }
  if (series) alarm = StoredAlarm(series->alarm, m_options.timeFormat);
  if (alarm && !m_dryRun) {
    xbase::Status s = WriteAlarm(*wa, *alarm);
    if (s.ok() && series)
      s = WriteActivityMoment(*wa, series->activity, FormatDateTimeText(series->activity, m_options.timeFormat));
    const bool stored = s.ok() && CommitRecord(*wa, &s);
    if (!stored) wa->Discard().IgnoreError();
    *move = stored ? AlarmMove::Stored : AlarmMove::Failed;
    if (problem && !s.ok()) *problem = ProblemOf(s);
  }
  const QString recordId = mode == AnnounceMode::Alarm && announced ? TableText(*wa, "REC_NO") : QString();
  if (plan.sound != 0 && !quiet) m_speaker.PlaySoundEffect(plan.sound);
  if (!quiet)
    for (const QString& text : plan.sayTexts) m_speaker.SayText(text);
  if (mode == AnnounceMode::Alarm && announced) announced(AnnouncedReminder{recno, recordId, facts});
  return plan.due;
}

AlarmService::SnoozeOutcome AlarmService::Snooze(int area, qint64 recno, int choice) {
  SnoozeOutcome out;
  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }
  const QDateTime now = m_clock.now();
  xbase::WorkArea* wa = area > 0 && m_engine.Select(area).ok() ? m_engine.Current() : nullptr;
  if (!wa || recno < 1 || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok()) {
    out.problem = {ProblemKind::NoSuchReminder, {}, {}, recno};
    return out;
  }
  const ReminderFacts facts = ReadReminderFacts(*wa);
  const auto plan = PlanSnooze(choice, facts.activity, now);
  if (!plan) return out;
  const AlarmWrite write = StoredAlarm(plan->alarm, m_options.timeFormat);
  const QString stamp = write.text;
  xbase::Status s = WriteAlarm(*wa, write);
  if (s.ok()) s = WriteEditStamp(*wa, now);
  if (s.ok() && plan->moveActivity) s = WriteActivityMoment(*wa, plan->alarm, stamp);
  if (!s.ok() || !CommitRecord(*wa, &s)) {
    wa->Discard().IgnoreError();
    out.problem = ProblemOf(s);
    return out;
  }
  // The snooze is stored. What fails from here on is still worth telling, but undoes nothing.
  out.alarm = plan->alarm;
  out.dropFromList = plan->alarm > now;
  out.problem = FindNextAlarm();
  if (!s.ok()) out.problem = ProblemOf(s);
  return out;
}

AlarmService::SnoozeOutcome AlarmService::SnoozeAnnounced(qint64 recno, const QString& recordId, int choice) {
  SnoozeOutcome out;
  out.problem = {ProblemKind::NoSuchReminder, {}, {}, recno};
  if (recordId.isEmpty()) return out;
  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) {
    out.problem = place;
    return out;
  }
  int area = 0;
  if (xbase::Status s = OpenCalendar(m_engine, m_state.AppFolder, kSnoozeAlias, &area); !s.ok()) {
    out.problem = ProblemOf(s);
    return out;
  }
  xbase::WorkArea* wa = m_engine.Area(area);
  const auto carriesId = [&](qint64 n) {
    return n >= 1 && n <= wa->RecCount() && wa->Go(static_cast<uint32_t>(n)).ok() && !wa->Deleted() &&
           TableText(*wa, "REC_NO") == recordId;
  };
  qint64 found = carriesId(recno) ? recno : 0;
  for (qint64 n = 1; found == 0 && n <= wa->RecCount(); ++n)
    if (n != recno && carriesId(n)) found = n;
  if (found != 0) out = Snooze(area, found, choice);
  if (xbase::WorkArea* open = m_engine.Area(area)) open->Unlock().IgnoreError();
  data::CloseTableIfOpen(m_engine, kSnoozeAlias);
  return out;
}

Problem AlarmService::DeleteReminder(int area, qint64 recno, bool* deleted) {
  if (deleted) *deleted = false;
  xbase::WorkArea* wa = area > 0 && m_engine.Select(area).ok() ? m_engine.Current() : nullptr;
  if (!wa || recno < 1 || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok() || wa->Deleted())
    return {ProblemKind::NoSuchReminder, {}, {}, recno};
  xbase::Status s = wa->Replace("ALARMDATE", "");
  if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", 0);
  if (s.ok()) s = wa->Delete();
  if (!s.ok() || !CommitRecord(*wa, &s)) {
    wa->Discard().IgnoreError();
    return ProblemOf(s);
  }
  // The deletion is stored. What fails from here on is still worth telling, but undoes nothing.
  if (deleted) *deleted = true;
  const xbase::Status unlocked = wa->Unlock();
  return ProblemOf(s.ok() ? unlocked : s);
}

}  // namespace chimewise

#include "alarms/alarm_service.h"

#include "alarms/repeat_series.h"

#include "core/app_paths.h"
#include "core/clock.h"
#include "core/prompts.h"
#include "core/shared_state.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <xbase/engine.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace chimewise {

namespace {

const QString kTimerAlias = QString::fromLatin1(data::kAliasTimer);
const QString kAlarmAlias = QString::fromLatin1(data::kAliasAlarm);
// A snooze asked for from outside the viewer (a desktop notification's action).
const QString kSnoozeAlias = QStringLiteral("SNOOZEDBF");
// The lowest alarm key that counts: alarms dated before 1980 are never found.
constexpr char kLowestAlarmKey[] = "198001010000";

// The earliest alarm moment among the keys from the work area's position on, in ALARM order,
// leaving out the records `skip` is true for.
// Keys are wall times, and their moments follow key order except where the clocks change: a wall
// time the clocks skip means the time after the change, so 02:30 (03:30) comes after 03:05 in real
// time though its key sorts first; the second run of a repeated hour is keyed on the day before.
// Keys are read on until one reads later on the wall clock than any wall time of a moment up to
// the earliest found so far: no later key can mean an earlier moment.
xbase::Status earliestAlarmFromHere(xbase::WorkArea& wa, const std::function<bool(xbase::WorkArea&)>& skip,
                                    QDateTime* earliest) {
  *earliest = QDateTime();
  QDateTime bound;
  xbase::Status s;
  for (; s.ok() && !wa.Eof(); s = wa.Skip(1)) {
    const QDate date = TableDate(wa, "ALARMDATE");
    if (!date.isValid()) continue;
    const int minutes = TableInt(wa, "ALARMTIME");
    // A key past the day's end (the second run of a repeated hour) sorts before the next day's.
    if (earliest->isValid() && WallReading(date, std::min(minutes, 1440)) >= bound) break;
    if (skip && skip(wa)) continue;
    const QDateTime moment = AlarmMoment(date, minutes);
    if (!earliest->isValid() || moment < *earliest) {
      *earliest = moment;
      bound = LatestWallReadingBy(moment);
    }
  }
  return s;
}

const QString kHeardAlias = QStringLiteral("HEARDDBF");

}  // namespace

AlarmService::AlarmService(SharedState& state, const ProgramOptions& options, Clock& clock, xbase::Engine& engine,
                           SpeakerPort& speaker, MainTimerPort& timer)
    : m_state(state), m_options(options), m_clock(clock), m_engine(engine), m_speaker(speaker), m_timer(timer) {}

QString AlarmService::tablePath() const { return data::CalendarPath(m_state.AppFolder); }

void AlarmService::setTimer(bool on) { m_timer.SetTimerEnabled(on); }

xbase::Status AlarmService::lookUpNextAlarm(Problem* notice) {
  const data::TableHandle wa =
      data::TableHandle::Calendar(m_engine, m_state.AppFolder, kTimerAlias, !m_dryRun, nullptr, &m_foreignIndex);
  XBASE_RETURN_IF_ERROR(wa.status());
  *notice = TableRepairProblem(*wa);
  xbase::Status s = wa.Seek(kLowestAlarmKey, /*soft=*/true);
  if (s.ok()) {
    QDateTime earliest;
    // A reminder on its way to be heard is not due again meanwhile.
    std::function<bool(xbase::WorkArea&)> skip;
    if (!m_onItsWay.empty()) skip = [this](xbase::WorkArea& area) { return onItsWay(area); };
    s = earliestAlarmFromHere(*wa, skip, &earliest);
    m_nextAlarm = MomentOrNone(earliest);
  }
  return s;
}

bool AlarmService::onItsWay(xbase::WorkArea& wa) const {
  const auto it = m_onItsWay.find(wa.RecNo());
  return it != m_onItsWay.end() && it->second.recordId == TableText(wa, "REC_NO");
}

Problem AlarmService::FindNextAlarm() {
  const Problem problem = findNextAlarm();
  // A move heard and not yet stored (the table was held) is tried again at the next tick's scan.
  const bool movesWaiting =
      std::any_of(m_onItsWay.begin(), m_onItsWay.end(), [](const auto& w) { return w.second.heardAt.has_value(); });
  if (movesWaiting && (!m_nextAlarm || *m_nextAlarm > m_clock.now())) m_nextAlarm = m_clock.now();
  emit lookedUp();
  return problem;
}

Problem AlarmService::findNextAlarm() {
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

xbase::Status AlarmService::collectDue(xbase::WorkArea& table, DueList* due) {
  *due = {};
  xbase::WorkArea* wa = &table;
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
    if (ReminderCurrent(facts, now) && !onItsWay(*wa)) {
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
  return s;
}

Problem AlarmService::ScanDueAlarms(ScanCounts* counts) {
  ScanCounts ownCounts;
  if (!counts) counts = &ownCounts;
  *counts = {};
  setTimer(false);
  const bool viewerWasOpen = m_viewer->ViewerOpen();
  m_nextAlarm.reset();
  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) {
    setTimer(true);
    return place;
  }
  // Reminders heard while the table was held are moved on first, so they are not told again.
  Problem problem = moveHeard();
  DueList list;
  // Held for the scan and let go before the next alarm is looked up; a read that failed lets go at once.
  std::optional<data::TableHandle> table;
  const auto collect = [&] {
    list = {};
    table.emplace(
        data::TableHandle::Calendar(m_engine, m_state.AppFolder, kAlarmAlias, !m_dryRun, nullptr, &m_foreignIndex));
    xbase::Status read = *table ? collectDue(**table, &list) : table->status();
    if (!read.ok()) table.reset();
    return read;
  };
  xbase::Status s = collect();
  if (IsIndexTrouble(s) && !m_dryRun) {
    s = RepairCalendarIndex(m_engine.env(), m_state.AppFolder, &m_foreignIndex);
    if (s.ok()) s = collect();
  }
  if (!s.ok()) {
    // Keep the reminders coming even after a failed scan.
    static_cast<void>(FindNextAlarm());  // the scan's own trouble is the one told
    setTimer(true);
    return ProblemOf(s);
  }
  const int readActivity = m_options.readActivity ? 1 : 0;
  const int readMemos = m_options.readMemos ? 1 : 0;
  // Every due reminder is read before anything is said: each move changes what the query selects.
  std::vector<Planned> planned;
  std::size_t firstInLine = 0;
  std::size_t repeatsFrom = 0;
  for (std::size_t i = 0; i < list.records.size(); ++i) {
    Planned p;
    if (!planOne(table ? table->get() : nullptr, list.records[i], readActivity, readMemos, AnnounceMode::Alarm, &p))
      continue;
    planned.push_back(std::move(p));
    if (i < list.firstInLine) ++firstInLine;
    if (i < list.repeatsFrom) ++repeatsFrom;
  }
  const auto tell = [&](const std::vector<const Planned*>& told) {
    for (const Planned* p : told) emit announced(AnnouncedReminder{p->recno, p->recordId, p->facts});
    endTelling(table ? table->get() : nullptr, told, counts, &problem);
  };
  // Reminders from `from` to `to`, each on its own when alone; several are named in one line after
  // one sound, so the last of them is not held back by the sounds and lines of the others, and what
  // else each has to say (the day and time, the memo) follows.
  const auto sayTogether = [&](std::size_t from, std::size_t to) {
    if (to - from == 1) {
      m_speaker.BeginTelling();
      say(planned[from].plan);
      tell({&planned[from]});
      return;
    }
    // The reminder's own line: its activity (the last before the memo), or its memo alone.
    const auto own = [readMemos](const std::vector<QString>& texts) {
      return texts.size() - (readMemos == 1 && texts.size() > 1 ? 2 : 1);
    };
    QStringList lines;
    std::vector<const Planned*> told;
    int sound = 0;
    for (std::size_t i = from; i < to; ++i) {
      const AnnouncementPlan& plan = planned[i].plan;
      if (sound == 0) sound = plan.sound;
      if (plan.sayTexts.empty()) {
        tell({&planned[i]});  // nothing to hear
        continue;
      }
      QString line = plan.sayTexts[own(plan.sayTexts)].trimmed();
      if (!line.isEmpty() && !QStringLiteral(".!?").contains(line.back())) line += u'.';
      lines << line;
      told.push_back(&planned[i]);
    }
    if (sound != 0) m_speaker.PlaySoundEffect(sound);
    m_speaker.BeginTelling();
    if (!lines.isEmpty()) m_speaker.SayText(lines.join(u' '));
    tell(told);
    for (const Planned* p : told)
      for (std::size_t t = 0; t < p->plan.sayTexts.size(); ++t)
        if (t != own(p->plan.sayTexts)) m_speaker.SayText(p->plan.sayTexts[t]);
  };
  // Reminders wait for no one but the line under way (and no other feature's speech drops them):
  // those falling due first, then missed alarms (a suspend, a scan held back, the program not
  // running), then the repeats of late ones.
  {
    const FirstInLine first(m_speaker, !planned.empty());
    if (firstInLine > 0) sayTogether(0, firstInLine);
    // Missed ones (many, after a long time off) a few to a line, each line heard on its own, so a
    // line cut short costs only its few.
    for (std::size_t from = firstInLine; from < repeatsFrom; from += kMissedTogether)
      sayTogether(from, std::min(repeatsFrom, from + kMissedTogether));
    // The repeats of late reminders: each on its own, or many as one line.
    const std::size_t repeats = planned.size() - repeatsFrom;
    if (repeats >= static_cast<std::size_t>(kLateSummaryFrom)) {
      std::vector<const Planned*> told;
      const Planned* latest = nullptr;
      for (std::size_t i = repeatsFrom; i < planned.size(); ++i) {
        told.push_back(&planned[i]);
        if (!latest || planned[i].facts.activity >= latest->facts.activity) latest = &planned[i];
      }
      m_speaker.BeginTelling();
      m_speaker.SayText(LateSummaryText(static_cast<int>(repeats), latest->facts.activityText));
      tell(told);
    } else {
      for (std::size_t i = repeatsFrom; i < planned.size(); ++i) {
        m_speaker.BeginTelling();
        say(planned[i].plan);
        tell({&planned[i]});
      }
    }
  }
  bool somethingDue = false;
  qint64 lastSaid = 0;
  for (const Planned& p : planned)
    if (p.plan.due) {
      somethingDue = true;
      lastSaid = p.recno;
    }
  table.reset();
  // Also when nothing was selected, so a reminder never stops firing until a restart.
  if (Problem lookup = FindNextAlarm(); problem.ok()) problem = lookup;
  if (somethingDue) {
    m_viewer->ShowAnnounced(lastSaid);
  } else if (!list.records.empty() && m_viewer->ViewerOpen() && !viewerWasOpen) {
    m_viewer->CloseViewerAndHideCharacter();
  }
  setTimer(true);
  return problem;
}

std::optional<QStringList> AlarmService::seriesOf(xbase::WorkArea& wa) const {
  // A series lives in the reminder's kept event: one small read, for a reminder falling due.
  std::string id;
  if (!wa.GetString("REC_NO", &id).ok()) return std::nullopt;
  const std::optional<KeptEvent> kept =
      KeptEvents::BesideTable(QString::fromStdString(wa.path())).Get(QByteArray::fromStdString(id));
  if (!kept || RuleOfSeries(kept->series).isEmpty()) return std::nullopt;
  return kept->series;
}

bool AlarmService::planOne(xbase::WorkArea* table, qint64 recno, int readActivity, int readMemos, AnnounceMode mode,
                           Planned* out) {
  xbase::WorkArea* wa = table;
  if (!wa || recno < 1 || recno > wa->RecCount()) return false;
  if (!wa->Go(static_cast<uint32_t>(recno)).ok()) return false;
  out->recno = recno;
  out->recordId = TableText(*wa, "REC_NO");
  out->facts = ReadReminderFacts(*wa);
  const AnnounceSettings settings{m_options.remindOn ? 1 : 0, m_options.waitTime, m_options.timeFormat};
  out->plan = PlanAnnouncement(out->facts, settings, readActivity, readMemos, mode, m_clock.now());
  // Occurrences of a series missed while away are said once, together.
  if (mode == AnnounceMode::Alarm)
    if (const std::optional<QStringList> lines = seriesOf(*wa))
      if (const std::optional<AwayPlan> away = PlanAway(out->facts, *lines, m_clock.now(), m_options.waitTime))
        out->plan.sayTexts = {AwayText(*away, out->facts.activityText, m_clock.now(), m_options.timeFormat)};
  return true;
}

AlarmService::AlarmMove AlarmService::moveAlarm(xbase::WorkArea& wa, const ReminderFacts& facts, AnnounceMode mode,
                                                const QDateTime& when, Problem* problem) {
  if (m_dryRun) return AlarmMove::None;
  const AnnounceSettings settings{m_options.remindOn ? 1 : 0, m_options.waitTime, m_options.timeFormat};
  std::optional<AlarmWrite> alarm = PlanAnnouncement(facts, settings, 1, 1, mode, when).alarm;
  // A repeating reminder whose occurrence has gone by is nagged until the next one replaces it;
  // occurrences missed while away are said together, and it moves on past them.
  std::optional<SeriesMove> series;
  bool ended = false;
  if (mode == AnnounceMode::Alarm) {
    if (const std::optional<QStringList> lines = seriesOf(wa)) {
      if (const std::optional<AwayPlan> away = PlanAway(facts, *lines, when, m_options.waitTime)) {
        series = away->next;
        ended = !away->next;
      } else {
        const std::optional<QDateTime> nag =
            alarm ? std::optional(AlarmMoment(alarm->date, alarm->minutes)) : std::nullopt;
        series = PlanSeriesAfterTelling(facts, *lines, nag, when);
      }
    }
  }
  if (ended) {
    // No occurrence left: nothing pending.
    xbase::Status s = wa.Replace("ALARMDATE", "");
    if (s.ok()) s = wa.ReplaceInteger("ALARMTIME", 0);
    const bool stored = s.ok() && CommitRecord(wa, &s);
    if (!stored) wa.Discard().IgnoreError();
    if (problem && !s.ok()) *problem = ProblemOf(s);
    return stored ? AlarmMove::Stored : AlarmMove::Failed;
  }
  if (series) alarm = StoredAlarm(series->alarm, m_options.timeFormat);
  if (!alarm) return AlarmMove::None;
  xbase::Status s = WriteAlarm(wa, *alarm);
  if (s.ok() && series)
    s = WriteActivityMoment(wa, series->activity, FormatDateTimeText(series->activity, m_options.timeFormat));
  const bool stored = s.ok() && CommitRecord(wa, &s);
  if (!stored) wa.Discard().IgnoreError();
  if (problem && !s.ok()) *problem = ProblemOf(s);
  return stored ? AlarmMove::Stored : AlarmMove::Failed;
}

void AlarmService::say(const AnnouncementPlan& plan) {
  if (plan.sound != 0) m_speaker.PlaySoundEffect(plan.sound);
  for (const QString& text : plan.sayTexts) m_speaker.SayText(text);
}

void AlarmService::endTelling(xbase::WorkArea* table, const std::vector<const Planned*>& told, ScanCounts* counts,
                              Problem* problem) {
  std::vector<qint64> recnos;
  for (const Planned* p : told) recnos.push_back(p->recno);
  const std::weak_ptr<char> alive = m_alive;
  const bool toBeHeard = !m_dryRun && m_speaker.EndTelling([this, alive, recnos](SpeakerPort::Hearing hearing) {
    if (alive.lock()) onHeard(recnos, hearing);
  });
  if (toBeHeard) {
    for (const Planned* p : told) m_onItsWay[p->recno] = OnItsWay{p->recordId, p->facts, std::nullopt};
    return;
  }
  // Nothing to hear: told now.
  const QDateTime now = m_clock.now();
  for (const Planned* p : told) {
    xbase::WorkArea* wa = table;
    if (!wa || !wa->Go(static_cast<uint32_t>(p->recno)).ok()) continue;
    Problem one;
    const AlarmMove move = moveAlarm(*wa, p->facts, AnnounceMode::Alarm, now, &one);
    if (move == AlarmMove::Stored) emit moved(AnnouncedReminder{p->recno, p->recordId, ReadReminderFacts(*wa)});
    if (move == AlarmMove::Stored) ++counts->stored;
    if (move == AlarmMove::Failed) ++counts->failed;
    if (problem->ok() || (move == AlarmMove::Failed && counts->failed == 1)) *problem = one;
  }
}

void AlarmService::onHeard(const std::vector<qint64>& recnos, SpeakerPort::Hearing hearing) {
  // The program ending moves nothing: the next start tells what was not heard.
  if (m_state.events->closing()) return;
  const QDateTime now = m_clock.now();
  for (const qint64 id : recnos) {
    const auto it = m_onItsWay.find(id);
    if (it == m_onItsWay.end() || it->second.heardAt) continue;
    // Dropped for something else, or by a voice that failed (a few times in a row at most): due
    // again, the next scan tells it.
    if (hearing == SpeakerPort::Hearing::Unheard ||
        (hearing == SpeakerPort::Hearing::Failed && ++m_unheardRuns[id] < kRetellsFailed)) {
      m_onItsWay.erase(it);
      continue;
    }
    m_unheardRuns.erase(id);
    it->second.heardAt = now;
  }
  Problem problem = moveHeard();
  if (Problem lookup = FindNextAlarm(); problem.ok()) problem = lookup;
  if (!problem.ok()) emit failedAfterHearing(problem);
}

Problem AlarmService::moveHeard() {
  if (std::none_of(m_onItsWay.begin(), m_onItsWay.end(), [](const auto& w) { return w.second.heardAt.has_value(); }))
    return {};
  if (Problem place = CalendarPlaceProblem(m_state.AppFolder); !place.ok()) return place;
  const data::TableHandle wa = data::TableHandle::Calendar(m_engine, m_state.AppFolder, kHeardAlias);
  if (!wa) return ProblemOf(wa.status());
  Problem problem;
  for (auto it = m_onItsWay.begin(); it != m_onItsWay.end();) {
    OnItsWay& w = it->second;
    if (!w.heardAt) {
      ++it;
      continue;
    }
    const qint64 found = findRecord(*wa, it->first, w.recordId);
    // A reminder deleted, snoozed or changed meanwhile keeps what was done to it.
    const ReminderFacts now = found ? ReadReminderFacts(*wa) : ReminderFacts{};
    const bool asTold = found && now.alarmDate == w.facts.alarmDate && now.alarmTime == w.facts.alarmTime &&
                        now.activity == w.facts.activity;
    if (asTold) {
      Problem one;
      if (moveAlarm(*wa, w.facts, AnnounceMode::Alarm, *w.heardAt, &one) == AlarmMove::Failed) {
        if (problem.ok()) problem = one;
        ++it;  // tried again at the next scan
        continue;
      }
      emit moved(AnnouncedReminder{found, w.recordId, ReadReminderFacts(*wa)});
    }
    it = m_onItsWay.erase(it);
  }
  wa->Unlock().IgnoreError();
  return problem;
}

bool AlarmService::AnnounceReminder(xbase::WorkArea* table, qint64 recno, int readActivity, int readMemos,
                                    AnnounceMode mode, Problem* problem) {
  Planned p;
  if (!planOne(table, recno, readActivity, readMemos, mode, &p)) return false;
  // Read from the viewer: told as it is asked for.
  moveAlarm(*table, p.facts, mode, m_clock.now(), problem);
  say(p.plan);
  return p.plan.due;
}

AlarmService::SnoozeOutcome AlarmService::Snooze(xbase::WorkArea* table, qint64 recno, int choice) {
  SnoozeOutcome out;
  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }
  const QDateTime now = m_clock.now();
  xbase::WorkArea* wa = table;
  if (!wa || recno < 1 || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok()) {
    out.problem = {ProblemKind::NoSuchReminder, {}, {}, recno};
    return out;
  }
  const ReminderFacts facts = ReadReminderFacts(*wa);
  auto plan = PlanSnooze(choice, facts.activity, now);
  if (!plan) return out;
  std::optional<SeriesMove> onTo;
  if (const std::optional<QStringList> lines = seriesOf(*wa)) {
    // The occurrence is put off, never the series; one put off past the next occurrence's alarm
    // gives way to it.
    plan->moveActivity = false;
    const std::optional<SeriesMove> next =
        PlanSeriesMove(facts, *lines, std::max(now, facts.activity).addSecs(1), &NextSeriesOccurrence);
    if (next && next->alarm <= plan->alarm) {
      onTo = next;
      plan->alarm = next->alarm;
    }
  }
  const AlarmWrite write = StoredAlarm(plan->alarm, m_options.timeFormat);
  const QString stamp = write.text;
  xbase::Status s = WriteAlarm(*wa, write);
  if (s.ok()) s = WriteEditStamp(*wa, now);
  if (s.ok() && plan->moveActivity) s = WriteActivityMoment(*wa, plan->alarm, stamp);
  if (s.ok() && onTo)
    s = WriteActivityMoment(*wa, onTo->activity, FormatDateTimeText(onTo->activity, m_options.timeFormat));
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
  const data::TableHandle table = data::TableHandle::Calendar(m_engine, m_state.AppFolder, kSnoozeAlias);
  if (!table) {
    out.problem = ProblemOf(table.status());
    return out;
  }
  if (const qint64 found = findRecord(*table, recno, recordId); found != 0) out = Snooze(table.get(), found, choice);
  table->Unlock().IgnoreError();
  return out;
}

qint64 AlarmService::findRecord(xbase::WorkArea& wa, qint64 recno, const QString& recordId) {
  const auto carries = [&](qint64 n) {
    return n >= 1 && n <= wa.RecCount() && wa.Go(static_cast<uint32_t>(n)).ok() && !wa.Deleted() &&
           TableText(wa, "REC_NO") == recordId;
  };
  if (carries(recno)) return recno;
  for (qint64 n = 1; n <= wa.RecCount(); ++n)
    if (n != recno && carries(n)) return n;
  return 0;
}

std::vector<std::optional<ReminderFacts>> AlarmService::ReadAnnounced(const std::vector<AnnouncedReminder>& reminders) {
  std::vector<std::optional<ReminderFacts>> out;
  if (!CalendarPlaceProblem(m_state.AppFolder).ok()) return out;
  const data::TableHandle wa = data::TableHandle::Calendar(m_engine, m_state.AppFolder, kHeardAlias, false);
  if (!wa) return out;
  for (const AnnouncedReminder& r : reminders)
    out.push_back(findRecord(*wa, r.recno, r.recordId) != 0 ? std::optional(ReadReminderFacts(*wa)) : std::nullopt);
  return out;
}

AlarmService::StepOutcome AlarmService::StepOccurrence(xbase::WorkArea* table, qint64 recno, OccurrenceStep step) {
  StepOutcome out;
  xbase::WorkArea* wa = table;
  if (!wa || recno < 1 || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok() || wa->Deleted()) {
    out.problem = {ProblemKind::NoSuchReminder, {}, {}, recno};
    return out;
  }
  std::string rawId;
  if (!wa->GetString("REC_NO", &rawId).ok()) rawId.clear();
  const KeptEvents store = KeptEvents::BesideTable(QString::fromStdString(wa->path()));
  std::optional<KeptEvent> kept = store.Get(QByteArray::fromStdString(rawId));
  const ReminderFacts facts = ReadReminderFacts(*wa);
  const std::optional<OccurrenceChange> change =
      kept ? PlanOccurrenceStep(facts, kept->series, step, m_clock.now()) : std::nullopt;
  if (!change) {
    out.notRepeating = true;
    return out;
  }
  out.before = facts;
  out.seriesBefore = kept->series;
  // The reminder first: a series that lost an occurrence while the reminder still stands at it
  // would have it announced all the same.
  xbase::Status s;
  if (change->move) {
    s = WriteAlarm(*wa, StoredAlarm(change->move->alarm, m_options.timeFormat));
    if (s.ok())
      s = WriteActivityMoment(*wa, change->move->activity,
                              FormatDateTimeText(change->move->activity, m_options.timeFormat));
  } else {
    // No occurrence left: nothing pending.
    s = wa->Replace("ALARMDATE", "");
    if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", 0);
  }
  if (s.ok()) s = WriteEditStamp(*wa, m_clock.now());
  if (!s.ok() || !CommitRecord(*wa, &s)) {
    wa->Discard().IgnoreError();
    out.problem = ProblemOf(s);
    return out;
  }
  out.done = true;
  out.excluded = change->excluded;
  if (change->move) out.next = change->move->activity;
  Problem after = ProblemOf(s.ok() ? wa->Unlock() : s);
  if (change->series != kept->series) {
    kept->series = change->series;
    if (const Problem put = store.Put(QByteArray::fromStdString(rawId), *kept); !put.ok()) after = put;
  }
  if (Problem found = FindNextAlarm(); after.ok()) after = found;
  out.problem = after;
  return out;
}

Problem AlarmService::RestoreOccurrence(xbase::WorkArea* table, qint64 recno, const ReminderFacts& before,
                                        const QStringList& series) {
  xbase::WorkArea* wa = table;
  if (!wa || recno < 1 || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok() || wa->Deleted())
    return {ProblemKind::NoSuchReminder, {}, {}, recno};
  std::string id;
  xbase::Status s = wa->GetString("REC_NO", &id);
  if (s.ok())
    s = before.alarmDate.isValid()
            ? WriteAlarm(*wa, StoredAlarm(AlarmMoment(before.alarmDate, before.alarmTime), m_options.timeFormat))
            : wa->Replace("ALARMDATE", "");
  if (s.ok() && before.activity.isValid())
    s = WriteActivityMoment(*wa, before.activity, FormatDateTimeText(before.activity, m_options.timeFormat));
  if (!s.ok() || !CommitRecord(*wa, &s)) {
    wa->Discard().IgnoreError();
    return ProblemOf(s);
  }
  Problem after = ProblemOf(s.ok() ? wa->Unlock() : s);
  const KeptEvents store = KeptEvents::BesideTable(QString::fromStdString(wa->path()));
  std::optional<KeptEvent> kept = store.Get(QByteArray::fromStdString(id));
  if (kept && kept->series != series) {
    kept->series = series;
    if (const Problem put = store.Put(QByteArray::fromStdString(id), *kept); !put.ok()) after = put;
  }
  if (Problem found = FindNextAlarm(); after.ok()) after = found;
  return after;
}

Problem AlarmService::DeleteReminder(xbase::WorkArea* table, qint64 recno, bool* deleted) {
  if (deleted) *deleted = false;
  xbase::WorkArea* wa = table;
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

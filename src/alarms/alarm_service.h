#pragma once
// Keeping the reminders coming: the next-alarm lookup, the scan for due reminders, the
// announcement of one reminder, the snooze and the delete, over the reminder table.

#include "alarms/alarm_rules.h"
#include "alarms/repeat_series.h"
#include "core/ports.h"
#include "core/problem.h"
#include "core/program_options.h"
#include "core/speaker_port.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <xbase/status.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xbase {
class Engine;
class WorkArea;
}  // namespace xbase

namespace chimewise {

class Clock;
class SpeakerPort;
struct SharedState;

// An alarm that came less than this long ago is falling due now; an older one was missed.
inline constexpr qint64 kFallingDueSecs = 60;

// A reminder the alarm scan has just announced: where it is and what it says.
struct AnnouncedReminder {
  qint64 recno = 0;
  QString recordId;  // REC_NO: finds the record again after the table was packed
  ReminderFacts facts;
};

class AlarmService final : public QObject {
  Q_OBJECT
 public:
  AlarmService(SharedState& state, const ProgramOptions& options, Clock& clock, xbase::Engine& engine,
               SpeakerPort& speaker, MainTimerPort& timer);

  // The viewer a scan brings announced reminders to (it is built after this service, which it
  // uses). Until one is set, and after it is set to none (before that viewer goes), no viewer is
  // ever open.
  void setViewer(ViewerPort* viewer) { m_viewer = viewer ? viewer : &m_noViewer; }

  // The options the announcements follow (the read switches, the late-reminder wait, the time
  // format), as they are now.
  const ProgramOptions& options() const { return m_options; }

  // Each routine returns what went wrong, if anything, for its caller to tell; none tells the
  // user itself. A failure loses nothing and leaves the reminders coming.

  // Looks up the earliest pending alarm (nextAlarm; none when there is none). While another
  // program holds the table (a TableBusy problem) it is now instead, so that the timer's next tick
  // scans, and so looks again, once the table is free.
  Problem FindNextAlarm();
  // The earliest pending alarm as last looked up; none when none is known.
  std::optional<QDateTime> nextAlarm() const { return m_nextAlarm; }
  // What a scan did to the table: each alarm it moved is a change of its own.
  struct ScanCounts {
    int stored = 0;  // alarms moved (what failed after one was stored undoes nothing)
    int failed = 0;  // alarms that should have moved and kept their place
  };
  // Announces every due reminder, moves their alarms and brings the viewer to the user. A failed
  // move is the problem returned before anything that failed after a change was stored. Reminders
  // falling due go first in the character's line, whatever it still has to say (several are named
  // in one line); missed ones follow, kMissedTogether to a line; the repeats of late reminders
  // follow, as one line when there are kLateSummaryFrom or more.
  //
  // A reminder counts as told once it was heard: its alarm moves on (its repeat counted from then)
  // when the character has said its line to the end, or the user stopped it (Stop Talking), or at
  // once where nothing is to be heard (no character: the line went to the balloon or a
  // notification). Until then it is on its way and not announced again. A telling dropped unheard
  // (another feature's stop, the character gone) moves nothing: the next scan tells it again (one the
  // voice failed to say, up to kRetellsFailed times in a row before it waits for its repeat). The
  // program ended first moves nothing either, so the next start tells it at once.
  Problem ScanDueAlarms(ScanCounts* counts = nullptr);

  // Methods taking `table` act on the reminder table's open work area (null: the table is not open,
  // and the reminder is not found).
  // Announces the record of an open work area; true when its activity is now or past. A failed
  // move of its alarm goes to *problem, and so does what failed after the move was stored.
  bool AnnounceReminder(xbase::WorkArea* table, qint64 recno, int readActivity, int readMemos, AnnounceMode mode,
                        Problem* problem = nullptr);
  struct SnoozeOutcome {
    QDateTime alarm;            // the new alarm; invalid when nothing was done
    bool dropFromList = false;  // the record leaves a current-reminders list
    Problem problem;            // with a new alarm: what failed after it was stored
  };
  // Puts the record off by a snooze choice (0-8). A repeating reminder's occurrence is put off, not
  // the series: its activity stays, and a snooze that would reach the next occurrence's alarm moves
  // it on to that occurrence instead.
  SnoozeOutcome Snooze(xbase::WorkArea* table, qint64 recno, int choice);
  // The same snooze for a reminder announced earlier, with the table opened here for it: the
  // record at `recno` when it still carries `recordId`, else the live record that does. A
  // reminder deleted or gone meanwhile is NoSuchReminder, and nothing is written.
  SnoozeOutcome SnoozeAnnounced(qint64 recno, const QString& recordId, int choice);
  // Reminders announced earlier as they are stored now, each found as SnoozeAnnounced finds it:
  // nullopt for one deleted or gone. Empty when the table cannot be read now.
  std::vector<std::optional<ReminderFacts>> ReadAnnounced(const std::vector<AnnouncedReminder>& reminders);
  struct StepOutcome {
    bool done = false;          // stored (what failed after it is in `problem`)
    bool notRepeating = false;  // the reminder has no repeat rule: nothing was done
    QDateTime excluded;         // the occurrence taken out of the series (an EXDATE), if any
    QDateTime next;             // the occurrence the reminder stands at now; invalid: none left
    Problem problem;
    // Where it stood before, for an undo (RestoreOccurrence).
    ReminderFacts before;
    QStringList seriesBefore;
  };
  // Deals with, skips or deletes one occurrence of the repeating reminder at `recno` of an open work
  // area (see OccurrenceStep): the reminder moves on to its next occurrence (none left: no alarm
  // pending) and an occurrence taken out is an EXDATE of its series, for export and sync to carry.
  StepOutcome StepOccurrence(xbase::WorkArea* table, qint64 recno, OccurrenceStep step);
  // Puts a repeating reminder back where a StepOccurrence found it: its occurrence and alarm as in
  // `before` (nothing pending when it had no alarm), its series lines `series`.
  Problem RestoreOccurrence(xbase::WorkArea* table, qint64 recno, const ReminderFacts& before,
                            const QStringList& series);
  // Deletes the record: no alarm any more, marked deleted. *deleted (optional) says whether it is:
  // a problem that comes back with it set failed after the deletion was stored, and undoes nothing.
  Problem DeleteReminder(xbase::WorkArea* table, qint64 recno, bool* deleted = nullptr);

  QString tablePath() const;
  // A dry run reads only: announcements are planned and spoken, but no alarm moves and nothing is
  // repaired.
  void setDryRun(bool on) { m_dryRun = on; }

  // Missed reminders are named together in lines of at most this many.
  static constexpr std::size_t kMissedTogether = 4;
  // A telling the voice failed to say is told again at the next scan this many times in a row;
  // after that it counts as told (a voice that keeps failing must not repeat it every few seconds).
  static constexpr int kRetellsFailed = 3;

 signals:
  // Each is raised where it happens, and its receivers run before the routine goes on.
  // A reminder the scan announces, after its texts were queued.
  void announced(const AnnouncedReminder& reminder);
  // A reminder whose alarm moved on once it was heard, with its facts as stored now.
  void moved(const AnnouncedReminder& reminder);
  // What went wrong once a telling was heard (a move that failed, a lookup after it): no caller is
  // there to return it to.
  void failedAfterHearing(const Problem& problem);
  // The next alarm was looked up (after a save, a delete, a scan, another program's write).
  void lookedUp();

 private:
  Problem findNextAlarm();
  // The lookup and the selection of due reminders, each one attempt.
  xbase::Status lookUpNextAlarm(Problem* notice);
  // The due reminders in the order they are told: those falling due now (first in line), those
  // whose alarm was missed (a suspend, a scan held back), then the repeats of late ones; each part
  // in the order of the alarms.
  struct DueList {
    std::vector<uint32_t> records;
    std::size_t firstInLine = 0;  // records before this fell due now
    std::size_t repeatsFrom = 0;  // records from this on are repeats
  };
  xbase::Status collectDue(xbase::WorkArea& wa, DueList* due);
  enum class AlarmMove { None, Stored, Failed };
  // One reminder read for its announcement, its work area left on its record.
  struct Planned {
    qint64 recno = 0;
    QString recordId;
    ReminderFacts facts;
    AnnouncementPlan plan;
  };
  // Puts the work area on the live record carrying `recordId`, `recno` looked at first; 0 when none.
  static qint64 findRecord(xbase::WorkArea& wa, qint64 recno, const QString& recordId);
  bool planOne(xbase::WorkArea* table, qint64 recno, int readActivity, int readMemos, AnnounceMode mode, Planned* out);
  // The series lines of the repeating reminder the work area stands on; none for one that does not repeat.
  std::optional<QStringList> seriesOf(xbase::WorkArea& wa) const;
  // Moves the alarm of the record the work area stands on as an announcement at `when` does (and a
  // repeating reminder on to its next occurrence), and commits it.
  AlarmMove moveAlarm(xbase::WorkArea& wa, const ReminderFacts& facts, AnnounceMode mode, const QDateTime& when,
                      Problem* problem);
  void say(const AnnouncementPlan& plan);
  // Ends a telling of `told`: on its way until heard, or told at once (the move made now) when
  // nothing of it is to be heard.
  void endTelling(xbase::WorkArea* table, const std::vector<const Planned*>& told, ScanCounts* counts,
                  Problem* problem);
  void onHeard(const std::vector<qint64>& recnos, SpeakerPort::Hearing hearing);
  // Whether the record the work area stands on is on its way to be heard.
  bool onItsWay(xbase::WorkArea& wa) const;
  // Moves the alarms of the reminders heard since; those the table could not take stay for the next
  // try.
  Problem moveHeard();
  void setTimer(bool on);

  SharedState& m_state;
  const ProgramOptions& m_options;
  Clock& m_clock;
  xbase::Engine& m_engine;
  SpeakerPort& m_speaker;
  MainTimerPort& m_timer;
  NoWindows m_noViewer;
  ViewerPort* m_viewer = &m_noViewer;
  std::optional<QDateTime> m_nextAlarm;
  bool m_dryRun = false;
  // A repair on the way replaced another program's index: the next lookup tells it.
  bool m_foreignIndex = false;
  // Reminders told by a scan and not yet moved on, by record number: the record as told, and when
  // it was heard (set: its move waits for the table).
  struct OnItsWay {
    QString recordId;  // REC_NO: finds the record again after a pack
    ReminderFacts facts;
    std::optional<QDateTime> heardAt;
  };
  std::map<qint64, OnItsWay> m_onItsWay;
  std::map<qint64, int> m_unheardRuns;  // tellings the voice failed to say in a row, by record number
  // Gone with this service: a telling heard later reaches nothing.
  std::shared_ptr<char> m_alive = std::make_shared<char>();
};

}  // namespace chimewise

#pragma once
// What a reminder that belongs to a calendar event keeps of it, beside the reminder table: the
// event's UID and, for a series, its repeat lines (never in the memo, which holds only the
// user's text; data/calendar_memo.h moves them out of tables that had them there), the event's
// own calendar resource as the other side last wrote it (every property, zone, alarm and changed
// occurrence, byte for byte), the reminder as it read in from that resource (what a change made
// here is measured against), the alarm as the user last set it here (announcing and snoozing move
// the table's alarm, never this one), and when the reminder was last saved here.
//
// Kept in the folder "calendar.events" beside the table, in one log, "events.log", keyed by the
// record identifier (REC_NO), which outlives a pack, an index rebuild and an undone deletion, so
// none of them has to touch the log. A deleted reminder's entry stays until PruneKeptEvents finds
// no record for it (at start-up, before anything can be undone).
//
// Why a log: an import keeps thousands of events at once, and a sync reads every reminder's. One
// file per reminder (the layout before) cost a file made, written and renamed per event and a file
// opened per read; a log takes a whole import in one write and one flush, and a read is a look-up
// in an index held in memory. Files packed per batch would need an index of their own kept in step
// with them; a cache over many files would still make one file per event.
//
// The log's format: the 8 bytes "CWKEPT1\n", then records, each the length of its payload and the
// CRC-32 of the payload (4 bytes each, little-endian), then the payload: the identifier's length
// (1 byte), the identifier, and the entry's JSON (none: the reminder keeps nothing any more). The
// last record of an identifier is what it keeps. Every write appends and flushes; a record cut short
// or damaged (a writer killed half way) and all that follows it read as not written, and the next
// writer cuts them off, so each reminder keeps its old entry or its new one whole. A log grown to
// four times what it holds (and a log with entries of deleted reminders, at start-up) is compacted:
// written whole beside, flushed and renamed over. Writers of all processes (the program and the
// command-line tool run at once) take the lock file "events.lock" in turn; each process's index
// follows the log: every read compares the log's identity and length with what it read last and
// reads only what was appended since (or the whole log after a compaction).
//
// Files of the layout before ("<hex REC_NO>.json", one per reminder) are moved into the log by the
// first process that opens the folder; until that succeeds, they are read where they are.

#include "core/problem.h"
#include "data/reminder_record.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace chimewise {

// A resource larger than this is not kept (it is fetched again when it is to be changed).
inline constexpr qint64 kMaxKeptResourceBytes = 2LL * 1024 * 1024;

struct KeptEvent {
  QString uid;  // the event's UID (empty: the reminder answers to its record's own, see RecordUid)
  // The iCalendar lines of a series, in order (DTSTART, RRULE, EXDATE, RDATE as ReadEvent::series
  // has them, and "X-CHIMEWISE-LEAD:seconds", how long before each occurrence it reminds), or for
  // an all-day date its "DTSTART;VALUE=DATE:" line alone; empty for a single timed event.
  QStringList series;
  QByteArray resource;     // empty: none kept (a reminder made here that no calendar has yet)
  bool hasSynced = false;  // `synced` holds what the resource read in as
  ReminderRecord synced;
  bool hasUserAlarm = false;  // the alarm as the user last saved it
  QDate userAlarmDate;
  int userAlarmTime = 0;
  QDateTime savedAt;  // when the reminder was last saved here (invalid: not known)
};

class KeptEvents {
 public:
  // Files are reached through `env` (none: the system's).
  explicit KeptEvents(const QString& appFolder, xbase::Env* env = nullptr);
  // The store beside the reminder table at `tablePath`.
  static KeptEvents BesideTable(const QString& tablePath, xbase::Env* env = nullptr);

  // None when the reminder keeps nothing (or its file cannot be read: it then counts as none).
  std::optional<KeptEvent> Get(const QByteArray& recordId) const;
  // Stores `kept` for the reminder, replacing what it kept.
  Problem Put(const QByteArray& recordId, const KeptEvent& kept) const;
  // The same for many at once (an import), in one write and one flush: all of them or (with the
  // problem returned) none.
  Problem PutMany(const std::vector<std::pair<QByteArray, KeptEvent>>& many) const;
  // After the reminder was saved with `record` at `at`: it changed then, and with `alarmSet` its
  // alarm is the one the user set. Only for a reminder that keeps something already.
  Problem NoteSaved(const QByteArray& recordId, const ReminderRecord& record, bool alarmSet, const QDateTime& at) const;
  // The same for many reminders saved at once (a save of many), in one write and one flush.
  struct SavedNote {
    QByteArray recordId;
    ReminderRecord record;
    bool alarmSet = false;
  };
  Problem NoteSavedMany(const std::vector<SavedNote>& saved, const QDateTime& at) const;
  Problem Remove(const QByteArray& recordId) const;
  // Removes what reminders not in `live` kept; how many.
  int Prune(const QSet<QByteArray>& live) const;

  QString folder() const { return m_folder; }

 private:
  KeptEvents() = default;
  QString m_folder;
  xbase::Env* m_env = nullptr;
};

// Removes what reminders no longer in the table at `appFolder` kept (read with an alias of its
// own); how many. For the program's start, before a deletion can be undone: a reminder deleted
// and put back within one run keeps its event.
int PruneKeptEvents(xbase::Engine& engine, const QString& appFolder);

}  // namespace chimewise

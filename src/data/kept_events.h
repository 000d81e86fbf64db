#pragma once
// What a reminder that belongs to a calendar event keeps of it, beside the reminder table: the
// event's UID and, for a series, its repeat lines (never in the memo, which holds only the
// user's text; data/calendar_memo.h moves them out of tables that had them there), the event's
// own calendar resource as the other side last wrote it (every property, zone, alarm and changed
// occurrence, byte for byte), the reminder as it read in from that resource (what a change made
// here is measured against), the alarm as the user last set it here (announcing and snoozing move
// the table's alarm, never this one), and when the reminder was last saved here.
//
// One small JSON file per reminder, named by its record identifier (REC_NO) in hexadecimal, in
// the folder "calendar.events" beside the table; each is replaced whole (written aside, then
// renamed). The identifier outlives a pack, an index rebuild and an undone deletion, so none of
// them has to touch the files. A deleted reminder's file stays until PruneKeptEvents finds no
// record for it (at start-up, before anything can be undone).

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
  explicit KeptEvents(const QString& appFolder);
  // The store beside the reminder table at `tablePath`.
  static KeptEvents BesideTable(const QString& tablePath);

  // None when the reminder keeps nothing (or its file cannot be read: it then counts as none).
  std::optional<KeptEvent> Get(const QByteArray& recordId) const;
  // Stores `kept` for the reminder, replacing what it kept.
  Problem Put(const QByteArray& recordId, const KeptEvent& kept) const;
  // The same for many at once (an import): each file replaced whole, the disk flushed once at the
  // end rather than once a file. The first problem is returned; the others are still written.
  Problem PutMany(const std::vector<std::pair<QByteArray, KeptEvent>>& many) const;
  // After the reminder was saved with `record` at `at`: it changed then, and with `alarmSet` its
  // alarm is the one the user set. Only for a reminder that keeps something already.
  Problem NoteSaved(const QByteArray& recordId, const ReminderRecord& record, bool alarmSet, const QDateTime& at) const;
  Problem Remove(const QByteArray& recordId) const;
  // Removes what reminders not in `live` kept; how many.
  int Prune(const QSet<QByteArray>& live) const;

  QString folder() const { return m_folder; }

 private:
  KeptEvents() = default;
  QString pathOf(const QByteArray& recordId) const;
  QString m_folder;
};

// Removes what reminders no longer in the table at `appFolder` kept (read with an alias of its
// own); how many. For the program's start, before a deletion can be undone: a reminder deleted
// and put back within one run keeps its event.
int PruneKeptEvents(xbase::Engine& engine, const QString& appFolder);

}  // namespace chimewise

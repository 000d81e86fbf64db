#pragma once
// One two-way sync of the reminders with a CalDAV calendar collection, carried out: the server is
// asked what changed, the plan (sync_plan.h) is made, and each of its steps is carried out on the
// reminder table (as the Schedule Activity dialog stores and deletes reminders) or on the server.
// The state kept between syncs is saved beside the table as the pass goes.
//
// The table is only touched on the caller's thread. The network is reached through a caldav::Client:
// a caldav::CalDavClient runs it on a worker thread and the pass goes on from the event loop as answers
// come (the program); a caldav::BlockingClient answers before each call returns, and the whole pass is
// over when Start() returns (the command-line tool). Either way no event loop is turned here.

#include "core/off_thread.h"
#include "data/kept_events.h"
#include "exchange/calendar_import.h"
#include "exchange/sync_plan.h"
#include "exchange/sync_state.h"
#include "schedule/save_event.h"

#include <caldav/caldav_client.h>
#include <caldav/caldav_session.h>
#include <icalendar/icalendar.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>

namespace xbase {
class Engine;
class WorkArea;
}  // namespace xbase

namespace chimewise {

struct SyncReport {
  caldav::Status status;  // how the server answered; ok when the pass ran to its end
  Problem problem;        // the reminder table could not be read or written
  QString collection;     // the calendar synced with (empty when none was found)
  int pulledNew = 0, pulledChanged = 0, pulledDeleted = 0;
  int pushedNew = 0, pushedChanged = 0, pushedDeleted = 0;
  int conflicts = 0;
  int left = 0;  // steps that did not succeed this time: the next sync tries them again
  QStringList notes;
  // The server and the table could be worked with (some steps may still be left: see complete()).
  bool ok() const { return status.ok() && problem.ok(); }
  // Every step of the plan was carried out.
  bool complete() const { return ok() && left == 0; }
  bool changedHere() const { return pulledNew + pulledChanged + pulledDeleted + conflicts > 0; }
};

// "from the server 2 new, 1 changed, 0 deleted; to the server 0 new, 0 changed, 1 deleted;
// 0 conflicts".
QString SyncSummary(const SyncReport& report);

// What went wrong, worded for the user ("The calendar server refused the user name or password",
// or that the sync is incomplete when steps were left); empty when nothing did.
QString SyncProblemText(const SyncReport& report);

// The resource name a new reminder is put under in `collection`: its UID when that is plain,
// else a digest of it, with ".ics".
QUrl ResourceUrl(const QUrl& collection, const QString& uid);

class CalendarSync {
 public:
  CalendarSync(ReminderStore store, std::unique_ptr<caldav::Client> server, QUrl address);
  ~CalendarSync();
  CalendarSync(const CalendarSync&) = delete;
  CalendarSync& operator=(const CalendarSync&) = delete;

  // How events without an alarm and all-day events become reminders.
  ImportOptions options;
  // Called once the pass is over, with what it did. It may destroy this object.
  std::function<void(const SyncReport&)> finished;
  // Set: the resources fetched are read on a thread of their own, and the pass goes on from this
  // object's event loop (the program). Unset: on the caller's thread (the command-line tool).
  QObject* parseOwner = nullptr;

  // Begins the pass (once).
  void Start();
  bool running() const { return m_started && !m_over; }

 private:
  struct Local {
    qint64 recno = 0;
    LocalItem item;
  };
  // A resource fetched, read once.
  struct Incoming {
    QString uid;
    QByteArray data;  // the resource as the server has it
    // What it reads in as: its event standing at its next occurrence (of the series, or of an
    // occurrence moved on its own); none when it is nothing to remind of (`why` says why).
    std::optional<icalendar::ReadEvent> event;
    QString why;
    bool gone = false;  // cancelled, or a to-do done
    bool past = false;  // every occurrence is past (`why` says so)
    // The reminder `event` reads in as (ReminderFromEvent with its UID, no reminder before it):
    // what a new reminder is stored as, and its record as composed for the fingerprint, stored as
    // it is. None when it is past.
    std::optional<EventInput> input;
    std::optional<ReminderRecord> record;
  };
  // A reminder as a calendar resource, with what it is known by and its fingerprint.
  struct Outgoing {
    QString uid;
    QByteArray recordId;
    QByteArray data;
    QByteArray fingerprint;
    bool unchanged = false;  // `data` is the server's own text: nothing changed here to put there
  };
  // A reminder as the sync sees it.
  struct LocalView {
    QByteArray recordId;
    QString uid;
    ReminderRecord stored;    // as the table has it
    ReminderRecord compared;  // with the user's alarm (ComparedRecord)
    std::optional<KeptEvent> kept;
    QByteArray fingerprint;
  };

  void Then(std::function<void()> step);
  void Pump();
  void Finish();
  void Fail(const caldav::Status& status);
  void FailTable(const Problem& problem);
  void SaveState(bool now);

  void Discovered(const caldav::Discovery& discovery);
  bool ReadLocals();
  void List();
  void Listed(const caldav::Changes& changes);
  void FetchChanged();
  void Fetched(const caldav::Objects& objects);
  // One resource fetched, read.
  struct Parsed {
    QString href;
    QString etag;
    Incoming in;
    QDateTime modified;
    QByteArray fingerprint;
  };
  // Reads the resources fetched; plain work on copies, for any thread (it stops early at `stop`).
  static std::vector<Parsed> ParseFetched(const caldav::Objects& objects, const ImportOptions& options,
                                          const QDateTime& now, const QString& timeFormat,
                                          const std::atomic<bool>& stop);
  void TakeParsed(std::vector<Parsed> parsed);
  void Act();
  // The step's outcome taken into the state and the report (Acted also goes on to the next step).
  void Record(const SyncAction& action, const SyncOutcome& outcome);
  void Acted(const SyncAction& action, const SyncOutcome& outcome);
  void ServerFailed(const SyncAction& action, const caldav::Status& status);
  // A put refused because the resource changed on the server since the plan (412): it is fetched
  // again and the pair planned again by the plan's own rules, once; the new step takes the old
  // one's place in the plan.
  void DecideAgain(const SyncAction& action);

  // The resource fetched at `href` as the reminder it reads in as (none: nothing to remind of).
  // `pending`: the reminder it goes over still waits to be dealt with here, so an event that is
  // past is taken all the same.
  std::optional<EventInput> ReminderOf(const QString& href, const EventInput* before, bool keepUid,
                                       bool pending = false) const;
  LocalView ViewOf(xbase::WorkArea& wa) const;
  // Keeps `resource` as the event of the reminder at `recno`, with the reminder as it now is as
  // what it agrees with. `pulled`: the reminder was just stored from it (its alarm is the event's).
  // `series`: the calendar lines the reminder was just stored with (none: those it keeps stay).
  // The reminder as the sync now sees it (none when it cannot be read).
  std::optional<LocalView> KeepEvent(qint64 recno, const QByteArray& resource, const QString& uid, bool pulled,
                                     const QStringList* series = nullptr);
  // The server's text of the resource the action names, as a change here is to be made to it:
  // fetched this pass, kept, or fetched now. `done(text, stale)`: none when there is none to be
  // had; `stale` when the server holds another version than the plan was made with.
  void WithServerText(const SyncAction& a, std::function<void(std::optional<QByteArray>, bool)> done);

  // The table's side of the steps; each opens the table for itself and closes it again.
  std::optional<qint64> FindLocal(const QByteArray& recordId);
  template <typename Read>
  std::optional<std::invoke_result_t<Read, xbase::WorkArea&>> AtRecord(qint64 recno, Read read);
  QByteArray FingerprintAt(qint64 recno);
  std::optional<Outgoing> Compose(qint64 recno);
  // The reminder at `recno` as `serverText` with only what changed here made to it (its own
  // export when there is no server text, or nothing of it can be changed).
  std::optional<Outgoing> Patched(qint64 recno, const QByteArray& serverText);
  std::optional<EventInput> StoredAt(qint64 recno);
  // Stores `in` (new, or over `editing`); none when the table refused it, and *lasting then says
  // whether it will be refused every time (a value it cannot hold) or may be taken later.
  std::optional<qint64> StoreReminder(const EventInput& in, std::optional<qint64> editing, bool* lasting);
  bool DeleteLocal(qint64 recno);
  EventInput ConflictCopy(EventInput in) const;

  // A pull of a run, before anything is stored: its outcome when that is known already (nothing
  // to store, deleted, changed here meanwhile), else the write it adds to `writes`.
  struct Pull {
    SyncAction action;
    std::optional<SyncOutcome> outcome;
    std::optional<size_t> write;  // in the writes of the run
    std::optional<size_t> kept;   // in the events kept, once stored
    qint64 recno = 0;             // the reminder an update goes over
  };
  Pull PreparePull(const SyncAction& a, std::vector<EventWrite>* writes);
  // The pulls in a row from the next step on (new and changed resources), carried out together:
  // the reminders stored in one save of many, their events kept in one write, each pull checked
  // and told as it would be alone.
  void PullRun();
  void PullDelete(const SyncAction& a);
  void PushCreate(const SyncAction& a);
  void PushUpdate(const SyncAction& a);
  // Puts the reminder at `recno` over the resource the action names: `serverText` with what
  // changed here (If-Match the action's ETag); nothing is put when nothing of it changed here.
  void PutOver(const SyncAction& a, qint64 recno, const QByteArray& serverText);
  void PushDelete(const SyncAction& a);
  void ResolveConflict(const SyncAction& a);
  // Stores `in` as a new reminder marked as the conflicting copy and puts it on the server, then
  // `done(copy)` (none when it is not on the server: a copy stored here goes up with the next sync).
  void StoreAndPushCopy(const EventInput& in, std::function<void(std::optional<SyncedItem>)> done);

  ReminderStore m_store;
  KeptEvents m_kept;
  QUrl m_address;
  QDateTime m_now;

  SyncReport m_report;
  QUrl m_collection;
  bool m_tokens = false;  // the collection offers sync tokens
  QString m_statePath;
  SyncState m_syncState;
  std::vector<LocalItem> m_locals;
  QHash<QByteArray, qint64> m_recnos;  // recordId -> recno when the pass began
  RemoteListing m_listing;
  QString m_listToken;
  int m_listRounds = 0;
  bool m_retriedToken = false;
  std::map<QString, Incoming> m_fetched;  // by href
  QSet<QString> m_decidedAgain;           // hrefs planned again after a 412 this pass
  SyncPlan m_plan;
  size_t m_next = 0;
  bool m_allDone = true;
  int m_unsaved = 0;
  QElapsedTimer m_sinceSave;

  std::function<void()> m_step;
  bool m_pumping = false;
  bool m_started = false;
  bool m_over = false;
  // Destroyed before the rest: a reading under way is stopped and its thread joined.
  std::unique_ptr<OffThread<std::vector<Parsed>>> m_parsing;
  // Last: destroyed first, so that no answer arrives while the rest goes.
  std::unique_ptr<caldav::Client> m_server;
};

}  // namespace chimewise

#pragma once
// Two-way sync of the reminders with a CalDAV calendar collection, as plain logic: from what the
// state file remembers, the reminders as they are now and the server's listing, the plan of what to
// move where; and from the outcome of each step carried out, the state to remember. Nothing here
// talks to the server or touches the table: whoever carries the plan out does.
//
// A sync pass:
//   1. state = ReadSyncState(...); state = NoteLocalChanges(state, locals, now); save it.
//   2. List the collection (sync-collection from state.syncToken, or everything).
//   3. Fetch the resources HrefsToFetch(state, listing) names, and fill in their uid, fingerprint
//      and modified time in the listing.
//   4. plan = PlanSync(state, locals, listing, now); carry each action out, and after each one
//      state = ApplyOutcome(state, action, outcome); save it.
//   5. state = FinishSync(state, plan, listing, every action succeeded); save it.
//
// Content is compared by fingerprint, and the two sides' fingerprints must be comparable: the
// fingerprint of a resource is that of the reminder it reads in as (ReminderFingerprint of the
// record the import would store), so that the same reminder on both sides has one fingerprint.

#include "exchange/sync_state.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace chimewise {

struct ReminderRecord;

// The fingerprint of what a reminder says, in two halves. The first: its activity, memo (with the
// calendar series), date, time, kind, sound, countdown and what is spoken; not the display texts
// (made from the rest), and for a series not the occurrence it stands at (its series lines say when
// it starts). The second: the alarm it has pending (a snooze moves it; one dealt with leaves none),
// none for a series (its rule and lead say when). A change to the alarm alone never makes a
// conflict: the other side's change to the content wins.
inline constexpr int kFingerprintBytes = 64;
// `series`: the reminder's calendar lines (KeptEvent::series), empty for none.
QByteArray ReminderFingerprint(const ReminderRecord& record, const QStringList& series);
// Whether two fingerprints tell the same content, their alarms aside.
bool SameContent(const QByteArray& a, const QByteArray& b);

// The text a reminder saved as the other side's version in a conflict is given.
QString ConflictingCopyText(const QString& activityText);

// A reminder as it is now.
struct LocalItem {
  QByteArray recordId;     // REC_NO
  QString uid;             // the calendar UID it was read in with; else RecordUid(recordId)
  QByteArray fingerprint;  // ReminderFingerprint of its record
  // When it was last edited, where that is known for certain; invalid otherwise. Not the table's
  // LASTEDIT and EDITTIME: a save stamps those with the activity's own date and time. Without it,
  // the change counts from when NoteLocalChanges first saw it (and, never seen, from now).
  QDateTime changedAt;
};

// A member of the collection as the listing gave it, with what its fetch told when it was fetched.
struct RemoteItem {
  QString href;
  QString etag;
  bool fetched = false;    // the fields below are known
  QString uid;             // the UID of its component
  QByteArray fingerprint;  // the fingerprint of the reminder it reads in as
  QDateTime modified;      // LAST-MODIFIED, else DTSTAMP; invalid when it has neither
};

struct RemoteListing {
  bool ok = false;  // false: the server could not be asked, or answered with an error
  // true: `items` are every member (a calendar-query, or a sync-collection from no token);
  // false: changes since the state's token (members not named are as the state remembers them).
  bool complete = true;
  std::vector<RemoteItem> items;  // complete: every member; else the members new or changed
  QStringList removed;            // members gone since the token (only when not complete)
  QString syncToken;              // the token this listing ends with; empty when none was given
};

enum class SyncActionKind {
  PullCreate,  // the resource is new to this side: store it as a new reminder
  PullUpdate,  // the resource changed: write it over the reminder
  PullDelete,  // the resource is gone: delete the reminder
  PushCreate,  // the reminder is new to the server: put it (If-None-Match: *)
  PushUpdate,  // the reminder changed: put it over the resource, If-Match `etag`
  PushDelete,  // the reminder is gone: delete the resource, If-Match `etag`
  // Both sides changed since they last agreed (or, on a first sync, differ under one UID). The
  // later change stays in place: with `localWins` the reminder is put over the resource (If-Match
  // `etag`), else the resource is written over the reminder. The other version is then stored as
  // a new reminder whose activity reads ConflictingCopyText(...), with a UID of its own, and put on
  // the server as a new resource. Neither version is lost.
  Conflict,
  // Both sides hold the same content (a first sync's match, the same change made on both, a
  // resource the server rewrote without changing it): nothing moves, the pair is remembered.
  Adopt,
  // Gone from both sides: the state forgets it.
  Forget,
};

// A short English name ("push-update"), for logs and tests.
QString SyncActionName(SyncActionKind kind);

struct SyncAction {
  SyncActionKind kind = SyncActionKind::Adopt;
  QString uid;
  QByteArray recordId;  // the reminder; empty for a PullCreate
  QString href;         // the resource; empty for a PushCreate (the executor names it)
  // The ETag the server must still have: If-Match for PushUpdate, PushDelete and a Conflict the
  // reminder wins; for a pull or an Adopt, the ETag of the version fetched.
  QString etag;
  // The reminder's content when the plan was made (empty when there is none). The reminder may be
  // edited while the plan is carried out: a pull, a delete here or a conflict is to find it still
  // with this fingerprint, as a write on the server names its ETag, and else report
  // PreconditionFailed and leave it alone.
  QByteArray localFingerprint;
  QByteArray remoteFingerprint;  // the resource's content as fetched (empty when not known)
  bool localWins = false;        // Conflict only
  QString why;                   // one line for the log
};

struct SyncPlan {
  std::vector<SyncAction> actions;
  // What was left alone this time and why (a resource not fetched, a suspicious listing): each
  // one is tried again on the next sync.
  QStringList notes;
  // The listing was empty though the state knew resources: no reminder was deleted for it.
  bool suspiciousEmptyListing = false;
  // Something was left alone: the listing's sync token must not be kept (FinishSync).
  bool incomplete = false;
};

// Records when each local change not yet synced was first seen (`now`), for reminders whose
// record does not say when it was edited; clears it for reminders back to their synced content.
// The later-change rule is as exact as this is called often: after a save, or on a tick, not only
// when a sync starts.
SyncState NoteLocalChanges(const SyncState& state, const std::vector<LocalItem>& locals, const QDateTime& now);

// The members of `listing` whose content the plan needs and the listing does not hold: new to
// the state, or with another ETag than it remembers.
QStringList HrefsToFetch(const SyncState& state, const RemoteListing& listing);

// The plan. Pure: the same input gives the same plan, in the state's order and then the
// listing's and the reminders'. `now` stands for a local change's time when nothing tells it.
SyncPlan PlanSync(const SyncState& state, const std::vector<LocalItem>& locals, const RemoteListing& listing,
                  const QDateTime& now);

// How one action went.
enum class SyncResult {
  Done,
  PreconditionFailed,  // the server's ETag was no longer the one given (412)
  Failed,              // anything else: nothing known changed
};

// A new version made on one side while carrying out an action: the reminder and the resource it
// is now, with their content.
struct SyncedItem {
  QString uid;
  QByteArray recordId;
  QString href;
  QString etag;  // the server's new ETag; empty when it gave none (the next sync fetches it)
  QByteArray localFingerprint;
  QByteArray remoteFingerprint;
};

struct SyncOutcome {
  SyncResult result = SyncResult::Failed;
  // Done: the pair as it now is (for a PullCreate the new reminder's record id; for a PushCreate
  // the resource's href and ETag). Not needed for PullDelete, PushDelete and Forget.
  SyncedItem item;
  // Conflict only: the conflicting copy, once stored as a reminder and put on the server. A copy
  // stored here but not (yet) on the server is left out: the next sync finds it as a new reminder.
  std::optional<SyncedItem> copy;
};

// The state after `action` was carried out with `outcome`. An action that did not succeed leaves
// the state of its item as it was, so that the next sync plans it again from what it then finds
// (after a 412: the server's new version, compared with the reminder's).
SyncState ApplyOutcome(const SyncState& state, const SyncAction& action, const SyncOutcome& outcome);

// The state once the pass is over: the collection named, and the listing's sync token kept when
// the plan was whole and every action succeeded (else the old token, so that what was missed is
// listed again). A plan that wrote to the server keeps no token: the next sync lists everything.
SyncState FinishSync(const SyncState& state, const QString& collection, const SyncPlan& plan,
                     const RemoteListing& listing, bool allSucceeded);

}  // namespace chimewise

#pragma once
// What the program remembers between two syncs of the reminders with one calendar collection on a
// CalDAV server: the collection, the server's sync token, and for every reminder synced the
// reminder it is here, the resource it is there, and the content each side had when the two last
// agreed. Kept in a file beside the reminder table ("calendar.sync" in the data folder).
//
// The file is only a memory: when it cannot be read whole (missing, damaged, cut short, of another
// version, of another collection, not a regular file) it reads as no state at all, and the next sync
// is a first one: reminders and resources are matched by UID and nothing is deleted on either side.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace chimewise {

// Bounds on a state file read back.
inline constexpr qint64 kMaxSyncStateBytes = 32LL * 1024 * 1024;
inline constexpr int kMaxSyncEntries = 100000;

// One reminder as it was when both sides last agreed on it.
struct SyncEntry {
  QString uid;                   // the iCalendar UID both sides know it by
  QByteArray recordId;           // the reminder's REC_NO bytes (stable across packs)
  QString href;                  // the resource on the server, as the server names it
  QString etag;                  // its ETag then; empty when the server gave none
  QByteArray localFingerprint;   // the reminder's content fingerprint then
  QByteArray remoteFingerprint;  // the resource's content fingerprint then
  // When a local change not yet synced was first seen (invalid: none seen): stands for the change's
  // time when the reminder does not say when it was edited.
  QDateTime localChangeSeen;
  bool operator==(const SyncEntry&) const = default;
};

struct SyncState {
  QString collection;  // the collection's URL; empty: no state (a first sync)
  QString syncToken;   // the server's token of the last listing taken whole; empty: none
  std::vector<SyncEntry> entries;
  bool empty() const { return collection.isEmpty() && entries.empty(); }
  bool operator==(const SyncState&) const = default;
};

// "<appFolder>/data/calendar.sync", beside the reminder table.
QString SyncStatePath(const QString& appFolder);

struct SyncStateRead {
  SyncState state;  // empty when the file was not there or not usable
  // Why a file that was there was not used (it then reads as no state); empty when it was used or
  // was not there at all.
  QString ignored;
};

// Reads the state kept for `collection`. Anything but a sound file of this version for that very
// collection reads as no state, with the reason in `ignored`.
SyncStateRead ReadSyncState(const QString& path, const QString& collection);

// Writes `state` to `path` whole or not at all (a file beside it, flushed to disk, then renamed
// over it). Returns an empty string on success, else what failed (the old file is then untouched).
QString WriteSyncState(const QString& path, const SyncState& state);

}  // namespace chimewise

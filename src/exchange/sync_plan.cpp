#include "exchange/sync_plan.h"

#include "data/reminder_record.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace chimewise {
namespace {

// One field of a fingerprint: its length first, so that no two records run together alike.
void AddField(QCryptographicHash& hash, const QByteArray& bytes) {
  hash.addData(QByteArray::number(bytes.size()) + ':');
  hash.addData(bytes);
}
void AddField(QCryptographicHash& hash, const QString& text) { AddField(hash, text.toUtf8()); }
void AddField(QCryptographicHash& hash, int number) { AddField(hash, QByteArray::number(number)); }

enum class Side { Missing, Same, Changed, Unknown };

// When the reminder's change was made, as far as is known.
QDateTime LocalTime(const LocalItem& local, const SyncEntry* entry, const QDateTime& now) {
  if (local.changedAt.isValid()) return local.changedAt;
  if (entry && entry->localChangeSeen.isValid()) return entry->localChangeSeen;
  return now;
}

// The later change wins; when either time is unknown, or both are the same, the server's version
// stays in place (the reminder's survives as the conflicting copy).
bool LocalIsLater(const QDateTime& local, const QDateTime& remote) {
  return local.isValid() && remote.isValid() && local > remote;
}

SyncAction Action(SyncActionKind kind, const QString& uid, const QByteArray& recordId, const QString& href,
                  const QString& etag, const QString& why) {
  SyncAction a;
  a.kind = kind;
  a.uid = uid;
  a.recordId = recordId;
  a.href = href;
  a.etag = etag;
  a.why = why;
  return a;
}

bool PushesContent(const SyncAction& action) {
  return action.kind == SyncActionKind::PushCreate || action.kind == SyncActionKind::PushUpdate ||
         (action.kind == SyncActionKind::Conflict && action.localWins);
}

// Puts `item` into the state, in place of the entry the action was about and of any entry that
// names its reminder, resource or UID.
void Remember(SyncState& state, const SyncAction& action, const SyncEntry& item) {
  auto& entries = state.entries;
  const auto names = [&](const SyncEntry& e) {
    return (!action.recordId.isEmpty() && e.recordId == action.recordId) ||
           (!action.href.isEmpty() && e.href == action.href) || e.recordId == item.recordId || e.href == item.href ||
           e.uid == item.uid;
  };
  const auto first = std::find_if(entries.begin(), entries.end(), names);
  const auto at = first - entries.begin();
  std::erase_if(entries, names);
  entries.insert(entries.begin() + std::min<std::ptrdiff_t>(at, static_cast<std::ptrdiff_t>(entries.size())), item);
}

void Forget(SyncState& state, const SyncAction& action) {
  std::erase_if(state.entries, [&](const SyncEntry& e) {
    return (!action.recordId.isEmpty() && e.recordId == action.recordId) ||
           (!action.href.isEmpty() && e.href == action.href);
  });
}

}  // namespace

QByteArray ReminderFingerprint(const ReminderRecord& record, const QStringList& series) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  AddField(hash, record.event.trimmed());
  AddField(hash, record.activityText.trimmed());
  AddField(hash, record.memo);
  AddField(hash, series.join('\n'));
  // A series' own lines say when it starts; the occurrence it stands at moves on as alarms go off,
  // which changes nothing on either side.
  const bool repeats = std::any_of(series.begin(), series.end(),
                                   [](const QString& line) { return line.startsWith(QLatin1String("RRULE")); });
  AddField(hash, repeats || !record.eventDate.isValid() ? QString() : record.eventDate.toString(Qt::ISODate));
  AddField(hash, repeats ? -1 : record.startTime);
  AddField(hash, record.sound);
  AddField(hash, record.sayDate);
  AddField(hash, record.sayTime);
  AddField(hash, record.countdown);
  // Second half: the alarm still to come of a single reminder (a snooze moves it); a series' comes
  // from its rule.
  QCryptographicHash alarm(QCryptographicHash::Sha256);
  AddField(alarm, repeats || !record.alarmDate.isValid()
                      ? QString()
                      : record.alarmDate.toString(Qt::ISODate) + u' ' + QString::number(record.alarmTime));
  return hash.result() + alarm.result();
}

bool SameContent(const QByteArray& a, const QByteArray& b) {
  return a.size() == kFingerprintBytes && b.size() == kFingerprintBytes &&
         a.left(kFingerprintBytes / 2) == b.left(kFingerprintBytes / 2);
}

QString ConflictingCopyText(const QString& activityText) { return activityText + " (conflicting copy)"; }

QString SyncActionName(SyncActionKind kind) {
  switch (kind) {
    case SyncActionKind::PullCreate: return "pull-create";
    case SyncActionKind::PullUpdate: return "pull-update";
    case SyncActionKind::PullDelete: return "pull-delete";
    case SyncActionKind::PushCreate: return "push-create";
    case SyncActionKind::PushUpdate: return "push-update";
    case SyncActionKind::PushDelete: return "push-delete";
    case SyncActionKind::Conflict: return "conflict";
    case SyncActionKind::Adopt: return "adopt";
    case SyncActionKind::Forget: return "forget";
  }
  return "?";
}

SyncState NoteLocalChanges(const SyncState& state, const std::vector<LocalItem>& locals, const QDateTime& now) {
  QHash<QByteArray, const LocalItem*> byRecord;
  for (const LocalItem& l : locals) byRecord.insert(l.recordId, &l);
  SyncState out = state;
  for (SyncEntry& e : out.entries) {
    const LocalItem* l = byRecord.value(e.recordId);
    if (!l) continue;
    if (l->fingerprint == e.localFingerprint)
      e.localChangeSeen = QDateTime();
    else if (!e.localChangeSeen.isValid())
      e.localChangeSeen = now;
  }
  return out;
}

QStringList HrefsToFetch(const SyncState& state, const RemoteListing& listing) {
  QHash<QString, const SyncEntry*> byHref;
  for (const SyncEntry& e : state.entries) byHref.insert(e.href, &e);
  QStringList hrefs;
  for (const RemoteItem& r : listing.items) {
    if (r.fetched || hrefs.contains(r.href)) continue;
    const SyncEntry* e = byHref.value(r.href);
    if (!e || e->etag.isEmpty() || e->etag != r.etag) hrefs.append(r.href);
  }
  return hrefs;
}

SyncPlan PlanSync(const SyncState& state, const std::vector<LocalItem>& locals, const RemoteListing& listing,
                  const QDateTime& now) {
  SyncPlan plan;
  if (!listing.ok) {
    plan.notes.append("the server's listing failed: nothing was changed on either side");
    plan.incomplete = true;
    return plan;
  }
  QHash<QString, const RemoteItem*> byHref;
  for (const RemoteItem& r : listing.items) {
    if (!byHref.contains(r.href)) byHref.insert(r.href, &r);
  }
  const QSet<QString> removed(listing.removed.begin(), listing.removed.end());
  QHash<QByteArray, const LocalItem*> byRecord;
  for (const LocalItem& l : locals) {
    if (!byRecord.contains(l.recordId)) byRecord.insert(l.recordId, &l);
  }
  if (listing.complete && listing.items.empty() && !state.entries.empty()) {
    plan.suspiciousEmptyListing = true;
    plan.incomplete = true;
    plan.notes.append(QString("the server listed no calendar items though %1 were synced before: nothing was "
                              "deleted for it")
                          .arg(state.entries.size()));
  }

  QSet<QByteArray> usedRecords;
  QSet<QString> usedHrefs;
  for (const SyncEntry& e : state.entries) {
    usedRecords.insert(e.recordId);
    usedHrefs.insert(e.href);
    const LocalItem* l = byRecord.value(e.recordId);
    const RemoteItem* r = byHref.value(e.href);

    const Side local = !l ? Side::Missing : l->fingerprint == e.localFingerprint ? Side::Same : Side::Changed;
    Side remote = Side::Same;
    if (r) {
      if (!e.etag.isEmpty() && r->etag == e.etag)
        remote = Side::Same;
      else if (!r->fetched)
        remote = Side::Unknown;
      else
        remote = r->fingerprint == e.remoteFingerprint && r->uid == e.uid ? Side::Same : Side::Changed;
    } else if (listing.complete) {
      remote = plan.suspiciousEmptyListing ? Side::Unknown : Side::Missing;
    } else if (removed.contains(e.href)) {
      remote = Side::Missing;
    }
    if (remote == Side::Unknown) {
      if (!plan.suspiciousEmptyListing) {
        plan.notes.append(e.href + " changed on the server but was not fetched: left for the next sync");
        plan.incomplete = true;
      }
      continue;
    }
    const QString etagNow = r ? r->etag : e.etag;
    const bool rewritten = r && r->etag != e.etag;  // the same content under a new ETag

    auto add = [&](SyncActionKind kind, const QString& why) -> SyncAction& {
      SyncAction& a = plan.actions.emplace_back(Action(kind, e.uid, e.recordId, e.href, etagNow, why));
      if (l) a.localFingerprint = l->fingerprint;
      a.remoteFingerprint = r && r->fetched ? r->fingerprint : e.remoteFingerprint;
      return a;
    };
    if (local == Side::Same && remote == Side::Same) {
      if (rewritten) add(SyncActionKind::Adopt, "the server rewrote it without changing it");
    } else if (local == Side::Same && remote == Side::Changed) {
      // The resource may hold another UID now: the reminder takes the one it is stored with.
      add(SyncActionKind::PullUpdate, "changed on the server").uid = r->uid;
    } else if (local == Side::Same && remote == Side::Missing) {
      add(SyncActionKind::PullDelete, "deleted on the server");
    } else if (local == Side::Changed && remote == Side::Same) {
      add(SyncActionKind::PushUpdate, "changed here");
    } else if (local == Side::Changed && remote == Side::Missing) {
      SyncAction& a = add(SyncActionKind::PushCreate, "changed here and deleted on the server: put back");
      a.href.clear();
      a.etag.clear();
      a.remoteFingerprint.clear();
    } else if (local == Side::Missing && remote == Side::Same) {
      add(SyncActionKind::PushDelete, "deleted here");
    } else if (local == Side::Missing && remote == Side::Changed) {
      SyncAction& a = add(SyncActionKind::PullCreate, "deleted here and changed on the server: stored again");
      a.uid = r->uid;
      a.recordId.clear();
    } else if (local == Side::Missing && remote == Side::Missing) {
      add(SyncActionKind::Forget, "deleted on both sides");
    } else if (l->fingerprint == r->fingerprint) {
      add(SyncActionKind::Adopt, "changed alike on both sides");
    } else if (SameContent(l->fingerprint, e.localFingerprint)) {
      // Only the alarm moved here (a snooze, an announcement): the server's change is the one made.
      add(SyncActionKind::PullUpdate, "changed on the server; here only the alarm moved").uid = r->uid;
    } else if (SameContent(r->fingerprint, e.remoteFingerprint)) {
      add(SyncActionKind::PushUpdate, "changed here; on the server only the alarm moved");
    } else {
      SyncAction& a = add(SyncActionKind::Conflict, "changed on both sides");
      a.localWins = LocalIsLater(LocalTime(*l, &e, now), r->modified);
    }
  }

  // Members the state does not know: matched with reminders it does not know by UID.
  QHash<QString, const LocalItem*> newByUid;
  for (const LocalItem& l : locals) {
    if (!usedRecords.contains(l.recordId) && !l.uid.isEmpty() && !newByUid.contains(l.uid)) newByUid.insert(l.uid, &l);
  }
  for (const RemoteItem& r : listing.items) {
    if (usedHrefs.contains(r.href)) continue;
    usedHrefs.insert(r.href);
    if (!r.fetched) {
      plan.notes.append(r.href + " is new on the server but was not fetched: left for the next sync");
      plan.incomplete = true;
      continue;
    }
    const LocalItem* l = newByUid.take(r.uid);
    if (l && !usedRecords.contains(l->recordId)) {
      usedRecords.insert(l->recordId);
      // The same content under one UID, whatever each side's alarm: a pair, nothing moves.
      const bool same = l->fingerprint == r.fingerprint || SameContent(l->fingerprint, r.fingerprint);
      SyncAction& a = plan.actions.emplace_back(
          Action(same ? SyncActionKind::Adopt : SyncActionKind::Conflict, r.uid, l->recordId, r.href, r.etag,
                 same ? "the same on both sides" : "different on both sides under one UID"));
      a.localFingerprint = l->fingerprint;
      a.remoteFingerprint = r.fingerprint;
      if (!same) a.localWins = LocalIsLater(LocalTime(*l, nullptr, now), r.modified);
      continue;
    }
    SyncAction& a =
        plan.actions.emplace_back(Action(SyncActionKind::PullCreate, r.uid, {}, r.href, r.etag, "new on the server"));
    a.remoteFingerprint = r.fingerprint;
  }
  for (const LocalItem& l : locals) {
    if (usedRecords.contains(l.recordId)) continue;
    usedRecords.insert(l.recordId);
    SyncAction& a =
        plan.actions.emplace_back(Action(SyncActionKind::PushCreate, l.uid, l.recordId, {}, {}, "new here"));
    a.localFingerprint = l.fingerprint;
  }
  return plan;
}

SyncState ApplyOutcome(const SyncState& state, const SyncAction& action, const SyncOutcome& outcome) {
  SyncState out = state;
  if (outcome.result != SyncResult::Done) return out;
  switch (action.kind) {
    case SyncActionKind::PullDelete:
    case SyncActionKind::PushDelete:
    case SyncActionKind::Forget: Forget(out, action); return out;
    default: break;
  }
  const SyncedItem& done = outcome.item;
  const bool pushed = PushesContent(action);
  SyncEntry e;
  if (action.kind == SyncActionKind::Adopt) {
    e.uid = action.uid;
    e.recordId = action.recordId;
    e.href = action.href;
    e.etag = action.etag;
    e.localFingerprint = action.localFingerprint;
    e.remoteFingerprint = action.remoteFingerprint;
  } else {
    e.uid = done.uid.isEmpty() ? action.uid : done.uid;
    e.recordId = done.recordId.isEmpty() ? action.recordId : done.recordId;
    e.href = done.href.isEmpty() ? action.href : done.href;
    e.etag = pushed || !done.etag.isEmpty() ? done.etag : action.etag;
    e.localFingerprint = !done.localFingerprint.isEmpty() ? done.localFingerprint
                         : pushed                         ? action.localFingerprint
                                                          : action.remoteFingerprint;
    e.remoteFingerprint = !done.remoteFingerprint.isEmpty() ? done.remoteFingerprint
                          : pushed                          ? e.localFingerprint
                                                            : action.remoteFingerprint;
  }
  if (e.uid.isEmpty() || e.recordId.isEmpty() || e.href.isEmpty()) return out;  // not a pair to remember
  Remember(out, action, e);
  if (action.kind == SyncActionKind::Conflict && outcome.copy) {
    const SyncedItem& c = *outcome.copy;
    if (!c.uid.isEmpty() && !c.recordId.isEmpty() && !c.href.isEmpty()) {
      SyncEntry copy{
          c.uid,      c.recordId,         c.href,
          c.etag,     c.localFingerprint, c.remoteFingerprint.isEmpty() ? c.localFingerprint : c.remoteFingerprint,
          QDateTime()};
      Remember(out, SyncAction{}, copy);
    }
  }
  return out;
}

SyncState FinishSync(const SyncState& state, const QString& collection, const SyncPlan& plan,
                     const RemoteListing& listing, bool allSucceeded) {
  SyncState out = state;
  out.collection = collection;
  // A token from before this pass's own writes cannot tell what became of them since: a server may
  // leave out a member made after the token and deleted since (Xandikos does). After writing, the
  // next sync lists everything.
  const bool wrote = std::any_of(plan.actions.begin(), plan.actions.end(), [](const SyncAction& a) {
    return PushesContent(a) || a.kind == SyncActionKind::PushDelete || a.kind == SyncActionKind::Conflict;
  });
  if (wrote)
    out.syncToken.clear();
  else if (listing.ok && allSucceeded && !plan.incomplete)
    out.syncToken = listing.syncToken;
  return out;
}

}  // namespace chimewise

#include "exchange/sync_plan.h"

#include "data/reminder_record.h"

#include <gtest/gtest.h>

#include <QTimeZone>

namespace chimewise {
namespace {

const QString kCollection = "https://cal.example.org/dav/anna/reminders/";
const QDateTime kNow(QDate(2027, 3, 1), QTime(12, 0), Qt::UTC);

QByteArray Fp(const char* content) { return QByteArray(content); }

SyncEntry Entry(const char* uid, const char* content = "v1") {
  return {uid,
          QByteArray("rec-") + uid,
          QString("/cal/%1.ics").arg(uid),
          QString("\"%1-e1\"").arg(uid),
          Fp(content),
          Fp(content),
          QDateTime()};
}

LocalItem Local(const char* uid, const char* content = "v1", QDateTime changedAt = {}) {
  return {QByteArray("rec-") + uid, uid, Fp(content), changedAt};
}

// A member as listed: with the state's ETag it needs no fetch.
RemoteItem Listed(const char* uid, const char* etagSuffix = "e1") {
  return {QString("/cal/%1.ics").arg(uid), QString("\"%1-%2\"").arg(uid, etagSuffix), false, {}, {}, {}};
}

// A member fetched under a new ETag.
RemoteItem Fetched(const char* uid, const char* content, QDateTime modified = {}, const char* etagSuffix = "e2") {
  return {QString("/cal/%1.ics").arg(uid), QString("\"%1-%2\"").arg(uid, etagSuffix), true, uid, Fp(content), modified};
}

SyncState State(std::vector<SyncEntry> entries) { return {kCollection, "token-1", std::move(entries)}; }

RemoteListing Listing(std::vector<RemoteItem> items) {
  RemoteListing l;
  l.ok = true;
  l.items = std::move(items);
  l.syncToken = "token-2";
  return l;
}

std::vector<SyncActionKind> Kinds(const SyncPlan& plan) {
  std::vector<SyncActionKind> kinds;
  for (const SyncAction& a : plan.actions) kinds.push_back(a.kind);
  return kinds;
}

std::string Names(const SyncPlan& plan) {
  std::string s;
  for (const SyncAction& a : plan.actions) s += SyncActionName(a.kind).toStdString() + " ";
  return s;
}

// One synced reminder "a" (content v1 on both sides), then what each side did to it since.
struct OneItemCase {
  const char* what;
  std::optional<LocalItem> local;          // nullopt: deleted here
  std::optional<RemoteItem> remote;        // nullopt: gone from the (complete) listing
  std::optional<SyncActionKind> expected;  // nullopt: nothing to do
};

TEST(SyncPlan, OneSyncedItemAgainstEachChangeOnEachSide) {
  const QDateTime earlier = kNow.addSecs(-3600);
  const OneItemCase cases[] = {
      {"unchanged", Local("a"), Listed("a"), std::nullopt},
      {"rewritten by the server alike", Local("a"), Fetched("a", "v1"), SyncActionKind::Adopt},
      {"changed on the server", Local("a"), Fetched("a", "v2"), SyncActionKind::PullUpdate},
      {"changed here", Local("a", "v2"), Listed("a"), SyncActionKind::PushUpdate},
      {"deleted here", std::nullopt, Listed("a"), SyncActionKind::PushDelete},
      {"deleted on the server", Local("a"), std::nullopt, SyncActionKind::PullDelete},
      {"deleted on both", std::nullopt, std::nullopt, SyncActionKind::Forget},
      {"changed here, deleted there: put back", Local("a", "v2"), std::nullopt, SyncActionKind::PushCreate},
      {"deleted here, changed there: stored again", std::nullopt, Fetched("a", "v2"), SyncActionKind::PullCreate},
      {"changed alike on both", Local("a", "v2"), Fetched("a", "v2"), SyncActionKind::Adopt},
      {"changed differently on both", Local("a", "v2", earlier), Fetched("a", "v3", kNow), SyncActionKind::Conflict},
  };
  for (const OneItemCase& c : cases) {
    // A second, untouched item keeps the listing from being empty.
    std::vector<LocalItem> locals{Local("b")};
    if (c.local) locals.push_back(*c.local);
    std::vector<RemoteItem> remote{Listed("b")};
    if (c.remote) remote.push_back(*c.remote);
    const SyncPlan plan = PlanSync(State({Entry("a"), Entry("b")}), locals, Listing(remote), kNow);
    const std::vector<SyncActionKind> expected =
        c.expected ? std::vector<SyncActionKind>{*c.expected} : std::vector<SyncActionKind>{};
    EXPECT_EQ(Kinds(plan), expected) << c.what << ": " << Names(plan);
    EXPECT_FALSE(plan.incomplete) << c.what;
  }
}

TEST(SyncPlan, APullTakesTheUidTheResourceNowHolds) {
  RemoteItem moved = Fetched("a", "v1");
  moved.uid = "other@example.org";
  for (const std::optional<LocalItem>& local : {std::optional(Local("a")), std::optional<LocalItem>()}) {
    std::vector<LocalItem> locals{Local("b")};
    if (local) locals.push_back(*local);
    const SyncState state = State({Entry("a"), Entry("b")});
    const SyncPlan plan = PlanSync(state, locals, Listing({moved, Listed("b")}), kNow);
    ASSERT_EQ(plan.actions.size(), 1u) << Names(plan);
    EXPECT_EQ(plan.actions[0].kind, local ? SyncActionKind::PullUpdate : SyncActionKind::PullCreate);
    EXPECT_EQ(plan.actions[0].uid, "other@example.org");
    const SyncState after =
        ApplyOutcome(state, plan.actions[0], {SyncResult::Done, {.recordId = local ? "" : "rec-new"}, {}});
    EXPECT_EQ(after.entries[0].uid, "other@example.org");
    EXPECT_EQ(after.entries[0].etag, "\"a-e2\"");
  }
}

TEST(SyncPlan, APutWithoutAResourceNameIsNotRemembered) {
  const SyncPlan plan = PlanSync(SyncState{}, {Local("n")}, Listing({}), kNow);
  ASSERT_EQ(Kinds(plan), (std::vector{SyncActionKind::PushCreate}));
  // The executor reported success but no href: nothing to pair, so the next sync looks again.
  EXPECT_TRUE(ApplyOutcome(SyncState{}, plan.actions[0], {SyncResult::Done, {}, {}}).entries.empty());
}

TEST(SyncPlan, TheLaterChangeStaysInPlace) {
  const QDateTime t1 = kNow.addSecs(-7200), t2 = kNow.addSecs(-3600);
  struct Case {
    const char* what;
    QDateTime localChanged;  // the reminder's edit stamp
    QDateTime seen;          // when the sync first saw its change
    QDateTime remoteModified;
    bool localWins;
  };
  const Case cases[] = {
      {"edited here later", t2, {}, t1, true},
      {"edited on the server later", t1, {}, t2, false},
      {"the same moment: the server's stays", t1, {}, t1, false},
      {"the server's time unknown: the server's stays", t2, {}, {}, false},
      {"no edit stamp: first seen later", {}, t2, t1, true},
      {"no edit stamp: first seen earlier", {}, t1, t2, false},
      {"no edit stamp, never seen: now", {}, {}, t2, true},
  };
  for (const Case& c : cases) {
    SyncEntry e = Entry("a");
    e.localChangeSeen = c.seen;
    const SyncPlan plan =
        PlanSync(State({e}), {Local("a", "v2", c.localChanged)}, Listing({Fetched("a", "v3", c.remoteModified)}), kNow);
    ASSERT_EQ(Kinds(plan), (std::vector{SyncActionKind::Conflict})) << c.what;
    EXPECT_EQ(plan.actions[0].localWins, c.localWins) << c.what;
    EXPECT_EQ(plan.actions[0].etag, "\"a-e2\"") << c.what;
    EXPECT_EQ(plan.actions[0].localFingerprint, Fp("v2")) << c.what;
    EXPECT_EQ(plan.actions[0].remoteFingerprint, Fp("v3")) << c.what;
  }
}

TEST(SyncPlan, NoteLocalChangesKeepsTheFirstSightingOnly) {
  const SyncState start = State({Entry("a"), Entry("b")});
  const std::vector<LocalItem> changed{Local("a", "v2"), Local("b")};
  SyncState s = NoteLocalChanges(start, changed, kNow);
  EXPECT_EQ(s.entries[0].localChangeSeen, kNow);
  EXPECT_FALSE(s.entries[1].localChangeSeen.isValid());
  s = NoteLocalChanges(s, changed, kNow.addSecs(600));
  EXPECT_EQ(s.entries[0].localChangeSeen, kNow);
  // Changed back to what was synced: no longer a change.
  s = NoteLocalChanges(s, {Local("a"), Local("b")}, kNow.addSecs(900));
  EXPECT_FALSE(s.entries[0].localChangeSeen.isValid());
}

TEST(SyncPlan, NothingIsDeletedWhenTheServerCannotBeTrusted) {
  const SyncState state = State({Entry("a"), Entry("b")});
  const std::vector<LocalItem> locals{Local("a"), Local("b", "v2"), Local("new")};

  RemoteListing failed;  // unreachable, or an error answer
  failed.ok = false;
  SyncPlan plan = PlanSync(state, locals, failed, kNow);
  EXPECT_TRUE(plan.actions.empty()) << Names(plan);
  EXPECT_TRUE(plan.incomplete);
  EXPECT_FALSE(plan.notes.isEmpty());

  // An empty listing though items were synced: suspicious, nothing of the known items is touched;
  // a reminder new here is still put on the server.
  plan = PlanSync(state, locals, Listing({}), kNow);
  EXPECT_TRUE(plan.suspiciousEmptyListing);
  EXPECT_TRUE(plan.incomplete);
  EXPECT_EQ(Kinds(plan), (std::vector{SyncActionKind::PushCreate})) << Names(plan);
  EXPECT_EQ(plan.actions[0].recordId, "rec-new");

  // An empty listing with nothing known is just an empty calendar.
  plan = PlanSync(SyncState{}, {Local("a")}, Listing({}), kNow);
  EXPECT_FALSE(plan.suspiciousEmptyListing);
  EXPECT_EQ(Kinds(plan), (std::vector{SyncActionKind::PushCreate}));
}

TEST(SyncPlan, AMemberNotFetchedIsLeftForTheNextSync) {
  RemoteItem changedUnfetched = Listed("a", "e7");
  RemoteItem newUnfetched = Listed("z", "e1");
  const SyncState state = State({Entry("a")});
  const RemoteListing listing = Listing({changedUnfetched, newUnfetched});
  EXPECT_EQ(HrefsToFetch(state, listing), (QStringList{"/cal/a.ics", "/cal/z.ics"}));
  const SyncPlan plan = PlanSync(state, {Local("a", "v2")}, listing, kNow);
  EXPECT_TRUE(plan.actions.empty()) << Names(plan);
  EXPECT_TRUE(plan.incomplete);
  EXPECT_EQ(plan.notes.size(), 2);
  // ...and keeps the old sync token so that the next listing names it again.
  const SyncState after = FinishSync(state, kCollection, plan, listing, true);
  EXPECT_EQ(after.syncToken, "token-1");
}

TEST(SyncPlan, AFirstSyncMatchesByUidAndDeletesNothing) {
  const std::vector<LocalItem> locals{Local("same", "v1"), Local("differs", "mine", kNow.addSecs(-60)),
                                      Local("only-here")};
  const RemoteListing listing =
      Listing({Fetched("same", "v1"), Fetched("differs", "theirs", kNow.addSecs(-30)), Fetched("only-there", "v1")});
  for (const SyncState& none : {SyncState{}, SyncState{kCollection, "", {}}}) {
    const SyncPlan plan = PlanSync(none, locals, listing, kNow);
    EXPECT_EQ(Kinds(plan), (std::vector{SyncActionKind::Adopt, SyncActionKind::Conflict, SyncActionKind::PullCreate,
                                        SyncActionKind::PushCreate}))
        << Names(plan);
    EXPECT_EQ(plan.actions[0].recordId, "rec-same");
    EXPECT_EQ(plan.actions[1].recordId, "rec-differs");
    EXPECT_EQ(plan.actions[1].href, "/cal/differs.ics");
    EXPECT_FALSE(plan.actions[1].localWins);
    EXPECT_EQ(plan.actions[2].href, "/cal/only-there.ics");
    EXPECT_EQ(plan.actions[3].recordId, "rec-only-here");
  }
}

// Fingerprints in two halves, content and alarm, as ReminderFingerprint makes them.
QByteArray Halves(char content, char alarm) {
  return QByteArray(kFingerprintBytes / 2, content) + QByteArray(kFingerprintBytes / 2, alarm);
}

TEST(SyncPlan, AnAlarmMovedOnOneSideNeverMakesAConflict) {
  SyncEntry e = Entry("a");
  e.localFingerprint = e.remoteFingerprint = Halves('1', 'x');
  const auto plan = [&](QByteArray local, QByteArray remote) {
    LocalItem l = Local("a");
    l.fingerprint = std::move(local);
    RemoteItem r = Fetched("a", "");
    r.fingerprint = std::move(remote);
    return PlanSync(State({e}), {l}, Listing({r}), kNow);
  };
  // Snoozed (or announced) here, edited on the phone: the phone's edit comes in.
  EXPECT_EQ(Kinds(plan(Halves('1', 'y'), Halves('2', 'x'))), std::vector{SyncActionKind::PullUpdate});
  // Edited here, snoozed on the phone: this side's edit goes up.
  EXPECT_EQ(Kinds(plan(Halves('2', 'x'), Halves('1', 'y'))), std::vector{SyncActionKind::PushUpdate});
  // Edited on both sides: a conflict, whatever the alarms did.
  EXPECT_EQ(Kinds(plan(Halves('2', 'y'), Halves('3', 'x'))), std::vector{SyncActionKind::Conflict});
  // A first sync (no state) pairs the same content by UID although the alarms differ.
  LocalItem l = Local("a");
  l.fingerprint = Halves('1', 'y');
  RemoteItem r = Fetched("a", "");
  r.fingerprint = Halves('1', 'z');
  EXPECT_EQ(Kinds(PlanSync(SyncState(), {l}, Listing({r}), kNow)), std::vector{SyncActionKind::Adopt});
  r.fingerprint = Halves('2', 'z');
  EXPECT_EQ(Kinds(PlanSync(SyncState(), {l}, Listing({r}), kNow)), std::vector{SyncActionKind::Conflict});
}

TEST(SyncFingerprint, TellsContentNotItsCalendarUidOrDisplayTexts) {
  ReminderRecord r;
  r.event = "Appointment";
  r.activityText = "Dentist";
  r.memo = "Bring the card.";
  r.eventDate = QDate(2027, 1, 5);
  r.startTime = 540;
  const QByteArray base = ReminderFingerprint(r);
  ASSERT_EQ(base.size(), kFingerprintBytes);
  ReminderRecord same = r;
  same.memo = "Bring the card.\n\n[iCalendar]\nUID:x@example.org";
  same.timeText = "9:00 AM";
  EXPECT_EQ(ReminderFingerprint(same), base);
  // A snooze is a change; a series' alarm moving on with it is not.
  same.alarmDate = QDate(2027, 1, 4);
  EXPECT_NE(ReminderFingerprint(same), base);
  EXPECT_TRUE(SameContent(ReminderFingerprint(same), base));
  ReminderRecord other = r;
  other.startTime = 600;
  EXPECT_FALSE(SameContent(ReminderFingerprint(other), base));
  other = r;
  other.activityText = "Dentis";
  other.memo = "tBring the card.";
  EXPECT_NE(ReminderFingerprint(other), base);
  other = r;
  other.memo = "Bring the card.\n\n[iCalendar]\nUID:x@example.org\nRRULE:FREQ=WEEKLY";
  EXPECT_NE(ReminderFingerprint(other), base);
  // A series moved on to its next occurrence says the same; its rule changed does not.
  ReminderRecord movedOn = other;
  movedOn.eventDate = r.eventDate.addDays(7);
  movedOn.startTime = 660;
  movedOn.alarmDate = movedOn.eventDate;
  movedOn.alarmTime = 600;
  EXPECT_EQ(ReminderFingerprint(movedOn), ReminderFingerprint(other));
  movedOn.memo.replace("WEEKLY", "DAILY");
  EXPECT_NE(ReminderFingerprint(movedOn), ReminderFingerprint(other));
  EXPECT_EQ(ConflictingCopyText("Dentist"), "Dentist (conflicting copy)");
}

}  // namespace
}  // namespace chimewise

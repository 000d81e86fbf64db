#include "exchange/sync_plan.h"

#include "data/reminder_record.h"

#include <gtest/gtest.h>

#include <QTimeZone>

namespace chimewise {
namespace {

const QString kCollection = "https://cal.example.org/dav/anna/reminders/";
const QDateTime kNow(QDate(2027, 3, 1), QTime(12, 0), Qt::UTC);

SyncEntry Entry(const char* uid) {
  return {
      uid,        QByteArray("rec-") + uid, QString("/cal/%1.ics").arg(uid), QString("\"%1-e1\"").arg(uid), "v1", "v1",
      QDateTime()};
}

LocalItem Local(const char* uid, const char* content = "v1", QDateTime changedAt = {}) {
  return {QByteArray("rec-") + uid, uid, content, changedAt};
}

// A member as listed: with the state's ETag it needs no fetch.
RemoteItem Listed(const char* uid, const char* etagSuffix = "e1") {
  return {QString("/cal/%1.ics").arg(uid), QString("\"%1-%2\"").arg(uid, etagSuffix), false, {}, {}, {}};
}

// A member fetched under a new ETag.
RemoteItem Fetched(const char* uid, const char* content, QDateTime modified = {}) {
  return {QString("/cal/%1.ics").arg(uid), QString("\"%1-e2\"").arg(uid), true, uid, content, modified};
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

// One synced reminder "a" (content v1 on both sides), then what each side did to it since.
TEST(SyncPlan, OneSyncedItemAgainstEachChangeOnEachSide) {
  const QDateTime earlier = kNow.addSecs(-3600);
  const struct {
    const char* what;
    std::optional<LocalItem> local;          // nullopt: deleted here
    std::optional<RemoteItem> remote;        // nullopt: gone from the (complete) listing
    std::optional<SyncActionKind> expected;  // nullopt: nothing to do
  } cases[] = {
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
  for (const auto& c : cases) {
    // A second, untouched item keeps the listing from being empty.
    std::vector<LocalItem> locals{Local("b")};
    if (c.local) locals.push_back(*c.local);
    std::vector<RemoteItem> remote{Listed("b")};
    if (c.remote) remote.push_back(*c.remote);
    const SyncPlan plan = PlanSync(State({Entry("a"), Entry("b")}), locals, Listing(remote), kNow);
    EXPECT_EQ(Kinds(plan), c.expected ? std::vector{*c.expected} : std::vector<SyncActionKind>{}) << c.what;
    EXPECT_FALSE(plan.incomplete) << c.what;
  }
}

TEST(SyncPlan, TheLaterChangeStaysInPlace) {
  const QDateTime t1 = kNow.addSecs(-7200), t2 = kNow.addSecs(-3600);
  const struct {
    const char* what;
    QDateTime localChanged;  // the reminder's edit stamp
    QDateTime seen;          // when the sync first saw its change
    QDateTime remoteModified;
    bool localWins;
  } cases[] = {
      {"edited here later", t2, {}, t1, true},
      {"edited on the server later", t1, {}, t2, false},
      {"the same moment: the server's stays", t1, {}, t1, false},
      {"the server's time unknown: the server's stays", t2, {}, {}, false},
      {"no edit stamp: first seen later", {}, t2, t1, true},
      {"no edit stamp, never seen: now", {}, {}, t2, true},
  };
  for (const auto& c : cases) {
    SyncEntry e = Entry("a");
    e.localChangeSeen = c.seen;
    const SyncPlan plan =
        PlanSync(State({e}), {Local("a", "v2", c.localChanged)}, Listing({Fetched("a", "v3", c.remoteModified)}), kNow);
    ASSERT_EQ(Kinds(plan), (std::vector{SyncActionKind::Conflict})) << c.what;
    EXPECT_EQ(plan.actions[0].localWins, c.localWins) << c.what;
    EXPECT_EQ(plan.actions[0].etag, "\"a-e2\"") << c.what;
  }
}

TEST(SyncPlan, NothingIsDeletedWhenTheServerCannotBeTrusted) {
  const SyncState state = State({Entry("a"), Entry("b")});
  const std::vector<LocalItem> locals{Local("a"), Local("b", "v2"), Local("new")};
  RemoteListing failed;  // unreachable, or an error answer
  failed.ok = false;
  SyncPlan plan = PlanSync(state, locals, failed, kNow);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_TRUE(plan.incomplete);

  // An empty listing though items were synced: suspicious, nothing of the known items is touched;
  // a reminder new here is still put on the server.
  plan = PlanSync(state, locals, Listing({}), kNow);
  EXPECT_TRUE(plan.suspiciousEmptyListing);
  EXPECT_TRUE(plan.incomplete);
  EXPECT_EQ(Kinds(plan), (std::vector{SyncActionKind::PushCreate}));
  EXPECT_EQ(plan.actions[0].recordId, "rec-new");
  // With nothing known it is just an empty calendar.
  EXPECT_FALSE(PlanSync(SyncState{}, {Local("a")}, Listing({}), kNow).suspiciousEmptyListing);
}

// A fingerprint tells content, not display texts; a snooze changes its alarm half only; a series
// moved on to its next occurrence says the same, its rule changed does not.
TEST(SyncFingerprint, TellsContentNotDisplayTexts) {
  ReminderRecord r;
  r.activityText = "Dentist";
  r.memo = "Bring the card.";
  r.eventDate = QDate(2027, 1, 5);
  r.startTime = 540;
  const QByteArray base = ReminderFingerprint(r, {});
  ReminderRecord other = r;
  other.timeText = "9:00 AM";
  EXPECT_EQ(ReminderFingerprint(other, {}), base);
  other.alarmDate = QDate(2027, 1, 4);
  EXPECT_NE(ReminderFingerprint(other, {}), base);
  EXPECT_TRUE(SameContent(ReminderFingerprint(other, {}), base));
  other = r;  // fields are kept apart
  other.activityText = "Dentis";
  other.memo = "tBring the card.";
  EXPECT_FALSE(SameContent(ReminderFingerprint(other, {}), base));
  const QStringList weekly{"DTSTART:20270105T090000Z", "RRULE:FREQ=WEEKLY"};
  ReminderRecord movedOn = r;
  movedOn.eventDate = r.eventDate.addDays(7);
  movedOn.startTime = 660;
  EXPECT_EQ(ReminderFingerprint(movedOn, weekly), ReminderFingerprint(r, weekly));
  EXPECT_FALSE(SameContent(ReminderFingerprint(r, weekly), base));
  EXPECT_FALSE(SameContent(ReminderFingerprint(r, {weekly[0], "RRULE:FREQ=DAILY"}), ReminderFingerprint(r, weekly)));
}

}  // namespace
}  // namespace chimewise

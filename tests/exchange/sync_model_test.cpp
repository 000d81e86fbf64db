// Random edits, deletions and creations on both sides, with syncs between that fail in part or race
// an edit: no version a user made is lost unless that user edited or deleted it afterwards, and a
// sync without failures leaves both sides the same with nothing more to do. The reminders and the
// server are plain maps; the executor below carries a plan out on them as the real one does
// (If-Match, If-None-Match, 412).

#include "exchange/sync_plan.h"
#include "exchange/sync_state.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <map>
#include <random>
#include <set>

namespace chimewise {
namespace {

const QString kCollection = "https://cal.example.org/dav/anna/reminders/";
const QString kCopyMark = " (conflicting copy)";

struct LocalRecord {
  QString uid;
  QString content;
  QDateTime changedAt;
};

struct Resource {
  QString uid;
  QString content;
  QString etag;
  QDateTime modified;
};

QByteArray Fp(const QString& content) { return content.toUtf8(); }

// The version a content is, conflicting-copy marks taken off.
QString VersionOf(QString content) {
  while (content.endsWith(kCopyMark)) content.chop(kCopyMark.size());
  return content;
}

class World {
 public:
  explicit World(unsigned seed) : m_rng(seed) {}

  std::map<QByteArray, LocalRecord> local;
  std::map<QString, Resource> server;
  std::set<QString> mustExist;  // every version no user has superseded or deleted

  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
  QDateTime Now() const { return QDateTime(QDate(2027, 1, 1), QTime(0, 0), Qt::UTC).addSecs(m_clock * 60); }
  QDateTime Tick() {
    ++m_clock;
    return Now();
  }

  // A new version made by a user: the one it replaces (if any) may go.
  QString NewVersion(const char* side, const QString& replaced = {}) {
    mustExist.erase(VersionOf(replaced));
    const QString content = QString("%1-%2").arg(side).arg(++m_next);
    mustExist.insert(content);
    return content;
  }
  template <typename Side>
  auto Any(Side& side) {
    return std::next(side.begin(), Pick(static_cast<int>(side.size())));
  }
  void LocalCreate() {
    const QString content = NewVersion("local");
    local[QByteArray("r") + QByteArray::number(m_next)] = {QString("L%1").arg(m_next), content, Tick()};
  }
  void LocalEdit() {
    if (local.empty()) return;
    auto it = Any(local);
    it->second = {it->second.uid, NewVersion("local", it->second.content), Tick()};
  }
  void LocalDelete() {
    if (local.empty()) return;
    auto it = Any(local);
    mustExist.erase(VersionOf(it->second.content));
    local.erase(it);
  }
  void RemoteCreate() {
    const QString content = NewVersion("remote");
    Put(QString("/cal/R%1.ics").arg(m_next), {QString("R%1").arg(m_next), content, NewEtag(), Tick()});
  }
  void RemoteEdit() {
    if (server.empty()) return;
    auto it = Any(server);
    Put(it->first, {it->second.uid, NewVersion("remote", it->second.content), NewEtag(), Tick()});
  }
  // Never the last one: a server that lists nothing is not trusted to have deleted everything.
  void RemoteDelete() {
    if (server.size() < 2) return;
    auto it = Any(server);
    mustExist.erase(VersionOf(it->second.content));
    Drop(it->first);
  }
  void LoseState() { m_saved = SyncState(); }  // the next sync is a first one

  struct Pass {
    size_t actions = 0;
    bool allSucceeded = true;
  };

  // One sync from the state saved by the last one; each action fails with `failRate`; with `race`
  // a reminder or the server's copy of one changes between the listing and the writes.
  Pass Sync(double failRate, bool race) {
    SyncState state = m_saved;
    if (state.empty()) state.collection = kCollection;
    std::vector<LocalItem> locals;
    // Some reminders do not tell when they were edited: the time the sync first saw it stands in.
    for (const auto& [id, r] : local)
      locals.push_back({id, r.uid, Fp(r.content), Chance(0.3) ? QDateTime() : r.changedAt});
    state = NoteLocalChanges(state, locals, Now());

    RemoteListing listing = ListChanges(state.syncToken);
    const QStringList fetch = HrefsToFetch(state, listing);
    for (RemoteItem& item : listing.items) {
      const Resource& r = server.at(item.href);
      if (fetch.contains(item.href)) item = {item.href, item.etag, true, r.uid, Fp(r.content), r.modified};
    }
    const SyncPlan plan = PlanSync(state, locals, listing, Now());
    if (race) Chance(0.5) ? RemoteEdit() : LocalEdit();

    Pass pass;
    pass.actions = plan.actions.size();
    for (const SyncAction& action : plan.actions) {
      const SyncOutcome outcome = Execute(action, failRate);
      if (outcome.result != SyncResult::Done || (action.kind == SyncActionKind::Conflict && !outcome.copy))
        pass.allSucceeded = false;
      state = ApplyOutcome(state, action, outcome);
    }
    state = FinishSync(state, kCollection, plan, listing, pass.allSucceeded);
    m_saved = state;
    Tick();
    return pass;
  }

  // Whether every version that must exist is held by one side or the other.
  QStringList Lost() const {
    std::set<QString> held;
    for (const auto& [id, r] : local) held.insert(VersionOf(r.content));
    for (const auto& [href, r] : server) held.insert(VersionOf(r.content));
    QStringList lost;
    for (const QString& v : mustExist)
      if (!held.contains(v)) lost.append(v);
    return lost;
  }

  // "uid=content" of each item of one side, sorted.
  template <typename Side>
  static std::string Describe(const Side& side) {
    std::multiset<QString> items;
    for (const auto& [key, r] : side) items.insert(r.uid + "=" + r.content);
    return QStringList(items.begin(), items.end()).join(' ').toStdString();
  }
  bool Converged() { return Describe(local) == Describe(server) && Sync(0.0, false).actions == 0; }

 private:
  QString NewEtag() { return QString("\"%1\"").arg(++m_etag); }

  // Every change on the server is numbered, so that a listing of the changes since a token can be
  // given (the token is the number of the last change listed).
  void Put(const QString& href, const Resource& r) {
    server[href] = r;
    m_changed[href] = ++m_version;
  }
  void Drop(QString href) {  // a copy: the key it names goes with the erase
    server.erase(href);
    m_changed[href] = ++m_version;
  }
  RemoteListing ListChanges(const QString& token) {
    RemoteListing listing;
    listing.ok = true;
    listing.syncToken = QString::number(m_version);
    listing.complete = token.isEmpty() || Chance(0.3);
    const int since = token.toInt();
    for (const auto& [href, r] : server)
      if (listing.complete || m_changed.at(href) > since) listing.items.push_back({href, r.etag, false, {}, {}, {}});
    for (const auto& [href, at] : m_changed)
      if (!listing.complete && at > since && !server.contains(href)) listing.removed.append(href);
    return listing;
  }

  SyncOutcome Result(SyncResult result, SyncedItem item = {}, std::optional<SyncedItem> copy = {}) {
    return {result, std::move(item), std::move(copy)};
  }

  SyncOutcome Execute(const SyncAction& a, double failRate) {
    if (Chance(failRate)) return Result(SyncResult::Failed);
    auto res = server.find(a.href);
    auto rec = local.find(a.recordId);
    if (a.kind == SyncActionKind::PullDelete && rec == local.end()) return Result(SyncResult::Done);  // gone already
    // The reminder edited since the plan was made: left for the next sync.
    const bool touchesLocal = a.kind != SyncActionKind::PullCreate && a.kind != SyncActionKind::PushDelete &&
                              a.kind != SyncActionKind::Adopt && a.kind != SyncActionKind::Forget;
    if (touchesLocal && (rec == local.end() || Fp(rec->second.content) != a.localFingerprint))
      return Result(SyncResult::PreconditionFailed);
    switch (a.kind) {
      case SyncActionKind::PullCreate: {
        if (res == server.end() || res->second.etag != a.etag) return Result(SyncResult::Failed);
        const QByteArray id = QByteArray("r") + QByteArray::number(++m_next);
        local[id] = {res->second.uid, res->second.content, res->second.modified};
        return Result(SyncResult::Done, {.recordId = id});
      }
      case SyncActionKind::PullUpdate:
        if (res == server.end() || res->second.etag != a.etag || rec == local.end()) return Result(SyncResult::Failed);
        rec->second = {rec->second.uid, res->second.content, res->second.modified};
        return Result(SyncResult::Done);
      case SyncActionKind::PullDelete: local.erase(a.recordId); return Result(SyncResult::Done);
      case SyncActionKind::PushCreate: {
        if (rec == local.end()) return Result(SyncResult::Failed);
        const QString href = "/cal/" + rec->second.uid + ".ics";
        if (server.contains(href)) return Result(SyncResult::PreconditionFailed);  // If-None-Match: *
        const QString etag = NewEtag();
        Put(href, {rec->second.uid, rec->second.content, etag, rec->second.changedAt});
        return Result(SyncResult::Done, {.href = href, .etag = etag});
      }
      case SyncActionKind::PushUpdate: {
        if (rec == local.end() || res == server.end()) return Result(SyncResult::Failed);
        if (res->second.etag != a.etag) return Result(SyncResult::PreconditionFailed);
        Put(a.href, {rec->second.uid, rec->second.content, NewEtag(), rec->second.changedAt});
        return Result(SyncResult::Done, {.etag = server.at(a.href).etag});
      }
      case SyncActionKind::PushDelete:
        if (res == server.end()) return Result(SyncResult::Done);  // gone already
        if (res->second.etag != a.etag) return Result(SyncResult::PreconditionFailed);
        Drop(a.href);
        return Result(SyncResult::Done);
      case SyncActionKind::Conflict: {
        if (rec == local.end() || res == server.end()) return Result(SyncResult::Failed);
        if (res->second.etag != a.etag) return Result(SyncResult::PreconditionFailed);
        QString copyContent;
        SyncedItem item;
        if (a.localWins) {
          copyContent = res->second.content + kCopyMark;
          Put(a.href, {res->second.uid, rec->second.content, NewEtag(), rec->second.changedAt});
          item.etag = server.at(a.href).etag;
        } else {
          copyContent = rec->second.content + kCopyMark;
          rec->second = {res->second.uid, res->second.content, res->second.modified};
        }
        const int n = ++m_next;
        const QByteArray copyId = QByteArray("r") + QByteArray::number(n);
        const QString copyUid = QString("C%1").arg(n);
        local[copyId] = {copyUid, copyContent, Now()};
        if (Chance(failRate)) return Result(SyncResult::Done, item);  // the copy is not on the server yet
        const QString copyHref = "/cal/" + copyUid + ".ics";
        const QString copyEtag = NewEtag();
        Put(copyHref, {copyUid, copyContent, copyEtag, Now()});
        return Result(SyncResult::Done, item,
                      SyncedItem{copyUid, copyId, copyHref, copyEtag, Fp(copyContent), Fp(copyContent)});
      }
      case SyncActionKind::Adopt:
      case SyncActionKind::Forget: return Result(SyncResult::Done);
    }
    return Result(SyncResult::Failed);
  }

  std::mt19937 m_rng;
  SyncState m_saved;
  std::map<QString, int> m_changed;  // the number of each member's last change
  int m_version = 0;
  int m_clock = 0;
  int m_next = 0;
  int m_etag = 0;
};

TEST(SyncModel, RandomEditsAndSyncsLoseNothingAndConverge) {
  int conflicts = 0, failedPasses = 0;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    World w(seed);
    for (int step = 0; step < 40; ++step) {
      switch (w.Pick(10)) {
        case 0: w.LocalCreate(); break;
        case 1: w.LocalEdit(); break;
        case 2: w.LocalDelete(); break;
        case 3: w.RemoteCreate(); break;
        case 4: w.RemoteEdit(); break;
        case 5: w.RemoteDelete(); break;
        case 6:
          if (w.Chance(0.1)) w.LoseState();
          break;
        default: {
          const bool clean = w.Chance(0.4);
          const World::Pass pass = w.Sync(clean ? 0.0 : 0.25, clean ? false : w.Chance(0.3));
          if (!pass.allSucceeded) ++failedPasses;
          // Nothing failed: both sides agree, and a second sync finds nothing to do.
          ASSERT_TRUE(!clean || w.Converged()) << World::Describe(w.local) << " / " << World::Describe(w.server);
        }
      }
      ASSERT_EQ(w.Lost(), QStringList()) << "step " << step;
    }
    // However it went, a sync without failures brings both sides together.
    w.Sync(0.0, false);
    ASSERT_TRUE(w.Converged()) << World::Describe(w.local) << " / " << World::Describe(w.server);
    ASSERT_EQ(w.Lost(), QStringList());
    for (const auto& [id, r] : w.local) conflicts += r.content.endsWith(kCopyMark);
  }
  // The runs reached what they are there to check.
  EXPECT_GT(conflicts, 20);
  EXPECT_GT(failedPasses, 50);
}

}  // namespace
}  // namespace chimewise

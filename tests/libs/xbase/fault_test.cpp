// Failing writes, disks that lose or change data, killed processes and a table replaced under an opener.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/xbase_fault_env.h"
#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using namespace testing;

// Live records by name: name -> (minutes, memo).
std::map<std::string, std::pair<int64_t, std::string>> LiveRows(const std::string& table) {
  std::map<std::string, std::pair<int64_t, std::string>> rows;
  Opened t(table);
  EXPECT_TRUE(t.s.ok()) << t.s.ToString();
  if (!t.s.ok()) return rows;
  Status s = t.wa->GoTop();
  for (; s.ok() && !t.wa->Eof(); s = t.wa->Skip(1)) {
    const std::string name = Trim(t.wa, "NAME");
    EXPECT_EQ(rows.count(name), 0u) << name;
    rows[name] = {Int(t.wa, "MINUTES"), Memo(t.wa, "NOTE")};
  }
  return rows;
}

// The index is either trusted and right, or reported as not to be trusted.
void ExpectIndexHonest(const std::string& table) {
  Opened t(table);
  ASSERT_OK(t.s);
  const Status index = t.wa->IndexStatus();
  EXPECT_TRUE(index.ok() ? CheckOf(t.wa).ok() : index.IsCorruption() || index.IsNotFound()) << index.ToString();
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    Opened t(table_, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    for (int i = 0; i < 300; ++i) {
      ASSERT_OK(AddRow(t.wa, "row" + std::to_string(i), "20260101", i));
      ASSERT_OK(t.wa->ReplaceMemo("NOTE", "memo " + std::to_string(i)));
      if (i % 4 == 0) ASSERT_OK(t.wa->Delete());
      ASSERT_OK(t.wa->Commit());
    }
    ASSERT_OK(t.wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"));
    ASSERT_OK(t.wa->IndexTag("N", "upper(NAME)", "!DELETED()"));
  }
  void Reindex() { ASSERT_OK(Opened(table_, OpenMode::kExclusive).wa->Reindex()); }
  // The table's three files copied into `d`.
  void CopyTableTo(const TempDir& d) const {
    for (const char* ext : {".DBF", ".FPT", ".CDX"})
      std::filesystem::copy_file(dir_.File(std::string("T") + ext), d.File(std::string("T") + ext));
  }
  // Runs `op` on `table` in a child process whose (n+1)th write kills it; the child's wait status
  // (exit 0: `op` succeeded without a fault).
  // How many writes `op` makes on a copy of the table, run whole.
  int64_t WritesOf(OpenMode mode, const std::function<Status(WorkArea*)>& op) const {
    TempDir copy;
    CopyTableTo(copy);
    FaultInjectionEnv env(Env::Default());
    Opened t(copy.File("T.DBF"), mode, &env);
    EXPECT_TRUE(t.s.ok() && op(t.wa).ok());
    return env.operations();
  }
  static int KilledAt(int64_t n, const std::string& table, OpenMode mode, const std::function<Status(WorkArea*)>& op) {
    pid_t pid = fork();
    if (pid == 0) {
      FaultInjectionEnv env(Env::Default());
      env.SetCrashHook([] { raise(SIGKILL); });
      env.FailAfter(n);
      Opened t(table, mode, &env);
      if (!t.s.ok()) _exit(3);
      if (!op(t.wa).ok()) _exit(4);
      _exit(env.faults() == 0 ? 0 : 5);
    }
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    return status;
  }
  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
};

TEST_F(FaultTest, FailedWritesAreReportedAndTheIndexIsNotTrustedAfterwards) {
  const auto before = LiveRows(table_);
  int failed_rounds = 0;
  int64_t commit_ops = -1;  // writes of a commit that succeeds
  for (int n = 0; n < 12; ++n) {
    SCOPED_TRACE(n);
    FaultInjectionEnv env(Env::Default());
    {
      Opened t(table_, OpenMode::kShared, &env);
      ASSERT_OK(t.s);
      ASSERT_OK(t.wa->Go(2));
      ASSERT_OK(t.wa->ReplaceInteger("MINUTES", 1000 + n));
      ASSERT_OK(t.wa->ReplaceMemo("NOTE", "changed " + std::to_string(n)));
      env.FailAfter(n);
      if (t.wa->Commit().ok()) {
        EXPECT_EQ(env.faults(), 0) << "a fault fired and the commit still reported success";
        if (commit_ops < 0) commit_ops = env.operations();
        continue;
      }
      ASSERT_EQ(env.faults(), 1);
      ++failed_rounds;
      EXPECT_EQ(t.wa->TagArea("K"), 0);  // this work area stops using the index at once
      env.FailAfter(-1);
      EXPECT_OK(AddRow(t.wa, "extra" + std::to_string(n), "20260101", 1));  // appends work without the index
    }
    ExpectIndexHonest(table_);
    auto after = LiveRows(table_);  // every other record is untouched
    for (const auto& [name, row] : before) EXPECT_TRUE(name == "row1" || after[name] == row) << name;
    Reindex();
  }
  // Round n faults the (n+1)th write: every round below the commit's write count failed.
  ASSERT_GT(commit_ops, 0);
  EXPECT_EQ(failed_rounds, commit_ops);
}

// A torn write leaves the old record and nothing commits a failed change later; Discard takes it back.
TEST_F(FaultTest, FailedChangesAreNeverCommittedImplicitly) {
  const std::string before = ReadAll(table_);
  {
    FaultInjectionEnv env(Env::Default());
    env.SetWriteFault(FaultInjectionEnv::WriteFault::kTorn);
    Opened t(table_, OpenMode::kShared, &env);
    ASSERT_OK(t.s);
    ASSERT_OK(t.wa->Go(2));
    ASSERT_OK(t.wa->Replace("NAME", "changed name"));
    ASSERT_OK(t.wa->ReplaceInteger("MINUTES", 999));
    env.FailAfter(1);  // the index's update mark goes through; the record write is torn
    EXPECT_TRUE(t.wa->Commit().IsIOError());
    ASSERT_EQ(env.faults(), 1);
    EXPECT_OK(t.e.CloseAll());
  }
  EXPECT_EQ(ReadAll(table_), before);  // the torn record was put back; Close committed nothing
  // The failed update left the index untrusted, as it should; rebuild it.
  EXPECT_TRUE(Opened(table_).wa->IndexStatus().IsCorruption());
  Reindex();
  {
    // A refused value after good ones: Close drops the half-made change.
    Opened t(table_);
    ASSERT_OK(t.wa->Go(3));
    ASSERT_OK(t.wa->Replace("NAME", "half made"));
    EXPECT_TRUE(t.wa->ReplaceInteger("MINUTES", 123456).IsInvalidArgument());
    EXPECT_OK(t.e.CloseAll());
  }
  EXPECT_EQ(ReadAll(table_), before);
  {
    // An append never committed is taken back by Discard, to the byte.
    Opened t(table_);
    ASSERT_OK(t.wa->AppendBlank());
    ASSERT_OK(t.wa->Replace("NAME", "never committed"));
    ASSERT_OK(t.wa->Discard());
    EXPECT_EQ(t.wa->RecCount(), 300u);
    EXPECT_OK(CheckOf(t.wa));
  }
  const std::string after = ReadAll(table_);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(4), before.substr(4));  // all but the last-update date
}

// Each write of a pack cut short or changed silently: a packed table that differs never goes in place.
TEST_F(FaultTest, APackWrittenShortOrChangedIsNeverPutInPlace) {
  const std::string table = dir_.File("S.DBF");
  ASSERT_OK(CreateTable(Env::Default(), table, {{"NAME", 'C', 20}, {"MINUTES", 'N', 4}}));
  {
    Opened t(table, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    for (int i = 0; i < 3000; ++i) {
      ASSERT_OK(t.wa->AppendBlank());
      ASSERT_OK(t.wa->Replace("NAME", "row" + std::to_string(i)));
      ASSERT_OK(t.wa->ReplaceInteger("MINUTES", i % 1440));
      if (i % 3 == 0) ASSERT_OK(t.wa->Delete());
      ASSERT_OK(t.wa->Commit());
    }
  }
  const std::string before = ReadAll(table);
  std::string packed;  // the pack's result on a sound disk
  {
    TempDir work;
    std::filesystem::copy_file(table, work.File("S.DBF"));
    ASSERT_OK(Opened(work.File("S.DBF"), OpenMode::kExclusive).wa->Pack());
    packed = ReadAll(work.File("S.DBF"));
  }
  for (const auto kind : {FaultInjectionEnv::WriteFault::kShort, FaultInjectionEnv::WriteFault::kChanged}) {
    int refused = 0;
    for (int64_t n = 0;; ++n) {
      SCOPED_TRACE(n);
      TempDir work;
      const std::string copy = work.File("S.DBF");
      std::filesystem::copy_file(table, copy);
      FaultInjectionEnv env(Env::Default());
      env.SetWriteFault(kind);
      env.FailAfter(n);
      Status s;
      {
        Opened t(copy, OpenMode::kExclusive, &env);
        ASSERT_OK(t.s);
        s = t.wa->Pack();
      }
      if (env.faults() == 0) break;  // past the last write: the pack ran whole
      refused += !s.ok() && env.last_fault() == "write";
      // Either nothing changed or the table is packed right (its end-of-file byte aside).
      const std::string now = ReadAll(copy);
      EXPECT_TRUE(now == before || now.substr(0, packed.size() - 1) == packed.substr(0, packed.size() - 1))
          << s.ToString();
    }
    EXPECT_GE(refused, 1);  // a damaged batch of records is refused
  }
}

// Maintenance killed at each write, rename and removal keeps every live record; the index is right or told.
class KilledHalfWay : public FaultTest, public ::testing::WithParamInterface<const char*> {
 protected:
  static Status Run(const std::string& op, WorkArea* wa) {
    if (op == "pack") return wa->Pack();
    if (op == "reindex") return wa->Reindex();
    // The program's rebuild: drop the index, pack, create the tags again, all at once.
    XBASE_RETURN_IF_ERROR(wa->DropIndex());
    XBASE_RETURN_IF_ERROR(wa->Pack());
    return wa->CreateIndex({{"K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"}, {"N", "upper(NAME)", "!DELETED()"}});
  }
};

TEST_P(KilledHalfWay, LosesNothing) {
  const std::string op = GetParam();
  const auto live = LiveRows(table_);
  ASSERT_EQ(live.size(), 225u);
  const int64_t total = WritesOf(OpenMode::kExclusive, [&](WorkArea* wa) { return Run(op, wa); });
  std::set<uint32_t> counts;
  for (int64_t n = 0; n <= total; ++n) {
    // Every point near the start and the whole commit phase at the end; a sample between.
    if (n > 12 && n < total - 20 && n % 23 != 0) continue;
    SCOPED_TRACE(n);
    TempDir work;
    CopyTableTo(work);
    const std::string table = work.File("T.DBF");
    const int status = KilledAt(n, table, OpenMode::kExclusive, [&](WorkArea* wa) { return Run(op, wa); });
    // Killed where the fault fires; only the point past the last operation finishes.
    ASSERT_TRUE(n < total ? WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL
                          : WIFEXITED(status) && !WEXITSTATUS(status))
        << status;
    EXPECT_EQ(LiveRows(table), live);
    ExpectIndexHonest(table);
    Opened t(table);
    ASSERT_OK(t.s);
    counts.insert(t.wa->RecCount());
    // An index in use holds every tag: a build stopped half way leaves none, never some.
    EXPECT_TRUE(!t.wa->IndexStatus().ok() || t.wa->Tags().size() == 2u);
    const bool half_built = t.wa->IndexStatus().IsNotFound() && std::filesystem::exists(work.File("T.CDX.building"));
    EXPECT_TRUE(!half_built || CheckOf(t.wa).IsCorruption());  // a build stopped half way is reported
    EXPECT_FALSE(std::filesystem::exists(table + ".pack-commit"));
  }
  // Both outcomes occur: early kills keep the old file, late ones finish the pack.
  EXPECT_TRUE(op == "reindex" || (counts == std::set<uint32_t>{225u, 300u}));
}

// A batch of rewrites and appends killed at any write: every record is as before or as the batch
// made it (an append not committed is a blank record, as outside a batch), and the
// index is honest: trusted and agreeing with the records, or not trusted at all.
TEST_F(FaultTest, ABatchKilledAtAnyWriteLeavesAnHonestIndex) {
  const auto before = LiveRows(table_);
  const auto batch = [](WorkArea* wa) -> Status {
    XBASE_RETURN_IF_ERROR(wa->BeginBatch());
    for (uint32_t r : {2u, 3u, 4u}) {
      XBASE_RETURN_IF_ERROR(wa->Go(r));
      XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("MINUTES", 1000 + r - 1));
      XBASE_RETURN_IF_ERROR(wa->Commit());
    }
    for (int i = 0; i < 10; ++i) XBASE_RETURN_IF_ERROR(AddRow(wa, "batch" + std::to_string(i), "20270101", i));
    XBASE_RETURN_IF_ERROR(wa->AppendBlank());  // never filled: indexed blank by the batch's end
    return wa->EndBatch();
  };
  const int64_t total = WritesOf(OpenMode::kShared, batch);
  for (int64_t n = 0; n <= total; ++n) {
    SCOPED_TRACE(n);
    TempDir work;
    CopyTableTo(work);
    const std::string table = work.File("T.DBF");
    const int status = KilledAt(n, table, OpenMode::kShared, batch);
    ASSERT_TRUE(n < total ? WIFSIGNALED(status) : WIFEXITED(status) && !WEXITSTATUS(status)) << status;
    ExpectIndexHonest(table);
    for (const auto& [name, row] : LiveRows(table)) {
      if (name.rfind("batch", 0) == 0) {
        EXPECT_EQ(std::to_string(row.first), name.substr(5));
      } else if (!name.empty()) {
        ASSERT_EQ(before.count(name), 1u) << name;
        EXPECT_TRUE(row == before.at(name) || row.first == before.at(name).first + 1000) << name;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Maintenance, KilledHalfWay, ::testing::Values("pack", "reindex", "rebuild"));

// A pack replaces the table between an opener's open and its lock: the opener opens again.
TEST_F(FaultTest, AnOpenerThatLockedAReplacedTableOpensAgain) {
  FaultInjectionEnv env(Env::Default());
  int packs = 0;
  env.SetLockHook([&] {
    ASSERT_OK(Opened(table_, OpenMode::kExclusive, nullptr, "P").wa->Pack());
    ++packs;
  });
  {
    Opened t(table_, OpenMode::kShared, &env);
    ASSERT_OK(t.s);
    ASSERT_EQ(env.lock_hooks_run(), 1);
    ASSERT_EQ(packs, 1);
    EXPECT_EQ(t.wa->RecCount(), 225u);  // the packed table, not the replaced one
    ASSERT_OK(AddRow(t.wa, "after the pack", "20260101", 7));
    EXPECT_EQ(t.wa->RecNo(), 226u);
  }
  const auto rows = LiveRows(table_);
  EXPECT_EQ(rows.size(), 226u);
  EXPECT_EQ(rows.count("after the pack"), 1u);
  ExpectIndexHonest(table_);
}

}  // namespace
}  // namespace xbase

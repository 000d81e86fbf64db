// Failing writes, killed processes and two writers at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "support/xbase_fault_env.h"
#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using testing::AddRow;
using testing::SampleFields;
using testing::TempDir;

// Live records by name: name -> (minutes, memo).
std::map<std::string, std::pair<int64_t, std::string>> LiveRows(const std::string& table) {
  std::map<std::string, std::pair<int64_t, std::string>> rows;
  Engine e;
  int area = 0;
  Status s = e.Use(table, "T", OpenMode::kShared, &area);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (!s.ok()) return rows;
  WorkArea* wa = e.Current();
  for (s = wa->GoTop(); s.ok() && !wa->Eof(); s = wa->Skip(1)) {
    std::string name, memo;
    int64_t minutes = 0;
    EXPECT_OK(wa->GetTrimString("NAME", &name));
    EXPECT_OK(wa->GetInteger("MINUTES", &minutes));
    EXPECT_OK(wa->GetMemo("NOTE", &memo));
    EXPECT_EQ(rows.count(name), 0u) << name;
    rows[name] = {minutes, memo};
  }
  EXPECT_OK(s);
  return rows;
}

// The index is either trusted and right, or reported as not to be trusted.
void ExpectIndexHonest(const std::string& table) {
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table, "T", OpenMode::kShared, &area));
  WorkArea* wa = e.Current();
  if (!wa->IndexStatus().ok()) {
    EXPECT_TRUE(wa->IndexStatus().IsCorruption() || wa->IndexStatus().IsNotFound()) << wa->IndexStatus().ToString();
    return;
  }
  std::vector<std::string> report;
  Status s = wa->Check(&report);
  EXPECT_TRUE(s.ok()) << s.ToString();
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    WorkArea* wa = e.Current();
    for (int i = 0; i < 300; ++i) {
      ASSERT_OK(AddRow(wa, "row" + std::to_string(i), "20260101", i));
      ASSERT_OK(wa->ReplaceMemo("NOTE", "memo " + std::to_string(i)));
      if (i % 4 == 0) ASSERT_OK(wa->Delete());
      ASSERT_OK(wa->Commit());
    }
    ASSERT_OK(wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"));
    ASSERT_OK(wa->IndexTag("N", "upper(NAME)", "!DELETED()"));
  }
  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
};

TEST_F(FaultTest, FailedWritesAreReportedAndTheIndexIsNotTrustedAfterwards) {
  const auto before = LiveRows(table_);
  int failed_rounds = 0;
  int64_t commit_ops = -1;  // writes of a commit that succeeds
  for (int n = 0; n < 12; ++n) {
    FaultInjectionEnv env(Env::Default());
    {
      Engine e(&env);
      int area = 0;
      ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
      WorkArea* wa = e.Current();
      ASSERT_OK(wa->Go(2));
      ASSERT_OK(wa->ReplaceInteger("MINUTES", 1000 + n));
      ASSERT_OK(wa->ReplaceMemo("NOTE", "changed " + std::to_string(n)));
      env.FailAfter(n);
      Status s = wa->Commit();
      if (s.ok()) {
        EXPECT_EQ(env.faults(), 0) << "a fault fired and the commit still reported success, round " << n;
        if (commit_ops < 0) commit_ops = env.operations();
        EXPECT_OK(wa->IndexStatus());
        continue;
      }
      ASSERT_EQ(env.faults(), 1) << "round " << n;
      ++failed_rounds;
      EXPECT_TRUE(s.IsIOError()) << s.ToString();
      EXPECT_FALSE(wa->IndexStatus().ok());  // this work area stops using it at once
      EXPECT_EQ(wa->TagArea("K"), 0);
      env.FailAfter(-1);
      // Appends still work on the table without the index.
      EXPECT_OK(AddRow(wa, "extra" + std::to_string(n), "20260101", 1));
    }
    ExpectIndexHonest(table_);
    // Every other record is untouched.
    auto after = LiveRows(table_);
    for (const auto& [name, row] : before) {
      if (name == "row1") continue;
      ASSERT_TRUE(after.count(name)) << name;
      EXPECT_EQ(after[name], row) << name;
    }
    // Repair for the next round.
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    ASSERT_OK(e.Current()->Reindex());
  }
  // Round n faults the (n+1)th write: every round below the commit's write count failed.
  ASSERT_GT(commit_ops, 0);
  EXPECT_EQ(failed_rounds, commit_ops);
}

// A record write that fails part way (a torn write) leaves the old record in the file,
// and neither Close nor a move commits the changes afterwards. Discard drops pending
// changes and takes back an append that was never committed.
TEST_F(FaultTest, FailedChangesAreNeverCommittedImplicitly) {
  const std::string before = testing::ReadAll(table_);
  {
    FaultInjectionEnv env(Env::Default());
    env.SetTornWrites(true);
    Engine e(&env);
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
    WorkArea* wa = e.Current();
    ASSERT_OK(wa->Go(2));
    ASSERT_OK(wa->Replace("NAME", "changed name"));
    ASSERT_OK(wa->ReplaceInteger("MINUTES", 999));
    env.FailAfter(1);  // the index's update mark goes through; the record write is torn
    Status s = wa->Commit();
    ASSERT_EQ(env.faults(), 1);
    EXPECT_TRUE(s.IsIOError()) << s.ToString();
    EXPECT_TRUE(wa->HasPendingChanges());
    EXPECT_EQ(testing::ReadAll(table_), before);  // the torn record was put back
    EXPECT_OK(e.Close(area));
    EXPECT_EQ(env.faults(), 1);
  }
  EXPECT_EQ(testing::ReadAll(table_), before);  // Close committed nothing
  {
    // The failed update left the index untrusted, as it should; rebuild it.
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    EXPECT_TRUE(e.Current()->IndexStatus().IsCorruption());
    ASSERT_OK(e.Current()->Reindex());
  }

  // A refused value after good ones: Close drops the half-made change.
  {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
    WorkArea* wa = e.Current();
    ASSERT_OK(wa->Go(3));
    ASSERT_OK(wa->Replace("NAME", "half made"));
    EXPECT_TRUE(wa->ReplaceInteger("MINUTES", 123456).IsInvalidArgument());
    EXPECT_OK(e.Close(area));
  }
  EXPECT_EQ(testing::ReadAll(table_), before);

  // An append never committed is taken back by Discard, to the byte.
  {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
    WorkArea* wa = e.Current();
    ASSERT_OK(wa->AppendBlank());
    ASSERT_OK(wa->Replace("NAME", "never committed"));
    EXPECT_EQ(wa->RecCount(), 301u);
    ASSERT_OK(wa->Discard());
    EXPECT_FALSE(wa->HasPendingChanges());
    EXPECT_TRUE(wa->Eof());
    EXPECT_EQ(wa->RecCount(), 300u);
    EXPECT_OK(wa->IndexStatus());
    std::vector<std::string> report;
    EXPECT_OK(wa->Check(&report));
  }
  const std::string after = testing::ReadAll(table_);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(4), before.substr(4));  // all but the last-update date
}

// A disk that loses the end of a write without saying so: pack reads the packed table
// back before it commits, and a table that does not hold every live record as written is
// never put in place. Every write of the pack is made short in turn.
TEST_F(FaultTest, APackWrittenShortIsNeverPutInPlace) {
  const std::string table = dir_.File("S.DBF");
  ASSERT_OK(CreateTable(Env::Default(), table, {{"NAME", 'C', 20}, {"MINUTES", 'N', 4}}));
  {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table, "S", OpenMode::kExclusive, &area));
    WorkArea* wa = e.Current();
    for (int i = 0; i < 3000; ++i) {
      ASSERT_OK(wa->AppendBlank());
      ASSERT_OK(wa->Replace("NAME", "row" + std::to_string(i)));
      ASSERT_OK(wa->ReplaceInteger("MINUTES", i % 1440));
      if (i % 3 == 0) ASSERT_OK(wa->Delete());
      ASSERT_OK(wa->Commit());
    }
  }
  const std::string before = [&] {
    std::ifstream f(table, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }();
  auto live_names = [](const std::string& path) {
    std::set<std::string> names;
    Engine e;
    int area = 0;
    EXPECT_OK(e.Use(path, "S", OpenMode::kShared, &area));
    for (Status s = e.Current()->GoTop(); s.ok() && !e.Current()->Eof(); s = e.Current()->Skip(1)) {
      std::string name;
      EXPECT_OK(e.Current()->GetTrimString("NAME", &name));
      names.insert(name);
    }
    return names;
  };
  const std::set<std::string> live = live_names(table);
  ASSERT_EQ(live.size(), 2000u);
  int refused = 0;
  for (int64_t n = 0;; ++n) {
    TempDir work;
    const std::string copy = work.File("S.DBF");
    std::filesystem::copy_file(table, copy);
    FaultInjectionEnv env(Env::Default());
    env.SetShortWrites(true);
    env.FailAfter(n);
    Engine e(&env);
    int area = 0;
    ASSERT_OK(e.Use(copy, "S", OpenMode::kExclusive, &area));
    const Status s = e.Current()->Pack();
    ASSERT_OK(e.CloseAll());
    if (env.faults() == 0) break;  // past the last write: the pack ran whole
    if (!s.ok() && env.last_fault() == "write") {
      ++refused;
      EXPECT_NE(s.message().find("pack stopped, nothing changed"), std::string::npos) << n << ": " << s.ToString();
      std::ifstream f(copy, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), before) << "write " << n;
    }
    EXPECT_EQ(live_names(copy), live) << "write " << n << ": " << s.ToString();
  }
  // A short batch of records is refused (the other writes are whole again by the end:
  // the header is written once more, in full, after the records).
  EXPECT_GE(refused, 1);
}

// Each maintenance operation stopped at each of its writes, renames and
// removals in turn (the child process kills itself there) leaves a table that
// opens with every live record and an index that is right or reported.
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
  auto copy_to = [&](const TempDir& d) {
    for (const char* ext : {".DBF", ".FPT", ".CDX"}) {
      std::filesystem::copy_file(dir_.File(std::string("T") + ext), d.File(std::string("T") + ext));
    }
  };
  int64_t total = 0;
  {
    TempDir copy;
    copy_to(copy);
    FaultInjectionEnv env(Env::Default());
    Engine e(&env);
    int area = 0;
    ASSERT_OK(e.Use(copy.File("T.DBF"), "T", OpenMode::kExclusive, &area));
    ASSERT_OK(Run(op, e.Current()));
    total = env.operations();
    ASSERT_GT(total, 1);
    ASSERT_EQ(env.faults(), 0);
  }
  std::set<uint32_t> counts;
  for (int64_t n = 0; n <= total; ++n) {
    // Every point near the start and the whole commit phase at the end; a sample between.
    if (n > 12 && n < total - 20 && n % 23 != 0) continue;
    TempDir work;
    copy_to(work);
    const std::string table = work.File("T.DBF");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      FaultInjectionEnv env(Env::Default());
      env.SetCrashHook([] { raise(SIGKILL); });
      env.FailAfter(n);
      Engine e(&env);
      int area = 0;
      if (!e.Use(table, "T", OpenMode::kExclusive, &area).ok()) _exit(3);
      if (!Run(op, e.Current()).ok()) _exit(4);
      _exit(env.faults() == 0 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    // The hook kills the child when the fault fires; only the point past the last
    // operation lets it finish, with no fault injected.
    if (n < total) {
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
          << op << " fault point " << n << " status " << status;
    } else {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << op << " fault point " << n << " status " << status;
    }
    EXPECT_EQ(LiveRows(table), live) << op << " fault point " << n;
    ExpectIndexHonest(table);
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table, "T", OpenMode::kShared, &area));
    counts.insert(e.Current()->RecCount());
    // An index in use holds every tag: a build stopped half way leaves none, never some.
    if (e.Current()->IndexStatus().ok()) {
      EXPECT_EQ(e.Current()->Tags().size(), 2u) << op << " fault point " << n;
    }
    std::vector<std::string> report;
    if (e.Current()->IndexStatus().IsNotFound() && op == "rebuild" &&
        std::filesystem::exists(work.File("T.CDX.building"))) {
      EXPECT_TRUE(e.Current()->Check(&report).IsCorruption()) << "fault point " << n;
    }
    EXPECT_FALSE(std::filesystem::exists(table + ".pack-commit")) << "fault point " << n;
  }
  if (op != "reindex") {
    // Both outcomes occur: early kills keep the old file, late ones finish the pack.
    EXPECT_EQ(counts, (std::set<uint32_t>{225u, 300u}));
  }
}

INSTANTIATE_TEST_SUITE_P(Maintenance, KilledHalfWay, ::testing::Values("pack", "reindex", "rebuild"));

// A pack replaces the table between an opener's open and its lock (the hook runs the
// pack there). The opener must notice that the file it locked is no longer the table
// and open again: an append it makes lands in the table everyone else sees.
TEST_F(FaultTest, AnOpenerThatLockedAReplacedTableOpensAgain) {
  FaultInjectionEnv env(Env::Default());
  int packs = 0;
  env.SetLockHook([&] {
    Engine packer;
    int area = 0;
    ASSERT_OK(packer.Use(table_, "P", OpenMode::kExclusive, &area));
    ASSERT_OK(packer.Current()->Pack());
    ++packs;
  });
  Engine e(&env);
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  ASSERT_EQ(env.lock_hooks_run(), 1);
  ASSERT_EQ(packs, 1);
  WorkArea* wa = e.Current();
  EXPECT_EQ(wa->RecCount(), 225u);  // the packed table, not the replaced one
  ASSERT_OK(AddRow(wa, "after the pack", "20260101", 7));
  EXPECT_EQ(wa->RecNo(), 226u);
  ASSERT_OK(e.CloseAll());
  const auto rows = LiveRows(table_);
  EXPECT_EQ(rows.size(), 226u);
  EXPECT_EQ(rows.count("after the pack"), 1u);
  ExpectIndexHonest(table_);
}

// Two processes append 1,000 records each in shared use at the same time.
TEST_F(FaultTest, TwoProcessesAppendingAtOnce) {
  constexpr int kEach = 1000;
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = fork();
    ASSERT_GE(kids[k], 0);
    if (kids[k] == 0) {
      Engine e;
      int area = 0;
      if (!e.Use(table_, "W", OpenMode::kShared, &area).ok()) _exit(3);
      WorkArea* wa = e.Current();
      for (int i = 0; i < kEach; ++i) {
        std::string name = "p" + std::to_string(k) + "-" + std::to_string(i);
        Status s = wa->AppendBlank();
        if (s.ok()) s = wa->Replace("NAME", name);
        if (s.ok()) s = wa->Replace("WHEN", k ? "20270101" : "20250101");
        if (s.ok()) s = wa->ReplaceInteger("MINUTES", i % 1440);
        if (s.ok()) s = wa->ReplaceMemo("NOTE", "memo of " + name);
        if (s.ok()) s = wa->Commit();
        if (s.ok()) s = wa->Unlock(wa->RecNo());
        if (!s.ok()) {
          fprintf(stderr, "writer %d: %s\n", k, s.ToString().c_str());
          _exit(4);
        }
      }
      _exit(0);
    }
  }
  // A reader walks the table meanwhile: every record it sees is either the
  // blank just appended or complete (name, minutes and memo belong together).
  pid_t reader = fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    Engine e;
    int area = 0;
    if (!e.Use(table_, "R", OpenMode::kShared, &area).ok()) _exit(3);
    WorkArea* wa = e.Current();
    for (int pass = 0; pass < 15; ++pass) {
      for (Status s = wa->GoTop(); !wa->Eof(); s = wa->Skip(1)) {
        if (!s.ok()) _exit(4);
        std::string name, memo;
        int64_t minutes = 0;
        if (!wa->GetTrimString("NAME", &name).ok() || !wa->GetMemo("NOTE", &memo).ok() ||
            !wa->GetInteger("MINUTES", &minutes).ok()) {
          _exit(5);
        }
        if (name.empty() || name[0] != 'p') continue;
        if (memo != "memo of " + name || minutes != std::stoi(name.substr(name.find('-') + 1)) % 1440) _exit(6);
      }
    }
    _exit(0);
  }
  for (pid_t kid : {kids[0], kids[1], reader}) {
    int status = 0;
    ASSERT_EQ(waitpid(kid, &status, 0), kid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << (kid == reader ? "reader " : "writer ") << status;
  }
  auto rows = LiveRows(table_);
  int found = 0;
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < kEach; ++i) {
      std::string name = "p" + std::to_string(k) + "-" + std::to_string(i);
      auto it = rows.find(name);
      ASSERT_NE(it, rows.end()) << name;
      EXPECT_EQ(it->second.first, i % 1440);
      EXPECT_EQ(it->second.second, "memo of " + name);
      ++found;
    }
  }
  EXPECT_EQ(found, 2 * kEach);
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  EXPECT_EQ(e.Current()->RecCount(), 300u + 2 * kEach);
  std::vector<std::string> report;
  EXPECT_OK(e.Current()->Check(&report));
  EXPECT_TRUE(e.CloseAll().ok());
  // The command-line tool agrees.
  std::string cmd = std::string(XBASE_TOOL_PATH) + " check " + table_ + " > /dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace
}  // namespace xbase

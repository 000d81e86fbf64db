// Waiting for another program's lock on the table: every wait ends at the settings' deadline with
// Busy, and a call that gives up has changed nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "support/table_lock_holder.h"
#include "test_util.h"

namespace xbase {
namespace {

using chimewise::testsupport::TableLockHolder;
using testing::AddRow;
using testing::SampleFields;
using testing::TempDir;

// Far beyond any deadline these tests set: a call still waiting then waits without one.
constexpr std::chrono::seconds kHangGuard{30};

// Runs `call` on a thread of its own. When it is still waiting after kHangGuard the test fails,
// and the holder lets go so that the call, and with it the test, can end.
Status GuardedCall(const std::function<Status()>& call, TableLockHolder& holder) {
  std::promise<Status> done;
  std::future<Status> result = done.get_future();
  std::thread worker([&] { done.set_value(call()); });
  if (result.wait_for(kHangGuard) != std::future_status::ready) {
    ADD_FAILURE() << "still waiting for the lock after " << kHangGuard.count() << " s";
    holder.release();
  }
  worker.join();
  return result.get();
}

class LockWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    int area = 0;
    ASSERT_OK(engine_.Use(table_, "A", OpenMode::kShared, &area));
    wa_ = engine_.Area(area);
    ASSERT_OK(AddRow(wa_, "one", "20261207", 600));
    ASSERT_OK(AddRow(wa_, "two", "20261208", 660));
    engine_.settings().lock_wait_ms = 100;
  }
  // Every file of the table (table, memo, index), byte for byte.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      files[entry.path().filename().string()] = bytes.str();
    }
    return files;
  }
  std::string Name(uint32_t recno) {
    std::string name;
    EXPECT_OK(wa_->Go(recno));
    EXPECT_OK(wa_->GetTrimString("NAME", &name));
    return name;
  }

  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
  Engine engine_;
  WorkArea* wa_ = nullptr;
};

TEST_F(LockWaitTest, OpeningGivesUpAtItsDeadlineAndOpensNothing) {
  TableLockHolder holder(table_);
  ASSERT_TRUE(holder.holdTable());
  for (int wait_ms : {100, 0}) {  // 0: one try
    SCOPED_TRACE(wait_ms);
    Engine other;
    other.settings().lock_wait_ms = wait_ms;
    int area = -1;
    const Status s = GuardedCall([&] { return other.Use(table_, "B", OpenMode::kShared, &area); }, holder);
    EXPECT_TRUE(s.IsBusy()) << s.ToString();
    EXPECT_NE(s.message().find("in use by another user or program"), std::string::npos) << s.message();
    EXPECT_EQ(area, 0);
    EXPECT_EQ(other.WorkAreaOf("B"), 0);
  }
  holder.release();
  Engine other;
  int area = 0;
  ASSERT_OK(other.Use(table_, "B", OpenMode::kShared, &area));
  EXPECT_EQ(other.Area(area)->RecCount(), 2u);
}

TEST_F(LockWaitTest, ReadsGiveUpAtTheDeadline) {
  TableLockHolder holder(table_);
  ASSERT_TRUE(holder.holdTable());
  EXPECT_TRUE(GuardedCall([&] { return wa_->GoTop(); }, holder).IsBusy());
  EXPECT_TRUE(GuardedCall([&] { return wa_->Go(2); }, holder).IsBusy());
  std::vector<std::string> report;
  EXPECT_TRUE(GuardedCall([&] { return wa_->Check(&report); }, holder).IsBusy());
  holder.release();
  EXPECT_EQ(Name(2), "two");
}

TEST_F(LockWaitTest, AWriteThatGivesUpChangesNothingAndKeepsItsChangesPending) {
  ASSERT_OK(wa_->Go(1));
  ASSERT_OK(wa_->Replace("NAME", "changed"));
  ASSERT_OK(wa_->ReplaceMemo("NOTE", "a note"));
  const auto before = Files();
  TableLockHolder holder(table_);
  ASSERT_TRUE(holder.holdTable());

  const Status s = GuardedCall([&] { return wa_->Commit(); }, holder);
  EXPECT_TRUE(s.IsBusy()) << s.ToString();
  EXPECT_NE(s.message().find(table_), std::string::npos) << s.message();
  EXPECT_TRUE(wa_->HasPendingChanges());
  EXPECT_TRUE(Files() == before) << "the table's files changed";

  // Another work area's append is refused the same way, and leaves no record behind.
  Engine other;
  other.settings().lock_wait_ms = 50;
  int area = 0;
  holder.release();
  ASSERT_OK(other.Use(table_, "B", OpenMode::kShared, &area));
  TableLockHolder again(table_);
  ASSERT_TRUE(again.holdTable());
  EXPECT_TRUE(GuardedCall([&] { return other.Area(area)->AppendBlank(); }, again).IsBusy());
  EXPECT_TRUE(Files() == before) << "the table's files changed";
  again.release();

  // Once the table is free the same changes are written.
  ASSERT_OK(wa_->Commit());
  ASSERT_OK(wa_->Unlock());
  EXPECT_EQ(Name(1), "changed");
  std::string note;
  ASSERT_OK(wa_->GetMemo("NOTE", &note));
  EXPECT_EQ(note, "a note");
  EXPECT_EQ(wa_->RecCount(), 2u);
}

TEST_F(LockWaitTest, AHolderThatLetsGoBeforeTheDeadlineIsWaitedFor) {
  engine_.settings().lock_wait_ms = 60000;
  ASSERT_OK(wa_->Go(2));
  ASSERT_OK(wa_->Replace("NAME", "waited"));
  TableLockHolder holder(table_);
  ASSERT_TRUE(holder.holdTable());
  // The holder lets go while the commit waits (or, on a slow machine, before it starts: the
  // commit then has the table at once, which proves nothing but fails nothing either).
  std::thread letGo([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holder.release();
  });
  const Status s = wa_->Commit();
  letGo.join();
  ASSERT_OK(s);
  ASSERT_OK(wa_->Unlock());
  EXPECT_EQ(Name(2), "waited");
}

}  // namespace
}  // namespace xbase

// Waiting for another program's lock on the table: every wait ends at the settings' deadline with
// Busy, and a call that gives up has changed nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <thread>

#include "support/table_lock_holder.h"
#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using chimewise::testsupport::TableLockHolder;
using namespace testing;

// Far beyond any deadline these tests set: a call still waiting then waits without one.
constexpr std::chrono::seconds kHangGuard{30};

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
  void Hold() {
    holder_.emplace(table_);
    ASSERT_TRUE(holder_->holdTable());
  }
  // Runs `call` on a thread of its own; still waiting after kHangGuard fails the test and lets go.
  Status Guarded(const std::function<Status()>& call) {
    std::promise<Status> done;
    std::future<Status> result = done.get_future();
    std::thread worker([&] { done.set_value(call()); });
    if (result.wait_for(kHangGuard) != std::future_status::ready) {
      ADD_FAILURE() << "still waiting for the lock after " << kHangGuard.count() << " s";
      holder_->release();
    }
    worker.join();
    return result.get();
  }
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      files[entry.path().filename().string()] = ReadAll(entry.path().string());
    return files;
  }
  std::string Name(uint32_t recno) {
    EXPECT_OK(wa_->Go(recno));
    return Trim(wa_, "NAME");
  }

  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
  Engine engine_;
  WorkArea* wa_ = nullptr;
  std::optional<TableLockHolder> holder_;
};

TEST_F(LockWaitTest, OpensReadsAndWritesGiveUpAtTheDeadlineChangeNothingAndGoOnOnceFree) {
  Opened other(table_, OpenMode::kShared, nullptr, "B");
  ASSERT_OK(other.s);
  other.e.settings().lock_wait_ms = 50;
  const auto before = Files();
  Hold();
  for (int wait_ms : {100, 0}) {  // 0: one try
    Engine third;
    third.settings().lock_wait_ms = wait_ms;
    int area = -1;
    EXPECT_TRUE(Guarded([&] { return third.Use(table_, "C", OpenMode::kShared, &area); }).IsBusy()) << wait_ms;
    EXPECT_EQ(third.WorkAreaOf("C"), 0);
  }
  EXPECT_TRUE(Guarded([&] { return wa_->GoTop(); }).IsBusy());
  EXPECT_TRUE(Guarded([&] { return wa_->Go(2); }).IsBusy());
  EXPECT_TRUE(Guarded([&] { return CheckOf(wa_); }).IsBusy());
  holder_->release();
  EXPECT_EQ(Name(2), "two");

  ASSERT_OK(wa_->Go(1));
  ASSERT_OK(wa_->Replace("NAME", "changed"));
  ASSERT_OK(wa_->ReplaceMemo("NOTE", "a note"));
  Hold();
  EXPECT_TRUE(Guarded([&] { return wa_->Commit(); }).IsBusy());
  EXPECT_TRUE(wa_->HasPendingChanges());
  // Another work area's append is refused the same way, and leaves no record behind.
  EXPECT_TRUE(Guarded([&] { return other.wa->AppendBlank(); }).IsBusy());
  EXPECT_TRUE(Files() == before) << "the table's files changed";
  holder_->release();

  // Once the table is free the same changes are written.
  ASSERT_OK(wa_->Commit());
  ASSERT_OK(wa_->Unlock());
  EXPECT_EQ(Name(1), "changed");
  EXPECT_EQ(Memo(wa_, "NOTE"), "a note");
  EXPECT_EQ(wa_->RecCount(), 2u);
  EXPECT_EQ(other.wa->RecCount(), 2u);
}

TEST_F(LockWaitTest, AHolderThatLetsGoBeforeTheDeadlineIsWaitedFor) {
  engine_.settings().lock_wait_ms = 60000;
  ASSERT_OK(wa_->Go(2));
  ASSERT_OK(wa_->Replace("NAME", "waited"));
  Hold();
  // The holder lets go while the commit waits (or before, on a slow machine).
  std::thread letGo([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holder_->release();
  });
  const Status s = wa_->Commit();
  letGo.join();
  ASSERT_OK(s);
  ASSERT_OK(wa_->Unlock());
  EXPECT_EQ(Name(2), "waited");
}

}  // namespace
}  // namespace xbase

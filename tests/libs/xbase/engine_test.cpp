#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using namespace testing;
using Names_ = std::vector<std::string>;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields())); }
  WorkArea* Open(OpenMode mode = OpenMode::kExclusive, const char* alias = "T") {
    int area = 0;
    Status s = engine_.Use(table_, alias, mode, &area);
    EXPECT_TRUE(s.ok()) << s.ToString();
    return engine_.Area(area);
  }
  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
  Engine engine_;
};

TEST_F(EngineTest, ReplaceRefusesWhatDoesNotFitAndChangesNothing) {
  WorkArea* wa = Open();
  ASSERT_OK(AddRow(wa, "a", "20260101", 5));
  ASSERT_OK(wa->Go(1));
  for (const char* bad : {"WHEN=20261301", "WHEN=2026-1-1", "WHEN=20260230", "MINUTES=12x", "FLAG=maybe"}) {
    const std::string field = std::string(bad).substr(0, std::string(bad).find('='));
    EXPECT_TRUE(wa->Replace(field, std::strchr(bad, '=') + 1).IsInvalidArgument()) << bad;
  }
  EXPECT_TRUE(wa->ReplaceInteger("MINUTES", 12345).IsInvalidArgument());
  EXPECT_TRUE(wa->Replace("NOPE", "x").IsNotFound());
  EXPECT_EQ(Trim(wa, "WHEN") + Str(wa, "MINUTES"), "20260101   5");
  // Empty text blanks a date; long text is cut to the field's width.
  ASSERT_OK(wa->Replace("WHEN", ""));
  ASSERT_OK(wa->Replace("NAME", std::string(30, 'x')));
  ASSERT_OK(wa->ReplaceInteger("MINUTES", -999));
  ASSERT_OK(wa->Commit());
  EXPECT_EQ(Str(wa, "WHEN"), "        ");
  EXPECT_EQ(Str(wa, "NAME"), std::string(20, 'x'));
  EXPECT_EQ(Int(wa, "MINUTES"), -999);
}

TEST_F(EngineTest, DeletedRecordsAreHiddenAndPackRemovesThem) {
  WorkArea* wa = Open();
  for (int i = 1; i <= 5; ++i) ASSERT_OK(AddRow(wa, "r" + std::to_string(i), "20260101", i));
  ASSERT_OK(wa->Go(2));
  ASSERT_OK(wa->ReplaceMemo("NOTE", "memo of r2"));
  ASSERT_OK(wa->Commit());
  ASSERT_OK(wa->Go(3));
  ASSERT_OK(wa->ReplaceMemo("NOTE", "memo of r3"));
  ASSERT_OK(wa->Delete());  // the memo and the deletion in one commit
  ASSERT_OK(wa->Commit());
  ASSERT_OK(DeleteRecord(wa, 5));
  EXPECT_EQ(Names(wa), (Names_{"r1", "r2", "r4"}));
  ASSERT_OK(wa->Go(3));  // going to a deleted record by number is allowed
  ASSERT_OK(wa->Recall());
  ASSERT_OK(wa->Commit());
  ASSERT_OK(wa->Pack());
  EXPECT_EQ(wa->RecCount(), 4u);
  EXPECT_EQ(Names(wa), (Names_{"r1", "r2", "r3", "r4"}));
  for (uint32_t r : {2u, 3u}) {
    ASSERT_OK(wa->Go(r));
    EXPECT_EQ(Memo(wa, "NOTE"), "memo of r" + std::to_string(r));
  }
  EXPECT_OK(CheckOf(wa));
}

TEST_F(EngineTest, TagsOrderSeekAndStayCurrent) {
  WorkArea* wa = Open();
  ASSERT_OK(AddRow(wa, "late", "20260301", 600));
  ASSERT_OK(AddRow(wa, "early", "20260101", 5));
  ASSERT_OK(AddRow(wa, "nodate", "", 0));
  ASSERT_OK(AddRow(wa, "middle", "20260201", 1439));
  ASSERT_OK(wa->IndexTag("WHENKEY", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED().and.!EMPTY(WHEN)"));
  ASSERT_OK(wa->IndexTag("byname", "upper(NAME)", ""));
  ASSERT_OK(wa->SetOrder(1));
  EXPECT_EQ(Names(wa), (Names_{"early", "middle", "late"}));

  bool found = false;
  ASSERT_OK(wa->Seek("20260201", &found));
  EXPECT_TRUE(found && wa->RecNo() == 4u);
  engine_.settings().soft_seek = true;
  ASSERT_OK(wa->Seek("20260202", &found));
  EXPECT_TRUE(!found && wa->RecNo() == 1u);  // soft seek: the next key, "late"
  engine_.settings().soft_seek = false;
  ASSERT_OK(wa->Seek("20260202", &found));
  EXPECT_TRUE(wa->Eof());
  ASSERT_OK(wa->Go(2));

  // Upkeep: a replace moves the record in the tag, a delete drops it, an append adds it.
  ASSERT_OK(wa->Replace("WHEN", "20270101"));
  ASSERT_OK(wa->Commit());
  ASSERT_OK(DeleteRecord(wa, 4));
  ASSERT_OK(AddRow(wa, "first", "20250101", 0));
  ASSERT_OK(wa->Go(3));
  ASSERT_OK(wa->Replace("WHEN", "20260315"));
  ASSERT_OK(wa->Commit());
  EXPECT_EQ(Names(wa), (Names_{"first", "late", "nodate", "early"}));
  ASSERT_OK(wa->SetOrder("BYNAME"));
  engine_.settings().hide_deleted = false;
  EXPECT_EQ(Names(wa), (Names_{"early", "first", "late", "middle", "nodate"}));
  ASSERT_OK(wa->SetOrder(0));
  EXPECT_OK(CheckOf(wa));

  // Tags survive closing; a shared user sees them too.
  ASSERT_OK(engine_.CloseAll());
  wa = Open(OpenMode::kShared);
  EXPECT_EQ(wa->Tags().size(), 2u);
  EXPECT_TRUE(wa->IndexTag("X", "NAME", "").IsInvalidArgument());  // needs exclusive use
  EXPECT_TRUE(wa->Pack().IsInvalidArgument());
  EXPECT_TRUE(wa->Seek("x").IsInvalidArgument());  // natural order
}

TEST_F(EngineTest, TagRejectsBadDefinitions) {
  WorkArea* wa = Open();
  // An unknown field, a FOR that is not logical, an empty key on a blank record, a bad name.
  for (const Status& s : {wa->IndexTag("BAD", "NOFIELD", ""), wa->IndexTag("BAD", "NAME", "NAME"),
                          wa->IndexTag("BAD", "trim(NAME)", ""), wa->IndexTag("BAD NAME", "NAME", "")})
    EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
  EXPECT_TRUE(wa->IndexStatus().IsNotFound());
  // A lookup by tag without a usable index is Corruption, never natural order.
  EXPECT_TRUE(wa->SetOrder(1).IsCorruption());
  EXPECT_TRUE(wa->SetOrder("BAD").IsCorruption());
  EXPECT_TRUE(wa->Seek("x").IsCorruption());
}

TEST_F(EngineTest, QueriesRestrictMoves) {
  WorkArea* wa = Open();
  for (int i = 1; i <= 6; ++i) ASSERT_OK(AddRow(wa, "r" + std::to_string(i), "2026010" + std::to_string(i), i * 100));
  ASSERT_OK(wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"));
  ASSERT_OK(wa->Query("QKeyVal('K') <= '20260104 400' .and. MINUTES > 100"));
  EXPECT_EQ(Names(wa), (Names_{"r2", "r3", "r4"}));
  EXPECT_EQ(wa->QueryRecCount(), 3u);
  ASSERT_OK(wa->SetQueryBit(3, false));
  EXPECT_EQ(Names(wa), (Names_{"r2", "r4"}));
  EXPECT_EQ(wa->QueryRecCount(), 2u);
  ASSERT_OK(wa->SetOrder(1));
  EXPECT_EQ(Names(wa), (Names_{"r2", "r4"}));
  // A record appended after the query is judged by it, and its result can be set like any other.
  ASSERT_OK(AddRow(wa, "r7", "20260102", 300));
  EXPECT_EQ(Names(wa), (Names_{"r2", "r7", "r4"}));
  ASSERT_OK(wa->SetQueryBit(7, false));
  EXPECT_EQ(Names(wa), (Names_{"r2", "r4"}));
  // A bad expression is an error and leaves the query as it was.
  EXPECT_TRUE(wa->Query("NAME").IsInvalidArgument());
  EXPECT_EQ(wa->QueryRecCount(), 2u);
  ASSERT_OK(wa->Query(""));
  EXPECT_FALSE(wa->HasQuery());
  EXPECT_EQ(Names(wa).size(), 7u);
  EXPECT_TRUE(wa->SetQueryBit(1, false).IsInvalidArgument());
}

TEST_F(EngineTest, ExclusiveUseIsRefusedWhileOthersHaveTheTableAndReadOnlyUseRefusesWrites) {
  ASSERT_OK(AddRow(Open(OpenMode::kShared, "A"), "a", "20260101", 0));
  Opened other(table_, OpenMode::kExclusive, nullptr, "B");
  EXPECT_TRUE(other.s.IsBusy()) << other.s.ToString();
  ASSERT_OK(engine_.CloseAll());
  {
    Opened exclusive(table_, OpenMode::kExclusive, nullptr, "B");
    ASSERT_OK(exclusive.s);
    Opened shared(table_);
    EXPECT_TRUE(shared.s.IsBusy()) << shared.s.ToString();
  }
  WorkArea* wa = Open(OpenMode::kReadOnly);
  ASSERT_OK(wa->GoTop());
  for (const Status& s : {wa->AppendBlank(), wa->Replace("NAME", "b"), wa->Delete(), wa->Pack()})
    EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
  EXPECT_EQ(Trim(wa, "NAME"), "a");
}

TEST_F(EngineTest, RecordBeingEditedElsewhereIsBusy) {
  WorkArea* wa = Open(OpenMode::kShared, "A");
  ASSERT_OK(AddRow(wa, "one", "", 1));
  ASSERT_OK(wa->Go(1));
  ASSERT_OK(wa->Replace("NAME", "mine"));  // holds the record lock until unlock
  Engine other;
  other.settings().lock_wait_ms = 30;
  int area = 0;
  ASSERT_OK(other.Use(table_, "B", OpenMode::kShared, &area));
  WorkArea* wb = other.Area(area);
  ASSERT_OK(wb->Go(1));
  EXPECT_TRUE(wb->Replace("NAME", "theirs").IsBusy());
  ASSERT_OK(wa->Commit());
  ASSERT_OK(wa->Unlock(1));
  ASSERT_OK(wb->Replace("NAME", "theirs"));  // re-reads the record under the lock first
  ASSERT_OK(wb->Commit());
  ASSERT_OK(wa->Go(1));
  EXPECT_EQ(Trim(wa, "NAME"), "theirs");
}

TEST_F(EngineTest, SharedUsersSeeEachOthersChangesInTagOrder) {
  WorkArea* wa = Open();
  ASSERT_OK(AddRow(wa, "b", "20260201", 0));
  ASSERT_OK(wa->IndexTag("K", "dtos(WHEN)", "!DELETED()"));
  ASSERT_OK(engine_.CloseAll());
  WorkArea* reader = Open(OpenMode::kShared, "TIMERDBF");
  Opened other(table_, OpenMode::kShared, nullptr, "ONETIME");
  ASSERT_OK(other.s);
  ASSERT_OK(reader->SetOrder(1));
  ASSERT_OK(AddRow(other.wa, "a", "20260101", 0));  // an earlier key, from another user
  ASSERT_OK(reader->GoTop());
  EXPECT_EQ(reader->RecNo(), 2u);
  ASSERT_OK(DeleteRecord(other.wa, 2));
  ASSERT_OK(reader->GoTop());
  EXPECT_EQ(reader->RecNo(), 1u);
}

// Random changes against a model: every tag lists exactly the live records under their keys, in order.
TEST_F(EngineTest, IndexMatchesAModelUnderRandomChanges) {
  WorkArea* wa = Open();
  ASSERT_OK(wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED().and.!EMPTY(WHEN)"));
  ASSERT_OK(wa->IndexTag("M", "MINUTES", "!DELETED()"));
  ASSERT_OK(wa->IndexTag("N", "upper(NAME)+str(MINUTES,4)", ""));
  std::mt19937 rng(42);
  std::map<uint32_t, std::tuple<std::string, int, bool>> model;  // date, minutes, deleted
  auto rand_date = [&] {
    return rng() % 7 == 0 ? std::string() : "20260" + std::to_string(1 + rng() % 9) + "1" + std::to_string(rng() % 10);
  };
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    if (op < 5 || model.empty()) {
      const std::string name = "n" + std::to_string(rng() % 50), date = rand_date();
      const int minutes = static_cast<int>(rng() % 1440);
      ASSERT_OK(AddRow(wa, name, date, minutes));
      model[wa->RecNo()] = {date, minutes, false};
      continue;
    }
    const uint32_t r = 1 + static_cast<uint32_t>(rng() % model.size());
    ASSERT_OK(wa->Go(r));
    auto& [date, minutes, deleted] = model[r];
    if (op < 8) {
      date = rand_date();
      minutes = static_cast<int>(rng() % 1440);
      ASSERT_OK(wa->Replace("WHEN", date));
      ASSERT_OK(wa->ReplaceInteger("MINUTES", minutes));
    } else {
      deleted = !deleted;
      ASSERT_OK(deleted ? wa->Delete() : wa->Recall());
    }
    ASSERT_OK(wa->Commit());
  }
  std::vector<std::pair<std::string, uint32_t>> want, got;
  for (const auto& [r, m] : model) {
    const auto& [date, minutes, deleted] = m;
    if (!deleted && !date.empty()) want.emplace_back(date + FormatNumber(minutes, 4, 0), r);
  }
  std::sort(want.begin(), want.end());
  ASSERT_OK(wa->ScanTag("K", [&](uint32_t r, const Value& k) {
    got.emplace_back(k.s, r);
    return Status::OK();
  }));
  EXPECT_EQ(got, want);
  EXPECT_GT(want.size(), 500u);  // several pages deep
  EXPECT_OK(CheckOf(wa));
  ASSERT_OK(wa->Pack());  // keeps the tags right
  EXPECT_OK(CheckOf(wa));
}

TEST_F(EngineTest, IndexProblemsAreReportedNeverTrusted) {
  WorkArea* wa = Open();
  ASSERT_OK(AddRow(wa, "a", "20260101", 1));
  ASSERT_OK(wa->IndexTag("K", "NAME", ""));
  ASSERT_OK(engine_.CloseAll());
  const std::string cdx = dir_.File("T.CDX"), saved = cdx + ".saved";
  std::filesystem::copy_file(cdx, saved);

  // Stale: the table changed while the index was away.
  std::filesystem::remove(cdx);
  wa = Open();
  EXPECT_TRUE(wa->IndexStatus().IsNotFound());
  ASSERT_OK(AddRow(wa, "b", "20260101", 1));
  ASSERT_OK(engine_.CloseAll());
  std::filesystem::copy_file(saved, cdx);
  wa = Open();
  EXPECT_TRUE(wa->IndexStatus().IsCorruption()) << wa->IndexStatus().ToString();
  EXPECT_EQ(wa->TagArea("K"), 0);
  EXPECT_TRUE(CheckOf(wa).IsCorruption());
  ASSERT_OK(wa->Reindex());  // the tag list was readable, so it can be rebuilt
  EXPECT_OK(wa->IndexStatus());
  EXPECT_OK(CheckOf(wa));
  ASSERT_OK(engine_.CloseAll());

  // Damaged page: one flipped byte in a tag page.
  std::string bytes = ReadAll(cdx);
  bytes[4096 + 20] = '\x7f';
  WriteAll(cdx, bytes);
  wa = Open();
  ASSERT_OK(wa->SetOrder(1));
  EXPECT_TRUE(wa->GoTop().IsCorruption());
  EXPECT_FALSE(wa->IndexStatus().ok());  // from then on the index is not used
  EXPECT_EQ(wa->Order(), 0);
  ASSERT_OK(wa->GoTop());
  EXPECT_FALSE(wa->Eof());
}

}  // namespace
}  // namespace xbase

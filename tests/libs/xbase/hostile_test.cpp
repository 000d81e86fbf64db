// Damaged and hostile files: a clear error value, never a crash, never a change to the file.
#include <gtest/gtest.h>

#include <random>

#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using namespace testing;

class HostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    Opened t(table_, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    for (int i = 0; i < 40; ++i) {
      ASSERT_OK(AddRow(t.wa, "row" + std::to_string(i), i % 5 ? "20260101" : "", i * 30));
      ASSERT_OK(t.wa->ReplaceMemo("NOTE", std::string(static_cast<size_t>(i * 7), 'm')));
      ASSERT_OK(t.wa->Commit());
    }
    ASSERT_OK(DeleteRecord(t.wa, 3));
    ASSERT_OK(t.wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED().and.!EMPTY(WHEN)"));
    ASSERT_OK(t.wa->IndexTag("M", "MINUTES", ""));
    ASSERT_OK(t.e.CloseAll());
    dbf_ = ReadAll(table_);
    fpt_ = ReadAll(fpt_path_);
    cdx_ = ReadAll(cdx_path_);
  }
  Status OpenStatus() { return Opened(table_).s; }

  TempDir dir_;
  std::string table_ = dir_.File("T.DBF"), fpt_path_ = dir_.File("T.FPT"), cdx_path_ = dir_.File("T.CDX");
  std::string dbf_, fpt_, cdx_;
};

// A header count that disagrees with the file is told, not obeyed: no append or pack loses a record.
TEST_F(HostileTest, RecordCountThatDisagreesWithTheFileIsReportedAndNotObeyed) {
  for (uint32_t claimed : {0u, 10u, 0xFFFFu}) {  // zero, too low, too high
    std::string bad = dbf_;
    PutLE(&bad, 4, 4, claimed);
    WriteAll(table_, bad);
    WriteAll(fpt_path_, fpt_);
    WriteAll(cdx_path_, cdx_);
    {
      Opened t(table_);
      ASSERT_OK(t.s);
      ASSERT_TRUE(t.wa->Repair().has_value());
      EXPECT_EQ(t.wa->Repair()->header_count, claimed);
      EXPECT_EQ(t.wa->Repair()->found_count, 40u);
      EXPECT_OK(t.wa->IndexStatus());  // the index was made for the 40 records
      EXPECT_EQ(Names(t.wa).size(), 39u);
      std::vector<std::string> report;
      EXPECT_TRUE(CheckOf(t.wa, &report).IsCorruption());
      EXPECT_NE(report.at(0).find("header says " + std::to_string(claimed) + " records"), std::string::npos);
      EXPECT_EQ(ReadAll(table_), bad);  // opening and reading wrote nothing
      // An append goes after the records the file holds and writes a right count.
      ASSERT_OK(AddRow(t.wa, "appended", "20260101", 1));
      EXPECT_EQ(t.wa->RecNo(), 41u);
    }
    Opened t(table_, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    EXPECT_FALSE(t.wa->Repair().has_value());
    ASSERT_OK(t.wa->Pack());
    EXPECT_EQ(t.wa->RecCount(), 40u);  // 39 live records and the appended one
  }
}

// A memo next-free pointer far past the end: check reports it; an append goes to the real end.
TEST_F(HostileTest, MemoNextFreePointerPastTheEndIsReportedAndNotObeyed) {
  WriteAll(fpt_path_, std::string("\x7f\xff\xff\xff", 4) + fpt_.substr(4));
  {
    Opened t(table_);
    ASSERT_OK(t.s);
    std::vector<std::string> report;
    EXPECT_TRUE(CheckOf(t.wa, &report).IsCorruption());
    ASSERT_EQ(report.size(), 1u);
    EXPECT_NE(report[0].find("next free block 2147483647 is past the end"), std::string::npos) << report[0];
    ASSERT_OK(t.wa->Go(5));
    ASSERT_OK(t.wa->ReplaceMemo("NOTE", "a new memo"));
    ASSERT_OK(t.wa->Commit());
    EXPECT_LE(std::filesystem::file_size(fpt_path_), fpt_.size() + 2 * 64);
  }
  Opened t(table_);
  ASSERT_OK(t.s);
  ASSERT_OK(t.wa->Go(5));
  EXPECT_EQ(Memo(t.wa, "NOTE"), "a new memo");
  EXPECT_OK(CheckOf(t.wa));  // the append moved the pointer to the real end
}

TEST_F(HostileTest, MemoPointerPastTheEndOrNoMemoFile) {
  // Record 2's memo pointer (the NOTE field, after NAME, WHEN, MINUTES, FLAG) rewritten to a far block.
  std::string bad = dbf_;
  bad.replace(GetLE(dbf_, 8, 2) + GetLE(dbf_, 10, 2) + 1 + 20 + 8 + 4 + 1, 10, "   9999999");
  WriteAll(table_, bad);
  {
    Opened t(table_);
    ASSERT_OK(t.s);
    ASSERT_OK(t.wa->Go(2));
    std::string text;
    EXPECT_TRUE(t.wa->GetMemo("NOTE", &text).IsCorruption());
    std::vector<std::string> report;
    EXPECT_TRUE(CheckOf(t.wa, &report).IsCorruption());
    EXPECT_NE(report.at(0).find("record 2"), std::string::npos);
  }
  // Pack refuses rather than dropping the memo.
  EXPECT_TRUE(Opened(table_, OpenMode::kExclusive).wa->Pack().IsCorruption());
  EXPECT_EQ(ReadAll(table_), bad);

  // A memo block claiming more bytes than the file has.
  WriteAll(table_, dbf_);
  std::string memo = fpt_;
  memo.replace(512 + 64 + 4, 4, std::string("\x7f\xff\xff\xff", 4));
  WriteAll(fpt_path_, memo);
  EXPECT_TRUE(CheckOf(Opened(table_).wa).IsCorruption());
  // A memo file missing, or cut inside its header.
  std::filesystem::remove(fpt_path_);
  EXPECT_TRUE(OpenStatus().IsNotFound());
  WriteAll(fpt_path_, fpt_.substr(0, 5));
  EXPECT_TRUE(OpenStatus().IsCorruption());
}

TEST_F(HostileTest, GarbageIndexIsDetectedAndTheTableStillOpens) {
  std::mt19937 rng(5);
  std::string garbage(cdx_.size(), '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  // Garbage; our magic with garbage after it; our index cut short.
  for (const std::string& bytes : {garbage, cdx_.substr(0, 8) + garbage.substr(8), cdx_.substr(0, 5000)}) {
    WriteAll(cdx_path_, bytes);
    Opened t(table_);
    ASSERT_OK(t.s);
    const Status s = t.wa->IndexStatus();
    EXPECT_TRUE(bytes == garbage ? s.IsNotSupported() : s.IsCorruption()) << s.ToString();
    EXPECT_EQ(t.wa->RecCount(), 40u);
  }
}

// Keys out of order under a right checksum: lookups say Corruption; only a writer marks the index.
TEST_F(HostileTest, KeysOutOfOrderAreCorruptionNotWrongAnswers) {
  ASSERT_OK(Opened(table_, OpenMode::kExclusive).wa->IndexTag("N", "NAME", ""));
  // Tag N's tree is one leaf: two of its entries change places.
  IndexBytes index(ReadAll(cdx_path_));
  const std::vector<uint32_t> leaves = index.Leaves("N");
  ASSERT_EQ(leaves.size(), 1u);
  const uint32_t leaf = leaves[0], key_len = 20;
  const std::string third = index.Entry(leaf, key_len, 2);
  index.SetEntry(leaf, key_len, 2, index.Entry(leaf, key_len, 7));
  index.SetEntry(leaf, key_len, 7, third);
  index.FixChecksum(leaf);
  const std::string cdx = index.bytes();
  WriteAll(cdx_path_, cdx);

  for (OpenMode mode : {OpenMode::kReadOnly, OpenMode::kShared}) {
    Opened t(table_, mode);
    ASSERT_OK(t.s);
    ASSERT_OK(t.wa->IndexStatus());  // the header is sound
    ASSERT_OK(t.wa->SetOrder("N"));
    bool found = false;
    EXPECT_TRUE(t.wa->Seek("row1", &found).IsCorruption());
    EXPECT_TRUE(t.wa->IndexStatus().IsCorruption());
    EXPECT_TRUE(t.wa->SetOrder("N").IsCorruption());  // from then on the index is not used
    EXPECT_TRUE(t.wa->ScanTag("N", [](uint32_t, const Value&) { return Status::OK(); }).IsCorruption());
    EXPECT_EQ(ReadAll(cdx_path_), cdx) << "a lookup wrote to the index";
  }
  {
    // A writer that met the disorder marks the index before it changes the table.
    Opened t(table_);
    ASSERT_OK(t.wa->SetOrder("N"));
    EXPECT_TRUE(t.wa->GoTop().IsCorruption());
    ASSERT_OK(AddRow(t.wa, "new", "20260101", 1));
  }
  const Status s = Opened(table_).wa->IndexStatus();
  EXPECT_NE(s.message().find("half-updated"), std::string::npos) << s.ToString();
}

}  // namespace
}  // namespace xbase

// Check finds index damage under right checksums: entries missing, twice, out of order, under old keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using namespace testing;
using Report = std::vector<std::string>;

constexpr uint32_t kKeyLen = 12;  // dtos(WHEN)+str(MINUTES,4,0)

class IndexCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    Opened t(table_, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    // 300 entries: two leaves for the 12-byte keys.
    for (int i = 0; i < 300; ++i) ASSERT_OK(AddRow(t.wa, "row" + std::to_string(i), "20260101", i));
    ASSERT_OK(t.wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"));
    ASSERT_OK(t.wa->IndexTag("M", "MINUTES", ""));
    ASSERT_OK(t.e.CloseAll());
    cdx_ = IndexBytes(ReadAll(cdx_path_));
    leaves_ = cdx_.Leaves("K");
    ASSERT_EQ(leaves_.size(), 2u);
  }
  // Writes the edited index and checks: the damage is found, though an open still trusts the index.
  Report CheckWith(const IndexBytes& cdx) {
    WriteAll(cdx_path_, cdx.bytes());
    Opened t(table_);
    EXPECT_OK(t.s);
    if (!t.s.ok()) return {};
    EXPECT_OK(t.wa->IndexStatus());
    Report index_only, report;
    EXPECT_TRUE(t.wa->CheckIndex(&index_only).IsCorruption());
    EXPECT_TRUE(CheckOf(t.wa, &report).IsCorruption());
    EXPECT_EQ(index_only, report);
    return report;
  }
  static void ExpectHas(const Report& report, const std::string& line) {
    EXPECT_NE(std::find(report.begin(), report.end(), line), report.end()) << line << " in\n" << report.size();
  }
  std::string Rec(uint32_t page, uint32_t i) const { return std::to_string(cdx_.EntryRecno(page, kKeyLen, i)); }

  TempDir dir_;
  std::string table_ = dir_.File("T.DBF"), cdx_path_ = dir_.File("T.CDX");
  IndexBytes cdx_{""};
  std::vector<uint32_t> leaves_;
};

TEST_F(IndexCheck, EntriesMissingTwiceOrOutOfOrderAreListed) {
  {
    SCOPED_TRACE("the last entry of the first leaf dropped");
    IndexBytes cdx = cdx_;
    const uint32_t n = cdx.Count(leaves_[0]);
    cdx.SetCount(leaves_[0], n - 1);
    cdx.FixChecksum(leaves_[0]);
    EXPECT_EQ(CheckWith(cdx), (Report{"tag K: record " + Rec(leaves_[0], n - 1) + " is missing",
                                      "tag K: holds 299 entries, the records give 300"}));
  }
  {
    SCOPED_TRACE("an entry listed twice, in place of its neighbour");
    IndexBytes cdx = cdx_;
    const std::string lost = Rec(leaves_[0], 5), twice = Rec(leaves_[0], 4);
    cdx.SetEntry(leaves_[0], kKeyLen, 5, cdx.Entry(leaves_[0], kKeyLen, 4));
    cdx.FixChecksum(leaves_[0]);
    const Report report = CheckWith(cdx);
    ExpectHas(report, "tag K: record " + twice + " appears twice");
    ExpectHas(report, "tag K: record " + lost + " is missing");
    ExpectHas(report, "tag K: keys out of order at entry 6 (page " + std::to_string(leaves_[0]) +
                          ", position 6): record " + twice + " comes after record " + twice);
  }
  for (const size_t leaf : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE("the first pair of leaf " + std::to_string(leaf + 1) + " swapped");
    IndexBytes cdx = cdx_;
    const uint32_t page = leaves_[leaf];
    const std::string first = cdx.Entry(page, kKeyLen, 0);
    cdx.SetEntry(page, kKeyLen, 0, cdx.Entry(page, kKeyLen, 1));
    cdx.SetEntry(page, kKeyLen, 1, first);
    cdx.FixChecksum(page);
    const uint32_t position = leaf == 0 ? 2 : cdx.Count(leaves_[0]) + 2;
    EXPECT_EQ(CheckWith(cdx), Report{"tag K: keys out of order at entry " + std::to_string(position) + " (page " +
                                     std::to_string(page) + ", position 2): record " + Rec(page, 0) +
                                     " comes after record " + Rec(page, 1)});
  }
}

// A record changed behind the index's back is listed under its old key in every tag.
TEST_F(IndexCheck, KeysTheRecordsNoLongerGiveAreListed) {
  std::string dbf = ReadAll(table_);
  // Record 10's MINUTES (after the flag, NAME 20 and WHEN 8): 9 becomes 999.
  dbf.replace(GetLE(dbf, 8, 2) + 9 * GetLE(dbf, 10, 2) + 1 + 20 + 8, 4, " 999");
  WriteAll(table_, dbf);
  EXPECT_EQ(CheckWith(cdx_),
            (Report{"tag K: record 10 is listed under the key '20260101   9', its record gives '20260101 999'",
                    "tag M: record 10 is listed under the key '9', its record gives '999'"}));
}

}  // namespace
}  // namespace xbase

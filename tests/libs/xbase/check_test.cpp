// The consistency check against index damage that leaves every page's checksum right:
// entries missing, listed twice, out of order (the first pair of a leaf included),
// under old keys, an index that a pack left behind, a build that was stopped. Each
// comes from a table and index made here and edited the way a damaged or foreign
// writer leaves them; the index header still looks trusted, so only a comparison of
// the entries with the records can see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/xbase_fault_env.h"
#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using testing::AddRow;
using testing::IndexBytes;
using testing::ReadAll;
using testing::SampleFields;
using testing::TempDir;
using testing::WriteAll;

constexpr uint32_t kKeyLen = 12;  // dtos(WHEN)+str(MINUTES,4,0)

class IndexCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    WorkArea* wa = e.Current();
    // 300 entries: two leaves for the 12-byte keys.
    for (int i = 0; i < 300; ++i) ASSERT_OK(AddRow(wa, "row" + std::to_string(i), "20260101", i));
    ASSERT_OK(wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"));
    ASSERT_OK(wa->IndexTag("M", "MINUTES", ""));
    ASSERT_OK(e.CloseAll());
    cdx_ = IndexBytes(ReadAll(cdx_path_));
    leaves_ = cdx_.Leaves("K");
    ASSERT_EQ(leaves_.size(), 2u);
  }
  // Writes the edited index and runs the check; *trusted tells whether an ordinary open
  // trusts the index (it should: the damage is below what the header shows).
  Status CheckWith(const IndexBytes& cdx, std::vector<std::string>* report, bool* trusted) {
    WriteAll(cdx_path_, cdx.bytes());
    Engine e;
    int area = 0;
    XBASE_RETURN_IF_ERROR(e.Use(table_, "T", OpenMode::kShared, &area));
    *trusted = e.Current()->IndexStatus().ok();
    std::vector<std::string> index_only;
    Status only = e.Current()->CheckIndex(&index_only);
    Status s = e.Current()->Check(report);
    EXPECT_EQ(only.ok(), s.ok());
    EXPECT_EQ(index_only, *report);  // the table itself is sound: every problem is the index's
    return s;
  }
  static bool Has(const std::vector<std::string>& report, const std::string& line) {
    return std::find(report.begin(), report.end(), line) != report.end();
  }
  static std::string Joined(const std::vector<std::string>& report) {
    std::string all;
    for (const auto& l : report) all += l + "\n";
    return all;
  }

  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
  std::string cdx_path_ = dir_.File("T.CDX");
  IndexBytes cdx_{""};
  std::vector<uint32_t> leaves_;
};

TEST_F(IndexCheck, EntriesMissingTwiceOrOutOfOrderAreListed) {
  std::vector<std::string> report;
  bool trusted = false;
  ASSERT_OK(CheckWith(cdx_, &report, &trusted));
  EXPECT_TRUE(report.empty());

  {
    SCOPED_TRACE("the last entry of the first leaf dropped");
    IndexBytes cdx = cdx_;
    const uint32_t n = cdx.Count(leaves_[0]);
    const uint32_t dropped = cdx.EntryRecno(leaves_[0], kKeyLen, n - 1);
    cdx.SetCount(leaves_[0], n - 1);
    cdx.FixChecksum(leaves_[0]);
    EXPECT_TRUE(CheckWith(cdx, &report, &trusted).IsCorruption());
    EXPECT_TRUE(trusted);
    EXPECT_EQ(report, (std::vector<std::string>{"tag K: record " + std::to_string(dropped) + " is missing",
                                                "tag K: holds 299 entries, the records give 300"}));
  }
  {
    SCOPED_TRACE("an entry listed twice, in place of its neighbour");
    IndexBytes cdx = cdx_;
    const uint32_t lost = cdx.EntryRecno(leaves_[0], kKeyLen, 5);
    const uint32_t twice = cdx.EntryRecno(leaves_[0], kKeyLen, 4);
    cdx.SetEntry(leaves_[0], kKeyLen, 5, cdx.Entry(leaves_[0], kKeyLen, 4));
    cdx.FixChecksum(leaves_[0]);
    EXPECT_TRUE(CheckWith(cdx, &report, &trusted).IsCorruption());
    EXPECT_TRUE(trusted);
    EXPECT_TRUE(Has(report, "tag K: record " + std::to_string(twice) + " appears twice")) << Joined(report);
    EXPECT_TRUE(Has(report, "tag K: record " + std::to_string(lost) + " is missing")) << Joined(report);
    EXPECT_TRUE(Has(report, "tag K: keys out of order at entry 6 (page " + std::to_string(leaves_[0]) +
                                ", position 6): record " + std::to_string(twice) + " comes after record " +
                                std::to_string(twice)))
        << Joined(report);
  }
  for (const size_t leaf : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE("the first pair of leaf " + std::to_string(leaf + 1) + " swapped");
    IndexBytes cdx = cdx_;
    const uint32_t page = leaves_[leaf];
    const std::string first = cdx.Entry(page, kKeyLen, 0);
    const uint32_t a = cdx.EntryRecno(page, kKeyLen, 0), b = cdx.EntryRecno(page, kKeyLen, 1);
    cdx.SetEntry(page, kKeyLen, 0, cdx.Entry(page, kKeyLen, 1));
    cdx.SetEntry(page, kKeyLen, 1, first);
    cdx.FixChecksum(page);
    EXPECT_TRUE(CheckWith(cdx, &report, &trusted).IsCorruption());
    EXPECT_TRUE(trusted);
    const uint32_t position = leaf == 0 ? 2 : cdx.Count(leaves_[0]) + 2;
    EXPECT_EQ(report, std::vector<std::string>{"tag K: keys out of order at entry " + std::to_string(position) +
                                               " (page " + std::to_string(page) + ", position 2): record " +
                                               std::to_string(a) + " comes after record " + std::to_string(b)});
  }
}

// A record changed behind the index's back (by a program that keeps no index) is listed
// under its old key in every tag.
TEST_F(IndexCheck, KeysTheRecordsNoLongerGiveAreListed) {
  std::string dbf = ReadAll(table_);
  const size_t header = testing::GetLE(dbf, 8, 2), reclen = testing::GetLE(dbf, 10, 2);
  // Record 10's MINUTES (after the flag, NAME 20 and WHEN 8): 9 becomes 999.
  dbf.replace(header + 9 * reclen + 1 + 20 + 8, 4, " 999");
  WriteAll(table_, dbf);
  std::vector<std::string> report;
  bool trusted = false;
  EXPECT_TRUE(CheckWith(cdx_, &report, &trusted).IsCorruption());
  EXPECT_TRUE(trusted);
  EXPECT_EQ(report, (std::vector<std::string>{
                        "tag K: record 10 is listed under the key '20260101   9', its record gives '20260101 999'",
                        "tag M: record 10 is listed under the key '9', its record gives '999'"}));
}

// The index of the table before a pack, put back (or never replaced) and with the record
// count in its header matching the packed table: every entry is checked against the
// records, so it is found although the header says nothing wrong.
TEST_F(IndexCheck, AnIndexLeftStaleByAPackIsFound) {
  {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    WorkArea* wa = e.Current();
    for (uint32_t r : {3u, 150u}) {
      ASSERT_OK(wa->Go(r));
      ASSERT_OK(wa->Delete());
      ASSERT_OK(wa->Commit());
    }
  }
  IndexBytes before_pack(ReadAll(cdx_path_));
  {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    ASSERT_OK(e.Current()->Pack());
    std::vector<std::string> report;
    ASSERT_OK(e.Current()->Check(&report));
  }
  before_pack.SetTableCount(298);
  std::vector<std::string> report;
  bool trusted = false;
  EXPECT_TRUE(CheckWith(before_pack, &report, &trusted).IsCorruption());
  EXPECT_TRUE(trusted);
  // Each tag lists its first problems, how many more it has, and its count.
  EXPECT_TRUE(Has(report, "tag K: record 4 is listed under the key '20260101   3', its record gives '20260101   4'"))
      << Joined(report);
  EXPECT_TRUE(Has(report, "tag M: record 3 is listed under the key '2', its record gives '3'")) << Joined(report);
  EXPECT_TRUE(Has(report, "tag M: holds 300 entries, the records give 298")) << Joined(report);
  EXPECT_LE(report.size(), 50u);
}

// A build of the index stopped before its rename leaves no index and the file it was
// writing; check says so (the table's own records are sound).
TEST_F(IndexCheck, ABuildStoppedHalfWayIsFound) {
  auto build = [&](FaultInjectionEnv* env) {
    Engine e(env);
    int area = 0;
    XBASE_RETURN_IF_ERROR(e.Use(table_, "T", OpenMode::kExclusive, &area));
    XBASE_RETURN_IF_ERROR(e.Current()->DropIndex());
    return e.Current()->CreateIndex({{"K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED()"}, {"M", "MINUTES", ""}});
  };
  const std::string dbf = ReadAll(table_);
  int64_t ops = 0;
  {
    FaultInjectionEnv env(Env::Default());
    ASSERT_OK(build(&env));
    ops = env.operations();
    ASSERT_EQ(env.faults(), 0);
  }
  WriteAll(cdx_path_, cdx_.bytes());
  FaultInjectionEnv env(Env::Default());
  env.FailAfter(ops - 1);  // the last operation is the rename that puts the new index in place
  EXPECT_TRUE(build(&env).IsIOError());
  ASSERT_EQ(env.faults(), 1);
  EXPECT_FALSE(std::filesystem::exists(cdx_path_));
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  std::vector<std::string> report;
  EXPECT_TRUE(e.Current()->Check(&report).IsCorruption());
  EXPECT_EQ(report, std::vector<std::string>{"index: a build of the index stopped before it finished (" + cdx_path_ +
                                             ".building is left over)"});
  EXPECT_EQ(ReadAll(table_), dbf);
}

}  // namespace
}  // namespace xbase

// Damaged and hostile files: every reader returns a clear error value, never
// crashes, and never changes the file it could not read.
#include <gtest/gtest.h>

#include <random>

#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using testing::AddRow;
using testing::SampleFields;
using testing::TempDir;

using testing::ReadAll;
using testing::WriteAll;

class HostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK(CreateTable(Env::Default(), table_, SampleFields()));
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    WorkArea* wa = e.Current();
    for (int i = 0; i < 40; ++i) {
      ASSERT_OK(AddRow(wa, "row" + std::to_string(i), i % 5 ? "20260101" : "", i * 30));
      ASSERT_OK(wa->ReplaceMemo("NOTE", std::string(static_cast<size_t>(i * 7), 'm')));
      ASSERT_OK(wa->Commit());
    }
    ASSERT_OK(wa->Go(3));
    ASSERT_OK(wa->Delete());
    ASSERT_OK(wa->IndexTag("K", "dtos(WHEN)+str(MINUTES,4,0)", "!DELETED().and.!EMPTY(WHEN)"));
    ASSERT_OK(wa->IndexTag("M", "MINUTES", ""));
    ASSERT_OK(e.CloseAll());
    dbf_ = ReadAll(table_);
    fpt_ = ReadAll(dir_.File("T.FPT"));
    cdx_ = ReadAll(dir_.File("T.CDX"));
  }

  Status OpenStatus() {
    Engine e;
    int area = 0;
    return e.Use(table_, "T", OpenMode::kShared, &area);
  }

  // Opens and reads everything reachable; returns the first error met.
  Status Exercise() {
    Engine e;
    e.settings().hide_deleted = false;
    int area = 0;
    XBASE_RETURN_IF_ERROR(e.Use(table_, "T", OpenMode::kShared, &area));
    WorkArea* wa = e.Current();
    Status first;
    auto note = [&](const Status& s) {
      if (first.ok() && !s.ok()) first = s;
    };
    for (int order = 0; order <= static_cast<int>(wa->Tags().size()); ++order) {
      note(wa->SetOrder(order));
      Status s = wa->GoTop();
      note(s);
      for (int guard = 0; s.ok() && !wa->Eof() && guard < 100; ++guard) {
        std::string text;
        int64_t n;
        for (const FieldDef& f : wa->Fields()) {
          if (f.type == 'M')
            note(wa->GetMemo(f.name, &text));
          else
            note(wa->GetString(f.name, &text));
          if (f.type == 'D') note(wa->GetDateString(f.name, &text));
          if (f.type == 'N') note(wa->GetInteger(f.name, &n));
        }
        s = wa->Skip(1);
        note(s);
      }
    }
    note(wa->Seek("2026"));
    note(wa->Query("MINUTES > 100 .and. QKeyVal('K') > '2'"));
    std::vector<std::string> report;
    note(wa->Check(&report));
    return first;
  }

  TempDir dir_;
  std::string table_ = dir_.File("T.DBF");
  std::string dbf_, fpt_, cdx_;
};

TEST_F(HostileTest, TruncatedAndImpossibleHeaders) {
  WriteAll(table_, dbf_.substr(0, 20));
  Status s = OpenStatus();
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_NE(s.message().find("too short"), std::string::npos);
  EXPECT_EQ(ReadAll(table_), dbf_.substr(0, 20));  // left as it was

  WriteAll(table_, dbf_.substr(0, 100));  // cut inside the field list
  s = OpenStatus();
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();

  std::string bad = dbf_;
  bad[0] = 0x30;  // Visual FoxPro
  WriteAll(table_, bad);
  EXPECT_TRUE(OpenStatus().IsNotSupported());

  bad = dbf_;
  bad[32 + 11] = 'G';  // general field
  WriteAll(table_, bad);
  EXPECT_TRUE(OpenStatus().IsNotSupported());

  bad = dbf_;
  bad[10] = static_cast<char>(bad[10] + 1);  // record length disagrees with the fields
  WriteAll(table_, bad);
  s = OpenStatus();
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_NE(s.message().find("record length"), std::string::npos);
}

// A header count that disagrees with the file's length (too high, too low, zero) is
// damage: the records the file holds are read, the caller is told, opening changes
// nothing, and neither an append nor a pack loses a record.
TEST_F(HostileTest, RecordCountThatDisagreesWithTheFileIsReportedAndNotObeyed) {
  for (uint32_t claimed : {0u, 10u, 0xFFFFu}) {
    SCOPED_TRACE("header count " + std::to_string(claimed));
    std::string bad = dbf_;
    for (int i = 0; i < 4; ++i) bad[4 + i] = static_cast<char>((claimed >> (8 * i)) & 0xff);
    WriteAll(table_, bad);
    WriteAll(dir_.File("T.FPT"), fpt_);
    WriteAll(dir_.File("T.CDX"), cdx_);
    {
      Engine e;
      int area = 0;
      ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
      WorkArea* wa = e.Current();
      ASSERT_TRUE(wa->Repair().has_value());
      EXPECT_EQ(wa->Repair()->header_count, claimed);
      EXPECT_EQ(wa->Repair()->found_count, 40u);
      EXPECT_EQ(wa->RecCount(), 40u);
      EXPECT_OK(wa->IndexStatus());  // the index was made for the 40 records
      int live = 0;
      for (Status s = wa->GoTop(); !wa->Eof(); s = wa->Skip(1)) {
        ASSERT_OK(s);
        ++live;
      }
      EXPECT_EQ(live, 39);
      std::vector<std::string> report;
      EXPECT_TRUE(wa->Check(&report).IsCorruption());
      ASSERT_FALSE(report.empty());
      EXPECT_NE(report[0].find("header says " + std::to_string(claimed) + " records but the file holds 40"),
                std::string::npos)
          << report[0];
      EXPECT_EQ(ReadAll(table_), bad);  // opening and reading wrote nothing

      // An append goes after the records the file holds and writes a right count.
      ASSERT_OK(AddRow(wa, "appended", "20260101", 1));
      EXPECT_EQ(wa->RecNo(), 41u);
    }
    {
      Engine e;
      int area = 0;
      ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
      WorkArea* wa = e.Current();
      EXPECT_FALSE(wa->Repair().has_value());
      ASSERT_OK(wa->Go(1));
      std::string name;
      ASSERT_OK(wa->GetTrimString("NAME", &name));
      EXPECT_EQ(name, "row0");
      ASSERT_OK(wa->Pack());
      EXPECT_EQ(wa->RecCount(), 40u);  // 39 live records and the appended one
    }
  }

  // A pack straight on the damaged header keeps every live record too.
  std::string bad = dbf_;
  for (int i = 0; i < 4; ++i) bad[4 + i] = 0;
  WriteAll(table_, bad);
  WriteAll(dir_.File("T.FPT"), fpt_);
  WriteAll(dir_.File("T.CDX"), cdx_);
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
  ASSERT_OK(e.Current()->Pack());
  EXPECT_EQ(e.Current()->RecCount(), 39u);
  EXPECT_FALSE(e.Current()->Repair().has_value());
  std::vector<std::string> report;
  EXPECT_OK(e.Current()->Check(&report));
}

// A memo file's next-free pointer far past its end is damage: check reports it, and
// an append goes to the real end of the file instead of growing it to the pointer.
TEST_F(HostileTest, MemoNextFreePointerPastTheEndIsReportedAndNotObeyed) {
  std::string memo = fpt_;
  memo.replace(0, 4, std::string("\x7f\xff\xff\xff", 4));
  WriteAll(dir_.File("T.FPT"), memo);
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  WorkArea* wa = e.Current();
  std::vector<std::string> report;
  EXPECT_TRUE(wa->Check(&report).IsCorruption());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_NE(report[0].find("past the end"), std::string::npos) << report[0];

  ASSERT_OK(wa->Go(5));
  ASSERT_OK(wa->ReplaceMemo("NOTE", "a new memo"));
  ASSERT_OK(wa->Commit());
  const auto size = std::filesystem::file_size(dir_.File("T.FPT"));
  EXPECT_LE(size, fpt_.size() + 2 * 64) << "the memo file grew to " << size << " bytes";
  std::string text;
  ASSERT_OK(wa->GetMemo("NOTE", &text));
  EXPECT_EQ(text, "a new memo");
  EXPECT_TRUE(e.CloseAll().ok());
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  ASSERT_OK(e.Current()->Go(5));
  ASSERT_OK(e.Current()->GetMemo("NOTE", &text));
  EXPECT_EQ(text, "a new memo");
  EXPECT_OK(e.Current()->Check(&report));  // the append moved the pointer to the real end
}

TEST_F(HostileTest, MemoPointerPastTheEndOfTheMemoFile) {
  // Record 2's memo pointer (the NOTE field) rewritten to a far block.
  std::string bad = dbf_;
  const size_t header = static_cast<unsigned char>(dbf_[8]) | (static_cast<unsigned char>(dbf_[9]) << 8);
  const size_t reclen = static_cast<unsigned char>(dbf_[10]) | (static_cast<unsigned char>(dbf_[11]) << 8);
  const size_t note_at = header + reclen + 1 + 20 + 8 + 4 + 1;  // NAME, WHEN, MINUTES, FLAG
  bad.replace(note_at, 10, "   9999999");
  WriteAll(table_, bad);
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  ASSERT_OK(e.Current()->Go(2));
  std::string text;
  Status s = e.Current()->GetMemo("NOTE", &text);
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_NE(s.message().find("past the end"), std::string::npos);
  std::vector<std::string> report;
  EXPECT_TRUE(e.Current()->Check(&report).IsCorruption());
  ASSERT_FALSE(report.empty());
  EXPECT_NE(report[0].find("record 2"), std::string::npos);
  // Pack refuses rather than dropping the memo.
  EXPECT_TRUE(e.CloseAll().ok());
  ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
  EXPECT_TRUE(e.Current()->Pack().IsCorruption());
  EXPECT_EQ(ReadAll(table_), bad);

  // A memo block claiming more bytes than the file has.
  WriteAll(table_, dbf_);
  std::string memo = fpt_;
  memo.replace(512 + 64 + 4, 4, std::string("\x7f\xff\xff\xff", 4));
  WriteAll(dir_.File("T.FPT"), memo);
  EXPECT_TRUE(e.CloseAll().ok());
  EXPECT_FALSE(Exercise().ok());
}

TEST_F(HostileTest, MissingMemoFileIsReported) {
  std::filesystem::remove(dir_.File("T.FPT"));
  Status s = OpenStatus();
  EXPECT_TRUE(s.IsNotFound()) << s.ToString();
  EXPECT_NE(s.message().find("memo file"), std::string::npos);
  WriteAll(dir_.File("T.FPT"), fpt_.substr(0, 5));  // cut inside its header
  s = OpenStatus();
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
}

TEST_F(HostileTest, GarbageIndexIsDetectedAndTheTableStillOpens) {
  std::mt19937 rng(5);
  std::string garbage(cdx_.size(), '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  WriteAll(dir_.File("T.CDX"), garbage);
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  EXPECT_TRUE(e.Current()->IndexStatus().IsNotSupported());
  EXPECT_EQ(e.Current()->RecCount(), 40u);

  garbage.replace(0, 8, cdx_.substr(0, 8));  // our magic, garbage after it
  WriteAll(dir_.File("T.CDX"), garbage);
  EXPECT_TRUE(e.CloseAll().ok());
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  EXPECT_TRUE(e.Current()->IndexStatus().IsCorruption()) << e.Current()->IndexStatus().ToString();

  WriteAll(dir_.File("T.CDX"), cdx_.substr(0, 5000));  // truncated
  EXPECT_TRUE(e.CloseAll().ok());
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  EXPECT_TRUE(e.Current()->IndexStatus().IsCorruption());
}

// Every byte of the header area, and a sample of the rest, flipped in turn:
// the engine reports or tolerates, and never crashes.
TEST_F(HostileTest, FlippedBytesNeverCrash) {
  std::mt19937 rng(11);
  struct Target {
    std::string path;
    const std::string* bytes;
  } targets[] = {{table_, &dbf_}, {dir_.File("T.FPT"), &fpt_}, {dir_.File("T.CDX"), &cdx_}};
  int errors = 0, runs = 0;
  for (const Target& t : targets) {
    std::vector<size_t> positions;
    for (size_t i = 0; i < std::min<size_t>(t.bytes->size(), 300); i += 3) positions.push_back(i);
    for (int i = 0; i < 60; ++i) positions.push_back(rng() % t.bytes->size());
    for (size_t pos : positions) {
      std::string bad = *t.bytes;
      bad[pos] = static_cast<char>(bad[pos] ^ (1 << (rng() % 8)));
      WriteAll(t.path, bad);
      errors += Exercise().ok() ? 0 : 1;
      ++runs;
    }
    WriteAll(t.path, *t.bytes);
  }
  EXPECT_GT(errors, runs / 10);  // the damage is noticed, not silently read
  EXPECT_OK(Exercise());         // and the undamaged files are fine again
}

// Keys out of order in a page whose checksum is right (crafted, or damaged before the
// checksum was taken): every lookup says Corruption instead of answering from the
// disorder (the check's own test shows it names it), and only a writer marks the index, before
// it writes.
TEST_F(HostileTest, KeysOutOfOrderAreCorruptionNotWrongAnswers) {
  {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kExclusive, &area));
    ASSERT_OK(e.Current()->IndexTag("N", "NAME", ""));
  }
  // Tag N's tree is one leaf: two of its entries change places.
  testing::IndexBytes index(ReadAll(dir_.File("T.CDX")));
  const std::vector<uint32_t> leaves = index.Leaves("N");
  ASSERT_EQ(leaves.size(), 1u);
  const uint32_t leaf = leaves[0], key_len = 20;
  const std::string third = index.Entry(leaf, key_len, 2);
  index.SetEntry(leaf, key_len, 2, index.Entry(leaf, key_len, 7));
  index.SetEntry(leaf, key_len, 7, third);
  index.FixChecksum(leaf);
  const std::string cdx = index.bytes();
  WriteAll(dir_.File("T.CDX"), cdx);

  for (OpenMode mode : {OpenMode::kReadOnly, OpenMode::kShared}) {
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", mode, &area));
    WorkArea* wa = e.Current();
    ASSERT_OK(wa->IndexStatus());  // the header is sound
    ASSERT_OK(wa->SetOrder("N"));
    bool found = false;
    Status s = wa->Seek("row1", &found);
    EXPECT_TRUE(s.IsCorruption()) << s.ToString();
    EXPECT_TRUE(wa->IndexStatus().IsCorruption());
    EXPECT_TRUE(wa->SetOrder("N").IsCorruption());  // from then on the index is not used
    EXPECT_TRUE(wa->ScanTag("N", [](uint32_t, const Value&) { return Status::OK(); }).IsCorruption());
    EXPECT_EQ(ReadAll(dir_.File("T.CDX")), cdx) << "a lookup wrote to the index";
  }
  {
    // A writer that met the disorder marks the index before it changes the table.
    Engine e;
    int area = 0;
    ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
    WorkArea* wa = e.Current();
    ASSERT_OK(wa->SetOrder("N"));
    EXPECT_TRUE(wa->GoTop().IsCorruption());
    ASSERT_OK(AddRow(wa, "new", "20260101", 1));
  }
  Engine e;
  int area = 0;
  ASSERT_OK(e.Use(table_, "T", OpenMode::kShared, &area));
  EXPECT_NE(e.Current()->IndexStatus().message().find("half-updated"), std::string::npos)
      << e.Current()->IndexStatus().ToString();
}

}  // namespace
}  // namespace xbase

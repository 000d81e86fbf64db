// Tables written by other programs, in shapes this engine never writes itself: each is
// read as far as it can be, refused as NotSupported (with the reason) where it cannot,
// and never called damaged when it is well formed. Whatever the engine writes to such a
// table keeps what the other program relies on.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using testing::RawField;
using testing::RawTable;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

// Runs the xbase tool; returns its exit code and keeps what it printed (both streams).
int Tool(const std::string& args, std::string* out) {
  const std::string cmd = std::string(XBASE_TOOL_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  out->clear();
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out->append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ForeignTable : public ::testing::Test {
 protected:
  Status Open(const std::string& path, WorkArea** wa, OpenMode mode = OpenMode::kShared) {
    int area = 0;
    Status s = engine_.Use(path, "", mode, &area);
    *wa = s.ok() ? engine_.Area(area) : nullptr;
    return s;
  }
  TempDir dir_;
  Engine engine_;
};

// A dBase III table with two fields called Point_ID, one text and one number, as a
// surveying program wrote it. Each field is read by position with its own bytes; the
// shared name is refused wherever a name is used, naming it, so no call answers with
// the other field's value.
TEST_F(ForeignTable, TwoFieldsOfOneNameAreReadByPositionAndTheNameIsRefused) {
  const std::string path = dir_.File("POINTS.DBF");
  std::vector<std::string> records;
  for (int i = 0; i < 14; ++i) {
    char rec[32];
    std::snprintf(rec, sizeof rec, " 5071%02d  %5d%-8s", 21 + i, 401 + i, "pole");
    records.push_back(rec);
  }
  WriteAll(path, RawTable(0x03, 0x00, {{"Point_ID", 'C', 8}, {"Point_ID", 'N', 5}, {"KIND", 'C', 8}}, records));
  WorkArea* wa = nullptr;
  ASSERT_OK(Open(path, &wa));
  ASSERT_OK(wa->Go(1));
  std::string text;
  ASSERT_OK(wa->GetStringAt(0, &text));
  EXPECT_EQ(text, "507121  ");
  ASSERT_OK(wa->GetStringAt(1, &text));
  EXPECT_EQ(text, "  401");
  EXPECT_TRUE(wa->GetStringAt(3, &text).IsInvalidArgument());

  Status s = wa->GetString("POINT_ID", &text);
  EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
  EXPECT_NE(s.message().find("POINT_ID is not unique"), std::string::npos) << s.ToString();
  double n = 0;
  EXPECT_TRUE(wa->GetNumber("point_id", &n).IsInvalidArgument());
  EXPECT_EQ(wa->FieldIndex("POINT_ID"), -1);
  s = wa->Query("POINT_ID = 401");
  EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
  EXPECT_NE(s.message().find("POINT_ID is not unique"), std::string::npos) << s.ToString();
  ASSERT_OK(wa->GetTrimString("KIND", &text));  // the other fields answer as ever
  EXPECT_EQ(text, "pole");
  ASSERT_OK(engine_.CloseAll());

  std::string out;
  ASSERT_EQ(Tool("dump " + path, &out), 0) << out;
  EXPECT_NE(out.find(R"("recno":1,"deleted":false,"POINT_ID":"507121  ","POINT_ID":401,)"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("POINT_ID":"507134  ","POINT_ID":414,)"), std::string::npos) << out;
  EXPECT_EQ(out.find("507121,"), std::string::npos) << out;  // the text never shows as the number
  const std::string before = ReadAll(path);
  ASSERT_OK(Open(path, &wa, OpenMode::kExclusive));
  ASSERT_OK(wa->Go(2));
  EXPECT_TRUE(wa->Replace("POINT_ID", "9").IsInvalidArgument());
  EXPECT_TRUE(wa->IndexTag("P", "POINT_ID", "").IsInvalidArgument());
  ASSERT_OK(engine_.CloseAll());
  EXPECT_EQ(ReadAll(path), before);
}

// The code page mark says how other programs decode the text. A table whose mark is
// 0x00 (none) or 0x65 (DOS Russian) keeps it, with every byte of the header beyond the
// count and date, through appends, replaces, deletes, pack and reindex; the text bytes
// are read as they are.
TEST_F(ForeignTable, EveryWriteKeepsTheCodePageMarkAndTheHeaderItFound) {
  for (const uint8_t mark : {uint8_t{0x00}, uint8_t{0x65}}) {
    SCOPED_TRACE(static_cast<int>(mark));
    const std::string path = dir_.File(mark ? "RU.DBF" : "DOS.DBF");
    // \x81 is 'ü' in DOS code page 437 and has no character in Windows-1252; the 263
    // bytes after the field list stand for what FoxPro keeps there.
    WriteAll(path, RawTable(0x03, mark, {{"NAME", 'C', 10}, {"N", 'N', 3}},
                            {" M\x81ller      1", "*gone        2",
                             " Stra\xE1"
                             "e      3"},
                            263));
    std::string found = ReadAll(path);
    found[28] = 0x03;  // FoxPro's flags: a structural CDX, a memo file
    WriteAll(path, found);
    WorkArea* wa = nullptr;
    ASSERT_OK(Open(path, &wa, OpenMode::kExclusive));
    EXPECT_EQ(wa->CodePageMark(), mark);
    std::string text;
    ASSERT_OK(wa->GetTrimString("NAME", &text));
    EXPECT_EQ(text, "M\x81ller");
    ASSERT_OK(wa->AppendBlank());
    ASSERT_OK(wa->Replace("NAME", "K\x94nig"));
    ASSERT_OK(wa->ReplaceInteger("N", 4));
    ASSERT_OK(wa->Commit());
    ASSERT_OK(wa->Go(1));
    ASSERT_OK(wa->Delete());
    ASSERT_OK(wa->Commit());
    ASSERT_OK(wa->IndexTag("NAME", "NAME", ""));
    ASSERT_OK(wa->Pack());
    ASSERT_OK(wa->Reindex());
    EXPECT_EQ(wa->RecCount(), 2u);
    EXPECT_EQ(wa->CodePageMark(), mark);
    ASSERT_OK(engine_.CloseAll());
    const std::string now = ReadAll(path);
    EXPECT_EQ(now[0], found[0]);
    EXPECT_EQ(static_cast<uint8_t>(now[29]), mark);
    EXPECT_EQ(testing::GetLE(now, 4, 4), 2u);
    // Everything after the count (mark, field list, the bytes after it) as found; of the flags,
    // only the structural-index one goes: the index beside the table is no FoxPro CDX.
    const size_t header = testing::GetLE(found, 8, 2);
    EXPECT_EQ(now.substr(8, 20), found.substr(8, 20));
    EXPECT_EQ(now[28], 0x02);
    EXPECT_EQ(now.substr(29, header - 29), found.substr(29, header - 29));
    EXPECT_EQ(now.substr(header, 16),
              " Stra\xE1"
              "e      3 K");
  }
}

// Valid tables of shapes FoxPro never writes: numbers wider than 20 digits and field
// names with letters beyond ASCII or '-' are read; the file name gives a usable alias
// whatever its spelling.
TEST_F(ForeignTable, WideNumbersOddNamesAndAnyFileNameAreRead) {
  // "ШАР" in DOS code page 866, and a name with a hyphen.
  const std::string shar = "\x98\x80\x90";
  const std::string path = dir_.File("KUNDEN-SCHEMA-ONLY.DBF");
  std::string wide24(24, ' '), wide50(50, ' ');
  wide24.replace(24 - 22, 22, "1234567890123456789012");
  wide50.replace(50 - 7, 7, "-12.500");
  WriteAll(path, RawTable(0x03, 0x65, {{"BIG", 'N', 24}, {"HUGE", 'N', 50, 3}, {shar, 'C', 4}, {"KUNDEN-NR", 'C', 6}},
                          {" " + wide24 + wide50 + "ball" + "K-0001"}));
  WorkArea* wa = nullptr;
  ASSERT_OK(Open(path, &wa, OpenMode::kExclusive));
  EXPECT_EQ(wa->alias(), "KUNDEN_SCHEMA_ONLY");
  const auto fields = wa->Fields();
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].length, 24u);
  EXPECT_EQ(fields[1].length, 50u);
  EXPECT_EQ(fields[2].name, shar);
  EXPECT_EQ(fields[3].name, "KUNDEN-NR");
  std::string text;
  ASSERT_OK(wa->GetString("BIG", &text));
  EXPECT_EQ(text, wide24);
  double n = 0;
  ASSERT_OK(wa->GetNumber("BIG", &n));
  EXPECT_DOUBLE_EQ(n, 1234567890123456789012.0);
  ASSERT_OK(wa->GetNumber("HUGE", &n));
  EXPECT_DOUBLE_EQ(n, -12.5);
  ASSERT_OK(wa->GetString(shar, &text));
  EXPECT_EQ(text, "ball");
  ASSERT_OK(wa->GetString("kunden-nr", &text));
  EXPECT_EQ(text, "K-0001");
  // Written at their width too.
  ASSERT_OK(wa->Replace("HUGE", "-0.125"));
  ASSERT_OK(wa->Commit());
  ASSERT_OK(wa->GetString("HUGE", &text));
  EXPECT_EQ(text, std::string(44, ' ') + "-0.125");
  ASSERT_OK(wa->IndexTag("BIG", "BIG", ""));
  std::vector<std::string> report;
  EXPECT_OK(wa->Check(&report));

  // A second use of the same file without an alias gets one of its own.
  Engine other;
  int area = 0;
  ASSERT_OK(engine_.CloseAll());
  ASSERT_OK(other.Use(path, "", OpenMode::kShared, &area));
  int second = 0;
  ASSERT_OK(other.Use(path, "", OpenMode::kShared, &second));
  EXPECT_EQ(other.Alias(second), "KUNDEN_SCHEMA_ONLY_2");
  EXPECT_TRUE(other.Use(path, "A-B", OpenMode::kShared, &area).IsInvalidArgument());  // a given alias is as given
  ASSERT_OK(other.Use(dir_.File("KUNDEN-SCHEMA-ONLY.DBF"), "", OpenMode::kShared, &area));
  EXPECT_EQ(other.Alias(area), "KUNDEN_SCHEMA_ONLY_3");

  std::string out;
  EXPECT_EQ(Tool("dump " + path, &out), 0) << out;
  EXPECT_NE(out.find(R"("BIG":1234567890123456789012,"HUGE":-0.125,)"), std::string::npos) << out;
  // The name's bytes in the table's code page (0x65: DOS Russian).
  EXPECT_NE(out.find(R"("\u0428\u0410\u0420":"ball")"), std::string::npos) << out;
}

// Well-formed tables of other dialects are NotSupported, saying which and why; only a
// file that is no table at all is Corruption.
TEST_F(ForeignTable, OtherDialectsAreNotSupportedWithTheReason) {
  const std::string path = dir_.File("OTHER.DBF");
  const std::string good = RawTable(0x03, 0x03, {{"NAME", 'C', 4}}, {" abcd"});
  struct Case {
    uint8_t version;
    const char* says;
  };
  for (const Case& c : {Case{0x02, "0x02 (FoxBASE / dBase II)"}, Case{0x32, "0x32 (Visual FoxPro)"},
                        Case{0x8C, "0x8C (dBase 7 with memo)"}, Case{0x83, "0x83 (dBase III with a .DBT memo file)"}}) {
    std::string bytes = good;
    bytes[0] = static_cast<char>(c.version);
    WriteAll(path, bytes);
    WorkArea* wa = nullptr;
    Status s = Open(path, &wa);
    EXPECT_TRUE(s.IsNotSupported()) << s.ToString();
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.ToString();
    EXPECT_EQ(ReadAll(path), bytes);
  }
  // No fields at all: a header of 33 bytes and the end byte.
  WriteAll(path, RawTable(0x03, 0x03, {}, {}));
  WorkArea* wa = nullptr;
  Status s = Open(path, &wa);
  EXPECT_TRUE(s.IsNotSupported()) << s.ToString();
  EXPECT_NE(s.message().find("no fields"), std::string::npos) << s.ToString();

  std::string bytes = good;
  bytes[0] = 0x47;
  WriteAll(path, bytes);
  EXPECT_TRUE(Open(path, &wa).IsCorruption());
}

// A NUL inside a character field, with text after it, is what another program wrote:
// check says what it found and where, goes on to the end of the table (the damaged
// date further on is found too), and the tool prints every line whole.
TEST_F(ForeignTable, CheckTellsOfANulInsideTextAndGoesOn) {
  const std::string path = dir_.File("NUL.DBF");
  WriteAll(path, RawTable(0x03, 0x03, {{"NAME", 'C', 8}, {"WHEN", 'D', 8}},
                          {std::string(" ab\0cd\0\0\0", 9) + "20260101", " plain   20260102",
                           std::string(" tail\0\0\0\0", 9) + "2026x101"}));
  WorkArea* wa = nullptr;
  ASSERT_OK(Open(path, &wa));
  std::vector<std::string> report, notes;
  Status s = wa->Check(&report, &notes);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "record 1: field NAME has a NUL byte at position 3 with text after it: 'ab\\x00cd'");
  EXPECT_TRUE(s.IsCorruption());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0], "record 3: field WHEN holds '2026x101', not a date");
  ASSERT_OK(engine_.CloseAll());
  std::string out;
  EXPECT_EQ(Tool("check " + path, &out), 2);
  EXPECT_NE(out.find("note: record 1: field NAME has a NUL byte at position 3 with text after it: 'ab\\x00cd'\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("record 3: field WHEN holds '2026x101', not a date\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace xbase

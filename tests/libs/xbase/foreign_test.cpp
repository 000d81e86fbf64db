// Tables other programs wrote: read as far as possible, else NotSupported; writes keep what they rely on.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using namespace testing;

class ForeignTable : public ::testing::Test {
 protected:
  WorkArea* Open(const std::string& path, OpenMode mode = OpenMode::kShared, Status* s = nullptr) {
    int area = 0;
    const Status st = engine_.Use(path, "", mode, &area);
    if (s)
      *s = st;
    else
      EXPECT_OK(st);
    return st.ok() ? engine_.Area(area) : nullptr;
  }
  TempDir dir_;
  Engine engine_;
};

// Two fields called Point_ID (text and number): each is read by position, the shared name is refused.
TEST_F(ForeignTable, TwoFieldsOfOneNameAreReadByPositionAndTheNameIsRefused) {
  const std::string path = dir_.File("POINTS.DBF");
  std::vector<std::string> records;
  for (int i = 0; i < 14; ++i) {
    char rec[32];
    std::snprintf(rec, sizeof rec, " 5071%02d  %5d%-8s", 21 + i, 401 + i, "pole");
    records.push_back(rec);
  }
  WriteAll(path, RawTable(0x03, 0x00, {{"Point_ID", 'C', 8}, {"Point_ID", 'N', 5}, {"KIND", 'C', 8}}, records));
  const std::string before = ReadAll(path);
  WorkArea* wa = Open(path, OpenMode::kExclusive);
  ASSERT_TRUE(wa);
  ASSERT_OK(wa->Go(1));
  std::string first, second;
  ASSERT_OK(wa->GetStringAt(0, &first));
  ASSERT_OK(wa->GetStringAt(1, &second));
  EXPECT_EQ(first + "|" + second, "507121  |  401");
  EXPECT_TRUE(wa->GetStringAt(3, &first).IsInvalidArgument());
  for (const Status& s : {wa->GetString("POINT_ID", &first), wa->Query("POINT_ID = 401"), wa->Replace("POINT_ID", "9"),
                          wa->IndexTag("P", "POINT_ID", "")})
    EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
  EXPECT_EQ(Trim(wa, "KIND"), "pole");
  ASSERT_OK(engine_.CloseAll());
  EXPECT_EQ(ReadAll(path), before);
}

// The code page mark and the header beyond count and date survive every write, pack and reindex.
TEST_F(ForeignTable, EveryWriteKeepsTheCodePageMarkAndTheHeaderItFound) {
  for (const uint8_t mark : {uint8_t{0x00}, uint8_t{0x65}}) {
    SCOPED_TRACE(static_cast<int>(mark));
    const std::string path = dir_.File(mark ? "RU.DBF" : "DOS.DBF");
    // \x81: 'ü' in DOS code page 437, nothing in Windows-1252; 263 bytes of FoxPro's after the fields.
    std::string found = RawTable(0x03, mark, {{"NAME", 'C', 10}, {"N", 'N', 3}},
                                 {" M\x81ller      1", "*gone        2",
                                  " Stra\xE1"
                                  "e      3"},
                                 263);
    found[28] = 0x03;  // FoxPro's flags: a structural CDX, a memo file
    WriteAll(path, found);
    WorkArea* wa = Open(path, OpenMode::kExclusive);
    ASSERT_TRUE(wa);
    EXPECT_EQ(wa->CodePageMark(), mark);
    EXPECT_EQ(Trim(wa, "NAME"), "M\x81ller");
    ASSERT_OK(wa->AppendBlank());
    ASSERT_OK(wa->Replace("NAME", "K\x94nig"));
    ASSERT_OK(wa->ReplaceInteger("N", 4));
    ASSERT_OK(wa->Commit());
    ASSERT_OK(DeleteRecord(wa, 1));
    ASSERT_OK(wa->IndexTag("NAME", "NAME", ""));
    ASSERT_OK(wa->Pack());
    ASSERT_OK(wa->Reindex());
    EXPECT_EQ(wa->CodePageMark(), mark);
    ASSERT_OK(engine_.CloseAll());
    const std::string now = ReadAll(path);
    EXPECT_EQ(now[0], found[0]);
    EXPECT_EQ(static_cast<uint8_t>(now[29]), mark);
    EXPECT_EQ(GetLE(now, 4, 4), 2u);
    // All after the count as found, but the structural-index flag: the index beside it is no FoxPro CDX.
    const size_t header = GetLE(found, 8, 2);
    EXPECT_EQ(now.substr(8, 20), found.substr(8, 20));
    EXPECT_EQ(now[28], 0x02);
    EXPECT_EQ(now.substr(29, header - 29), found.substr(29, header - 29));
    EXPECT_EQ(now.substr(header, 16),
              " Stra\xE1"
              "e      3 K");
  }
}

// Numbers wider than 20 digits, field names beyond ASCII or with '-', any file name: all read.
TEST_F(ForeignTable, WideNumbersOddNamesAndAnyFileNameAreRead) {
  const std::string shar = "\x98\x80\x90";  // "ШАР" in DOS code page 866
  const std::string path = dir_.File("KUNDEN-SCHEMA-ONLY.DBF");
  const std::string wide24 = "  1234567890123456789012", wide50 = std::string(43, ' ') + "-12.500";
  WriteAll(path, RawTable(0x03, 0x65, {{"BIG", 'N', 24}, {"HUGE", 'N', 50, 3}, {shar, 'C', 4}, {"KUNDEN-NR", 'C', 6}},
                          {" " + wide24 + wide50 + "ball" + "K-0001"}));
  WorkArea* wa = Open(path, OpenMode::kExclusive);
  ASSERT_TRUE(wa);
  EXPECT_EQ(wa->alias(), "KUNDEN_SCHEMA_ONLY");
  EXPECT_EQ(Str(wa, "BIG"), wide24);
  double n = 0;
  ASSERT_OK(wa->GetNumber("BIG", &n));
  EXPECT_DOUBLE_EQ(n, 1234567890123456789012.0);
  ASSERT_OK(wa->GetNumber("HUGE", &n));
  EXPECT_DOUBLE_EQ(n, -12.5);
  EXPECT_EQ(Str(wa, shar) + Str(wa, "kunden-nr"), "ballK-0001");
  // Written at their width too.
  ASSERT_OK(wa->Replace("HUGE", "-0.125"));
  ASSERT_OK(wa->Commit());
  EXPECT_EQ(Str(wa, "HUGE"), std::string(44, ' ') + "-0.125");
  ASSERT_OK(wa->IndexTag("BIG", "BIG", ""));
  EXPECT_OK(CheckOf(wa));
}

// Other dialects and field kinds are NotSupported, saying which; no table is Corruption; the file stays.
TEST_F(ForeignTable, HeadersItCannotReadAreNotSupportedOrCorruptionAndLeftAlone) {
  const std::string path = dir_.File("OTHER.DBF");
  const std::string good = RawTable(0x03, 0x03, {{"NAME", 'C', 4}}, {" abcd"});
  auto changed = [&](size_t at, uint8_t v) {
    std::string b = good;
    b[at] = static_cast<char>(v);
    return b;
  };
  const struct {
    std::string bytes;
    bool corrupt;  // else NotSupported
    const char* says;
  } cases[] = {
      {changed(0, 0x02), false, "0x02 (FoxBASE / dBase II)"},
      {changed(0, 0x30), false, "Visual FoxPro"},
      {changed(0, 0x32), false, "0x32 (Visual FoxPro)"},
      {changed(0, 0x8C), false, "0x8C (dBase 7 with memo)"},
      {changed(0, 0x83), false, "0x83 (dBase III with a .DBT memo file)"},
      {changed(32 + 11, 'G'), false, ""},                  // a general field
      {RawTable(0x03, 0x03, {}, {}), false, "no fields"},  // a header of 33 bytes and the end byte
      {changed(0, 0x47), true, ""},
      {good.substr(0, 20), true, "too short"},
      {good.substr(0, 50), true, ""},                      // cut inside the field list
      {changed(10, good[10] - 1), true, "record length"},  // shorter than the fields
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    WriteAll(path, c.bytes);
    Status s;
    Open(path, OpenMode::kShared, &s);
    EXPECT_TRUE(c.corrupt ? s.IsCorruption() : s.IsNotSupported()) << s.ToString();
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_EQ(ReadAll(path), c.bytes);
  }
}

// Names and text in the table's own code page: the mark (dBase III Cyrillic, Big5 whose second bytes
// may be ASCII letters), a .cpg file over it; a record a byte longer than its fields is read and kept.
TEST_F(ForeignTable, NamesAndTextAreReadInTheTablesOwnCodePage) {
  const struct {
    uint8_t mark;
    const char *cpg, *page;  // cpg nullptr: no .cpg file
    std::string name, text, utf8;
  } cases[] = {{0x26, nullptr, "cp866", "\x88\xac\xef", "\x88\xa2\xa0\xad", "Имя Иван"},
               {0x78, nullptr, "cp950", "\xa9m\xa6W",
                "\xa6"
                "a\xa7}",
                "姓名 地址"},
               {0x00, "ANSI 1251", "cp1251", "\xc8\xec\xff", "\xc8\xe2\xe0\xed", "Имя Иван"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    const std::string path = dir_.File("NAMES.DBF");
    std::string bytes = RawTable(0x03, c.mark, {{c.name, 'C', 8}, {"N", 'N', 3}}, {" " + c.text + "    ***-"});
    PutLE(&bytes, 10, 2, 13);
    WriteAll(path, bytes);
    if (c.cpg) WriteAll(dir_.File("NAMES.CPG"), c.cpg);
    WorkArea* wa = Open(path, OpenMode::kExclusive);
    ASSERT_TRUE(wa);
    EXPECT_EQ(wa->CodePage(), c.page);
    EXPECT_EQ(DecodeText(c.page, wa->Fields()[0].name) + " " + DecodeText(c.page, Trim(wa, c.name)), c.utf8);
    ASSERT_OK(wa->Replace("N", "7"));
    ASSERT_OK(engine_.CloseAll());
    EXPECT_EQ(ReadAll(path).substr(ReadAll(path).size() - 5), "  7-\x1A");
  }
}

// A NUL inside text is noted with its place, and check goes on (finding the bad date after it).
TEST_F(ForeignTable, CheckTellsOfANulInsideTextAndGoesOn) {
  const std::string path = dir_.File("NUL.DBF");
  WriteAll(path, RawTable(0x03, 0x03, {{"NAME", 'C', 8}, {"WHEN", 'D', 8}},
                          {std::string(" ab\0cd\0\0\0", 9) + "20260101", " plain   20260102",
                           std::string(" tail\0\0\0\0", 9) + "2026x101"}));
  WorkArea* wa = Open(path);
  ASSERT_TRUE(wa);
  std::vector<std::string> report, notes;
  EXPECT_TRUE(wa->Check(&report, &notes).IsCorruption());
  EXPECT_EQ(notes, std::vector<std::string>{
                       "record 1: field NAME has a NUL byte at position 3 with text after it: 'ab\\x00cd'"});
  EXPECT_EQ(report, std::vector<std::string>{"record 3: field WHEN holds '2026x101', not a date"});
}

}  // namespace
}  // namespace xbase

// Converting a table's text to UTF-8: whole or not at all, whenever the process dies; one case
// mapping in index and seek.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "support/xbase_fault_env.h"
#include "support/xbase_raw_files.h"
#include "test_util.h"

namespace xbase {
namespace {

using namespace testing;

// Windows-1252 text: every byte the code page has comes round; every seventh record fills its
// field with letters of two bytes each in UTF-8, so the field must grow.
std::string Cp1252Name(int i) {
  if (i % 7 == 0) return std::string(20, static_cast<char>(0xE0 + i % 32));
  std::string s = "r" + std::to_string(i) + " ";
  for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(0x80 + (i * 4 + k) % 128));
  return s;
}

// Killed at random operations (a torn write, a rename, a removal; every other kill among the last
// sixteen: the commit and the renames), the table reads as the old one or the converted one with
// every record as it was. XBASE_CONVERT_RECORDS=10000 XBASE_CONVERT_KILLS=50 is the full run.
TEST(ConvertToUtf8, KilledAtAnyMomentLeavesTheOldTableOrTheNewOneWhole) {
  const char *n = std::getenv("XBASE_CONVERT_RECORDS"), *k = std::getenv("XBASE_CONVERT_KILLS");
  const int records = n ? std::atoi(n) : 600, kills = k ? std::atoi(k) : 12;
  TempDir pristine, dir;
  const std::string table = dir.File("T.DBF"), backup = dir.File("T_CP1252.DBF");
  std::vector<std::string> names;
  {
    ASSERT_OK(CreateTable(Env::Default(), pristine.File("T.DBF"), SampleFields()));
    Opened t(pristine.File("T.DBF"), OpenMode::kExclusive);
    ASSERT_OK(t.wa->IndexTag("N", "upper(NAME)", "!DELETED()"));
    ASSERT_OK(t.wa->BeginBatch());
    for (int i = 0; i < records; ++i) {
      ASSERT_OK(t.wa->AppendBlank());
      ASSERT_OK(t.wa->Replace("NAME", Cp1252Name(i)));
      ASSERT_OK(t.wa->ReplaceMemo("NOTE", "\x80" + Cp1252Name(i)));
      ASSERT_OK(t.wa->Commit());
      names.push_back(DecodeText(kWindows1252, Cp1252Name(i)));
    }
    ASSERT_OK(t.wa->EndBatch());
  }
  const auto convert = [&](Env* env) {
    for (const auto& e : std::filesystem::directory_iterator(dir.File(""))) std::filesystem::remove(e.path());
    for (const char* ext : {".DBF", ".FPT", ".CDX"})
      std::filesystem::copy_file(pristine.File(std::string("T") + ext), dir.File(std::string("T") + ext));
    Opened t(table, OpenMode::kExclusive, env);
    return t.s.ok() ? t.wa->ConvertToUtf8(backup) : t.s;
  };
  FaultInjectionEnv counting(Env::Default());
  ASSERT_OK(convert(&counting));
  std::mt19937 random(43);
  int converted = 0;
  for (int kill = 0; kill <= kills; ++kill) {
    SCOPED_TRACE(kill);
    const int64_t last = counting.operations() - 1, at = std::uniform_int_distribution<int64_t>(
                                                        kill % 2 ? 0 : std::max<int64_t>(0, last - 15), last)(random);
    if (kill > 0 && fork() == 0) {
      FaultInjectionEnv env(Env::Default());
      env.SetWriteFault(FaultInjectionEnv::WriteFault::kTorn);
      env.SetCrashHook([] { raise(SIGKILL); });
      env.FailAfter(at);
      _exit(convert(&env).ok() ? 0 : 1);
    }
    int status = 0;
    ASSERT_TRUE(kill == 0 || (wait(&status) > 0 && WIFSIGNALED(status))) << "operation " << at;
    Opened t(table, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    converted += t.wa->CodePage() == kUtf8;
    EXPECT_EQ(ReadAll(t.wa->CodePage() == kUtf8 ? backup : table), ReadAll(pristine.File("T.DBF")));
    ASSERT_EQ(t.wa->RecCount(), static_cast<uint32_t>(records));
    for (uint32_t i = 0; i < static_cast<uint32_t>(records); ++i) {
      ASSERT_OK(t.wa->Go(i + 1));
      ASSERT_EQ(DecodeText(t.wa->CodePage(), Trim(t.wa, "NAME")), names[i]) << i;
      ASSERT_EQ(DecodeText(t.wa->CodePage(), Memo(t.wa, "NOTE")), "€" + names[i]) << i;
    }
    EXPECT_OK(CheckOf(t.wa));
  }
  std::printf("%d of %d runs ended converted\n", converted, kills + 1);
}

// In a UTF-8 table upper() maps every script, the same in the index and in a seek; a text that
// would need more than 254 bytes stops the conversion, which then changes nothing.
TEST(ConvertToUtf8, OneCaseMappingInIndexAndSeekAndTooLongTextRefused) {
  TempDir dir;
  const std::string table = dir.File("T.DBF");
  ASSERT_OK(CreateTable(Env::Default(), table, {{"NAME", 'C', 40}, {"LONG", 'C', 100}}));
  Opened t(table, OpenMode::kExclusive);
  ASSERT_OK(t.wa->IndexTag("N", "upper(NAME)", ""));
  ASSERT_OK(t.wa->AppendBlank());
  ASSERT_OK(t.wa->Replace("LONG", std::string(100, '\x80')));  // 300 bytes in UTF-8
  ASSERT_OK(t.wa->Commit());
  const std::string before = ReadAll(table);
  EXPECT_TRUE(t.wa->ConvertToUtf8(dir.File("B.DBF")).IsNotSupported());
  EXPECT_EQ(ReadAll(table), before);
  ASSERT_OK(t.wa->Replace("LONG", std::string(80, '\x80')));
  ASSERT_OK(t.wa->Commit());
  std::vector<std::string> widened;
  ASSERT_OK(t.wa->ConvertToUtf8(dir.File("B.DBF"), &widened));
  EXPECT_EQ(widened, std::vector<std::string>{"LONG"});
  EXPECT_EQ(t.wa->Fields()[1].length, 240u);
  const std::vector<std::string> texts = {"встреча",   "γιορτή",   "موعد", "פגישה", "会议",
                                          "かいぎ",    "회의",     "बैठक",  "ประชุม", "ärzte ıi ß",
                                          "հանդիպում", "შეხვედრა", "ǆ ᾳ",  "🎂 anna"};
  for (const std::string& s : texts) {
    ASSERT_OK(t.wa->AppendBlank());
    ASSERT_OK(t.wa->Replace("NAME", s));
    ASSERT_OK(t.wa->Commit());
  }
  EXPECT_OK(CheckOf(t.wa));
  ASSERT_OK(t.wa->SetOrder("N"));
  for (const std::string& s : texts) {
    bool found = false;
    ASSERT_OK(t.wa->Seek(UpperUtf8(s), &found));
    EXPECT_EQ(found ? Trim(t.wa, "NAME") : "", s);
  }
  EXPECT_EQ(UpperUtf8("встреча γιορτή ärzte ǆ ıi ß ᾳ"), "ВСТРЕЧА ΓΙΟΡΤΉ ÄRZTE Ǆ II ß ᾼ");
}

}  // namespace
}  // namespace xbase

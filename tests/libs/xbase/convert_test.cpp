// Converting a table's text to UTF-8: whole or not at all, whatever moment the process dies; one
// case mapping in index and seek.
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

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// Windows-1252 text of record i: every byte the code page defines comes round; every seventh
// record fills its field with letters that take two bytes each in UTF-8.
std::string Cp1252Name(int i) {
  if (i % 7 == 0) return std::string(20, static_cast<char>(0xE0 + i % 32));
  std::string s = "r" + std::to_string(i) + " ";
  for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(0x80 + (i * 4 + k) % 128));
  return s;
}

// Kills the conversion at random operations (a write torn half way, a rename, a removal) and
// reads the table after each: the old table or the converted one, every record as it was.
// XBASE_CONVERT_RECORDS and XBASE_CONVERT_KILLS make the run larger (10000 and 50 for the full one).
TEST(ConvertToUtf8, KilledAtAnyMomentLeavesTheOldTableOrTheNewOneWhole) {
  const int records = EnvInt("XBASE_CONVERT_RECORDS", 600), kills = EnvInt("XBASE_CONVERT_KILLS", 12);
  TempDir pristine, dir;
  const std::string table = dir.File("T.DBF"), backup = dir.File("T_CP1252.DBF");
  std::vector<std::string> names, memos;
  {
    ASSERT_OK(CreateTable(Env::Default(), pristine.File("T.DBF"), SampleFields()));
    Opened t(pristine.File("T.DBF"), OpenMode::kExclusive);
    ASSERT_OK(t.wa->IndexTag("N", "upper(NAME)", "!DELETED()"));
    ASSERT_OK(t.wa->BeginBatch());
    for (int i = 0; i < records; ++i) {
      ASSERT_OK(t.wa->AppendBlank());
      ASSERT_OK(t.wa->Replace("NAME", Cp1252Name(i)));
      ASSERT_OK(t.wa->ReplaceMemo("NOTE", "m\xE9mo \x80" + std::to_string(i)));
      ASSERT_OK(t.wa->Commit());
      names.push_back(DecodeText(kWindows1252, Cp1252Name(i)));
      memos.push_back("mémo €" + std::to_string(i));
    }
    ASSERT_OK(t.wa->EndBatch());
  }
  const std::string original = ReadAll(pristine.File("T.DBF"));
  const auto fresh_copy = [&] {
    for (const auto& e : std::filesystem::directory_iterator(dir.File(""))) std::filesystem::remove(e.path());
    for (const char* ext : {".DBF", ".FPT", ".CDX"})
      std::filesystem::copy_file(pristine.File(std::string("T") + ext), dir.File(std::string("T") + ext));
  };
  const auto convert = [&](Env* env) {
    Opened t(table, OpenMode::kExclusive, env);
    return t.s.ok() ? t.wa->ConvertToUtf8(backup) : t.s;
  };
  fresh_copy();
  FaultInjectionEnv counting(Env::Default());
  ASSERT_OK(convert(&counting));
  const int64_t operations = counting.operations();
  std::mt19937 random(43);
  int converted = 0;
  for (int k = 0; k <= kills; ++k) {
    SCOPED_TRACE(k);
    if (k > 0) {
      fresh_copy();
      // Every other kill falls among the last operations: the commit and the renames.
      const int64_t at = std::uniform_int_distribution<int64_t>(k % 2 ? 0 : std::max<int64_t>(0, operations - 16),
                                                                operations - 1)(random);
      const pid_t pid = fork();
      if (pid == 0) {
        FaultInjectionEnv env(Env::Default());
        env.SetWriteFault(FaultInjectionEnv::WriteFault::kTorn);
        env.SetCrashHook([] { raise(SIGKILL); });
        env.FailAfter(at);
        _exit(convert(&env).ok() ? 0 : 1);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFSIGNALED(status)) << "operation " << at << " of " << operations;
    }
    Opened t(table, OpenMode::kExclusive);
    ASSERT_OK(t.s);
    const bool utf8 = t.wa->CodePage() == kUtf8;
    converted += utf8;
    if (utf8) {
      EXPECT_EQ(ReadAll(backup), original);
    }
    ASSERT_EQ(t.wa->RecCount(), static_cast<uint32_t>(records));
    for (int i = 0; i < records; ++i) {
      ASSERT_OK(t.wa->Go(static_cast<uint32_t>(i + 1)));
      ASSERT_EQ(DecodeText(t.wa->CodePage(), Trim(t.wa, "NAME")), names[static_cast<size_t>(i)]) << i;
      ASSERT_EQ(DecodeText(t.wa->CodePage(), Memo(t.wa, "NOTE")), memos[static_cast<size_t>(i)]) << i;
    }
    EXPECT_OK(CheckOf(t.wa));
  }
  std::printf("%d of %d runs ended converted (%lld operations)\n", converted, kills + 1,
              static_cast<long long>(operations));
}

// In a UTF-8 table upper() maps every script, the same way in the index and in a seek; a text
// that would not fit 254 bytes stops the conversion, which changes nothing.
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
  const std::vector<std::string> texts = {
      "встреча с анной", "γιορτή",          "موعد مع الطبيب", "פגישה",    "会议三点", "かいぎ", "회의", "बैठक",
      "ประชุม",           "ärzte élan ıi ß", "հանդիպում",      "შეხვედრა", "ǆemal ᾳ",  "🎂 anna"};
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
    EXPECT_TRUE(found) << s;
    EXPECT_EQ(found ? Trim(t.wa, "NAME") : "", s);
  }
  EXPECT_EQ(UpperUtf8("встреча γιορτή ärzte ǆ ıi ß ᾳ"), "ВСТРЕЧА ΓΙΟΡΤΉ ÄRZTE Ǆ II ß ᾼ");
}

}  // namespace
}  // namespace xbase

// Shared helpers for the engine tests: a temporary folder, the sample table, reads of the current record.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "xbase/engine.h"

namespace xbase::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "xbase-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<FieldDef> SampleFields() {
  return {{"NAME", 'C', 20}, {"WHEN", 'D', 8},  {"MINUTES", 'N', 4},
          {"FLAG", 'L', 1},  {"NOTE", 'M', 10}, {"PRICE", 'N', 8, 2}};
}

#define ASSERT_OK(expr)                    \
  do {                                     \
    ::xbase::Status _s = (expr);           \
    ASSERT_TRUE(_s.ok()) << _s.ToString(); \
  } while (0)
#define EXPECT_OK(expr) EXPECT_TRUE((expr).ok())

// A field of the current record: as stored, trimmed, as a whole number, a memo.
#define XBASE_TEST_GETTER(Name, Type, Call)                  \
  inline Type Name(WorkArea* wa, const std::string& field) { \
    Type v{};                                                \
    const Status s = wa->Call(field, &v);                    \
    EXPECT_TRUE(s.ok()) << field << ": " << s.ToString();    \
    return v;                                                \
  }
XBASE_TEST_GETTER(Str, std::string, GetString)
XBASE_TEST_GETTER(Trim, std::string, GetTrimString)
XBASE_TEST_GETTER(Int, int64_t, GetInteger)
XBASE_TEST_GETTER(Memo, std::string, GetMemo)
#undef XBASE_TEST_GETTER

// A table opened by an engine of its own; s says how the open went, wa is its work area.
struct Opened {
  explicit Opened(const std::string& path, OpenMode mode = OpenMode::kShared, Env* env = nullptr,
                  std::string_view alias = "T")
      : e(env) {
    int area = 0;
    s = e.Use(path, alias, mode, &area);
    if (s.ok()) wa = e.Current();
  }
  Engine e;
  Status s;
  WorkArea* wa = nullptr;
};

// Check's result; its report lines go to *report when given.
inline Status CheckOf(WorkArea* wa, std::vector<std::string>* report = nullptr) {
  std::vector<std::string> lines;
  return wa->Check(report ? report : &lines);
}

// Appends one record with name, date and minutes, committing it.
inline Status AddRow(WorkArea* wa, const std::string& name, const std::string& date, int minutes) {
  XBASE_RETURN_IF_ERROR(wa->AppendBlank());
  XBASE_RETURN_IF_ERROR(wa->Replace("NAME", name));
  XBASE_RETURN_IF_ERROR(wa->Replace("WHEN", date));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("MINUTES", minutes));
  XBASE_RETURN_IF_ERROR(wa->Commit());
  return wa->Unlock(0);
}

// Goes to record r, marks it deleted and commits.
inline Status DeleteRecord(WorkArea* wa, uint32_t r) {
  XBASE_RETURN_IF_ERROR(wa->Go(r));
  XBASE_RETURN_IF_ERROR(wa->Delete());
  return wa->Commit();
}

// The trimmed names of the records a walk in the current order visits.
inline std::vector<std::string> Names(WorkArea* wa) {
  std::vector<std::string> r;
  Status s = wa->GoTop();
  for (; s.ok() && !wa->Eof(); s = wa->Skip(1)) r.push_back(Trim(wa, "NAME"));
  EXPECT_TRUE(s.ok()) << "the walk stopped: " << s.ToString();
  return r;
}

}  // namespace xbase::testing

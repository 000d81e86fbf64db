// Shared helpers for the engine tests: a private temporary folder per test and
// the small reminder-like table most tests use.
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
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<FieldDef> SampleFields() {
  return {
      {"NAME", 'C', 20}, {"WHEN", 'D', 8},  {"MINUTES", 'N', 4},
      {"FLAG", 'L', 1},  {"NOTE", 'M', 10}, {"PRICE", 'N', 8, 2},
  };
}

#define ASSERT_OK(expr)                    \
  do {                                     \
    ::xbase::Status _s = (expr);           \
    ASSERT_TRUE(_s.ok()) << _s.ToString(); \
  } while (0)
#define EXPECT_OK(expr)                    \
  do {                                     \
    ::xbase::Status _s = (expr);           \
    EXPECT_TRUE(_s.ok()) << _s.ToString(); \
  } while (0)

// Appends one record with name, date and minutes, committing it.
inline Status AddRow(WorkArea* wa, const std::string& name, const std::string& date, int minutes) {
  XBASE_RETURN_IF_ERROR(wa->AppendBlank());
  XBASE_RETURN_IF_ERROR(wa->Replace("NAME", name));
  XBASE_RETURN_IF_ERROR(wa->Replace("WHEN", date));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("MINUTES", minutes));
  XBASE_RETURN_IF_ERROR(wa->Commit());
  return wa->Unlock(0);
}

}  // namespace xbase::testing

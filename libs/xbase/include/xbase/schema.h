// Field lists: what a table holds. Used to create tables and to describe open ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xbase/status.h"

namespace xbase {

struct FieldDef {
  std::string name;  // up to 10 characters, letters, digits and '_', upper case on disk
  char type;         // 'C' character, 'N' numeric, 'D' date, 'L' logical, 'M' memo
  uint32_t length;   // C 1..254, N 1..20, D 8, L 1, M 10
  uint32_t decimals = 0;
};

// Checks a field list against the FoxPro 2.x limits.
Status ValidateFields(const std::vector<FieldDef>& fields);

class Env;
// Writes an empty FoxPro 2.x table (and an empty memo file when a memo field exists).
// Fails with InvalidArgument when the table already exists and `overwrite` is false.
Status CreateTable(Env* env, const std::string& path, const std::vector<FieldDef>& fields, bool overwrite = false);

// Whether the file at `path` has the shape of an index FoxPro writes (CDX or IDX: 512-byte
// pages, a header naming its root page and key length), as opposed to this engine's index
// or bytes that are no index at all.
bool IsFoxProIndexFile(Env* env, const std::string& path);

// The memo file and index file belonging to a table path: "X.DBF" -> "X.FPT", "x.dbf" -> "x.fpt".
// An existing file of either letter case is preferred.
std::string CompanionPath(Env* env, const std::string& table_path, const char* upper_ext);

}  // namespace xbase

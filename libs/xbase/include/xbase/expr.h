// xBase expressions: the language of index keys, FOR conditions and queries.
//
//   dtos(EVENTDATE)+str(STARTTIME,4,0)        a 12-character text
//   !DELETED().and.STATUS<>'H'                a logical
//
// An expression is compiled once against a table's fields and then evaluated
// against many records. Field names are case-insensitive and may carry an
// "ALIAS->" prefix.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/status.h"

namespace xbase {

enum class ValueType : uint8_t { kString, kNumber, kLogical, kDate };

const char* ValueTypeName(ValueType t);

struct Value {
  ValueType type = ValueType::kString;
  std::string s;   // kString text; kDate "yyyymmdd" or eight blanks
  double n = 0;    // kNumber
  bool b = false;  // kLogical
};

// What an expression can see of one record.
struct FieldRef {
  std::string name;  // upper case
  char type;         // C N F D L M
  uint32_t offset;   // within the record, after the deletion flag byte
  uint32_t length;
  uint32_t decimals;
};

class CompiledExpr;

// Resolves QKeyVal('TAG') at compile time to the tag's key expression.
using TagResolver = std::function<const CompiledExpr*(std::string_view tag)>;

struct RecordView {
  const char* data = nullptr;  // whole record including the deletion flag byte
  uint32_t recno = 0;
};

class CompiledExpr {
 public:
  struct Node;
  ~CompiledExpr();
  CompiledExpr(CompiledExpr&&) noexcept;
  CompiledExpr& operator=(CompiledExpr&&) noexcept;

  // Parses and type-checks `text`. `alias` (may be empty) is accepted as a field prefix.
  // `code_page` is the table's (see text.h): in a UTF-8 table upper() and lower() map every
  // letter of Unicode (UpperUtf8), elsewhere ASCII letters only.
  static Status Compile(std::string_view text, const std::vector<FieldRef>& fields, std::string_view alias,
                        const TagResolver& tags, std::unique_ptr<CompiledExpr>* out, std::string_view code_page = {});

  ValueType type() const { return type_; }
  const std::string& text() const { return text_; }
  // Evaluation cannot fail once compiled; values that do not fit (str() overflow)
  // follow xBase rules (asterisks).
  void Evaluate(const RecordView& rec, Value* out) const;
  bool EvaluateLogical(const RecordView& rec) const;

 private:
  CompiledExpr() = default;
  std::unique_ptr<Node> root_;
  ValueType type_ = ValueType::kString;
  std::string text_;
};

// xBase text helpers shared with callers.
// str(n,len,dec): right-aligned, rounded; asterisks when it does not fit.
std::string FormatNumber(double n, int len, int dec);
// Reads the leading number of a text the way xBase val() does ("12ab" -> 12, "ab" -> 0).
double ParseLeadingNumber(std::string_view text);

}  // namespace xbase

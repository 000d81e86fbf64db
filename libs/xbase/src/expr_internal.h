// Internals of the expression compiler shared by its lexer, parser and evaluator.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/expr.h"

namespace xbase {

inline std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

inline bool AllBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

inline std::string_view RTrim(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}
inline std::string_view LTrim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// Comparison of texts with EXACT off: the left side is cut or blank-padded to
// the length of the right side before a byte-wise comparison.
inline int CompareText(std::string_view a, std::string_view b) {
  size_t n = b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

enum class Op {
  kField,
  kConst,
  kNot,
  kAnd,
  kOr,
  kNeg,
  kAdd,
  kSub,
  kMul,
  kDiv,
  kEq,
  kExactEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kContains,
  kDtos,
  kStr,
  kSubstr,
  kUpper,
  kLower,
  kUpperUnicode,  // upper() and lower() in a UTF-8 table
  kLowerUnicode,
  kTrim,
  kLTrim,
  kAllTrim,
  kLeft,
  kRight,
  kVal,
  kLen,
  kEmpty,
  kDeleted,
  kRecno,
  kIif,
  kQKeyVal,
};

struct CompiledExpr::Node {
  Op op;
  ValueType type;
  std::vector<std::unique_ptr<Node>> kids;
  Value constant;
  const FieldRef* field = nullptr;
  FieldRef field_copy;
  const CompiledExpr* tag_key = nullptr;
};

using Node = CompiledExpr::Node;

enum class Tok {
  kEnd,
  kIdent,
  kString,
  kNumber,
  kTrue,
  kFalse,
  kAnd,
  kOr,
  kNot,
  kOp,
  kLParen,
  kRParen,
  kComma,
  kArrow
};

struct Token {
  Tok kind;
  std::string text;  // identifier (upper case), string body, operator
  double number = 0;
  size_t pos = 0;
};

// Splits `text` into tokens, ending with a kEnd token. Errors name the column.
Status Lex(std::string_view text, std::vector<Token>* tokens);

// Parses and type-checks a token list into a tree.
Status ParseExpression(std::string_view text, const std::vector<FieldRef>& fields, std::string_view alias,
                       const TagResolver& tags, std::unique_ptr<Node>* out);

void Eval(const Node& n, const RecordView& rec, Value* out);

}  // namespace xbase

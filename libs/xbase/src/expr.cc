#include "xbase/expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace xbase {

const char* ValueTypeName(ValueType t) {
  switch (t) {
    case ValueType::kString: return "character";
    case ValueType::kNumber: return "numeric";
    case ValueType::kLogical: return "logical";
    case ValueType::kDate: return "date";
  }
  return "?";
}

std::string FormatNumber(double n, int len, int dec) {
  if (len <= 0) return std::string();
  if (dec < 0) dec = 0;
  if (!std::isfinite(n)) return std::string(static_cast<size_t>(len), '*');
  if (dec == 0 && std::fabs(n) < 1e15) {
    // Whole numbers (every time of day in an index key) without printf;
    // halves round away from zero as xBase does.
    long long v = std::llround(n);
    char digits[24];
    int k = 0;
    unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
      digits[k++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (v < 0) digits[k++] = '-';
    if (k > len) return std::string(static_cast<size_t>(len), '*');
    std::string r(static_cast<size_t>(len - k), ' ');
    while (k > 0) r.push_back(digits[--k]);
    return r;
  }
  char buf[400];
  int w = std::snprintf(buf, sizeof buf, "%*.*f", len, std::min(dec, 30), n);
  if (w < 0 || w > len) return std::string(static_cast<size_t>(len), '*');
  return std::string(buf, static_cast<size_t>(w));
}

double ParseLeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  bool digits = false;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, digits = true;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, digits = true;
  }
  if (!digits) return 0;
  size_t sign = start < text.size() && (text[start] == '-' || text[start] == '+') ? 1 : 0;
  if (i - start - sign <= 15 && text.substr(start, i - start).find('.') == std::string_view::npos) {
    long long v = 0;
    for (size_t k = start + sign; k < i; ++k) v = v * 10 + (text[k] - '0');
    return static_cast<double>(sign && text[start] == '-' ? -v : v);
  }
  std::string part(text.substr(start, i - start));
  return std::strtod(part.c_str(), nullptr);
}

namespace {

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

bool AllBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

std::string_view RTrim(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}
std::string_view LTrim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// Comparison of texts with EXACT off: the left side is cut or blank-padded to
// the length of the right side before a byte-wise comparison.
int CompareText(std::string_view a, std::string_view b) {
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

}  // namespace

struct CompiledExpr::Node {
  Op op;
  ValueType type;
  std::vector<std::unique_ptr<Node>> kids;
  Value constant;
  const FieldRef* field = nullptr;
  FieldRef field_copy;
  const CompiledExpr* tag_key = nullptr;
};

namespace {

using Node = CompiledExpr::Node;

void ReadField(const FieldRef& f, const char* rec, Value* out) {
  const char* p = rec + 1 + f.offset;
  std::string_view raw(p, f.length);
  switch (f.type) {
    case 'N':
    case 'F':
      out->type = ValueType::kNumber;
      out->n = ParseLeadingNumber(raw);
      break;
    case 'D':
      out->type = ValueType::kDate;
      out->s.assign(raw);
      break;
    case 'L':
      out->type = ValueType::kLogical;
      out->b = !raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
      break;
    default:
      out->type = ValueType::kString;
      out->s.assign(raw);
      break;
  }
}

bool IsEmpty(const Value& v) {
  switch (v.type) {
    case ValueType::kString:
    case ValueType::kDate: return AllBlank(v.s);
    case ValueType::kNumber: return v.n == 0;
    case ValueType::kLogical: return !v.b;
  }
  return true;
}

int CompareValues(const Value& a, const Value& b) {
  switch (a.type) {
    case ValueType::kString: return CompareText(a.s, b.s);
    case ValueType::kDate: return a.s == b.s ? 0 : (a.s < b.s ? -1 : 1);
    case ValueType::kNumber: return a.n == b.n ? 0 : (a.n < b.n ? -1 : 1);
    case ValueType::kLogical: return a.b == b.b ? 0 : (a.b ? 1 : -1);
  }
  return 0;
}

void Eval(const Node& n, const RecordView& rec, Value* out) {
  switch (n.op) {
    case Op::kField: ReadField(*n.field, rec.data, out); return;
    case Op::kConst: *out = n.constant; return;
    case Op::kNot:
      Eval(*n.kids[0], rec, out);
      out->b = !out->b;
      return;
    case Op::kAnd:
      Eval(*n.kids[0], rec, out);
      if (out->b) Eval(*n.kids[1], rec, out);
      return;
    case Op::kOr:
      Eval(*n.kids[0], rec, out);
      if (!out->b) Eval(*n.kids[1], rec, out);
      return;
    case Op::kNeg:
      Eval(*n.kids[0], rec, out);
      out->n = -out->n;
      return;
    case Op::kAdd:
    case Op::kSub:
    case Op::kMul:
    case Op::kDiv: {
      Value b;
      Eval(*n.kids[0], rec, out);
      Eval(*n.kids[1], rec, &b);
      if (out->type == ValueType::kString) {
        if (n.op == Op::kAdd) {
          out->s += b.s;
        } else {  // "a - b": trailing blanks of a move to the end
          std::string_view t = RTrim(out->s);
          size_t blanks = out->s.size() - t.size();
          std::string r(t);
          r += b.s;
          r.append(blanks, ' ');
          out->s = std::move(r);
        }
      } else {
        switch (n.op) {
          case Op::kAdd: out->n += b.n; break;
          case Op::kSub: out->n -= b.n; break;
          case Op::kMul: out->n *= b.n; break;
          default: out->n = b.n == 0 ? 0 : out->n / b.n; break;
        }
      }
      return;
    }
    case Op::kEq:
    case Op::kExactEq:
    case Op::kNe:
    case Op::kLt:
    case Op::kLe:
    case Op::kGt:
    case Op::kGe:
    case Op::kContains: {
      Value a, b;
      Eval(*n.kids[0], rec, &a);
      Eval(*n.kids[1], rec, &b);
      bool r = false;
      if (n.op == Op::kContains) {
        r = b.s.find(a.s) != std::string::npos;
      } else if (n.op == Op::kExactEq) {
        r = a.type == ValueType::kString ? RTrim(a.s) == RTrim(b.s) : CompareValues(a, b) == 0;
      } else {
        int c = CompareValues(a, b);
        switch (n.op) {
          case Op::kEq: r = c == 0; break;
          case Op::kNe: r = c != 0; break;
          case Op::kLt: r = c < 0; break;
          case Op::kLe: r = c <= 0; break;
          case Op::kGt: r = c > 0; break;
          default: r = c >= 0; break;
        }
      }
      out->type = ValueType::kLogical;
      out->b = r;
      return;
    }
    case Op::kDtos:
      Eval(*n.kids[0], rec, out);
      out->type = ValueType::kString;
      return;
    case Op::kStr: {
      Value v;
      Eval(*n.kids[0], rec, &v);
      int len = 10, dec = 0;
      if (n.kids.size() > 1) {
        Value l;
        Eval(*n.kids[1], rec, &l);
        len = static_cast<int>(std::clamp(l.n, 0.0, 255.0));
      }
      if (n.kids.size() > 2) {
        Value d;
        Eval(*n.kids[2], rec, &d);
        dec = static_cast<int>(std::clamp(d.n, 0.0, 30.0));
      }
      out->type = ValueType::kString;
      out->s = FormatNumber(v.n, len, dec);
      return;
    }
    case Op::kSubstr:
    case Op::kLeft:
    case Op::kRight: {
      Eval(*n.kids[0], rec, out);
      Value a;
      Eval(*n.kids[1], rec, &a);
      size_t size = out->s.size();
      size_t start = 0, count = size;
      if (n.op == Op::kSubstr) {
        double s = std::floor(a.n);
        start = s < 1 ? 0 : static_cast<size_t>(std::min(s - 1, static_cast<double>(size)));
        count = size - start;
        if (n.kids.size() > 2) {
          Value c;
          Eval(*n.kids[2], rec, &c);
          count = c.n <= 0 ? 0 : static_cast<size_t>(std::min(c.n, static_cast<double>(count)));
        }
      } else {
        count = a.n <= 0 ? 0 : static_cast<size_t>(std::min(a.n, static_cast<double>(size)));
        start = n.op == Op::kLeft ? 0 : size - count;
      }
      out->s = out->s.substr(start, count);
      return;
    }
    case Op::kUpper:
    case Op::kLower:
      Eval(*n.kids[0], rec, out);
      for (char& c : out->s) {
        if (n.op == Op::kUpper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (n.op == Op::kLower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      }
      return;
    case Op::kTrim:
    case Op::kLTrim:
    case Op::kAllTrim: {
      Eval(*n.kids[0], rec, out);
      std::string_view v = out->s;
      if (n.op != Op::kLTrim) v = RTrim(v);
      if (n.op != Op::kTrim) v = LTrim(v);
      out->s = std::string(v);
      return;
    }
    case Op::kVal: {
      Value v;
      Eval(*n.kids[0], rec, &v);
      out->type = ValueType::kNumber;
      out->n = ParseLeadingNumber(v.s);
      return;
    }
    case Op::kLen: {
      Value v;
      Eval(*n.kids[0], rec, &v);
      out->type = ValueType::kNumber;
      out->n = static_cast<double>(v.s.size());
      return;
    }
    case Op::kEmpty: {
      Value v;
      Eval(*n.kids[0], rec, &v);
      out->type = ValueType::kLogical;
      out->b = IsEmpty(v);
      return;
    }
    case Op::kDeleted:
      out->type = ValueType::kLogical;
      out->b = rec.data[0] == '*';
      return;
    case Op::kRecno:
      out->type = ValueType::kNumber;
      out->n = rec.recno;
      return;
    case Op::kIif: {
      Value c;
      Eval(*n.kids[0], rec, &c);
      Eval(*n.kids[c.b ? 1 : 2], rec, out);
      return;
    }
    case Op::kQKeyVal: n.tag_key->Evaluate(rec, out); return;
  }
}

// ---- Parser ----

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

// Counts how deep a parse has gone, for as long as it lives.
class Nesting {
 public:
  explicit Nesting(int* depth) : depth_(depth) { ++*depth_; }
  ~Nesting() { --*depth_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;
  bool tooDeep() const { return *depth_ > 64; }

 private:
  int* depth_;
};

class Parser {
 public:
  Parser(std::string_view text, const std::vector<FieldRef>& fields, std::string_view alias, const TagResolver& tags)
      : text_(text), fields_(fields), alias_(Upper(alias)), tags_(tags) {}

  Status Parse(std::unique_ptr<Node>* out) {
    XBASE_RETURN_IF_ERROR(Lex());
    XBASE_RETURN_IF_ERROR(ParseOr(out));
    if (tokens_[pos_].kind != Tok::kEnd) return Error("unexpected '" + Describe(tokens_[pos_]) + "'");
    return Status::OK();
  }

 private:
  Status Error(const std::string& what) const {
    size_t at = pos_ < tokens_.size() ? tokens_[pos_].pos : text_.size();
    return Status::InvalidArgument("expression \"" + std::string(text_) + "\": " + what + " at column " +
                                   std::to_string(at + 1));
  }
  static std::string Describe(const Token& t) {
    if (t.kind == Tok::kEnd) return "end of expression";
    return t.text;
  }

  Status Lex() {
    size_t i = 0;
    const size_t n = text_.size();
    while (true) {
      while (i < n && std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
      Token t{Tok::kEnd, "", 0, i};
      if (i >= n) {
        tokens_.push_back(t);
        return Status::OK();
      }
      char c = text_[i];
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        size_t j = i;
        while (j < n && (std::isalnum(static_cast<unsigned char>(text_[j])) || text_[j] == '_')) ++j;
        t.kind = Tok::kIdent;
        t.text = Upper(text_.substr(i, j - i));
        i = j;
      } else if (c == '\'' || c == '"' || c == '[') {
        char close = c == '[' ? ']' : c;
        size_t j = text_.find(close, i + 1);
        if (j == std::string_view::npos) {
          pos_ = tokens_.size();
          return Status::InvalidArgument("expression \"" + std::string(text_) +
                                         "\": unterminated text starting at column " + std::to_string(i + 1));
        }
        t.kind = Tok::kString;
        t.text = std::string(text_.substr(i + 1, j - i - 1));
        i = j + 1;
      } else if (c == '.') {
        // .T. .F. .AND. .OR. .NOT. or a number such as .5
        size_t j = i + 1;
        while (j < n && std::isalpha(static_cast<unsigned char>(text_[j]))) ++j;
        if (j > i + 1 && j < n && text_[j] == '.') {
          std::string word = Upper(text_.substr(i + 1, j - i - 1));
          if (word == "T" || word == "Y")
            t.kind = Tok::kTrue;
          else if (word == "F" || word == "N")
            t.kind = Tok::kFalse;
          else if (word == "AND")
            t.kind = Tok::kAnd;
          else if (word == "OR")
            t.kind = Tok::kOr;
          else if (word == "NOT")
            t.kind = Tok::kNot;
          else {
            pos_ = tokens_.size();
            tokens_.push_back(t);
            return Error("unknown operator ." + word + ".");
          }
          t.text = "." + word + ".";
          i = j + 1;
        } else if (i + 1 < n && std::isdigit(static_cast<unsigned char>(text_[i + 1]))) {
          goto number;
        } else {
          pos_ = tokens_.size();
          tokens_.push_back(t);
          return Error("stray '.'");
        }
      } else if (std::isdigit(static_cast<unsigned char>(c))) {
      number:
        size_t j = i;
        while (j < n && (std::isdigit(static_cast<unsigned char>(text_[j])) || text_[j] == '.')) {
          // A '.' followed by a letter starts an operator (1.and.x is not valid xBase anyway).
          if (text_[j] == '.' && j + 1 < n && std::isalpha(static_cast<unsigned char>(text_[j + 1]))) break;
          ++j;
        }
        t.kind = Tok::kNumber;
        t.text = std::string(text_.substr(i, j - i));
        t.number = std::strtod(t.text.c_str(), nullptr);
        i = j;
      } else if (c == '-' && i + 1 < n && text_[i + 1] == '>') {
        t.kind = Tok::kArrow;
        t.text = "->";
        i += 2;
      } else if (c == '(') {
        t.kind = Tok::kLParen, t.text = "(", ++i;
      } else if (c == ')') {
        t.kind = Tok::kRParen, t.text = ")", ++i;
      } else if (c == ',') {
        t.kind = Tok::kComma, t.text = ",", ++i;
      } else {
        static const char* const kOps[] = {"==", "<>", "!=", "<=", ">=", "=", "<", ">",
                                           "#",  "+",  "-",  "*",  "/",  "$", "!"};
        bool found = false;
        for (const char* op : kOps) {
          size_t len = std::char_traits<char>::length(op);
          if (text_.substr(i, len) == op) {
            t.kind = std::string_view(op) == "!" ? Tok::kNot : Tok::kOp;
            t.text = op;
            i += len;
            found = true;
            break;
          }
        }
        if (!found) {
          pos_ = tokens_.size();
          tokens_.push_back(t);
          return Error(std::string("unexpected character '") + c + "'");
        }
      }
      tokens_.push_back(std::move(t));
    }
  }

  const Token& Peek() const { return tokens_[pos_]; }
  bool IsOp(const char* op) const { return Peek().kind == Tok::kOp && Peek().text == op; }

  static std::unique_ptr<Node> Make(Op op, ValueType type) {
    auto n = std::make_unique<Node>();
    n->op = op;
    n->type = type;
    return n;
  }

  Status ExpectType(const Node& n, ValueType want, const std::string& what) {
    if (n.type != want) {
      return Error(what + " needs a " + ValueTypeName(want) + " value, got " + ValueTypeName(n.type));
    }
    return Status::OK();
  }

  Status ParseOr(std::unique_ptr<Node>* out) {
    // Hostile texts such as "((((...": nesting is bounded so parsing cannot exhaust the stack.
    Nesting nesting(&depth_);
    if (nesting.tooDeep()) return Error("expression nested too deeply");
    return ParseLogicalChain(out, Tok::kOr, Op::kOr, ".OR.", &Parser::ParseAnd);
  }

  Status ParseAnd(std::unique_ptr<Node>* out) {
    return ParseLogicalChain(out, Tok::kAnd, Op::kAnd, ".AND.", &Parser::ParseNot);
  }

  // operand { op operand }, both sides logical, grouped from the left.
  Status ParseLogicalChain(std::unique_ptr<Node>* out, Tok token, Op op, const char* name,
                           Status (Parser::*operand)(std::unique_ptr<Node>*)) {
    XBASE_RETURN_IF_ERROR((this->*operand)(out));
    while (Peek().kind == token) {
      ++pos_;
      std::unique_ptr<Node> rhs;
      XBASE_RETURN_IF_ERROR((this->*operand)(&rhs));
      XBASE_RETURN_IF_ERROR(ExpectType(**out, ValueType::kLogical, name));
      XBASE_RETURN_IF_ERROR(ExpectType(*rhs, ValueType::kLogical, name));
      auto n = Make(op, ValueType::kLogical);
      n->kids.push_back(std::move(*out));
      n->kids.push_back(std::move(rhs));
      *out = std::move(n);
    }
    return Status::OK();
  }

  Status ParseNot(std::unique_ptr<Node>* out) {
    if (Peek().kind == Tok::kNot) return ParsePrefix(out, Op::kNot, ValueType::kLogical, "'!'", &Parser::ParseNot);
    return ParseCompare(out);
  }

  // A prefix operator and its operand, of the given type. Nesting is counted so a hostile
  // expression cannot exhaust the stack.
  Status ParsePrefix(std::unique_ptr<Node>* out, Op op, ValueType type, const char* name,
                     Status (Parser::*operand)(std::unique_ptr<Node>*)) {
    Nesting nesting(&depth_);
    if (nesting.tooDeep()) return Error("expression nested too deeply");
    ++pos_;
    std::unique_ptr<Node> kid;
    XBASE_RETURN_IF_ERROR((this->*operand)(&kid));
    XBASE_RETURN_IF_ERROR(ExpectType(*kid, type, name));
    auto n = Make(op, type);
    n->kids.push_back(std::move(kid));
    *out = std::move(n);
    return Status::OK();
  }

  Status ParseCompare(std::unique_ptr<Node>* out) {
    XBASE_RETURN_IF_ERROR(ParseAdd(out));
    static const std::pair<const char*, Op> kCmp[] = {
        {"==", Op::kExactEq}, {"=", Op::kEq}, {"<>", Op::kNe}, {"!=", Op::kNe}, {"#", Op::kNe},
        {"<=", Op::kLe},      {"<", Op::kLt}, {">=", Op::kGe}, {">", Op::kGt},  {"$", Op::kContains}};
    for (const auto& [text, op] : kCmp) {
      if (!IsOp(text)) continue;
      ++pos_;
      std::unique_ptr<Node> rhs;
      XBASE_RETURN_IF_ERROR(ParseAdd(&rhs));
      if ((*out)->type != rhs->type) {
        return Error(std::string("cannot compare ") + ValueTypeName((*out)->type) + " with " +
                     ValueTypeName(rhs->type));
      }
      if (op == Op::kContains) XBASE_RETURN_IF_ERROR(ExpectType(*rhs, ValueType::kString, "'$'"));
      auto n = Make(op, ValueType::kLogical);
      n->kids.push_back(std::move(*out));
      n->kids.push_back(std::move(rhs));
      *out = std::move(n);
      break;
    }
    return Status::OK();
  }

  Status ParseAdd(std::unique_ptr<Node>* out) {
    XBASE_RETURN_IF_ERROR(ParseMul(out));
    while (IsOp("+") || IsOp("-")) {
      Op op = IsOp("+") ? Op::kAdd : Op::kSub;
      ++pos_;
      std::unique_ptr<Node> rhs;
      XBASE_RETURN_IF_ERROR(ParseMul(&rhs));
      ValueType t = (*out)->type;
      if (t != rhs->type || (t != ValueType::kString && t != ValueType::kNumber)) {
        return Error(std::string("cannot add ") + ValueTypeName(rhs->type) + " to " + ValueTypeName(t));
      }
      auto n = Make(op, t);
      n->kids.push_back(std::move(*out));
      n->kids.push_back(std::move(rhs));
      *out = std::move(n);
    }
    return Status::OK();
  }

  Status ParseMul(std::unique_ptr<Node>* out) {
    XBASE_RETURN_IF_ERROR(ParseUnary(out));
    while (IsOp("*") || IsOp("/")) {
      Op op = IsOp("*") ? Op::kMul : Op::kDiv;
      ++pos_;
      std::unique_ptr<Node> rhs;
      XBASE_RETURN_IF_ERROR(ParseUnary(&rhs));
      XBASE_RETURN_IF_ERROR(ExpectType(**out, ValueType::kNumber, "'*' and '/'"));
      XBASE_RETURN_IF_ERROR(ExpectType(*rhs, ValueType::kNumber, "'*' and '/'"));
      auto n = Make(op, ValueType::kNumber);
      n->kids.push_back(std::move(*out));
      n->kids.push_back(std::move(rhs));
      *out = std::move(n);
    }
    return Status::OK();
  }

  Status ParseUnary(std::unique_ptr<Node>* out) {
    if (IsOp("-")) return ParsePrefix(out, Op::kNeg, ValueType::kNumber, "unary '-'", &Parser::ParseUnary);
    if (Peek().kind == Tok::kNot) return ParseNot(out);
    return ParsePrimary(out);
  }

  Status ParsePrimary(std::unique_ptr<Node>* out) {
    const Token t = Peek();
    switch (t.kind) {
      case Tok::kString: {
        ++pos_;
        auto n = Make(Op::kConst, ValueType::kString);
        n->constant.type = ValueType::kString;
        n->constant.s = t.text;
        *out = std::move(n);
        return Status::OK();
      }
      case Tok::kNumber: {
        ++pos_;
        auto n = Make(Op::kConst, ValueType::kNumber);
        n->constant.type = ValueType::kNumber;
        n->constant.n = t.number;
        *out = std::move(n);
        return Status::OK();
      }
      case Tok::kTrue:
      case Tok::kFalse: {
        ++pos_;
        auto n = Make(Op::kConst, ValueType::kLogical);
        n->constant.type = ValueType::kLogical;
        n->constant.b = t.kind == Tok::kTrue;
        *out = std::move(n);
        return Status::OK();
      }
      case Tok::kLParen: {
        ++pos_;
        XBASE_RETURN_IF_ERROR(ParseOr(out));
        if (Peek().kind != Tok::kRParen) return Error("expected ')'");
        ++pos_;
        return Status::OK();
      }
      case Tok::kIdent: {
        ++pos_;
        if (Peek().kind == Tok::kLParen) return ParseCall(t.text, out);
        std::string name = t.text;
        if (Peek().kind == Tok::kArrow) {
          if (!alias_.empty() && name != alias_) {
            --pos_;
            return Error("alias " + name + " is not this table's (" + alias_ + ")");
          }
          ++pos_;
          if (Peek().kind != Tok::kIdent) return Error("expected a field name after '->'");
          name = Peek().text;
          ++pos_;
        }
        for (const FieldRef& f : fields_) {
          if (f.name == name) {
            ValueType vt = ValueType::kString;
            if (f.type == 'N' || f.type == 'F')
              vt = ValueType::kNumber;
            else if (f.type == 'D')
              vt = ValueType::kDate;
            else if (f.type == 'L')
              vt = ValueType::kLogical;
            else if (f.type == 'M') {
              --pos_;
              return Error("memo field " + name + " cannot be used in an expression");
            }
            auto n = Make(Op::kField, vt);
            n->field_copy = f;
            n->field = &n->field_copy;
            *out = std::move(n);
            return Status::OK();
          }
        }
        --pos_;
        return Error("unknown field " + name);
      }
      default: return Error("unexpected '" + Describe(t) + "'");
    }
  }

  Status ParseCall(const std::string& name, std::unique_ptr<Node>* out) {
    size_t at = pos_ - 1;
    ++pos_;  // '('
    std::vector<std::unique_ptr<Node>> args;
    if (Peek().kind != Tok::kRParen) {
      while (true) {
        std::unique_ptr<Node> a;
        XBASE_RETURN_IF_ERROR(ParseOr(&a));
        args.push_back(std::move(a));
        if (Peek().kind == Tok::kComma) {
          ++pos_;
          continue;
        }
        break;
      }
    }
    if (Peek().kind != Tok::kRParen) return Error("expected ')' after the arguments of " + name + "()");
    ++pos_;

    struct Sig {
      const char* name;
      Op op;
      size_t min, max;
      ValueType result;
      std::vector<ValueType> params;
    };
    using V = ValueType;
    static const Sig kFunctions[] = {
        {"DTOS", Op::kDtos, 1, 1, V::kString, {V::kDate}},
        {"STR", Op::kStr, 1, 3, V::kString, {V::kNumber, V::kNumber, V::kNumber}},
        {"SUBSTR", Op::kSubstr, 2, 3, V::kString, {V::kString, V::kNumber, V::kNumber}},
        {"LEFT", Op::kLeft, 2, 2, V::kString, {V::kString, V::kNumber}},
        {"RIGHT", Op::kRight, 2, 2, V::kString, {V::kString, V::kNumber}},
        {"UPPER", Op::kUpper, 1, 1, V::kString, {V::kString}},
        {"LOWER", Op::kLower, 1, 1, V::kString, {V::kString}},
        {"TRIM", Op::kTrim, 1, 1, V::kString, {V::kString}},
        {"RTRIM", Op::kTrim, 1, 1, V::kString, {V::kString}},
        {"LTRIM", Op::kLTrim, 1, 1, V::kString, {V::kString}},
        {"ALLTRIM", Op::kAllTrim, 1, 1, V::kString, {V::kString}},
        {"VAL", Op::kVal, 1, 1, V::kNumber, {V::kString}},
        {"LEN", Op::kLen, 1, 1, V::kNumber, {V::kString}},
        {"DELETED", Op::kDeleted, 0, 0, V::kLogical, {}},
        {"RECNO", Op::kRecno, 0, 0, V::kNumber, {}},
    };
    std::unique_ptr<Node> n;
    if (name == "EMPTY") {
      if (args.size() != 1) return Error("EMPTY() takes one argument");
      n = Make(Op::kEmpty, ValueType::kLogical);
    } else if (name == "IIF") {
      if (args.size() != 3) return Error("IIF() takes three arguments");
      XBASE_RETURN_IF_ERROR(ExpectType(*args[0], ValueType::kLogical, "IIF() condition"));
      if (args[1]->type != args[2]->type) return Error("IIF() branches differ in type");
      n = Make(Op::kIif, args[1]->type);
    } else if (name == "QKEYVAL") {
      if (args.size() != 1 || args[0]->op != Op::kConst || args[0]->type != ValueType::kString) {
        return Error("QKeyVal() takes one tag name in quotes");
      }
      std::string tag = Upper(args[0]->constant.s);
      const CompiledExpr* key = tags_ ? tags_(tag) : nullptr;
      if (key == nullptr) {
        pos_ = at;
        return Error("QKeyVal(): no index tag named " + tag);
      }
      n = Make(Op::kQKeyVal, key->type());
      n->tag_key = key;
      args.clear();
    } else {
      const Sig* sig = nullptr;
      for (const Sig& s : kFunctions) {
        if (name == s.name) sig = &s;
      }
      if (sig == nullptr) {
        pos_ = at;
        return Error("unknown function " + name + "()");
      }
      if (args.size() < sig->min || args.size() > sig->max) {
        pos_ = at;
        return Error(name + "() takes " + std::to_string(sig->min) +
                     (sig->max != sig->min ? " to " + std::to_string(sig->max) : std::string()) + " argument(s), got " +
                     std::to_string(args.size()));
      }
      for (size_t i = 0; i < args.size(); ++i) {
        XBASE_RETURN_IF_ERROR(ExpectType(*args[i], sig->params[i], name + "() argument " + std::to_string(i + 1)));
      }
      n = Make(sig->op, sig->result);
    }
    n->kids = std::move(args);
    *out = std::move(n);
    return Status::OK();
  }

  std::string_view text_;
  const std::vector<FieldRef>& fields_;
  std::string alias_;
  const TagResolver& tags_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

CompiledExpr::~CompiledExpr() = default;
CompiledExpr::CompiledExpr(CompiledExpr&&) noexcept = default;
CompiledExpr& CompiledExpr::operator=(CompiledExpr&&) noexcept = default;

Status CompiledExpr::Compile(std::string_view text, const std::vector<FieldRef>& fields, std::string_view alias,
                             const TagResolver& tags, std::unique_ptr<CompiledExpr>* out) {
  if (text.size() > 4096) return Status::InvalidArgument("expression longer than 4096 characters");
  std::unique_ptr<Node> root;
  Parser parser(text, fields, alias, tags);
  XBASE_RETURN_IF_ERROR(parser.Parse(&root));
  std::unique_ptr<CompiledExpr> e(new CompiledExpr);
  e->type_ = root->type;
  e->root_ = std::move(root);
  e->text_ = std::string(text);
  *out = std::move(e);
  return Status::OK();
}

void CompiledExpr::Evaluate(const RecordView& rec, Value* out) const { Eval(*root_, rec, out); }

bool CompiledExpr::EvaluateLogical(const RecordView& rec) const {
  Value v;
  Eval(*root_, rec, &v);
  return v.b;
}

}  // namespace xbase

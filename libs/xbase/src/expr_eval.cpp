// The expression evaluator and the xBase text helpers.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "expr_internal.h"
#include "xbase/text.h"

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

}  // namespace

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
    case Op::kUpperUnicode:
    case Op::kLowerUnicode:
      Eval(*n.kids[0], rec, out);
      out->s = n.op == Op::kUpperUnicode ? UpperUtf8(out->s) : LowerUtf8(out->s);
      return;
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

CompiledExpr::~CompiledExpr() = default;
CompiledExpr::CompiledExpr(CompiledExpr&&) noexcept = default;
CompiledExpr& CompiledExpr::operator=(CompiledExpr&&) noexcept = default;

void CompiledExpr::Evaluate(const RecordView& rec, Value* out) const { Eval(*root_, rec, out); }

bool CompiledExpr::EvaluateLogical(const RecordView& rec) const {
  Value v;
  Eval(*root_, rec, &v);
  return v.b;
}

}  // namespace xbase

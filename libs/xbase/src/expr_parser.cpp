// The expression parser: tokens to a type-checked tree.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "expr_internal.h"
#include "xbase/text.h"

namespace xbase {

namespace {

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
    XBASE_RETURN_IF_ERROR(Lex(text_, &tokens_));
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
        const FieldRef* match = nullptr;
        for (const FieldRef& f : fields_) {
          if (f.name != name) continue;
          if (match) {
            --pos_;
            return Error("field name " + name + " is not unique in this table");
          }
          match = &f;
        }
        if (match) {
          const FieldRef& f = *match;
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

Status ParseExpression(std::string_view text, const std::vector<FieldRef>& fields, std::string_view alias,
                       const TagResolver& tags, std::unique_ptr<Node>* out) {
  Parser parser(text, fields, alias, tags);
  return parser.Parse(out);
}

namespace {

void UseUnicodeCase(Node* n) {
  if (n->op == Op::kUpper) n->op = Op::kUpperUnicode;
  if (n->op == Op::kLower) n->op = Op::kLowerUnicode;
  for (auto& k : n->kids) UseUnicodeCase(k.get());
}

}  // namespace

Status CompiledExpr::Compile(std::string_view text, const std::vector<FieldRef>& fields, std::string_view alias,
                             const TagResolver& tags, std::unique_ptr<CompiledExpr>* out, std::string_view code_page) {
  if (text.size() > 4096) return Status::InvalidArgument("expression longer than 4096 characters");
  std::unique_ptr<Node> root;
  XBASE_RETURN_IF_ERROR(ParseExpression(text, fields, alias, tags, &root));
  if (code_page == kUtf8) UseUnicodeCase(root.get());
  std::unique_ptr<CompiledExpr> e(new CompiledExpr);
  e->type_ = root->type;
  e->root_ = std::move(root);
  e->text_ = std::string(text);
  *out = std::move(e);
  return Status::OK();
}

}  // namespace xbase

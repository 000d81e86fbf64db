// The expression lexer: text to tokens.
#include <cctype>
#include <string>

#include "expr_internal.h"

namespace xbase {

namespace {

Status LexError(std::string_view text, size_t at, const std::string& what) {
  return Status::InvalidArgument("expression \"" + std::string(text) + "\": " + what + " at column " +
                                 std::to_string(at + 1));
}

}  // namespace

Status Lex(std::string_view text_, std::vector<Token>* tokens) {
  size_t i = 0;
  const size_t n = text_.size();
  while (true) {
    while (i < n && std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
    Token t{Tok::kEnd, "", 0, i};
    if (i >= n) {
      tokens->push_back(t);
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
          tokens->push_back(t);
          return LexError(text_, t.pos, "unknown operator ." + word + ".");
        }
        t.text = "." + word + ".";
        i = j + 1;
      } else if (i + 1 < n && std::isdigit(static_cast<unsigned char>(text_[i + 1]))) {
        goto number;
      } else {
        tokens->push_back(t);
        return LexError(text_, t.pos, "stray '.'");
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
        tokens->push_back(t);
        return LexError(text_, t.pos, std::string("unexpected character '") + c + "'");
      }
    }
    tokens->push_back(std::move(t));
  }
}

}  // namespace xbase

#include <gtest/gtest.h>

#include "test_util.h"
#include "xbase/expr.h"

namespace xbase {
namespace {

// A record of: NAME C10, WHEN D8, MINUTES N4, FLAG L1.
struct Fixture {
  std::vector<FieldRef> fields = {
      {"NAME", 'C', 0, 10, 0}, {"WHEN", 'D', 10, 8, 0}, {"MINUTES", 'N', 18, 4, 0}, {"FLAG", 'L', 22, 1, 0}};
  std::string rec;
  Fixture(char del, const std::string& name, const std::string& when, const std::string& minutes, char flag) {
    std::string n = name;
    n.resize(10, ' ');
    rec = std::string(1, del) + n + when + minutes + std::string(1, flag);
  }
  Value Eval(const std::string& text, const TagResolver& tags = nullptr) {
    std::unique_ptr<CompiledExpr> e;
    Status s = CompiledExpr::Compile(text, fields, "T", tags, &e);
    EXPECT_TRUE(s.ok()) << text << ": " << s.ToString();
    Value v;
    if (e) e->Evaluate(RecordView{rec.data(), 7}, &v);
    return v;
  }
};

// Key expressions render as the index needs them: widths, rounding, overflow, blanks.
TEST(Expr, KeyExpressionsRenderAsTheIndexNeedsThem) {
  Fixture f(' ', "abc", "20261206", " 600", 'T'), blank(' ', "", "        ", "    ", ' ');
  const std::pair<const char*, const char*> cases[] = {{"dtos(WHEN)+str(MINUTES,4,0)", "20261206 600"},
                                                       {"str(MINUTES)", "       600"},  // default width 10
                                                       {"str(12345,4,0)", "****"},      // does not fit
                                                       {"str(2.5,4)", "   3"},          // halves round away from zero
                                                       {"str(-999,4)", "-999"},
                                                       {"str(-1000,4)", "****"},
                                                       {"substr(dtos(WHEN),5,2)", "12"},
                                                       {"upper(NAME+dtos(WHEN))", "ABC       20261206"},
                                                       {"iif(FLAG, 'yes', 'no')", "yes"}};
  for (const auto& [expr, want] : cases) EXPECT_EQ(f.Eval(expr).s, want) << expr;
  EXPECT_EQ(blank.Eval("dtos(WHEN)+str(MINUTES,4,0)").s, "           0");
}

TEST(Expr, LogicAndComparisons) {
  Fixture live(' ', "H", "20261206", "  10", 'T'), gone('*', "S", "20261206", "  10", 'F');
  Fixture blank(' ', "", "        ", "    ", ' ');
  for (const char* e : {"EMPTY(WHEN).and.EMPTY(NAME).and.EMPTY(MINUTES).and.!FLAG", "!DELETED().and.EMPTY(WHEN)"})
    EXPECT_TRUE(blank.Eval(e).b) << e;
  EXPECT_FALSE(gone.Eval("!DELETED().and.NAME<>'S'").b);
  for (const char* e : {"!DELETED().and.NAME<>'S'", "FLAG=.T.", ".NOT. DELETED()",
                        "MINUTES < 11 .and. MINUTES >= 10 .and. MINUTES # 9", "'20261206  10' <= '20261206  10'",
                        "'20261205 900' < '20261206  10'", "'        ' < '20000101'",  // blank dates sort first
                        "'abcdef' = 'abc'", "!('abcdef' == 'abc')",                    // EXACT off; == is exact
                        "'b' $ 'abc'", "(2+3)*4-1 = 19"})
    EXPECT_TRUE(live.Eval(e).b) << e;
  EXPECT_FALSE(live.Eval("'20261206  11' <= '20261206  10'").b);
  EXPECT_TRUE(gone.Eval("FLAG=.F. .or. .f.").b);
}

// Every malformed or unknown expression is InvalidArgument; deep nesting is refused, not a stack overflow.
TEST(Expr, ClearErrorsForWhatItDoesNotKnow) {
  Fixture f(' ', "x", "20261206", " 600", 'T');
  for (const std::string& text :
       {std::string("NOSUCH+'a'"), std::string("ctod('01/01/2020')"), std::string("dtos(NAME)"),
        std::string("NAME+MINUTES"), std::string("NAME=1"), std::string("str()"), std::string("'abc"),
        std::string("NAME .xor. NAME"), std::string("(NAME"), std::string("NAME NAME"), std::string("OTHER->NAME"),
        std::string("DELETED() .and. NAME"), std::string("@"), std::string(),
        std::string(3000, '(') + "1" + std::string(3000, ')'), std::string(3000, '!') + ".T."}) {
    std::unique_ptr<CompiledExpr> e;
    EXPECT_TRUE(CompiledExpr::Compile(text, f.fields, "T", nullptr, &e).IsInvalidArgument()) << text.substr(0, 40);
  }
}

TEST(Expr, LeadingNumberReadsLikeVal) {
  for (const auto& [text, n] : {std::pair{"00:25", 0.0}, {"10:00", 10.0}, {"  -3.5x", -3.5}, {"abc", 0.0}, {"", 0.0}})
    EXPECT_EQ(ParseLeadingNumber(text), n) << text;
}

}  // namespace
}  // namespace xbase

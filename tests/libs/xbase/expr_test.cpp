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
  Status CompileError(const std::string& text) {
    std::unique_ptr<CompiledExpr> e;
    return CompiledExpr::Compile(text, fields, "T", nullptr, &e);
  }
};

TEST(Expr, KeyExpressionsRenderAsTheIndexNeedsThem) {
  Fixture f(' ', "abc", "20261206", " 600", 'T');
  EXPECT_EQ(f.Eval("dtos(WHEN)+str(MINUTES,4,0)").s, "20261206 600");
  EXPECT_EQ(f.Eval("str(minutes,4)").s, " 600");
  EXPECT_EQ(f.Eval("str(5,4,0)").s, "   5");
  EXPECT_EQ(f.Eval("str(MINUTES)").s, "       600");  // default width 10
  EXPECT_EQ(f.Eval("str(12345,4,0)").s, "****");      // does not fit
  EXPECT_EQ(f.Eval("str(2.5,6,2)").s, "  2.50");
  EXPECT_EQ(f.Eval("str(2.5,4)").s, "   3");  // halves round away from zero
  EXPECT_EQ(f.Eval("str(-2.5,4)").s, "  -3");
  EXPECT_EQ(f.Eval("str(-999,4)").s, "-999");
  EXPECT_EQ(f.Eval("str(-1000,4)").s, "****");
  EXPECT_EQ(f.Eval("str(0,1)").s, "0");
  EXPECT_EQ(f.Eval("substr(dtos(WHEN),5)").s, "1206");
  EXPECT_EQ(f.Eval("substr(dtos(WHEN),5,2)").s, "12");
  EXPECT_EQ(f.Eval("substr('abc',9)").s, "");
  EXPECT_EQ(f.Eval("upper(NAME+dtos(WHEN))").s, "ABC       20261206");
  EXPECT_EQ(f.Eval("T->NAME").s, "abc       ");
  EXPECT_EQ(f.Eval("MINUTES").n, 600);
}

TEST(Expr, BlankValues) {
  Fixture f(' ', "", "        ", "    ", ' ');
  EXPECT_EQ(f.Eval("dtos(WHEN)").s, "        ");
  EXPECT_EQ(f.Eval("str(MINUTES,4,0)").s, "   0");
  EXPECT_TRUE(f.Eval("EMPTY(WHEN)").b);
  EXPECT_TRUE(f.Eval("EMPTY(NAME)").b);
  EXPECT_TRUE(f.Eval("EMPTY(MINUTES)").b);
  EXPECT_TRUE(f.Eval("!FLAG").b);
  EXPECT_TRUE(f.Eval("!DELETED().and.EMPTY(WHEN)").b);
}

TEST(Expr, LogicAndComparisons) {
  Fixture live(' ', "H", "20261206", "  10", 'T');
  Fixture gone('*', "S", "20261206", "  10", 'F');
  EXPECT_TRUE(live.Eval("!DELETED().and.NAME<>'S'").b);
  EXPECT_FALSE(gone.Eval("!DELETED().and.NAME<>'S'").b);
  EXPECT_TRUE(gone.Eval("DELETED()").b);
  EXPECT_FALSE(live.Eval("!DELETED().and.FLAG=.T..and.NAME<>'H'").b);
  EXPECT_TRUE(live.Eval("FLAG=.T.").b);
  EXPECT_TRUE(gone.Eval("FLAG=.F. .or. .f.").b);
  EXPECT_TRUE(live.Eval(".NOT. DELETED()").b);
  EXPECT_TRUE(live.Eval("MINUTES < 11 .and. MINUTES >= 10 .and. MINUTES # 9").b);
  EXPECT_TRUE(live.Eval("'20261206  10' <= '20261206  10'").b);
  EXPECT_FALSE(live.Eval("'20261206  11' <= '20261206  10'").b);
  EXPECT_TRUE(live.Eval("'20261205 900' < '20261206  10'").b);
  // Blank dates sort before every date.
  EXPECT_TRUE(live.Eval("'        ' < '20000101'").b);
  // EXACT off: a longer left side equals a right side it begins with; == is exact.
  EXPECT_TRUE(live.Eval("'abcdef' = 'abc'").b);
  EXPECT_FALSE(live.Eval("'abcdef' == 'abc'").b);
  EXPECT_TRUE(live.Eval("'b' $ 'abc'").b);
  EXPECT_EQ(live.Eval("iif(FLAG, 'yes', 'no')").s, "yes");
  EXPECT_EQ(live.Eval("(2+3)*4-1").n, 19);
}

TEST(Expr, QKeyValUsesTheTagKey) {
  Fixture f(' ', "x", "20261206", " 600", 'T');
  std::unique_ptr<CompiledExpr> key;
  ASSERT_OK(CompiledExpr::Compile("dtos(WHEN)+str(MINUTES,4,0)", f.fields, "", nullptr, &key));
  TagResolver tags = [&](std::string_view name) -> const CompiledExpr* {
    return name == "ALARM" ? key.get() : nullptr;
  };
  EXPECT_TRUE(f.Eval("QkeyVal('ALARM')<='20261206 600' .or. QKeyVal('alarm')<='2000'", tags).b);
  EXPECT_FALSE(f.Eval("QKeyVal('ALARM')<='20261206 559'", tags).b);
  std::unique_ptr<CompiledExpr> e;
  Status s = CompiledExpr::Compile("QKeyVal('NOPE')<='1'", f.fields, "", tags, &e);
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_NE(s.message().find("NOPE"), std::string::npos);
}

TEST(Expr, ClearErrorsForWhatItDoesNotKnow) {
  Fixture f(' ', "x", "20261206", " 600", 'T');
  struct Case {
    const char* text;
    const char* says;
  } cases[] = {
      {"NOSUCH+'a'", "unknown field NOSUCH"},
      {"ctod('01/01/2020')", "unknown function CTOD"},
      {"dtos(NAME)", "needs a date"},
      {"NAME+MINUTES", "cannot add"},
      {"NAME=1", "cannot compare"},
      {"str()", "takes 1 to 3"},
      {"'abc", "unterminated"},
      {"NAME .xor. NAME", "unknown operator"},
      {"(NAME", "expected ')'"},
      {"NAME NAME", "unexpected"},
      {"OTHER->NAME", "alias OTHER"},
      {"DELETED() .and. NAME", ".AND. needs a logical"},
      {"@", "unexpected character"},
      {"", "unexpected"},
  };
  for (const Case& c : cases) {
    Status s = f.CompileError(c.text);
    EXPECT_TRUE(s.IsInvalidArgument()) << c.text << " -> " << s.ToString();
    EXPECT_NE(s.message().find(c.says), std::string::npos) << c.text << " -> " << s.message();
  }
  // Deep nesting is refused, not a stack overflow.
  EXPECT_TRUE(f.CompileError(std::string(3000, '(') + "1" + std::string(3000, ')')).IsInvalidArgument());
  EXPECT_TRUE(f.CompileError(std::string(3000, '!') + ".T.").IsInvalidArgument());
}

TEST(Expr, LeadingNumberReadsLikeVal) {
  EXPECT_EQ(ParseLeadingNumber("00:25"), 0);
  EXPECT_EQ(ParseLeadingNumber("10:00"), 10);
  EXPECT_EQ(ParseLeadingNumber("  -3.5x"), -3.5);
  EXPECT_EQ(ParseLeadingNumber("abc"), 0);
  EXPECT_EQ(ParseLeadingNumber(""), 0);
}

}  // namespace
}  // namespace xbase

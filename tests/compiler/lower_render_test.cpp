#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "compiler/lower.h"
#include "syntax/parse.h"

namespace dravelin::compiler {
namespace {

namespace ast = syntax::ast;

struct RenderCase {
  std::string source;
  std::string rendered;
};

TEST(LowerRender, ExpressionsComeBackInTheirCanonicalForm) {
  const std::vector<RenderCase> cases = {
      {"items[i + 1]", "items[i + 1]"},
      {"f(x, n 3)", "f(x, n: 3)"},
      {"f()", "f()"},
      {"(a + b) * c", "a + b * c"},
      {"{}", "{  }"},
      {"{a: 1, b}", "{ a: 1, b }"},
      {"\"say \\\"hi\\\"\"", "\"say \\\"hi\\\"\""},
      {"\"a {x + 1} b\"", "\"a {x + 1} b\""},
      {"\"\"\"three\"\"\"", "\"three\""},
      {"\"line\\nnext\"", "\"line\nnext\""},
      {"[1, 2.5, true, false, none]", "[1, 2.5, true, false, none]"},
      {"[]", "[]"},
      {"a.b.c", "a.b.c"},
      {"not a", "not a"},
      {"-a", "-a"},
      {"a is bug", "a is bug"},
      {"x == 1 and y != 2 or z <= 3", "x == 1 and y != 2 or z <= 3"},
      {"a < b", "a < b"},
      {"a > b", "a > b"},
      {"a >= b", "a >= b"},
      {"a - b / c % d", "a - b / c % d"},
      {"[x * 2 for x in xs if x > 1]", "[x * 2 for x in xs if x > 1]"},
      {"[k for k, v in pairs]", "[k for k, v in pairs]"},
      {"focus notes on \"why\", max 400", "focus notes on \"why\", max 400"},
      {"trail 3", "trail 3"},
      {"log info \"msg\" {a, b: 1}", "log info \"msg\" { a, b: 1 }"},
      {"log warn x", "log warn x"},
      {"50%", "0.5"},
      {"2k", "2000"},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.source);
    auto parsed = syntax::parse_expression(c.source, syntax::Pos{1, 0, 0});
    ASSERT_TRUE(parsed.ok()) << syntax::debug_string(parsed.error());
    EXPECT_EQ(render_expr(*parsed), c.rendered);
  }
}

TEST(LowerRender, AJudgmentRendersAsItsSubjectRoot) {
  ast::Judge judge;
  judge.subject.root = "notes";
  judge.subject.path.push_back(ast::SubjectStep{ast::SubjectStep::Field{"body", {}}});
  EXPECT_EQ(render_expr(ast::Expr{ast::Expr::Judge{judge}}), "notes");
}

TEST(LowerRender, NumbersAreIntegerDigitsBelowTenToTheFifteenthElseShortestPlainDecimals) {
  const std::vector<std::pair<double, std::string>> cases = {
      {3.0, "3"},
      {0.5, "0.5"},
      {-7.0, "-7"},
      {-0.0, "0"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1000000000000000"},
      {1e21, "1000000000000000000000"},
      {-1e16, "-10000000000000000"},
      {123456789012345.5, "123456789012345.5"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e-7, "0.0000001"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(render_number(value), text) << "for " << value;
  }
}

}  // namespace
}  // namespace dravelin::compiler

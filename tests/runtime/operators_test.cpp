#include "runtime/operators.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <tuple>
#include <string>
#include <utility>

#include "ir/ir_test_builders.h"
#include "runtime/scripted_host.h"
#include "support/values.h"
#include "support/numbers.h"

namespace dravelin::runtime {
namespace {

using tokens::BpeEncoding;
using tokens::TokenizerKind;

namespace b = ir::build;
using syntax::BinaryOp;
using syntax::UnaryOp;
using testing::HostOp;
using testing::ScriptedHost;

using test_numbers::kNaN;
using test_numbers::kInf;

using test_values::num;
Value prob(double p) { return Value::prob(p); }
using test_values::txt;
using test_values::lst;
Value yes() { return Value::boolean(true); }
Value no() { return Value::boolean(false); }
Value a_choice() { return Value::choice(Choice{"a", 1, {}, std::nullopt, {}}); }
Value a_level() { return Value::level(Level{0, 0, 0, 1, {}, {}}); }
Value a_handle() { return Value::handle(Handle{"c", "c", {}}); }
Value a_pause_result() { return Value::pause_result(PauseResult{"yes", std::nullopt}); }

TEST(TruthinessTest, OneTableForEveryKind) {
  struct Case {
    Value value;
    bool truthy;
  };
  const Case cases[] = {
      {Value::none(), false},
      {txt(""), false},
      {txt(" "), true},
      {num(0), false},
      {num(-0.0), false},
      {num(kNaN), true},
      {num(-2), true},
      {prob(0), false},
      {prob(kNaN), true},
      {prob(0.01), true},
      {no(), false},
      {yes(), true},
      {lst({}), false},
      {lst({Value::none()}), true},
      {Value::record({}), false},
      {Value::record({{"a", Value::none()}}), true},
      {a_choice(), true},
      {a_level(), true},
      {a_handle(), true},
      {a_pause_result(), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.truthy(), c.truthy) << debug_string(c.value);
    EXPECT_EQ(truthy(c.value), c.truthy) << debug_string(c.value);
  }
}

TEST(BinaryOperatorTest, Results) {
  struct Case {
    BinaryOp op;
    Value left;
    Value right;
    Value expected;  // compared structurally: a number must not come out as a prob
  };
  const Case cases[] = {
      {BinaryOp::Gt, prob(0.7), num(0.6), yes()},
      {BinaryOp::Lt, num(0.6), prob(0.6), no()},
      {BinaryOp::LtEq, num(0.6), prob(0.6), yes()},
      {BinaryOp::GtEq, num(kNaN), num(kNaN), no()},
      {BinaryOp::Lt, num(kNaN), num(1), no()},
      {BinaryOp::Gt, num(kInf), num(1e308), yes()},
      {BinaryOp::Lt, txt("B"), txt("a"), yes()},
      {BinaryOp::Lt, txt(""), txt("\x01"), yes()},
      {BinaryOp::Lt, txt("ab"), txt("abc"), yes()},
      {BinaryOp::Gt, txt("\xc3\xa9"), txt("z"), yes()},  // bytes compare unsigned: é after z
      {BinaryOp::GtEq, txt("b"), txt("b"), yes()},
      {BinaryOp::Eq, num(0.5), prob(0.5), yes()},
      {BinaryOp::Eq, num(0), num(-0.0), yes()},
      {BinaryOp::Eq, num(kNaN), num(kNaN), no()},
      {BinaryOp::NotEq, num(kNaN), num(kNaN), yes()},
      {BinaryOp::Eq, txt("1"), num(1), no()},
      {BinaryOp::NotEq, a_choice(), txt("a"), yes()},
      {BinaryOp::Eq, lst({num(1), txt("x")}), lst({prob(1), txt("x")}), yes()},
      {BinaryOp::Eq, lst({num(kNaN)}), lst({num(kNaN)}), no()},
      {BinaryOp::Add, prob(0.25), num(1), num(1.25)},
      {BinaryOp::Add, prob(0.25), prob(0.5), num(0.75)},
      {BinaryOp::Add, txt("ab"), txt("c"), txt("abc")},
      {BinaryOp::Add, lst({num(1)}), lst({num(2), txt("x")}), lst({num(1), num(2), txt("x")})},
      {BinaryOp::Sub, num(1), prob(0.25), num(0.75)},
      {BinaryOp::Mul, prob(0.5), prob(0.5), num(0.25)},
      {BinaryOp::Div, num(1), num(4), num(0.25)},
      {BinaryOp::Div, num(1), num(0), num(kInf)},
      {BinaryOp::Div, num(-1), num(0), num(-kInf)},
      {BinaryOp::Rem, num(-5), num(3), num(-2)},
      {BinaryOp::Rem, num(5), num(-3), num(2)},
      {BinaryOp::Rem, num(5.5), num(2), num(1.5)},
      {BinaryOp::Rem, num(0.3), num(0.1), num(std::fmod(0.3, 0.1))},
      {BinaryOp::Rem, num(7), num(kInf), num(7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(debug_string(c.left) + " " + std::string(syntax::enum_name(c.op)) + " " + debug_string(c.right));
    ValueResult result = apply_binary(c.op, c.left, c.right, b::at(1));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), c.expected);
  }
}

TEST(BinaryOperatorTest, NaNResultsOfDivisionAndRemainder) {
  for (const auto& [op, left, right] : {std::tuple{BinaryOp::Div, 0.0, 0.0}, std::tuple{BinaryOp::Rem, 5.0, 0.0},
                                        std::tuple{BinaryOp::Rem, kInf, 2.0}}) {
    ValueResult result = apply_binary(op, num(left), num(right), b::at(1));
    ASSERT_TRUE(result.ok());
    ASSERT_TRUE(result->is_number());
    EXPECT_TRUE(std::isnan(result->as_number()));
  }
}

TEST(BinaryOperatorTest, KindMismatchesFailWithTheOperatorsSpan) {
  struct Case {
    BinaryOp op;
    Value left;
    Value right;
    std::string message;
  };
  const Case cases[] = {
      {BinaryOp::Lt, a_choice(), a_choice(), "`<` needs two numbers or two texts, got choice and choice"},
      {BinaryOp::LtEq, a_level(), a_level(), "`<=` needs two numbers or two texts, got level and level"},
      {BinaryOp::Gt, lst({}), lst({}), "`>` needs two numbers or two texts, got list and list"},
      {BinaryOp::GtEq, txt("1"), num(1), "`>=` needs two numbers or two texts, got text and number"},
      {BinaryOp::Lt, yes(), no(), "`<` needs two numbers or two texts, got bool and bool"},
      {BinaryOp::Add, txt("a"), num(1), "`+` needs two numbers, two texts or two lists, got text and number"},
      {BinaryOp::Add, lst({}), txt("a"), "`+` needs two numbers, two texts or two lists, got list and text"},
      {BinaryOp::Add, Value::none(), Value::none(),
       "`+` needs two numbers, two texts or two lists, got none and none"},
      {BinaryOp::Sub, txt("a"), txt("b"), "`-` needs two numbers, got text and text"},
      {BinaryOp::Mul, lst({}), num(2), "`*` needs two numbers, got list and number"},
      {BinaryOp::Div, num(1), a_handle(), "`/` needs two numbers, got number and handle"},
      {BinaryOp::Rem, a_pause_result(), yes(), "`%` needs two numbers, got pause_result and bool"},
  };
  for (const Case& c : cases) {
    ValueResult result = apply_binary(c.op, c.left, c.right, b::at(4));
    ASSERT_FALSE(result.ok()) << c.message;
    EXPECT_EQ(result.error(), make_runtime_error(RuntimeErrorCode::TypeError, c.message, false, b::at(4)));
  }
}

class OperatorEvalTest : public ::testing::Test {
 protected:
  ValueResult eval(const ir::Expr& expr) {
    EvalContext context{host, *tokenizer};
    return eval_expr(context, expr, scopes);
  }

  ScriptedHost host;
  std::unique_ptr<Tokenizer> tokenizer = TokenizerKind::chars4().tokenizer();
  Scopes scopes;
};

TEST_F(OperatorEvalTest, AndAndOrStopEarlyAndAlwaysGiveABool) {
  // The right operand here would fail: an unbound name.
  ir::Expr failing = b::name("unbound", b::at(3));
  struct Case {
    BinaryOp op;
    ir::Expr left;
    ir::Expr right;
    Value expected;
  };
  Case cases[] = {
      {BinaryOp::Or, b::text("x"), failing, yes()},
      {BinaryOp::And, b::num(0), failing, no()},
      {BinaryOp::And, b::none(), failing, no()},
      {BinaryOp::Or, b::text(""), b::text("y"), yes()},
      {BinaryOp::Or, b::num(0), b::list({}), no()},
      {BinaryOp::And, b::text("x"), b::num(2), yes()},
      {BinaryOp::And, b::num(kNaN), b::text(""), no()},
  };
  for (const Case& c : cases) {
    ValueResult result = eval(b::binary(c.op, c.left, c.right));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), c.expected);
  }
  // Once the right operand is needed, its failure is the result.
  ValueResult failed = eval(b::binary(BinaryOp::Or, b::boolean(false), failing));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().message, "unknown name `unbound`");
  EXPECT_EQ(failed.error().span, b::at(3));
}

TEST_F(OperatorEvalTest, OperandsGoLeftToRightAndAFailingLeftOneStopsTheRight) {
  host.queue(num(2)).queue(num(3));
  ValueResult result = eval(b::binary(BinaryOp::Sub, b::trail(1), b::trail(2)));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), num(-1));
  ASSERT_EQ(host.calls().size(), 2u);
  EXPECT_EQ(host.calls()[0].count, 1u);
  EXPECT_EQ(host.calls()[1].count, 2u);

  ValueResult failed = eval(b::binary(BinaryOp::Eq, b::name("unbound", b::at(2)), b::trail(3)));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().span, b::at(2));
  EXPECT_EQ(host.calls().size(), 2u);

  // Operator errors carry the operator expression's span, not an operand's.
  ValueResult mismatch = eval(b::binary(BinaryOp::Add, b::text("a", b::at(2)), b::num(1, b::at(3)), b::at(4)));
  ASSERT_FALSE(mismatch.ok());
  EXPECT_EQ(mismatch.error().span, b::at(4));
}

// A left operand that nothing else holds is extended in place; one read from a variable is not, and the variable
// keeps its value.
TEST_F(OperatorEvalTest, JoinsLeaveTheirOperandsUnchanged) {
  scopes.define("xs", lst({num(1)}));
  scopes.define("t", txt("t"));
  struct Case {
    ir::Expr expr;
    Value expected;
  };
  const auto add = [](ir::Expr l, ir::Expr r) { return b::binary(BinaryOp::Add, std::move(l), std::move(r)); };
  Case cases[] = {
      {add(add(b::name("xs"), b::list({b::num(2)})), b::name("xs")), lst({num(1), num(2), num(1)})},
      {add(b::list({b::num(0)}), b::name("xs")), lst({num(0), num(1)})},
      {add(add(b::list({}), b::name("xs")), b::list({})), lst({num(1)})},
      {add(add(b::name("t"), b::name("t")), b::name("t")), txt("ttt")},
      {add(b::text({b::interp(b::name("t")), b::lit("!")}), b::name("t")), txt("t!t")},
  };
  for (const Case& c : cases) {
    ValueResult result = eval(c.expr);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), c.expected);
    EXPECT_EQ(value_size(result.value()), value_size(c.expected));
    EXPECT_EQ(*scopes.lookup("xs"), lst({num(1)}));
    EXPECT_EQ(*scopes.lookup("t"), txt("t"));
  }
}

TEST_F(OperatorEvalTest, UnaryOperators) {
  scopes.define("p", prob(0.25));
  struct Case {
    UnaryOp op;
    ir::Expr operand;
    Value expected;
  };
  Case cases[] = {
      {UnaryOp::Neg, b::name("p"), num(-0.25)},
      {UnaryOp::Neg, b::num(0), num(-0.0)},
      {UnaryOp::Not, b::text(""), yes()},
      {UnaryOp::Not, b::list({}), yes()},
      {UnaryOp::Not, b::none(), yes()},
      {UnaryOp::Not, b::num(0), yes()},
      {UnaryOp::Not, b::name("p"), no()},
  };
  for (const Case& c : cases) {
    ValueResult result = eval(b::unary(c.op, c.operand));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), c.expected);
    if (result->is_number()) {
      EXPECT_EQ(std::signbit(result->as_number()), std::signbit(c.expected.as_number()));
    }
  }

  ValueResult failed = eval(b::unary(UnaryOp::Neg, b::text("a", b::at(2)), b::at(5)));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(),
            make_runtime_error(RuntimeErrorCode::TypeError, "unary `-` needs a number, got text", false, b::at(5)));
}

}  // namespace
}  // namespace dravelin::runtime

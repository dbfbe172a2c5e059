#include "runtime/eval.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compiler/compile.h"
#include "ir/ir_test_builders.h"
#include "runtime/scripted_host.h"
#include "syntax/parse.h"
#include "support/values.h"

namespace dravelin::runtime {
namespace {

using tokens::BpeEncoding;
using tokens::TokenizerKind;

namespace b = ir::build;
using ir::Expr;
using syntax::Span;
using testing::HostOp;
using testing::ScriptedHost;

using test_values::num;
using test_values::txt;
using test_values::lst;
using test_values::rec;

RuntimeError host_error(std::string message, bool retryable = false) {
  return make_runtime_error(RuntimeErrorCode::AdapterError, std::move(message), retryable);
}

Value choice_value(std::optional<uint32_t> index = std::nullopt, OptionalValue item = {}) {
  return Value::choice(Choice{"yes", 0.75, {{"no", 0.25}, {"yes", 0.75}}, index, std::move(item)});
}

Value level_value(uint32_t position, std::vector<std::string> names) {
  return Value::level(Level{position, 1.5, 0.5, 0.8, {{"0", 0.2}, {"1", 0.8}}, std::move(names)});
}

Value handle_value() {
  JsonFields fields;
  fields.emplace("state", json::Value("busy"));
  fields.emplace("pid", json::Value(7));
  return Value::handle(Handle{"coder", "a1", std::move(fields)});
}

Expr warn_log(Expr value, Span span) {
  return Expr{Expr::Log{syntax::LogLevel::Warn, std::move(value), {}, span}};
}

// Compiles a program with the given declarations and a task that assigns `expr` to `result`, and returns that
// expression as lowering made it.
Expr compile_expr(const std::string& declarations, const std::string& expr) {
  std::string source = "program p\n\n" + declarations + "\ntask main:\n  result = " + expr + "\n  return result\n";
  auto program = syntax::parse_program(source);
  EXPECT_TRUE(program.ok()) << source << "\n" << (program.ok() ? "" : syntax::debug_string(program.error()));
  if (!program.ok()) return b::none();
  auto compiled = compiler::compile_source(*program, std::nullopt, compiler::ModuleSources{});
  EXPECT_TRUE(compiled.ok()) << source << "\n" << (compiled.ok() ? "" : syntax::debug_string(compiled.error()));
  if (!compiled.ok()) return b::none();
  const ir::Task* task = compiled->ir.find_task("main");
  return std::get<ir::Stmt::Assign>(task->body.front().node).value;
}

class EvalTest : public ::testing::Test {
 public:
  ValueResult eval(const Expr& expr) {
    EvalContext context{*host, *tokenizer};
    return eval_expr(context, expr, scopes);
  }

  // The evaluation must fail with a spanless-or-given span, non-retryable type error of exactly this message.
  void expect_type_error(const Expr& expr, const std::string& message, const Span& span) {
    SCOPED_TRACE(message);
    ValueResult result = eval(expr);
    ASSERT_FALSE(result.ok()) << "gave " << result.value();
    EXPECT_EQ(result.error().code, RuntimeErrorCode::TypeError);
    EXPECT_EQ(result.error().message, message);
    EXPECT_FALSE(result.error().retryable);
    EXPECT_EQ(result.error().span, span) << syntax::debug_string(result.error().span);
  }

  void expect_value(const Expr& expr, const Value& expected) {
    ValueResult result = eval(expr);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), expected);
  }

  ScriptedHost scripted;
  QuestionHost question;
  EffectHost* host = &scripted;
  std::unique_ptr<Tokenizer> tokenizer = TokenizerKind::chars4().tokenizer();
  Scopes scopes;
};

// ---------------------------------------------------------------------------------------------------------------
// Whole expressions as the compiler lowers them.

TEST_F(EvalTest, CompiledExpressionsEvaluate) {
  const std::string declarations = "in xs: list\nin n: number\nin t: text\nin r: record\n";
  scopes = Scopes(Scopes::Frame{
      {"xs", lst({lst({txt("a"), Value::prob(0.7)}), lst({txt("b"), Value::prob(0.5)}),
                  lst({txt("c"), Value::prob(0.9)})})},
      {"n", num(2)},
      {"t", txt("hi")},
      {"r", rec({{"a", num(1)}, {"b", rec({{"c", num(2)}})}})},
  });
  struct Case {
    std::string expr;
    Value expected;
  };
  const Case cases[] = {
      {"1 + 2 * 3 - 4 / 8", num(6.5)},
      {"\"v={n} t={t}!\"", txt("v=2 t=hi!")},
      {"\"{xs[1]}\"", txt("[\"b\",0.5]")},
      {"[c for c, p in xs if p > 0.6]", lst({txt("a"), txt("c")})},
      {"[x * 2 for x in [1, 2, 3]]", lst({num(2), num(4), num(6)})},
      {"{b: 1, a: n}", rec({{"a", num(2)}, {"b", num(1)}})},
      {"r.b.c + r[\"a\"]", num(3)},
      {"xs[2][0] + t", txt("chi")},
      {"not t or -n < 0", Value::boolean(true)},
      {"len(xs) == 3 and t != \"ho\"", Value::boolean(true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    expect_value(compile_expr(declarations, c.expr), c.expected);
  }
  EXPECT_TRUE(scripted.calls().empty());
}

// The parser bounds nesting at 100 levels; evaluation of the deepest expressions it accepts must fit in a stack
// far smaller than a thread's usual one, sanitizers included.
TEST_F(EvalTest, TheDeepestCompiledExpressionsFitInASmallStack) {
  struct Shape {
    const char* name;
    std::string (*build)(int depth);
    Value (*expected)(int depth);
  };
  const Shape shapes[] = {
      {"a chain of additions",
       [](int d) {
         std::string s = "1";
         for (int i = 1; i < d; ++i) s += " + 1";
         return s;
       },
       [](int d) { return num(d); }},
      {"nested negations",
       [](int d) {
         std::string s = "1";
         for (int i = 0; i < d; ++i) s = "-(" + s + ")";
         return s;
       },
       [](int d) { return num(d % 2 == 0 ? 1 : -1); }},
      {"nested lists",
       [](int d) { return std::string(d, '[') + "1" + std::string(d, ']'); },
       [](int d) {
         Value v = num(1);
         for (int i = 0; i < d; ++i) v = lst({v});
         return v;
       }},
      {"nested calls of len",
       [](int d) {
         std::string s = "[1]";
         for (int i = 0; i < d; ++i) s = "[len(" + s + ")]";
         return s;
       },
       [](int) { return lst({num(1)}); }},
      {"nested interpolations",
       [](int d) {
         std::string s = "1";
         for (int i = 0; i < d; ++i) s = "\"{" + s + "}\"";
         return s;
       },
       [](int) { return txt("1"); }},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    // The deepest form that still compiles.
    int depth = 0;
    std::optional<Expr> expr;
    for (int d = 130; d > 0 && !expr; --d) {
      auto program = syntax::parse_program("program p\n\ntask main:\n  result = " + shape.build(d) + "\n");
      if (!program.ok()) continue;  // parsing is cheap; only forms that parse are compiled
      auto compiled = compiler::compile_source(*program, std::nullopt, compiler::ModuleSources{});
      if (!compiled.ok()) continue;
      depth = d;
      expr = std::get<ir::Stmt::Assign>(compiled->ir.find_task("main")->body.front().node).value;
    }
    ASSERT_TRUE(expr.has_value());
    EXPECT_GE(depth, 30);  // the search found a deep form, not a trivial one

    struct Job {
      EvalTest* test;
      const Expr* expr;
      std::optional<ValueResult> result;
    } job{this, &*expr, std::nullopt};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                    auto* j = static_cast<Job*>(p);
                    j->result.emplace(j->test->eval(*j->expr));
                    return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    ASSERT_TRUE(job.result.has_value());
    ASSERT_TRUE(job.result->ok()) << job.result->error();
    EXPECT_EQ(job.result->value(), shape.expected(depth));
  }
}

TEST_F(EvalTest, ExpressionsNestedPastTheLimitFailInsteadOfExhaustingTheStack) {
  Expr deep = b::num(1, b::at(9));
  for (uint32_t i = 0; i < kMaxEvalDepth + 50; ++i) deep = b::unary(syntax::UnaryOp::Neg, std::move(deep), b::at(8));
  expect_type_error(deep, "expression nested too deeply to evaluate", b::at(8));

  // Exactly at the limit it still evaluates, and the context's depth is restored either way.
  Expr fits = b::num(1);
  for (uint32_t i = 1; i < kMaxEvalDepth; ++i) fits = b::unary(syntax::UnaryOp::Not, std::move(fits));
  EvalContext context{scripted, *tokenizer};
  ASSERT_TRUE(eval_expr(context, fits, scopes).ok());
  EXPECT_EQ(context.depth, 0u);
  ASSERT_FALSE(eval_expr(context, deep, scopes).ok());
  EXPECT_EQ(context.depth, 0u);
}

// ---------------------------------------------------------------------------------------------------------------
// Names, texts, lists and records.

TEST_F(EvalTest, NamesResolveInFramesThenInputsThenCapabilities) {
  scopes = Scopes(Scopes::Frame{{"x", txt("input")}, {"tool", txt("input tool")}});
  scopes.with_capabilities({"tool", "shell"});
  expect_value(b::name("x"), txt("input"));
  scopes.define("x", txt("outer"));
  scopes.push_frame();
  expect_value(b::name("x"), txt("outer"));
  scopes.define("x", txt("inner"));
  expect_value(b::name("x"), txt("inner"));
  scopes.pop_frame();
  expect_value(b::name("x"), txt("outer"));

  expect_value(b::name("shell"), Value::handle(Handle{"shell", "shell", {}}));
  expect_value(b::name("tool"), txt("input tool"));  // an input hides the capability
  expect_type_error(b::name("nowhere", b::at(4)), "unknown name `nowhere`", b::at(4));
  EXPECT_TRUE(scripted.calls().empty());
}

TEST_F(EvalTest, TextsJoinTheirPartsWithTheTextFormOfEachValue) {
  scopes.define("pair", lst({num(1), num(2)}));
  scopes.define("nothing", Value::none());
  scopes.define("p", Value::prob(0.75));
  Expr text = b::text({b::lit("a "), b::interp(b::name("pair")), b::lit(" b"), b::interp(b::name("nothing")),
                       b::lit("|"), b::interp(b::name("p"))});
  expect_value(text, txt("a [1,2] b|0.75"));
  expect_value(b::text(std::vector<ir::TextPart>{}), txt(""));
}

TEST_F(EvalTest, AFailingInterpolationKeepsItsOwnSpanOrTakesTheTexts) {
  // An unknown name carries the name's span.
  expect_type_error(b::text({b::lit("x"), b::interp(b::name("ghost", b::at(3)))}, b::at(2)), "unknown name `ghost`",
                    b::at(3));

  // A spanless host error raised inside the interpolation receives the text's span, keeping its code.
  scripted.queue_error(host_error("trail broke", true));
  ValueResult result = eval(b::text({b::interp(b::trail(2, b::at(5)))}, b::at(2)));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code, RuntimeErrorCode::AdapterError);
  EXPECT_TRUE(result.error().retryable);
  EXPECT_EQ(result.error().span, b::at(2));
}

TEST_F(EvalTest, SpanlessHostErrorsPassOutUnchangedFromListsRecordsOperandsAndArguments) {
  std::vector<Expr> carriers;
  carriers.push_back(b::list({b::num(1), b::trail(1)}, b::at(2)));
  carriers.push_back(b::record({ir::RecordField{"a", b::trail(1)}}, b::at(2)));
  carriers.push_back(b::binary(syntax::BinaryOp::Add, b::trail(1), b::num(1), b::at(2)));
  carriers.push_back(b::call(b::name("summarize"), {b::arg(b::trail(1))}, b::at(2)));
  carriers.push_back(b::call(b::name("summarize"), {}, b::at(2)));  // the host's own `call` failing
  for (const Expr& e : carriers) {
    RuntimeError error = host_error("no", true);
    scripted.queue_error(error);
    ValueResult result = eval(e);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), error);
  }
}

TEST_F(EvalTest, ListsAndRecordsEvaluateInOrderAndARecordKeepsTheLaterOfTwoFields) {
  scripted.queue(num(1)).queue(num(2));
  Expr list = b::list({b::trail(1), b::trail(2)});
  expect_value(list, lst({num(1), num(2)}));
  ASSERT_EQ(scripted.calls().size(), 2u);
  EXPECT_EQ(scripted.calls()[0].count, 1u);
  EXPECT_EQ(scripted.calls()[1].count, 2u);

  Expr record = b::record({{"b", b::num(1)}, {"a", b::num(2)}, {"B", b::num(3)}, {"a", b::num(4)}});
  ValueResult result = eval(record);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result->to_text(), "{\"B\":3,\"a\":4,\"b\":1}");
}

// ---------------------------------------------------------------------------------------------------------------
// Fields and indexes.

TEST_F(EvalTest, FieldsOfEveryKind) {
  Value picked = choice_value(2, OptionalValue(txt("third")));
  struct Case {
    Value target;
    std::string field;
    std::optional<Value> expected;  // nothing: fails with `message`
    std::string message;
  };
  const Case cases[] = {
      {rec({{"a", num(1)}}), "a", num(1), ""},
      {rec({{"a", num(1)}}), "b", std::nullopt, "record has no field `b`"},
      {picked, "label", txt("yes"), ""},
      {picked, "confidence", num(0.75), ""},
      {picked, "index", num(2), ""},
      {picked, "item", txt("third"), ""},
      {choice_value(), "index", Value::none(), ""},
      {choice_value(), "item", Value::none(), ""},
      {picked, "probabilities", rec({{"no", Value::prob(0.25)}, {"yes", Value::prob(0.75)}}), ""},
      {picked, "names", std::nullopt, "choice has no field `names`"},
      {level_value(1, {"low", "high"}), "level", num(1), ""},
      {level_value(1, {}), "score", num(1.5), ""},
      {level_value(1, {}), "normalized", num(0.5), ""},
      {level_value(1, {}), "confidence", num(0.8), ""},
      {level_value(1, {}), "probabilities", rec({{"0", Value::prob(0.2)}, {"1", Value::prob(0.8)}}), ""},
      {level_value(1, {"low", "high"}), "names", std::nullopt, "level has no field `names`"},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), "answer", txt("yes"), ""},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), "text", Value::none(), ""},
      {Value::pause_result(PauseResult{"no", "later"}), "text", txt("later"), ""},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), "label", std::nullopt,
       "pause_result has no field `label`"},
      {Value::none(), "a", std::nullopt, "cannot read field `a` of none"},
      {txt("abc"), "length", std::nullopt, "cannot read field `length` of text"},
      {num(1), "a", std::nullopt, "cannot read field `a` of number"},
      {Value::boolean(true), "a", std::nullopt, "cannot read field `a` of bool"},
      {lst({}), "a", std::nullopt, "cannot read field `a` of list"},
      {Value::prob(0.5), "value", std::nullopt, "cannot read field `value` of prob"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(debug_string(c.target) + " ." + c.field);
    scopes.define("v", c.target);
    Expr e = b::field(b::name("v", b::at(2)), c.field, b::at(3));
    if (c.expected) {
      expect_value(e, *c.expected);
    } else {
      expect_type_error(e, c.message, b::at(3));
    }
  }
  EXPECT_TRUE(scripted.calls().empty());
}

TEST_F(EvalTest, HandleFieldsReadTheHandleAndOtherwiseCallAVerbOnIt) {
  scopes.define("h", handle_value());
  expect_value(b::field(b::name("h"), "id"), txt("a1"));
  expect_value(b::field(b::name("h"), "capability"), txt("coder"));
  expect_value(b::field(b::name("h"), "state"), txt("busy"));
  expect_value(b::field(b::name("h"), "pid"), num(7));
  EXPECT_TRUE(scripted.calls().empty());

  scripted.queue(txt("running"));
  expect_value(b::field(b::name("h"), "status"), txt("running"));
  ASSERT_EQ(scripted.calls().size(), 1u);
  const testing::HostCall& call = scripted.calls()[0];
  EXPECT_EQ(call.op, HostOp::CallVerb);
  EXPECT_EQ(call.name, "status");
  EXPECT_EQ(call.target, CallTarget(handle_value().as_handle()));
  EXPECT_EQ(call.args, CallArguments{});
}

TEST_F(EvalTest, ACapabilityFieldIsAVerbCallUnlessAVariableOrInputHidesIt) {
  scopes.with_capabilities({"tool"});
  scripted.queue(txt("ok"));
  expect_value(b::field(b::name("tool"), "status"), txt("ok"));
  ASSERT_EQ(scripted.calls().size(), 1u);
  EXPECT_EQ(scripted.calls()[0].op, HostOp::CallVerb);
  EXPECT_EQ(scripted.calls()[0].target, CallTarget(std::string("tool")));
  EXPECT_EQ(scripted.calls()[0].name, "status");

  scopes.define("tool", rec({{"status", txt("from the variable")}}));
  expect_value(b::field(b::name("tool"), "status"), txt("from the variable"));

  Scopes with_input(Scopes::Frame{{"tool", rec({{"status", txt("from the input")}})}});
  with_input.with_capabilities({"tool"});
  scopes = with_input;
  expect_value(b::field(b::name("tool"), "status"), txt("from the input"));
  EXPECT_EQ(scripted.calls().size(), 1u);
}

TEST_F(EvalTest, Indexes) {
  scopes.define("xs", lst({num(10), num(20)}));
  scopes.define("r", rec({{"a", num(1)}}));
  scopes.define("s", txt("ab"));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* target;
    Value index;
    std::optional<Value> expected;
    std::string message;
  };
  const Case cases[] = {
      {"xs", num(1), num(20), ""},
      {"xs", num(1.0), num(20), ""},
      {"xs", Value::prob(0), num(10), ""},
      {"xs", num(-0.0), num(10), ""},
      {"xs", num(2), std::nullopt, "index 2 is out of range for a list of 2"},
      {"xs", num(-1), std::nullopt, "list index must be a whole non-negative number, got -1"},
      {"xs", num(0.5), std::nullopt, "list index must be a whole non-negative number, got 0.5"},
      {"xs", num(nan), std::nullopt, "list index must be a whole non-negative number, got NaN"},
      {"xs", num(inf), std::nullopt, "list index must be a whole non-negative number, got inf"},
      {"xs", num(1e300), std::nullopt,
       "index 1" + std::string(300, '0') + " is out of range for a list of 2"},
      {"xs", txt("1"), std::nullopt, "expected a number to index a list, got text"},
      {"r", txt("a"), num(1), ""},
      {"r", txt("b"), std::nullopt, "record has no field `b`"},
      {"r", num(0), std::nullopt, "expected a text to index a record, got number"},
      {"s", num(0), std::nullopt, "expected a list or record to index, got text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + "[" + debug_string(c.index) + "]");
    scopes.define("i", c.index);
    Expr e = b::index(b::name(c.target, b::at(2)), b::name("i", b::at(3)), b::at(4));
    if (c.expected) {
      expect_value(e, *c.expected);
    } else {
      expect_type_error(e, c.message, b::at(3));
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Calls.

TEST_F(EvalTest, ABuiltinNameReachesTheBuiltinAndOtherNamesTheHost) {
  scopes.define("len", num(99));  // neither a variable nor a def can take a built-in's name
  expect_value(b::call(b::name("len"), {b::arg(b::list({b::num(1), b::num(2)}))}), num(2));
  EXPECT_TRUE(scripted.calls().empty());

  scripted.queue(txt("summary"));
  Expr call = b::call(b::name("summarize"),
                      {b::arg(b::num(1)), b::named_arg("n", b::num(2)), b::arg(b::text("x")),
                       b::named_arg("n", b::num(3)), b::named_arg("by", b::text("keep"))});
  expect_value(call, txt("summary"));
  ASSERT_EQ(scripted.calls().size(), 1u);
  EXPECT_EQ(scripted.calls()[0].op, HostOp::Call);
  EXPECT_EQ(scripted.calls()[0].name, "summarize");
  CallArguments expected;
  expected.positional = {num(1), txt("x")};
  expected.named = {{"by", txt("keep")}, {"n", num(3)}};
  EXPECT_EQ(scripted.calls()[0].args, expected);
}

TEST_F(EvalTest, VerbCallsOnCapabilitiesHandlesAndModules) {
  scopes.with_capabilities({"tool"});
  scopes.define("h", handle_value());
  scripted.queue(num(1)).queue(num(2)).queue(num(3));

  expect_value(b::call(b::field(b::name("tool"), "run"), {b::arg(b::num(5))}), num(1));
  expect_value(b::call(b::field(b::name("h"), "stop"), {}), num(2));
  expect_value(b::call(b::field(b::name("std"), "keep"), {b::arg(b::num(7))}), num(3));

  ASSERT_EQ(scripted.calls().size(), 3u);
  EXPECT_EQ(scripted.calls()[0].op, HostOp::CallVerb);
  EXPECT_EQ(scripted.calls()[0].target, CallTarget(std::string("tool")));
  EXPECT_EQ(scripted.calls()[0].name, "run");
  EXPECT_EQ(scripted.calls()[0].args.positional, List{num(5)});
  EXPECT_EQ(scripted.calls()[1].op, HostOp::CallVerb);
  EXPECT_EQ(scripted.calls()[1].target, CallTarget(handle_value().as_handle()));
  EXPECT_EQ(scripted.calls()[1].name, "stop");
  EXPECT_EQ(scripted.calls()[2].op, HostOp::Call);
  EXPECT_EQ(scripted.calls()[2].name, "std.keep");
  EXPECT_EQ(scripted.calls()[2].args.positional, List{num(7)});
}

TEST_F(EvalTest, WaitTakesUnboundBareWordsAsTexts) {
  scopes.with_capabilities({"agent"});
  auto wait = [](std::vector<ir::Arg> args) { return b::call(b::field(b::name("agent"), "wait"), std::move(args)); };

  scripted.queue(Value::none());
  ASSERT_TRUE(eval(wait({b::arg(b::name("done")), b::arg(b::name("failed"))})).ok());
  EXPECT_EQ(scripted.calls().back().args.positional, (List{txt("done"), txt("failed")}));

  scopes.define("done", num(1));
  scripted.queue(Value::none());
  ASSERT_TRUE(eval(wait({b::arg(b::name("done")), b::arg(b::name("failed"))})).ok());
  EXPECT_EQ(scripted.calls().back().args.positional, (List{num(1), txt("failed")}));

  // Named arguments and other verbs evaluate their names as usual.
  expect_type_error(wait({b::named_arg("until", b::name("finished", b::at(6)))}), "unknown name `finished`",
                    b::at(6));
  expect_type_error(b::call(b::field(b::name("agent"), "watch"), {b::arg(b::name("finished", b::at(6)))}),
                    "unknown name `finished`", b::at(6));
  EXPECT_EQ(scripted.calls().size(), 2u);
}

TEST_F(EvalTest, CallsThatCannotBeResolvedFailWithTheCallsSpan) {
  scopes.with_capabilities({"tool"});
  expect_type_error(b::call(b::name("tool", b::at(2)), {b::arg(b::num(1))}, b::at(5)),
                    "capability `tool` needs a verb: `tool.<verb>`", b::at(5));
  expect_type_error(b::call(b::num(5, b::at(2)), {}, b::at(5)),
                    "only a name, a def, a capability verb or a handle verb can be called", b::at(5));
  expect_type_error(b::call(b::field(b::num(1), "go", b::at(3)), {}, b::at(5)),
                    "`.go(...)` needs a capability or handle, got number", b::at(5));
  scopes.define("tool", rec({}));  // a variable hides the capability as a verb target too
  expect_type_error(b::call(b::field(b::name("tool"), "run"), {}, b::at(5)),
                    "`.run(...)` needs a capability or handle, got record", b::at(5));
  EXPECT_TRUE(scripted.calls().empty());
}

TEST_F(EvalTest, ArgumentsAreEvaluatedBeforeTheCalleeIsResolved) {
  scripted.queue(num(0));
  expect_type_error(b::call(b::num(5), {b::arg(b::trail(1))}, b::at(5)),
                    "only a name, a def, a capability verb or a handle verb can be called", b::at(5));
  ASSERT_EQ(scripted.calls().size(), 1u);
  EXPECT_EQ(scripted.calls()[0].op, HostOp::Trail);

  // A failing argument ends the call before its callee is looked at.
  expect_type_error(b::call(b::field(b::name("ghost", b::at(2)), "go"), {b::arg(b::name("missing", b::at(3)))}),
                    "unknown name `missing`", b::at(3));
}

TEST_F(EvalTest, BuiltinFailuresTakeTheCallsSpan) {
  expect_type_error(b::call(b::name("len"), {}, b::at(5)), "`len` needs an argument `x`", b::at(5));

  RuntimeError clock = host_error("clock stopped", true);
  scripted.queue_error(clock);
  ValueResult result = eval(b::call(b::name("now"), {}, b::at(5)));
  ASSERT_FALSE(result.ok());
  clock.span = b::at(5);
  EXPECT_EQ(result.error(), clock);
}

// ---------------------------------------------------------------------------------------------------------------
// `is`, comprehensions and effects.

TEST_F(EvalTest, IsTestsLabelsOfChoicesAndNamedLevels) {
  struct Case {
    Value target;
    std::string label;
    std::optional<bool> expected;
    std::string message;
  };
  const Case cases[] = {
      {choice_value(), "yes", true, ""},
      {choice_value(), "Yes", false, ""},
      {choice_value(), "no", false, ""},
      {level_value(1, {"low", "high"}), "high", true, ""},
      {level_value(1, {"low", "high"}), "low", false, ""},
      {level_value(5, {"low", "high"}), "high", false, ""},
      {level_value(1, {}), "urgent", std::nullopt, "`is urgent` needs a level whose levels were named"},
      {num(1), "urgent", std::nullopt, "`is urgent` needs a choice or a named level, got number"},
      {txt("yes"), "yes", std::nullopt, "`is yes` needs a choice or a named level, got text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(debug_string(c.target) + " is " + c.label);
    scopes.define("v", c.target);
    Expr e = b::is(b::name("v", b::at(2)), c.label, b::at(4));
    if (c.expected) {
      expect_value(e, Value::boolean(*c.expected));
    } else {
      expect_type_error(e, c.message, b::at(4));
    }
  }
}

TEST_F(EvalTest, ComprehensionsBindTheirNamesInAFrameOfTheirOwn) {
  scopes.define("c", txt("outer"));
  scopes.define("pairs", lst({lst({txt("a"), num(0.7)}), lst({txt("b"), num(0.5)}), lst({txt("c"), num(0.9)})}));
  Expr keep = b::comprehension(b::name("c"), {"c", "p"}, b::name("pairs"),
                               b::binary(syntax::BinaryOp::Gt, b::name("p"), b::num(0.6)));
  expect_value(keep, lst({txt("a"), txt("c")}));
  expect_value(b::comprehension(b::name("x"), {"x"}, b::list({}), std::nullopt), lst({}));
  // A test's truthiness decides, not its kind.
  expect_value(b::comprehension(b::name("x"), {"x"}, b::list({b::text(""), b::text("k"), b::none()}), b::name("x")),
               lst({txt("k")}));

  EXPECT_EQ(scopes.frames().size(), 1u);
  EXPECT_EQ(*scopes.lookup("c"), txt("outer"));
  EXPECT_EQ(scopes.lookup("p"), nullptr);
}

TEST_F(EvalTest, ComprehensionFailuresCarryTheirSpansAndLeaveNoFrameBehind) {
  struct Case {
    Expr iterable;
    std::string message;
  };
  Case cases[] = {
      {b::list({b::num(1)}), "cannot unpack number into 2 names"},
      {b::list({b::list({b::num(1), b::num(2), b::num(3)})}), "cannot unpack list into 2 names"},
      {b::num(5), "expected a list to iterate, got number"},
  };
  for (const Case& c : cases) {
    expect_type_error(b::comprehension(b::name("a"), {"a", "b"}, c.iterable, std::nullopt, b::at(7)), c.message,
                      b::at(7));
    EXPECT_EQ(scopes.frames().size(), 1u);
  }
  // An error of the element expression keeps its own span.
  expect_type_error(b::comprehension(b::name("ghost", b::at(3)), {"a"}, b::list({b::num(1)}), std::nullopt, b::at(7)),
                    "unknown name `ghost`", b::at(3));
  EXPECT_EQ(scopes.frames().size(), 1u);
  EXPECT_EQ(scopes.lookup("a"), nullptr);
}

TEST_F(EvalTest, FocusTrailAndJudgeGoThroughTheHost) {
  scopes.define("doc", lst({txt("long"), txt("text")}));
  scripted.queue(txt("focused")).queue(lst({})).queue(lst({})).queue(lst({})).queue(lst({})).queue(Value::prob(0.8));

  expect_value(b::focus(b::name("doc"), b::num(0.5), 120), txt("focused"));
  const testing::HostCall& focus = scripted.calls().back();
  EXPECT_EQ(focus.op, HostOp::Focus);
  EXPECT_EQ(focus.value, lst({txt("long"), txt("text")}));
  EXPECT_EQ(focus.name, "0.5");
  EXPECT_EQ(focus.max, 120);

  const double counts[] = {-3, 2.9, std::numeric_limits<double>::quiet_NaN(), 1e30};
  const uint64_t handed[] = {0, 2, 0, std::numeric_limits<uint64_t>::max()};
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(eval(b::trail(counts[i])).ok());
    EXPECT_EQ(scripted.calls().back().op, HostOp::Trail);
    EXPECT_EQ(scripted.calls().back().count, handed[i]) << counts[i];
  }

  ir::Judge question = b::feels(b::subject("doc"), b::text("urgent"), b::at(6));
  expect_value(b::judge_expr(question), Value::prob(0.8));
  EXPECT_EQ(scripted.calls().back().op, HostOp::Judge);
  EXPECT_EQ(scripted.calls().back().judge, question);
}

TEST_F(EvalTest, ALogHandsItsLineToTheHostAndEvaluatesToTheLoggedValue) {
  scopes.define("kind", Value::choice(Choice{"bug", 0.9, {}, std::nullopt, {}}));
  Expr log = b::log(b::name("kind"), {{"n", b::num(1)}, {"m", b::text("x")}, {"n", b::num(2)}}, b::at(4));
  expect_value(log, *scopes.lookup("kind"));
  ASSERT_EQ(scripted.calls().size(), 1u);
  const JudgmentLogEntry& entry = *scripted.calls()[0].log;
  EXPECT_EQ(entry.message, "bug");
  EXPECT_EQ(entry.task, "");
  EXPECT_EQ(entry.fields, (Record{{"m", txt("x")}, {"n", num(2)}}));
  EXPECT_EQ(entry.source, b::at(4));
  EXPECT_EQ(entry.level, syntax::LogLevel::Info);

  RuntimeError refused = host_error("sink closed");
  scripted.fail_next_log(refused);
  ValueResult failed = eval(log);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), refused);
}

TEST_F(EvalTest, InsideAQuestionEveryEffectIsRefused) {
  host = &question;
  scopes.with_capabilities({"tool"});
  scopes.define("h", handle_value());
  scopes.define("doc", txt("d"));
  struct Case {
    Expr expr;
    std::string message;
    Span span;
  };
  Case cases[] = {
      {b::judge_expr(b::feels(b::subject("doc"), b::text("urgent"))), "a judgment is not allowed inside a question",
       Span{}},
      {b::call(b::name("summarize"), {}, b::at(5)), "calling `summarize` is not allowed inside a question", Span{}},
      {b::call(b::field(b::name("tool"), "run"), {}, b::at(5)), "calling `tool.run` is not allowed inside a question",
       Span{}},
      {b::field(b::name("tool"), "status", b::at(5)), "calling `tool.status` is not allowed inside a question",
       Span{}},
      {b::call(b::field(b::name("h"), "stop"), {}, b::at(5)), "calling `coder.stop` is not allowed inside a question",
       Span{}},
      {b::focus(b::name("doc"), b::text("p"), 10), "`focus` is not allowed inside a question", Span{}},
      {b::trail(3), "`trail` is not allowed inside a question", Span{}},
      {b::call(b::name("now"), {}, b::at(5)), "`now()` is not allowed inside a question", b::at(5)},
      {b::call(b::name("random"), {}, b::at(5)), "`random()` is not allowed inside a question", b::at(5)},
      {b::log(b::name("doc"), {}, b::at(6)), "a `log` (info) is not allowed here", b::at(6)},
      {warn_log(b::name("doc"), b::at(6)), "a `log` (warn) is not allowed here", b::at(6)},
  };
  for (const Case& c : cases) expect_type_error(c.expr, c.message, c.span);
}

TEST_F(EvalTest, RateSituationsBecomeTextsWithTheirNames) {
  scopes.define("n", num(3));
  std::vector<ir::RateLevel> levels = {
      ir::RateLevel{"low", b::text({b::lit("under "), b::interp(b::name("n"))}), b::at(1)},
      ir::RateLevel{std::nullopt, b::name("n"), b::at(2)},
  };
  EvalContext context{scripted, *tokenizer};
  auto texts = eval_exprs_to_texts(context, levels, scopes);
  ASSERT_TRUE(texts.ok()) << texts.error();
  EXPECT_EQ(*texts, (std::vector<NamedText>{{"low", "under 3"}, {std::nullopt, "3"}}));

  levels.push_back(ir::RateLevel{"high", b::name("ghost", b::at(4)), b::at(3)});
  auto failed = eval_exprs_to_texts(context, levels, scopes);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().message, "unknown name `ghost`");
}

// ---------------------------------------------------------------------------------------------------------------
// Scopes.

TEST(ScopesTest, AssignRebindsTheNearestBindingAndNeverTouchesInputs) {
  Scopes scopes(Scopes::Frame{{"in", num(1)}});
  scopes.define("a", num(1));
  scopes.push_frame();
  scopes.assign("a", num(2));    // the outer binding
  scopes.assign("b", num(3));    // new, in the innermost frame
  scopes.assign("in", num(4));   // hides the input
  EXPECT_EQ(scopes.frames()[0].at("a"), num(2));
  EXPECT_EQ(scopes.frames()[1].count("a"), 0u);
  EXPECT_EQ(scopes.frames()[1].at("b"), num(3));
  EXPECT_EQ(*scopes.lookup("in"), num(4));
  EXPECT_EQ(scopes.inputs().at("in"), num(1));
  scopes.pop_frame();
  EXPECT_EQ(scopes.lookup("b"), nullptr);
  EXPECT_EQ(*scopes.lookup("in"), num(1));
  scopes.pop_frame();  // the outermost frame stays
  ASSERT_EQ(scopes.frames().size(), 1u);
  scopes.define("c", num(5));
  EXPECT_EQ(*scopes.lookup("c"), num(5));
}

TEST(ScopesTest, AFrameThatShadowsANameHidesTheOuterBindingUntilItIsPopped) {
  Scopes scopes(Scopes::Frame{{"in", num(0)}});
  const std::string x = "x";  // a name the program writes, read through its address
  scopes.define(WrittenName{x}, num(1));
  scopes.push_frame();
  scopes.define("x", num(2));
  scopes.define("in", num(3));
  scopes.push_frame();
  scopes.define(WrittenName{x}, num(4));
  scopes.assign("x", num(5));  // the innermost binding
  scopes.define("y", num(6));
  EXPECT_EQ(*scopes.lookup(WrittenName{x}), num(5));
  const std::vector<Scopes::Frame> frames = scopes.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], (Scopes::Frame{{"x", num(1)}}));
  EXPECT_EQ(frames[1], (Scopes::Frame{{"in", num(3)}, {"x", num(2)}}));
  EXPECT_EQ(frames[2], (Scopes::Frame{{"x", num(5)}, {"y", num(6)}}));

  scopes.pop_frame();
  EXPECT_EQ(*scopes.lookup(WrittenName{x}), num(2));
  EXPECT_EQ(scopes.lookup("y"), nullptr);
  EXPECT_EQ(*scopes.lookup("in"), num(3));
  scopes.pop_frame();
  EXPECT_EQ(*scopes.lookup("x"), num(1));
  EXPECT_EQ(*scopes.lookup("in"), num(0));
  EXPECT_EQ(scopes.variable("in"), nullptr);
  EXPECT_EQ(scopes.frames(), (std::vector<Scopes::Frame>{{{"x", num(1)}}}));
}

TEST(ScopesTest, AWrittenNameIsFoundByItsTextWhenItsAddressComesBackWithOtherText) {
  Scopes scopes(Scopes::Frame{{"in", num(0)}});
  scopes.define("a", num(1));
  scopes.define("b", num(2));
  std::string name = "a";
  EXPECT_EQ(*scopes.lookup(WrittenName{name}), num(1));
  // Same string object, other text: what IR built and dropped leaves behind for the next.
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::optional<Value>>>{
           {"b", num(2)}, {"in", num(0)}, {"ghost", std::nullopt}, {"a", num(1)}}) {
    name = text;
    const Value* found = scopes.lookup(WrittenName{name});
    if (expected) {
      ASSERT_NE(found, nullptr) << text;
      EXPECT_EQ(*found, *expected) << text;
    } else {
      EXPECT_EQ(found, nullptr) << text;
    }
  }
  name = "c";
  scopes.assign(WrittenName{name}, num(3));
  EXPECT_EQ(*scopes.lookup("c"), num(3));
  EXPECT_EQ(*scopes.lookup("a"), num(1));
}

TEST(ScopesTest, ScopesOfOneLayoutKeepTheirOwnBindings) {
  // Two calls of one body share its layout: each sees only its own variables, a copy only its own changes, and a
  // slot added by one is there for the other.
  auto layout = Scopes::make_layout(std::make_shared<const Scopes::Frame>(Scopes::Frame{{"in", num(0)}}));
  Scopes outer(layout);
  outer.define("n", num(1));
  {
    Scopes inner(layout);
    EXPECT_EQ(inner.lookup("n"), nullptr);
    EXPECT_EQ(*inner.lookup("in"), num(0));
    inner.define("n", num(2));
    inner.define("late", num(3));
    Scopes copy = inner;
    copy.assign("n", num(4));
    EXPECT_EQ(*inner.lookup("n"), num(2));
    EXPECT_EQ(*copy.lookup("n"), num(4));
  }
  EXPECT_EQ(*outer.lookup("n"), num(1));
  EXPECT_EQ(outer.lookup("late"), nullptr);
  outer.define("late", num(5));
  EXPECT_EQ(*outer.lookup("late"), num(5));
  // A new scopes of the layout (its storage recycled) starts empty.
  Scopes fresh(layout);
  EXPECT_EQ(fresh.lookup("n"), nullptr);
  EXPECT_EQ(fresh.lookup("late"), nullptr);
  EXPECT_EQ(fresh.frames(), (std::vector<Scopes::Frame>{{}}));
}

TEST(ScopesTest, PathAssignmentsSetFieldsOrFailWithoutChangingAnything) {
  const Value start = rec({{"a", rec({{"b", num(1)}})}, {"n", num(2)}});
  struct Case {
    std::string root;
    std::vector<std::string> path;
    std::optional<Value> expected;  // the variable afterwards; nothing: fails with `message`
    std::string message;
  };
  const Case cases[] = {
      {"v", {"a", "b"}, rec({{"a", rec({{"b", num(9)}})}, {"n", num(2)}}), ""},
      {"v", {"a", "new"}, rec({{"a", rec({{"b", num(1)}, {"new", num(9)}})}, {"n", num(2)}}), ""},
      {"v", {"z"}, rec({{"a", rec({{"b", num(1)}})}, {"n", num(2)}, {"z", num(9)}}), ""},
      {"v", {"n", "x"}, std::nullopt, "expected a record, got number"},
      {"v", {"a", "b", "c"}, std::nullopt, "expected a record, got number"},
      {"v", {"missing", "x"}, std::nullopt, "record has no field `missing`"},
      {"v", {}, std::nullopt, "a field assignment needs a field"},
      {"input", {"a"}, std::nullopt, "input `input` is read-only"},
      {"nobody", {"a"}, std::nullopt, "`nobody` is not a variable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root + " " + std::to_string(c.path.size()));
    Scopes scopes(Scopes::Frame{{"input", rec({})}});
    scopes.define("v", start);
    scopes.push_frame();
    auto result = scopes.assign_path(c.root, c.path, num(9));
    if (c.expected) {
      ASSERT_TRUE(result.ok()) << result.error();
      EXPECT_EQ(*scopes.lookup("v"), *c.expected);
    } else {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().message, c.message);
      EXPECT_EQ(result.error().code, RuntimeErrorCode::TypeError);
      EXPECT_TRUE(result.error().span.is_zero());
      EXPECT_EQ(*scopes.lookup("v"), start);
      EXPECT_EQ(scopes.inputs().at("input"), rec({}));
    }
  }
}

TEST(ScopesTest, UnpackBindsOneNameToTheWholeValueOrSeveralToTheItems) {
  Scopes scopes;
  ASSERT_TRUE(unpack(scopes, {"x"}, lst({num(1), num(2)})).ok());
  EXPECT_EQ(*scopes.lookup("x"), lst({num(1), num(2)}));
  ASSERT_TRUE(unpack(scopes, {"k", "v"}, lst({txt("a"), num(2)})).ok());
  EXPECT_EQ(*scopes.lookup("k"), txt("a"));
  EXPECT_EQ(*scopes.lookup("v"), num(2));
  auto failed = unpack(scopes, {"k", "v"}, rec({}));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().message, "cannot unpack record into 2 names");
  EXPECT_TRUE(failed.error().span.is_zero());
}

}  // namespace
}  // namespace dravelin::runtime

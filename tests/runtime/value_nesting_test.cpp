// Values nest at most kMaxValueDepth levels: every way of wrapping a value one level deeper refuses to go past
// it, and every walk over a value at the limit (copy, comparisons, text, JSON) completes.
#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/builtins.h"
#include "runtime/eval.h"
#include "runtime/scripted_host.h"
#include "runtime/value_json.h"

namespace dravelin::runtime {
namespace {

namespace b = ir::build;
using testing::ScriptedHost;

// A list nested `depth` levels deep around the number 1.
Value nested_list(size_t depth) {
  Value v = Value::number(1);
  for (size_t i = 0; i < depth; ++i) v = Value::list(List{std::move(v)});
  return v;
}

// A record nested `depth` levels deep: {a: {a: ... 1}}.
Value nested_record(size_t depth) {
  Value v = Value::number(1);
  for (size_t i = 0; i < depth; ++i) v = Value::record(Record{{"a", std::move(v)}});
  return v;
}

TEST(ValueNesting, DepthCountsEveryLevelOfTheTaggedForm) {
  JsonFields fields;
  fields.emplace("deep", json::Value(json::Array{json::Value(json::Array{})}));
  struct Case {
    const char* name;
    Value value;
    size_t depth;
  };
  const Case cases[] = {
      {"number", Value::number(1), 0},
      {"empty_list", Value::list({}), 1},
      {"prob", Value::prob(0.5), 1},
      {"level", Value::level(Level{}), 2},
      {"choice_without_item", Value::choice(Choice{}), 2},
      {"choice_with_deep_item", Value::choice(Choice{"i0", 1, {}, 0, nested_list(3)}), 4},
      {"handle_with_nested_fields", Value::handle(Handle{"c", "a1", fields}), 3},
      {"list_of_levels", Value::list({Value::level(Level{})}), 3},
      {"nested_records", nested_record(5), 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(value_depth(c.value), c.depth);
  }
}

class ValueNestingEval : public ::testing::Test {
 public:
  ValueResult eval(const ir::Expr& expr) {
    EvalContext context{host, *tokenizer};
    return eval_expr(context, expr, scopes);
  }

  ScriptedHost host;
  std::unique_ptr<Tokenizer> tokenizer = tokens::TokenizerKind::chars4().tokenizer();
  Scopes scopes;
};

// Each construct wraps the variable `v` one level deeper (or places it one field down). With `v` one level
// below the limit the result sits exactly at it; with `v` at the limit the construct is refused.
TEST_F(ValueNestingEval, WrappingPastTheLimitIsRefused) {
  const syntax::Span span = b::at(7, 3);
  struct Case {
    const char* name;
    ir::Expr expr;
    bool spanned;  // the error carries the expression's span (a built-in's gets the call's on its way out)
  };
  const Case cases[] = {
      {"list_literal", b::list({b::name("v")}, span), true},
      {"record_literal", b::record({ir::RecordField{"x", b::name("v")}}, span), true},
      {"zip", b::call(b::name("zip"), {b::arg(b::name("v")), b::arg(b::name("v"))}, span), false},
      {"items", b::call(b::name("items"), {b::arg(b::record({ir::RecordField{"x", b::name("v")}}))}, span),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // `items` wraps a record literal that itself adds a level: start one lower there.
    const size_t extra = std::string(c.name) == "items" ? 1 : 0;
    scopes = Scopes();
    scopes.define("v", nested_list(kMaxValueDepth - 1 - extra));
    ValueResult fits = eval(c.expr);
    ASSERT_TRUE(fits.ok()) << fits.error();
    EXPECT_EQ(value_depth(*fits), kMaxValueDepth);

    scopes.define("v", nested_list(kMaxValueDepth - extra));
    ValueResult refused = eval(c.expr);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, RuntimeErrorCode::TypeError);
    EXPECT_EQ(refused.error().message, "a value may nest at most 400 levels deep");
    EXPECT_FALSE(refused.error().retryable);
    if (c.spanned) {
      EXPECT_EQ(refused.error().span, span);
    }
  }
}

TEST_F(ValueNestingEval, FieldAssignmentCountsThePathBelowTheVariable) {
  scopes.define("r", Value::record(Record{{"a", Value::record({})}}));
  // Two levels of path below `r`: a value of depth 398 reaches the limit, 399 goes past it.
  ASSERT_TRUE(scopes.assign_path("r", {"a", "b"}, nested_list(kMaxValueDepth - 2)).ok());
  EXPECT_EQ(value_depth(*scopes.lookup("r")), kMaxValueDepth);
  auto refused = scopes.assign_path("r", {"a", "b"}, nested_list(kMaxValueDepth - 1));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "a value may nest at most 400 levels deep");
  // Nothing was changed by the refusal.
  EXPECT_EQ(value_depth(*scopes.lookup("r")), kMaxValueDepth);
}

// Every walk over a value at the limit finishes on a thread whose stack is a quarter of the usual 8 MiB
// main-thread stack: copying, both equalities, the text form, both JSON forms and reading the tagged form back.
void walk_at_the_limit() {
  for (const Value& deep : {nested_list(kMaxValueDepth), nested_record(kMaxValueDepth)}) {
    ASSERT_EQ(value_depth(deep), kMaxValueDepth);
    Value copy = deep;
    EXPECT_TRUE(copy == deep);
    EXPECT_TRUE(copy.loosely_equals(deep));
    const std::string text = deep.to_text();
    EXPECT_EQ(text.size(), deep.is_list() ? 2 * kMaxValueDepth + 1 : 6 * kMaxValueDepth + 1);
    EXPECT_FALSE(debug_string(deep).empty());
    const std::string tagged = json::to_compact(to_tagged_json(deep));
    EXPECT_EQ(tagged, text);
    auto parsed = json::parse(tagged, json::ReadOptions{.recursion_limit = static_cast<int>(kMaxValueDepth) + 1});
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    auto back = from_tagged_json(*parsed);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(*back, deep);
  }
}

TEST(ValueNesting, WalksAtTheLimitStayWithinTheStack) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, size_t{2} << 20);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void*) -> void* {
                  walk_at_the_limit();
                  return nullptr;
                },
                nullptr),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace
}  // namespace dravelin::runtime

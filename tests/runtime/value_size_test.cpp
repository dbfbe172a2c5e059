// Values hold at most kMaxValueBytes: every way a program grows a value refuses to go past it, the size a value
// keeps stays true when the value changes in place, and the size bounds what a recording line holds of it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/eval.h"
#include "runtime/scripted_host.h"
#include "runtime/value_bounds.h"
#include "runtime/value_json.h"

namespace dravelin::runtime {
namespace {

namespace b = ir::build;
using syntax::BinaryOp;
using testing::ScriptedHost;

const std::string kSizeMessage = "a value may hold at most 8388608 bytes";

std::string tagged_text(const Value& value) { return json::to_compact(to_tagged_json(value)); }

// The same value built afresh from its JSON, so its size is measured from scratch.
Value rebuilt(const Value& value) {
  auto back = from_tagged_json(to_tagged_json(value));
  EXPECT_TRUE(back.ok()) << back.error();
  return back.ok() ? std::move(*back) : Value();
}

TEST(ValueSize, EscapeFreeValuesMeasureTheirJsonAndEveryValueBoundsIt) {
  JsonFields fields;
  fields.emplace("log", json::Value("a\nb"));
  fields.emplace("pid", json::Value(int64_t{-12345678901234}));
  struct Case {
    const char* name;
    Value value;
    bool exact;  // no number, escape or special kind: the size is the JSON's length
  };
  const Case cases[] = {
      {"text", Value::text("h\xc3\xa9llo"), false},  // 6 bytes; its JSON adds quotes
      {"list_of_texts", Value::list({Value::text("a"), Value::text("bc")}), true},
      {"record", Value::record({{"b", Value::list({})}, {"a", Value::text("x")}}), true},
      {"nested", Value::list({Value::record({{"k", Value::list({Value::text("")})}})}), true},
      {"numbers", Value::list({Value::number(1), Value::number(-2.2250738585072014e-308)}), false},
      {"control_characters", Value::list({Value::text(std::string(50, '\x01'))}), false},
      {"prob", Value::prob(0.3), false},
      {"choice", Value::choice(Choice{"yes", 0.9, {{"no", 0.1}, {"yes", 0.9}}, 1, Value::text("\"")}), false},
      {"level", Value::level(Level{2, 2, 1, 0.7, {{"0", 0.3}}, {"low", "mid", "high"}}), false},
      {"handle", Value::handle(Handle{"coder", "a1", fields}), false},
      {"pause_result", Value::pause_result(PauseResult{"yes", "sure"}), false},
      {"bools_and_none", Value::list({Value::boolean(false), Value::none()}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string json = tagged_text(c.value);
    const size_t size = value_size(c.value);
    if (c.exact) {
      EXPECT_EQ(size, json.size());
    }
    // Escaping takes a byte to at most six: the bound a recording line relies on.
    EXPECT_LE(json.size(), 6 * size + 2);
    EXPECT_EQ(size, value_size(rebuilt(c.value)));
  }
  EXPECT_EQ(value_size(Value::text("h\xc3\xa9llo")), 6u);
}

TEST(ValueSize, ChangesInPlaceAreMeasuredAgain) {
  Value list = Value::list({Value::text("a")});
  ASSERT_EQ(value_size(list), 5u);
  list.as_list().push_back(Value::text("bcd"));
  EXPECT_EQ(value_size(list), tagged_text(list).size());

  // A moved-from value is measured as what it holds now.
  Value moved = std::move(list);
  EXPECT_EQ(value_size(moved), 11u);
  EXPECT_EQ(value_size(list), value_size(Value::list({})));  // NOLINT: the moved-from list is empty
}

// Field assignment keeps the size and depth of every record on the path without measuring the records again;
// both must agree with the same value measured from scratch after each assignment.
TEST(ValueSize, FieldAssignmentKeepsTheMeasuresOnThePath) {
  Value deep = Value::list({Value::list({Value::list({})})});
  Value root = Value::record({{"a", Value::record({{"b", Value::text("x")}, {"c", Value::none()}})}});
  struct Step {
    std::vector<std::string> path;
    Value value;
  };
  const Step steps[] = {
      {{"a", "b"}, Value::text("longer text")},  // replaced, larger
      {{"a", "d"}, deep},                        // added, deeper
      {{"a", "d"}, Value::number(1)},            // the deepest field made shallow again
      {{"e"}, Value::record({})},                // added at the top
      {{"a", "c"}, Value::text("")},             // replaced, smaller
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path.back());
    ASSERT_TRUE(set_field_at_path(root, step.path, step.value).ok());
    const Value fresh = rebuilt(root);
    EXPECT_EQ(value_size(root), value_size(fresh));
    EXPECT_EQ(value_depth(root), value_depth(fresh));
    EXPECT_EQ(value_depth(root.as_record().at("a")), value_depth(fresh.as_record().at("a")));
  }
}

class ValueSizeEval : public ::testing::Test {
 public:
  ValueResult eval(const ir::Expr& expr) {
    EvalContext context{host, *tokenizer};
    return eval_expr(context, expr, scopes);
  }

  ScriptedHost host;
  std::unique_ptr<Tokenizer> tokenizer = tokens::TokenizerKind::chars4().tokenizer();
  Scopes scopes;
};

// Each construct grows the text `v` into something larger. With `v` one byte shorter the result sits at the bound
// (one byte below it where `v` counts twice); with `v` as given it is refused.
TEST_F(ValueSizeEval, GrowingPastTheBoundIsRefused) {
  const syntax::Span span = b::at(7, 3);
  const size_t half = kMaxValueBytes / 2;
  struct Case {
    const char* name;
    size_t v_bytes;  // refused at this length of `v`, accepted one byte shorter
    ir::Expr expr;
    bool spanned;  // the error carries the expression's span (a built-in's gets the call's on its way out)
  };
  auto call = [&](std::string f, std::vector<ir::Expr> args) {
    std::vector<ir::Arg> out;
    for (ir::Expr& a : args) out.push_back(b::arg(std::move(a)));
    return b::call(b::name(std::move(f)), std::move(out), span);
  };
  const Case cases[] = {
      // v + "x": v's bytes and one more.
      {"text_plus", kMaxValueBytes, b::binary(BinaryOp::Add, b::name("v"), b::text("x"), span), true},
      // The same with a left text of its own (extended in place).
      {"fresh_text_plus", kMaxValueBytes,
       b::binary(BinaryOp::Add, b::text({b::interp(b::name("v")), b::lit("")}), b::text("x"), span), true},
      // [v] + [v]: `["v","v"]`, 7 bytes beside the two texts.
      {"list_plus", half - 3,
       b::binary(BinaryOp::Add, b::list({b::name("v")}), b::list({b::name("v")}), span), true},
      {"interpolation", half + 1, b::text({b::interp(b::name("v")), b::interp(b::name("v")), b::lit("")}, span), true},
      {"list_literal", half - 3, b::list({b::name("v"), b::name("v")}, span), true},
      // {a: v, b: v}: `{"a":"v","b":"v"}`, 15 bytes beside the texts.
      {"record_literal", half - 7,
       b::record({ir::RecordField{"a", b::name("v")}, ir::RecordField{"b", b::name("v")}}, span), true},
      {"comprehension", half - 3,
       b::comprehension(b::name("v"), {"i"}, b::list({b::num(1), b::num(2)}), std::nullopt, span), true},
      // v between "a" and "b".
      {"join", kMaxValueBytes - 1, call("join", {b::list({b::text("a"), b::text("b")}), b::name("v")}), false},
      // [v] split on a separator v does not hold: `["v"]`.
      {"split", kMaxValueBytes - 3, call("split", {b::name("v"), b::text(",")}), false},
      {"lines", kMaxValueBytes - 3, call("lines", {b::name("v")}), false},
      {"chunk", kMaxValueBytes - 3, call("chunk", {b::name("v"), b::num(1e9)}), false},
      // [[v, v]]: `[["v","v"]]`.
      {"zip", half - 4, call("zip", {b::list({b::name("v")}), b::list({b::name("v")})}), false},
      // items({a: v}) is `[["a","v"]]`, two bytes more than `{"a":"v"}`.
      {"items", kMaxValueBytes - 9, call("items", {b::record({ir::RecordField{"a", b::name("v")}})}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scopes = Scopes();
    scopes.define("v", Value::text(std::string(c.v_bytes - 1, 'v')));
    ValueResult fits = eval(c.expr);
    ASSERT_TRUE(fits.ok()) << fits.error();
    EXPECT_GE(value_size(*fits), kMaxValueBytes - 1);

    scopes.define("v", Value::text(std::string(c.v_bytes, 'v')));
    ValueResult refused = eval(c.expr);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, RuntimeErrorCode::TypeError);
    EXPECT_EQ(refused.error().message, kSizeMessage);
    EXPECT_FALSE(refused.error().retryable);
    if (c.spanned) {
      EXPECT_EQ(refused.error().span, span);
    }
  }
}

// The text form escapes the texts of a list: `text` of a list can be six times the list's size.
TEST_F(ValueSizeEval, TheTextFormOfAListIsHeldToTheBound) {
  const ir::Expr expr = b::call(b::name("text"), {b::arg(b::name("v"))});
  scopes.define("v", Value::list({Value::text(std::string(kMaxValueBytes / 6, '\x01'))}));
  ValueResult refused = eval(expr);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, kSizeMessage);
}

TEST_F(ValueSizeEval, FieldAssignmentPastTheBoundChangesNothing) {
  const size_t room = kMaxValueBytes - value_size(Value::record({{"a", Value::text("")}, {"b", Value::text("")}}));
  scopes.define("r", Value::record({{"a", Value::text(std::string(room / 2, 'a'))}, {"b", Value::text("")}}));
  const Value before = *scopes.lookup("r");
  auto refused = scopes.assign_path("r", {"b"}, Value::text(std::string(room - room / 2 + 1, 'b')));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, kSizeMessage);
  EXPECT_EQ(*scopes.lookup("r"), before);
  ASSERT_TRUE(scopes.assign_path("r", {"b"}, Value::text(std::string(room - room / 2, 'b'))).ok());
  EXPECT_EQ(value_size(*scopes.lookup("r")), kMaxValueBytes);
}

// JSON from outside (run inputs, adapter and bridge replies) is held to the same bound while it is
// read, whatever the shape that makes it large: long texts, many short items, a handle's fields.
TEST(ValueSizeJson, ReadingPastTheBoundIsRefused) {
  const std::string big(kMaxValueBytes / 2, 'x');
  struct Case {
    const char* name;
    json::Value json;
  };
  json::Array many;
  const std::string item(62, 'i');  // `"iii...",`: 65 bytes each
  for (size_t i = 0; i < kMaxValueBytes / 65 + 1; ++i) many.emplace_back(item);
  json::Object handle;
  handle.set("$zem", "handle");
  handle.set("capability", "c");
  handle.set("id", "a1");
  handle.set("log", big);
  handle.set("more", big);
  json::Object record;
  record.set("a", big);
  record.set("b", big);
  const Case cases[] = {
      {"two_halves", json::Value(json::Array{json::Value(big), json::Value(big)})},
      {"many_items", json::Value(std::move(many))},
      {"record", json::Value(std::move(record))},
      {"handle_fields", json::Value(std::move(handle))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = from_tagged_json(c.json);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), kSizeMessage);
    // What a recording holds always reads back: a run may have recorded such a value (a reply it then refused).
    EXPECT_TRUE(from_recorded_tagged_json(c.json).ok());
  }
  auto fits = from_tagged_json(json::Value(json::Array{json::Value(big)}));
  ASSERT_TRUE(fits.ok()) << fits.error();
}

}  // namespace
}  // namespace dravelin::runtime

// Runtime values: kinds and type words, the text form, the two equalities, the type error, copies shared until
// written and deeply nested values.
#include "runtime/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "support/numbers.h"
#include "support/values.h"

namespace dravelin::runtime {
namespace {

using test_numbers::kNaN;
using test_numbers::kInf;

using test_values::num;
using test_values::txt;
using test_values::lst;
using test_values::rec;

Choice yes_no_choice() {
  Choice c;
  c.label = "yes";
  c.confidence = 0.9;
  c.probabilities = {{"yes", 0.9}, {"no", 0.1}};
  return c;
}

Level level_at(uint32_t position, std::vector<std::string> names = {}) {
  Level l;
  l.level = position;
  l.score = position;
  l.normalized = 1;
  l.confidence = 0.75;
  l.probabilities = {{"0", 0.25}, {"2", 0.75}};
  l.names = std::move(names);
  return l;
}

TEST(RuntimeValueKinds, TypeWordsInDeclaredOrder) {
  const std::vector<std::pair<Value, std::string_view>> cases = {
      {Value::none(), "none"},
      {txt("a"), "text"},
      {num(1), "number"},
      {Value::boolean(true), "bool"},
      {lst({}), "list"},
      {rec({}), "record"},
      {Value::prob(0.5), "prob"},
      {Value::choice(yes_no_choice()), "choice"},
      {Value::level(level_at(1)), "level"},
      {Value::handle(Handle{"coder", "a1", {}}), "handle"},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), "pause_result"},
  };
  ASSERT_EQ(cases.size(), kValueKindCount);
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [value, word] = cases[i];
    EXPECT_EQ(static_cast<size_t>(value.kind()), i) << word;
    EXPECT_EQ(value.type_word(), word);
    EXPECT_EQ(value_kind_from_type_word(word), value.kind());
  }
  EXPECT_EQ(value_kind_from_type_word("integer"), std::nullopt);
}

TEST(RuntimeValueText, FormOfEveryKind) {
  Handle handle{"coder", "a1", {{"pid", json::Value(7)}, {"id", json::Value("shadowed")}}};
  Choice among = yes_no_choice();
  among.label = "0";
  among.index = 0;
  among.item = rec({{"name", txt("x")}});

  const std::vector<std::pair<Value, std::string>> cases = {
      // None interpolates as nothing, never as "none".
      {Value::none(), ""},
      {txt("héllo \"there\""), "héllo \"there\""},
      {num(2.0), "2"},
      {num(2.5), "2.5"},
      {Value::prob(0.75), "0.75"},
      {Value::boolean(true), "true"},
      {Value::boolean(false), "false"},
      {lst({txt("a"), txt("b")}), R"(["a","b"])"},
      {lst({num(3), num(0.5)}), "[3,0.5]"},
      // Inside JSON the value number rule applies: exponent forms and null.
      {lst({num(1e16), num(kNaN), Value::prob(0.25), Value::none()}), "[1e16,null,0.25,null]"},
      {rec({{"b", num(1)}, {"a", num(2.5)}}), R"({"a":2.5,"b":1})"},
      {rec({{"b", rec({{"z", Value::boolean(true)}, {"y", txt("\n")}})}}), R"({"b":{"y":"\n","z":true}})"},
      {Value::choice(yes_no_choice()), "yes"},
      {Value::choice(among), "0"},
      {Value::level(level_at(2)), "2"},
      {Value::level(level_at(2, {"low", "mid", "high"})), "2"},
      {Value::handle(handle), R"({"capability":"coder","id":"a1","pid":7})"},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), R"({"answer":"yes","text":null})"},
      {Value::pause_result(PauseResult{"no", "later"}), R"({"answer":"no","text":"later"})"},
      {lst({Value::choice(yes_no_choice())}),
       R"([{"confidence":0.9,"label":"yes","probabilities":{"no":0.1,"yes":0.9}}])"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.to_text(), text) << value;
}

TEST(RuntimeValueText, NumberForms) {
  const std::vector<std::pair<double, std::string>> cases = {
      {3.0, "3"},
      {-12.0, "-12"},
      {-0.0, "-0"},
      {0.0, "0"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e-7, "0.0000001"},
      {-2.5e-3, "-0.0025"},
      {123456789012345.0, "123456789012345"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1" + std::string(15, '0')},
      {1e21, "1" + std::string(21, '0')},
      {1.5e20, "15" + std::string(19, '0')},
      {1e300, "1" + std::string(300, '0')},
      {kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const auto& [n, text] : cases) {
    EXPECT_EQ(number_text(n), text);
    EXPECT_EQ(num(n).to_text(), text);
    EXPECT_EQ(Value::prob(n).to_text(), text);
  }
}

// Each row: a, b, a == b in the language, a == b structurally.
TEST(RuntimeValueEquality, LooseAndStructural) {
  Choice with_item = yes_no_choice();
  with_item.index = 1;
  with_item.item = lst({num(1)});
  Choice other_item = with_item;
  other_item.item = lst({num(2)});
  Choice item_as_prob = with_item;
  item_as_prob.item = lst({Value::prob(1)});

  struct Case {
    Value a;
    Value b;
    bool loose;
    bool structural;
  };
  const std::vector<Case> cases = {
      {num(0.5), Value::prob(0.5), true, false},
      {num(0.0), num(-0.0), true, true},
      {num(kNaN), num(kNaN), false, false},
      {lst({num(kNaN)}), lst({num(kNaN)}), false, false},
      {lst({num(1), Value::prob(2)}), lst({Value::prob(1), num(2)}), true, false},
      {lst({num(1)}), lst({num(1), num(2)}), false, false},
      {rec({{"a", num(1)}, {"b", num(2)}}), rec({{"b", num(2)}, {"a", num(1)}}), true, true},
      {rec({{"a", num(1)}}), rec({{"a", num(1)}, {"b", num(2)}}), false, false},
      {rec({{"a", num(1)}}), rec({{"b", num(1)}}), false, false},
      {rec({{"a", lst({Value::prob(1)})}}), rec({{"a", lst({num(1)})}}), true, false},
      {num(3), txt("3"), false, false},
      {Value::choice(yes_no_choice()), txt("yes"), false, false},
      {Value::none(), Value::none(), true, true},
      {Value::none(), txt(""), false, false},
      {Value::boolean(true), num(1), false, false},
      {Value::choice(with_item), Value::choice(with_item), true, true},
      {Value::choice(with_item), Value::choice(other_item), false, false},
      // A choice's item compares structurally even under `==`.
      {Value::choice(with_item), Value::choice(item_as_prob), false, false},
      {Value::choice(with_item), Value::choice(yes_no_choice()), false, false},
      {Value::level(level_at(1)), Value::level(level_at(1)), true, true},
      {Value::level(level_at(1)), Value::level(level_at(1, {"a", "b"})), false, false},
      {Value::handle(Handle{"c", "1", {{"k", json::Value(1)}}}), Value::handle(Handle{"c", "1", {{"k", json::Value(1)}}}),
       true, true},
      {Value::handle(Handle{"c", "1", {{"k", json::Value(1)}}}),
       Value::handle(Handle{"c", "1", {{"k", json::Value(1.0)}}}), false, false},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), Value::pause_result(PauseResult{"yes", ""}), false,
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a.loosely_equals(c.b), c.loose) << c.a << " vs " << c.b;
    EXPECT_EQ(c.b.loosely_equals(c.a), c.loose) << c.b << " vs " << c.a;
    EXPECT_EQ(c.a == c.b, c.structural) << c.a << " vs " << c.b;
  }
}

TEST(RuntimeValueErrors, ExpectedTypeError) {
  const RuntimeError e = expected_type_error("a list to iterate", num(3));
  EXPECT_EQ(e.code, RuntimeErrorCode::TypeError);
  EXPECT_EQ(e.message, "expected a list to iterate, got number");
  EXPECT_FALSE(e.retryable);
  EXPECT_TRUE(e.span.is_zero());
  EXPECT_EQ(expected_type_error("a text to index a record", Value::pause_result({"a", std::nullopt})).message,
            "expected a text to index a record, got pause_result");
}

TEST(RuntimeValueCopy, CopiesAreDeepAndIndependent) {
  Choice chosen = yes_no_choice();
  chosen.item = rec({{"k", lst({txt("x")})}});
  Value original = rec({{"pick", Value::choice(chosen)},
                        {"agent", Value::handle(Handle{"coder", "a1", {{"meta", json::Value(json::Object{{"n", 1}})}}})},
                        {"items", lst({num(1), lst({num(2)})})}});
  Value copy = original;
  ASSERT_EQ(copy, original);

  copy.as_record().at("items").as_list()[1].as_list().push_back(num(3));
  copy.as_record().at("pick").as_choice().item->as_record().at("k").as_list()[0] = txt("changed");
  copy.as_record().at("agent").as_handle().fields.at("meta").as_object().set("n", 2);

  EXPECT_EQ(original.as_record().at("items").to_text(), "[1,[2]]");
  EXPECT_EQ(original.as_record().at("pick").as_choice().item->to_text(), R"({"k":["x"]})");
  EXPECT_EQ(original.as_record().at("agent").to_text(), R"({"capability":"coder","id":"a1","meta":{"n":1}})");
  EXPECT_NE(copy, original);
}

// A copy shares its payload until one side writes: reading through const access keeps the share, every write
// leaves the other side as it was, and the writer's size is measured again.
TEST(RuntimeValueCopy, SharedUntilWritten) {
  struct Case {
    const char* name;
    Value value;
    void (*write)(Value&);
    const char* written;
  };
  const Case cases[] = {
      {"text", txt("ab"), [](Value& v) { v.as_text() += "c"; }, R"(abc)"},
      {"list", lst({num(1), lst({num(2)})}), [](Value& v) { v.as_list().push_back(txt("x")); }, R"([1,[2],"x"])"},
      {"nested list", lst({num(1), lst({num(2)})}), [](Value& v) { v.as_list()[1].as_list().push_back(num(3)); },
       "[1,[2,3]]"},
      {"record", rec({{"a", num(1)}}), [](Value& v) { v.as_record()["b"] = txt("long text"); },
       R"({"a":1,"b":"long text"})"},
      {"choice", Value::choice(yes_no_choice()), [](Value& v) { v.as_choice().label = "no"; }, "no"},
      {"level", Value::level(level_at(2)), [](Value& v) { v.as_level().level = 0; }, "0"},
      {"handle", Value::handle(Handle{"coder", "a1", {}}), [](Value& v) { v.as_handle().id = "a2"; },
       R"({"capability":"coder","id":"a2"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value writer = c.value;
    const Value reader = writer;
    const std::string before = reader.to_text();
    const size_t size_before = value_size(reader);
    EXPECT_TRUE(writer.shared());
    c.write(writer);
    EXPECT_FALSE(writer.shared());
    EXPECT_EQ(reader.to_text(), before);
    EXPECT_EQ(value_size(reader), size_before);
    EXPECT_EQ(writer.to_text(), c.written);
    EXPECT_EQ(value_size(writer), value_size(Value(writer)));
  }
}

// Reading a shared value through const access keeps the share; a moved-from value keeps its kind with an empty
// payload.
TEST(RuntimeValueCopy, ConstReadsShareAndMovesEmpty) {
  Value a = lst({num(1), txt("x")});
  Value b = a;
  EXPECT_EQ(std::as_const(b).if_list()->size(), 2u);
  EXPECT_EQ(std::as_const(b).as_list()[1].to_text(), "x");
  EXPECT_TRUE(a.shared());
  EXPECT_TRUE(b.shared());

  Value taken = std::move(b);
  EXPECT_TRUE(a.shared());  // with `taken`
  EXPECT_FALSE(b.shared());
  EXPECT_TRUE(b.is_list());
  EXPECT_TRUE(std::as_const(b).as_list().empty());
  EXPECT_EQ(b.to_text(), "[]");
  EXPECT_EQ(value_size(b), 2u);
  b.as_list().push_back(num(5));
  EXPECT_EQ(b.to_text(), "[5]");
  EXPECT_EQ(taken.to_text(), R"([1,"x"])");

  Value t = txt("moved");
  Value u = std::move(t);
  EXPECT_TRUE(t.is_text());
  EXPECT_EQ(t.to_text(), "");
  EXPECT_EQ(u.to_text(), "moved");
}

// Dropping a tree frees only the nodes nothing else holds: subtrees kept elsewhere survive it intact.
TEST(RuntimeValueCopy, DroppingKeepsSharedSubtrees) {
  Value inner = lst({txt("kept"), rec({{"k", lst({num(1)})}})});
  Value outer = lst({inner, rec({{"again", inner}}), inner});
  Value choice_value;
  {
    Choice c = yes_no_choice();
    c.item = outer;
    choice_value = Value::choice(std::move(c));
  }
  outer = Value::none();
  EXPECT_EQ(inner.to_text(), R"(["kept",{"k":[1]}])");
  EXPECT_EQ(choice_value.as_choice().item->to_text(),
            R"([["kept",{"k":[1]}],{"again":["kept",{"k":[1]}]},["kept",{"k":[1]}]])");
  choice_value = Value::none();
  EXPECT_EQ(inner.to_text(), R"(["kept",{"k":[1]}])");
}

// Assigning a value from inside its own tree must not read freed memory.
TEST(RuntimeValueCopy, AssignFromOwnSubtree) {
  Value v = lst({lst({txt("inner"), num(1)}), num(2)});
  v = std::move(v.as_list()[0]);
  EXPECT_EQ(v.to_text(), R"(["inner",1])");

  Value r = rec({{"a", rec({{"b", txt("deep")}})}});
  r = r.as_record().at("a");
  EXPECT_EQ(r.to_text(), R"({"b":"deep"})");

  Choice c = yes_no_choice();
  c.item = lst({txt("item")});
  Value w = Value::choice(std::move(c));
  w = *w.as_choice().item;
  EXPECT_EQ(w.to_text(), R"(["item"])");
}

// A nesting far beyond anything JSON can carry (the reader stops at 128 levels) is still dropped without
// exhausting the stack, whichever kinds the nesting goes through.
TEST(RuntimeValueDepth, DroppingVeryDeepValuesDoesNotRecurse) {
  constexpr int kDepth = 300000;
  Value v = txt("leaf");
  for (int i = 0; i < kDepth; ++i) {
    switch (i % 3) {
      case 0: {
        List items;
        items.push_back(std::move(v));
        v = Value::list(std::move(items));
        break;
      }
      case 1: {
        Record entries;
        entries.emplace("k", std::move(v));
        v = Value::record(std::move(entries));
        break;
      }
      default: {
        Choice c;
        c.label = "x";
        c.item = std::move(v);
        v = Value::choice(std::move(c));
        break;
      }
    }
  }
  EXPECT_TRUE(v.is_list() || v.is_record() || v.is_choice());
  v = Value::none();
  EXPECT_TRUE(v.is_none());
}

TEST(RuntimeValueDepth, RealisticDepthsCopyCompareAndRender) {
  constexpr int kDepth = 1000;
  Value v = num(1);
  for (int i = 0; i < kDepth; ++i) {
    List items;
    items.push_back(std::move(v));
    v = Value::list(std::move(items));
  }
  const Value copy = v;
  EXPECT_EQ(copy, v);
  EXPECT_TRUE(copy.loosely_equals(v));
  EXPECT_EQ(v.to_text(), std::string(kDepth, '[') + "1" + std::string(kDepth, ']'));
}

TEST(RuntimeValueDebug, NamesVariantsAndFields) {
  Choice c = yes_no_choice();
  c.index = 2;
  c.item = txt("x");
  EXPECT_EQ(debug_string(lst({Value::none(), txt("a\"b"), num(1), Value::prob(kNaN), Value::boolean(false)})),
            R"(List([None, Text("a\"b"), Number(1.0), Prob(NaN), Bool(false)]))");
  EXPECT_EQ(debug_string(Value::choice(c)),
            R"(Choice(Choice { label: "yes", confidence: 0.9, probabilities: {"no": 0.1, "yes": 0.9}, )"
            R"(index: Some(2), item: Some(Text("x")) }))");
  EXPECT_EQ(debug_string(rec({{"h", Value::handle(Handle{"c", "1", {{"n", json::Value(1)}}})},
                              {"p", Value::pause_result(PauseResult{"ok", std::nullopt})}})),
            R"(Record({"h": Handle(Handle { capability: "c", id: "1", fields: {"n": 1} }), )"
            R"("p": PauseResult(PauseResult { answer: "ok", text: None })}))");
  EXPECT_EQ(debug_string(Value::level(level_at(1, {"lo"}))),
            R"(Level(Level { level: 1, score: 1.0, normalized: 1.0, confidence: 0.75, )"
            R"(probabilities: {"0": 0.25, "2": 0.75}, names: ["lo"] }))");
}

}  // namespace
}  // namespace dravelin::runtime

// The plain and tagged JSON forms of runtime values: both writers, both readers, round trips, the reader's
// messages, the spawn-reply handle form and values inside larger documents.
#include "runtime/value_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
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

std::string plain(const Value& v) { return json::to_compact(to_plain_json(v)); }
std::string tagged(const Value& v) { return json::to_compact(to_tagged_json(v)); }

json::Value parse_value_doc(std::string_view text) {
  auto parsed = json::parse(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? std::move(parsed).value() : json::Value();
}

Result<Value, std::string> read_tagged(std::string_view text) { return from_tagged_json(parse_value_doc(text)); }

Choice pick_yes() {
  Choice c;
  c.label = "yes";
  c.confidence = 0.9;
  c.probabilities = {{"yes", 0.9}, {"no", 0.1}};
  return c;
}

Choice pick_among_first() {
  Choice c;
  c.label = "0";
  c.confidence = 0.5;
  c.probabilities = {{"i0", 0.5}, {"i1", 0.25}, {"none", 0.25}};
  c.index = 0;
  c.item = rec({{"p", Value::prob(0.25)}, {"title", txt("fix")}});
  return c;
}

Level rated(std::vector<std::string> names) {
  Level l;
  l.level = 2;
  l.score = 1.5;
  l.normalized = 0.75;
  l.confidence = 0.6;
  l.probabilities = {{"2", 0.6}, {"1", 0.4}};
  l.names = std::move(names);
  return l;
}

Handle coder_handle() {
  return Handle{"coder", "a1", {{"pid", json::Value(7)}, {"opts", parse_value_doc(R"({"b":[1.5,null],"a":"x"})")}}};
}

TEST(ValueJsonNumbers, TheValueNumberRule) {
  const std::vector<std::pair<double, std::string>> cases = {
      {3.0, "3"},
      {-7.0, "-7"},
      {0.25, "0.25"},
      {9007199254740991.0, "9007199254740991"},
      {-9007199254740991.0, "-9007199254740991"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e16"},
      {1e-7, "1e-7"},
      {1.5e300, "1.5e300"},
      {0.00001234, "0.00001234"},
      {-0.0, "0"},
      {kNaN, "null"},
      {kInf, "null"},
      {-kInf, "null"},
  };
  for (const auto& [n, text] : cases) {
    EXPECT_EQ(plain(num(n)), text);
    EXPECT_EQ(plain(Value::prob(n)), text);
    EXPECT_EQ(tagged(num(n)), text);
  }
}

TEST(ValueJsonPlain, WriterByKind) {
  const std::vector<std::pair<Value, std::string>> cases = {
      {Value::none(), "null"},
      {txt("a\"\\\x01"), R"("a\"\\\u0001")"},
      {Value::boolean(false), "false"},
      {Value::prob(0.25), "0.25"},
      {lst({}), "[]"},
      {rec({}), "{}"},
      {rec({{"_x", num(1)}, {"Z", num(2)}, {"$zem", txt("prob")}, {"value", num(1)}}),
       R"({"$zem":"prob","Z":2,"_x":1,"value":1})"},
      {Value::choice(pick_yes()), R"({"confidence":0.9,"label":"yes","probabilities":{"no":0.1,"yes":0.9}})"},
      // The item's own special kinds lose their tags too.
      {Value::choice(pick_among_first()),
       R"({"confidence":0.5,"index":0,"item":{"p":0.25,"title":"fix"},"label":"0",)"
       R"("probabilities":{"i0":0.5,"i1":0.25,"none":0.25}})"},
      // A level's names never appear in the plain form.
      {Value::level(rated({"low", "mid", "high"})),
       R"({"confidence":0.6,"level":2,"normalized":0.75,"probabilities":{"1":0.4,"2":0.6},"score":1.5})"},
      {Value::handle(coder_handle()), R"({"capability":"coder","id":"a1","opts":{"a":"x","b":[1.5,null]},"pid":7})"},
      // Fields named like the handle's own members lose to them.
      {Value::handle(Handle{"c", "own", {{"id", json::Value("field")}, {"capability", json::Value(1)}}}),
       R"({"capability":"c","id":"own"})"},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), R"({"answer":"yes","text":null})"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(plain(value), text) << value;
}

TEST(ValueJsonPlain, ReaderMakesOrdinaryValues) {
  const std::vector<std::pair<std::string, Value>> cases = {
      {"null", Value::none()},
      {"true", Value::boolean(true)},
      {"-3", num(-3)},
      {"2.5e0", num(2.5)},
      {R"("s")", txt("s")},
      {"[1,[null]]", lst({num(1), lst({Value::none()})})},
      // A marker means nothing to the plain reader.
      {R"({"$zem":"prob","value":0.5})", rec({{"$zem", txt("prob")}, {"value", num(0.5)}})},
      // A repeated key keeps its last value.
      {R"({"b":1,"a":2,"b":3})", rec({{"a", num(2)}, {"b", num(3)}})},
      {"9007199254740993", num(9007199254740992.0)},
      {"18446744073709551615", num(18446744073709551615.0)},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(from_plain_json(parse_value_doc(text)), expected) << text;

  // A prob written plainly comes back as a number.
  EXPECT_EQ(from_plain_json(to_plain_json(Value::prob(0.25))), num(0.25));
}

TEST(ValueJsonTagged, WriterByKind) {
  const std::vector<std::pair<Value, std::string>> cases = {
      {Value::prob(0.25), R"({"$zem":"prob","value":0.25})"},
      {Value::prob(kNaN), R"({"$zem":"prob","value":null})"},
      {Value::choice(pick_yes()),
       R"({"$zem":"choice","confidence":0.9,"label":"yes","probabilities":{"no":0.1,"yes":0.9}})"},
      {Value::choice(pick_among_first()),
       R"({"$zem":"choice","confidence":0.5,"index":0,"item":{"p":{"$zem":"prob","value":0.25},"title":"fix"},)"
       R"("label":"0","probabilities":{"i0":0.5,"i1":0.25,"none":0.25}})"},
      {Value::level(rated({})),
       R"({"$zem":"level","confidence":0.6,"level":2,"normalized":0.75,"probabilities":{"1":0.4,"2":0.6},)"
       R"("score":1.5})"},
      {Value::level(rated({"low", "mid", "high"})),
       R"({"$zem":"level","confidence":0.6,"level":2,"names":["low","mid","high"],"normalized":0.75,)"
       R"("probabilities":{"1":0.4,"2":0.6},"score":1.5})"},
      {Value::handle(Handle{"coder", "a1", {{"$zem", json::Value("x")}, {"pid", json::Value(7)}}}),
       R"({"$zem":"handle","capability":"coder","id":"a1","pid":7})"},
      {Value::pause_result(PauseResult{"yes", std::nullopt}), R"({"$zem":"pause_result","answer":"yes","text":null})"},
      {Value::pause_result(PauseResult{"no", "why"}), R"({"$zem":"pause_result","answer":"no","text":"why"})"},
      {lst({Value::prob(1), rec({{"q", Value::prob(0)}})}),
       R"([{"$zem":"prob","value":1},{"q":{"$zem":"prob","value":0}}])"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(tagged(value), text) << value;
}

// Every value that the tagged form can carry reads back as the same value, from its compact text.
TEST(ValueJsonTagged, RoundTrips) {
  Choice with_none_item = pick_yes();
  with_none_item.index = 4294967295u;
  with_none_item.item = lst({Value::none(), Value::choice(pick_among_first())});
  const std::vector<Value> values = {
      Value::none(),
      txt(""),
      txt("multi\nline \"quoted\" ☃"),
      num(0),
      num(-42),
      num(0.1 + 0.2),
      num(9007199254740992.0),
      num(1e300),
      num(-1e-300),
      Value::boolean(true),
      lst({}),
      rec({}),
      Value::prob(0.25),
      Value::prob(-3),
      Value::prob(1e16),
      Value::choice(pick_yes()),
      Value::choice(pick_among_first()),
      Value::choice(with_none_item),
      Value::level(rated({})),
      Value::level(rated({"low", "mid", "high"})),
      Value::handle(coder_handle()),
      Value::handle(Handle{"c", "1", {}}),
      Value::pause_result(PauseResult{"yes", std::nullopt}),
      Value::pause_result(PauseResult{"no", "later"}),
      // A record whose `$zem` is not a text stays a record.
      rec({{"$zem", num(1)}, {"value", num(0.5)}}),
      rec({{"$zem", lst({txt("prob")})}}),
      rec({{"nested", lst({Value::level(rated({"a"})), rec({{"p", Value::prob(0.5)}})})}}),
  };
  for (const Value& value : values) {
    const std::string text = tagged(value);
    auto read = read_tagged(text);
    ASSERT_TRUE(read.ok()) << text << ": " << read.error();
    EXPECT_EQ(*read, value) << text;
    EXPECT_EQ(tagged(*read), text);
  }
}

TEST(ValueJsonTagged, LossyCorners) {
  // Negative zero is written 0 and comes back positive.
  auto zero = read_tagged(tagged(num(-0.0)));
  ASSERT_TRUE(zero.ok());
  EXPECT_FALSE(std::signbit(zero->as_number()));
  // Numbers that are not finite are written null and come back as none.
  auto nan = read_tagged(tagged(lst({num(kNaN), num(-kInf)})));
  ASSERT_TRUE(nan.ok());
  EXPECT_EQ(*nan, lst({Value::none(), Value::none()}));
  // A record holding a text `$zem` is written like a marked object and reads back as that kind.
  auto prob = read_tagged(tagged(rec({{"$zem", txt("prob")}, {"value", num(0.5)}})));
  ASSERT_TRUE(prob.ok());
  EXPECT_EQ(*prob, Value::prob(0.5));
  auto unknown = read_tagged(tagged(rec({{"$zem", txt("x")}})));
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.error(), "unknown `$zem` kind `x`");
}

TEST(ValueJsonTagged, ReaderLeniencies) {
  const std::vector<std::pair<std::string, Value>> cases = {
      // Keys in any order; unused keys ignored; integers accepted where numbers are needed.
      {R"({"value":1,"extra":true,"$zem":"prob"})", Value::prob(1)},
      {R"({"$zem":"prob","value":7.5e-1})", Value::prob(0.75)},
      // No range check on probs.
      {R"({"$zem":"prob","value":-2})", Value::prob(-2)},
  };
  for (const auto& [text, expected] : cases) {
    auto read = read_tagged(text);
    ASSERT_TRUE(read.ok()) << text << ": " << read.error();
    EXPECT_EQ(*read, expected) << text;
  }

  Choice bare;
  bare.label = "a";
  auto minimal = read_tagged(R"({"$zem":"choice","label":"a"})");
  ASSERT_TRUE(minimal.ok());
  EXPECT_EQ(*minimal, Value::choice(bare));

  // Indexes that are not whole JSON integers in 0..2^32-1 are dropped; a null item is no item.
  for (const char* index : {"1.0", "-1", "4294967296", "\"1\"", "null"}) {
    auto read = read_tagged(std::string(R"({"$zem":"choice","label":"a","index":)") + index + R"(,"item":null})");
    ASSERT_TRUE(read.ok()) << index;
    EXPECT_EQ(*read, Value::choice(bare)) << index;
  }
  auto confidence_text = read_tagged(R"({"$zem":"choice","label":"a","confidence":"high","probabilities":{"a":1}})");
  ASSERT_TRUE(confidence_text.ok());
  EXPECT_EQ(confidence_text->as_choice().confidence, 0);
  EXPECT_EQ(confidence_text->as_choice().probabilities, (ProbabilityMap{{"a", 1.0}}));

  // Names that are no array mean no names; normalized and confidence default to 0.
  auto level = read_tagged(R"({"$zem":"level","level":3,"score":2,"names":"low"})");
  ASSERT_TRUE(level.ok());
  Level expected_level;
  expected_level.level = 3;
  expected_level.score = 2;
  EXPECT_EQ(*level, Value::level(expected_level));
  auto top = read_tagged(R"({"$zem":"level","level":4294967295,"score":0})");
  ASSERT_TRUE(top.ok());
  EXPECT_EQ(top->as_level().level, 4294967295u);

  // A text that is not a string is dropped.
  auto answer = read_tagged(R"({"$zem":"pause_result","answer":"yes","text":5})");
  ASSERT_TRUE(answer.ok());
  EXPECT_EQ(*answer, Value::pause_result(PauseResult{"yes", std::nullopt}));

  // A handle keeps its extra keys as fields, with objects ordered by key whatever order they came in.
  auto handle = read_tagged(R"({"id":"a1","zeta":{"y":1,"x":{"b":2,"a":1}},"$zem":"handle","capability":"coder"})");
  ASSERT_TRUE(handle.ok());
  EXPECT_EQ(handle->as_handle().fields.size(), 1u);
  EXPECT_EQ(tagged(*handle), R"({"$zem":"handle","capability":"coder","id":"a1","zeta":{"x":{"a":1,"b":2},"y":1}})");
}

TEST(ValueJsonTagged, ReaderMessages) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"$zem":"number","value":1})", "unknown `$zem` kind `number`"},
      {R"({"$zem":"","value":1})", "unknown `$zem` kind ``"},
      {R"({"$zem":"prob"})", "a `prob` value needs a numeric `value`"},
      {R"({"$zem":"prob","value":"0.5"})", "a `prob` value needs a numeric `value`"},
      {R"({"$zem":"choice","confidence":1})", "a `choice` value needs a text `label`"},
      {R"({"$zem":"choice","label":3})", "a `choice` value needs a text `label`"},
      {R"({"$zem":"choice","label":"a","probabilities":[0.5]})", "a `choice` value needs a `probabilities` object"},
      {R"({"$zem":"choice","label":"a","probabilities":null})", "a `choice` value needs a `probabilities` object"},
      {R"({"$zem":"choice","label":"a","probabilities":{"a":0.5,"b":"x"}})", "probability `b` is not a number"},
      {R"({"$zem":"choice","label":"a","item":{"$zem":"prob"}})", "a `prob` value needs a numeric `value`"},
      {R"({"$zem":"level","score":1})", "a `level` value needs a whole `level`"},
      {R"({"$zem":"level","level":1.0,"score":1})", "a `level` value needs a whole `level`"},
      {R"({"$zem":"level","level":-1,"score":1})", "a `level` value needs a whole `level`"},
      {R"({"$zem":"level","level":4294967296,"score":1})", "a `level` value needs a whole `level`"},
      {R"({"$zem":"level","level":"2","score":1})", "a `level` value needs a whole `level`"},
      {R"({"$zem":"level","level":2})", "a `level` value needs a numeric `score`"},
      {R"({"$zem":"level","level":2,"score":null})", "a `level` value needs a numeric `score`"},
      {R"({"$zem":"level","level":2,"score":1,"probabilities":true})", "a `level` value needs a `probabilities` object"},
      {R"({"$zem":"level","level":2,"score":1,"probabilities":{"x":null}})", "probability `x` is not a number"},
      {R"({"$zem":"level","level":2,"score":1,"names":["a",1]})", "level `names` must be texts"},
      {R"({"$zem":"handle","id":"a1"})", "a `handle` value needs a text `capability`"},
      {R"({"$zem":"handle","capability":"c"})", "a `handle` value needs a text `id`"},
      {R"({"$zem":"handle","capability":"c","id":7})", "a `handle` value needs a text `id`"},
      {R"({"$zem":"pause_result","text":"t"})", "a `pause_result` value needs a text `answer`"},
      // The first failing element or member fails the whole reading.
      {R"([1,{"$zem":"prob","value":1},{"$zem":"odd"},{"$zem":"other"}])", "unknown `$zem` kind `odd`"},
      {R"({"a":{"$zem":"prob"},"b":{"$zem":"bad"}})", "a `prob` value needs a numeric `value`"},
      {R"({"$zem":1,"x":[{"$zem":"level"}]})", "a `level` value needs a whole `level`"},
  };
  for (const auto& [text, message] : cases) {
    auto read = read_tagged(text);
    ASSERT_FALSE(read.ok()) << text;
    EXPECT_EQ(read.error(), message) << text;
  }
}

TEST(ValueJsonHandle, SpawnReplies) {
  auto reply = handle_from_json_map(parse_value_doc(R"({"capability":"coder","id":"a1","pid":7})"));
  ASSERT_TRUE(reply.ok()) << reply.error();
  EXPECT_EQ(*reply, (Handle{"coder", "a1", {{"pid", json::Value(7)}}}));

  // A marker key is an ordinary field here.
  auto marked = handle_from_json_map(parse_value_doc(R"({"$zem":"handle","id":"b","capability":"c","m":{"z":1,"a":2}})"));
  ASSERT_TRUE(marked.ok()) << marked.error();
  EXPECT_EQ(marked->fields.size(), 2u);
  EXPECT_EQ(marked->fields.at("$zem"), json::Value("handle"));
  EXPECT_EQ(Value::handle(*marked).to_text(), R"({"$zem":"handle","capability":"c","id":"b","m":{"a":2,"z":1}})");

  const std::vector<std::pair<std::string, std::string>> failures = {
      {R"({"id":"a1"})", "missing field `capability`"},
      {R"({})", "missing field `capability`"},
      {R"({"capability":"c"})", "missing field `id`"},
      {R"({"capability":"c","id":7})", "invalid type: integer `7`, expected a string"},
      {R"({"capability":null,"id":"x"})", "invalid type: null, expected a string"},
      {R"({"id":false})", "invalid type: boolean `false`, expected a string"},
      {R"({"capability":"c","capability":"d","id":"x"})", "duplicate field `capability`"},
      {R"(["coder","a1"])", "invalid type: sequence, expected struct Handle"},
      {R"("coder")", "invalid type: string \"coder\", expected struct Handle"},
      {R"(null)", "invalid type: null, expected struct Handle"},
  };
  for (const auto& [text, message] : failures) {
    auto read = handle_from_json_map(parse_value_doc(text));
    ASSERT_FALSE(read.ok()) << text;
    EXPECT_EQ(read.error(), message) << text;
  }
}

TEST(ValueJsonDocuments, ValuesInsideLargerDocuments) {
  // Writing through a record writer.
  std::string line;
  json::Writer w(line);
  w.begin_object().key("value");
  write_tagged_value(w, Value::prob(0.5));
  w.field_u64("seq", 1).end_object();
  EXPECT_EQ(line, R"({"value":{"$zem":"prob","value":0.5},"seq":1})");

  // Reading one value at the reader's place; a conversion failure is the reader's error at the value's end.
  json::Reader r(R"({"value": {"$zem":"prob","value":0.5}, "bad": {"$zem":"nope"}})");
  ASSERT_TRUE(r.begin_object().ok());
  std::string key;
  ASSERT_TRUE(*r.next_key(key));
  ASSERT_TRUE(r.colon().ok());
  auto first = read_tagged_value(r);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(*first, Value::prob(0.5));
  ASSERT_TRUE(*r.next_key(key));
  ASSERT_TRUE(r.colon().ok());
  auto second = read_tagged_value(r);
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.error().text(), "unknown `$zem` kind `nope` at line 1 column 61");

  auto whole = parse_tagged_value(R"( [{"$zem":"pause_result","answer":"y"}] )");
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(*whole, lst({Value::pause_result(PauseResult{"y", std::nullopt})}));
  EXPECT_EQ(parse_tagged_value(R"({"$zem":"prob"} x)").error().text(),
            "a `prob` value needs a numeric `value` at line 1 column 15");
  EXPECT_EQ(parse_tagged_value("[1] x").error().text(), "trailing characters at line 1 column 5");
  EXPECT_EQ(parse_tagged_value("").error().text(), "EOF while parsing a value at line 1 column 0");

  // Named maps of values, as inputs and outputs travel.
  const Record members = {{"a", Value::prob(0.5)}, {"$zem", txt("kept")}};
  const json::Value object = tagged_members_to_json(members);
  EXPECT_EQ(json::to_compact(object), R"({"$zem":"kept","a":{"$zem":"prob","value":0.5}})");
  auto back = tagged_members_from_json(object.as_object());
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, members);
}

// The reader's nesting limit bounds every value read from text; values at that depth convert and write.
TEST(ValueJsonDocuments, NestingAtTheReaderLimit) {
  const std::string deepest = std::string(127, '[') + R"({"$zem":"prob","value":1})" + std::string(127, ']');
  auto read = parse_tagged_value(deepest);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().message, "recursion limit exceeded");

  const std::string deep = std::string(126, '[') + R"({"$zem":"prob","value":1})" + std::string(126, ']');
  auto ok = parse_tagged_value(deep);
  ASSERT_TRUE(ok.ok()) << ok.error().text();
  EXPECT_EQ(tagged(*ok), deep);
}

}  // namespace
}  // namespace dravelin::runtime

// The value model: kinds, ordered-map and document-order objects, equality, copies.
#include "json/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace dravelin::json {
namespace {

std::vector<std::string> keys_of(const Object& o) {
  std::vector<std::string> keys;
  for (const Member& m : o.entries()) keys.push_back(m.key);
  return keys;
}

TEST(Value, KindsFromConstructors) {
  EXPECT_EQ(Value().kind(), Kind::Null);
  EXPECT_EQ(Value(nullptr).kind(), Kind::Null);
  EXPECT_EQ(Value(true).kind(), Kind::Bool);
  EXPECT_EQ(Value(5).kind(), Kind::Int);
  EXPECT_EQ(Value(int64_t{-5}).kind(), Kind::Int);
  EXPECT_EQ(Value(5u).kind(), Kind::UInt);
  EXPECT_EQ(Value(uint64_t{5}).kind(), Kind::UInt);
  EXPECT_EQ(Value(uint32_t{5}).kind(), Kind::UInt);
  EXPECT_EQ(Value(1.5).kind(), Kind::Float);
  EXPECT_EQ(Value("x").kind(), Kind::String);
  EXPECT_EQ(Value(std::string("x")).kind(), Kind::String);
  EXPECT_EQ(Value(std::string_view("x")).kind(), Kind::String);
  EXPECT_EQ(Value::array().kind(), Kind::Array);
  EXPECT_EQ(Value::object().kind(), Kind::Object);
  EXPECT_EQ(Value(Array{1, "a", nullptr}).as_array().size(), 3u);
}

TEST(Value, Conversions) {
  EXPECT_EQ(Value(5).to_u64(), 5u);
  EXPECT_EQ(Value(-5).to_u64(), std::nullopt);
  EXPECT_EQ(Value(UINT64_MAX).to_i64(), std::nullopt);
  EXPECT_EQ(Value(uint64_t{7}).to_i64(), 7);
  EXPECT_EQ(Value(1.0).to_u64(), std::nullopt);  // a float is no integer
  EXPECT_EQ(Value(3).to_f64(), 3.0);
  EXPECT_EQ(Value(uint64_t{9007199254740993ull}).to_f64(), 9007199254740992.0);  // nearest double
  EXPECT_EQ(Value("3").to_f64(), std::nullopt);
  EXPECT_EQ(Value(true).to_bool(), true);
  EXPECT_EQ(Value(1).to_bool(), std::nullopt);
  EXPECT_EQ(Value(1).if_string(), nullptr);
  EXPECT_NE(Value("a").if_string(), nullptr);
}

TEST(Object, SetKeepsByteOrderPrefixFirst) {
  Object o;
  o.set("b", 1);
  o.set("ab", 2);
  o.set("a", 3);
  o.set("B", 4);
  o.set("_", 5);
  o.set("$zem", 6);
  o.set("0", 7);
  o.set("\xc3\xa9", 8);  // non-ASCII sorts after ASCII (bytes compared unsigned)
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"$zem", "0", "B", "_", "a", "ab", "b", "\xc3\xa9"}));
  EXPECT_TRUE(o.is_sorted_map());
}

TEST(Object, SetReplacesExistingKey) {
  Object o;
  o.set("a", 1);
  o.set("b", 2);
  Value& stored = o.set("a", "again");
  EXPECT_EQ(stored, Value("again"));
  EXPECT_EQ(o.size(), 2u);
  EXPECT_EQ(*o.find("a"), Value("again"));
  o["c"] = 3;
  o["a"] = 4;
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(*o.find("a"), Value(4));
  EXPECT_EQ(o["missing"], Value());
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "b", "c", "missing"}));
}

TEST(Object, InitializerListIsAnOrderedMap) {
  Object o{{"b", 1}, {"a", 2}, {"b", 3}};
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(*o.find("b"), Value(3));
}

TEST(Object, AppendKeepsDuplicatesInOrderLookupFindsLast) {
  Object o;
  o.append("x", 1);
  o.append("a", 2);
  o.append("x", 3);
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"x", "a", "x"}));
  EXPECT_EQ(o.size(), 3u);
  EXPECT_EQ(*o.find("x"), Value(3));
  EXPECT_EQ(o.count("x"), 2u);
  EXPECT_EQ(o.count("a"), 1u);
  EXPECT_EQ(o.count("zz"), 0u);
  EXPECT_FALSE(o.contains("zz"));
  EXPECT_FALSE(o.is_sorted_map());
}

TEST(Object, LookupInLargeObjectsBothOrders) {
  Object sorted;
  Object unsorted;
  for (int i = 0; i < 200; ++i) {
    std::string k = "k" + std::to_string(1000 + i);
    sorted.append(k, i);
    unsorted.append("z" + std::to_string(1000 - i), i);
  }
  unsorted.append("z900", "last");
  EXPECT_TRUE(sorted.is_sorted_map());
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(*sorted.find("k" + std::to_string(1000 + i)), Value(i));
  }
  EXPECT_EQ(sorted.find("k999"), nullptr);
  EXPECT_EQ(*unsorted.find("z900"), Value("last"));
  EXPECT_EQ(*unsorted.find("z1000"), Value(0));
}

TEST(Object, SortKeysLastRepeatWins) {
  Object o;
  o.append("b", 1);
  o.append("a", 2);
  o.append("b", 3);
  o.append("ab", 4);
  o.append("a", 5);
  o.sort_keys();
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "ab", "b"}));
  EXPECT_EQ(*o.find("a"), Value(5));
  EXPECT_EQ(*o.find("b"), Value(3));
  EXPECT_TRUE(o.is_sorted_map());
}

TEST(Object, SetOnDocumentOrderObjectMakesAnOrderedMap) {
  Object o;
  o.append("b", 1);
  o.append("a", 2);
  o.append("b", 3);
  o.set("c", 4);
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(*o.find("b"), Value(3));
}

TEST(Object, EraseRemovesEveryRepeat) {
  Object o;
  o.append("a", 1);
  o.append("b", 2);
  o.append("a", 3);
  EXPECT_EQ(o.erase("a"), 2u);
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"b"}));
  EXPECT_EQ(o.erase("a"), 0u);
}

TEST(Object, KeyChangedThroughIteratorIsNoticed) {
  Object o;
  o.set("a", 1);
  o.set("b", 2);
  for (Member& m : o) {
    if (m.key == "a") m.key = "z";
  }
  EXPECT_FALSE(o.is_sorted_map());
  o.set("c", 3);
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"b", "c", "z"}));
}

TEST(Equality, NumbersByKindAndValue) {
  EXPECT_EQ(Value(5), Value(5u));            // Int and UInt: one integer kind
  EXPECT_EQ(Value(-5), Value(int64_t{-5}));
  EXPECT_NE(Value(-1), Value(UINT64_MAX));
  EXPECT_NE(Value(1), Value(1.0));           // integer never equals float
  EXPECT_NE(Value(1u), Value(1.0));
  EXPECT_EQ(Value(0.0), Value(-0.0));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NE(Value(nan), Value(nan));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_NE(Value(), Value(false));
  EXPECT_EQ(Value(), Value(nullptr));
}

TEST(Equality, ObjectsAsMaps) {
  Object a;
  a.append("a", 1);
  a.append("b", 2);
  Object b;
  b.append("b", 2);
  b.append("a", 1);
  EXPECT_EQ(Value(a), Value(b));  // order does not matter
  Object c;
  c.append("a", 9);
  c.append("b", 2);
  c.append("a", 1);  // the repeat hides the first value
  EXPECT_EQ(Value(a), Value(c));
  Object d;
  d.append("a", 1);
  EXPECT_NE(Value(a), Value(d));
  Object e;
  e.append("a", 1);
  e.append("c", 2);
  EXPECT_NE(Value(a), Value(e));
  EXPECT_FALSE(identical(Value(a), Value(b)));
  EXPECT_FALSE(identical(Value(a), Value(c)));
}

TEST(Equality, IdenticalIsStrict) {
  EXPECT_TRUE(identical(Value(1.5), Value(1.5)));
  EXPECT_FALSE(identical(Value(0.0), Value(-0.0)));
  EXPECT_FALSE(identical(Value(5), Value(5u)));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(identical(Value(nan), Value(nan)));
  EXPECT_TRUE(identical(Value(Array{1, "x"}), Value(Array{1, "x"})));
  EXPECT_FALSE(identical(Value(Array{1, "x"}), Value(Array{1})));
}

TEST(Value, CopiesAreDeep) {
  Value v = Value::object();
  v.as_object().set("list", Array{1, 2});
  Value copy = v;
  copy.as_object().find("list")->as_array().push_back(3);
  EXPECT_EQ(v.find("list")->as_array().size(), 2u);
  EXPECT_EQ(copy.find("list")->as_array().size(), 3u);
  EXPECT_NE(v, copy);
  copy = v;
  EXPECT_EQ(v, copy);
}

TEST(Value, AssignFromOwnChild) {
  Value v(Array{Array{Value("inner")}, 2});
  v = v.as_array()[0];  // copy from inside the tree
  EXPECT_EQ(v, Value(Array{Value("inner")}));
  v = std::move(v.as_array()[0]);  // move from inside the tree
  EXPECT_EQ(v, Value("inner"));
  Value w = Value::object();
  w.as_object().set("k", Object{{"deep", true}});
  w = std::move(*w.find("k"));
  EXPECT_EQ(w, Value(Object{{"deep", true}}));
}

TEST(Value, MovedFromIsNull) {
  Value v("text");
  Value w = std::move(v);
  EXPECT_TRUE(v.is_null());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(w, Value("text"));
  std::string s = std::move(w).as_string();
  EXPECT_EQ(s, "text");
}

TEST(Value, FindOnNonObjects) {
  EXPECT_EQ(Value(1).find("a"), nullptr);
  Value v = Value::object();
  v.as_object().set("a", 1);
  EXPECT_EQ(*v.find("a"), Value(1));
  EXPECT_EQ(v.find("b"), nullptr);
}

TEST(JsonNumber, KindsOfTheRule) {
  EXPECT_TRUE(identical(json_number(3.0), Value(uint64_t{3})));
  EXPECT_TRUE(identical(json_number(-3.0), Value(int64_t{-3})));
  EXPECT_TRUE(identical(json_number(-0.0), Value(uint64_t{0})));
  EXPECT_TRUE(identical(json_number(0.5), Value(0.5)));
  EXPECT_TRUE(identical(json_number(9007199254740992.0), Value(9007199254740992.0)));
  EXPECT_TRUE(identical(json_number(9007199254740991.0), Value(uint64_t{9007199254740991ull})));
  EXPECT_TRUE(json_number(std::numeric_limits<double>::infinity()).is_null());
  EXPECT_TRUE(json_number(std::numeric_limits<double>::quiet_NaN()).is_null());
}

TEST(Value, KindNames) {
  EXPECT_EQ(kind_name(Kind::Array), "sequence");
  EXPECT_EQ(kind_name(Kind::Object), "map");
  EXPECT_EQ(kind_name(Kind::UInt), "integer");
}

}  // namespace
}  // namespace dravelin::json

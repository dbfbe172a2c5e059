// Resume payloads, usage counters and budget keys: their forms, the untagged reading of payloads, and the
// saturating conversion of counters kept as doubles.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "record/resume.h"
#include "record/usage.h"
#include "record_test_support.h"

namespace dravelin::record {
namespace {

using namespace test_support;

std::string compact(const Resume& resume) {
  std::string out;
  resume.write_json(out);
  return out;
}

TEST(ResumeRead, AlternativesTriedInOrder) {
  struct Case {
    std::string name;
    std::string json;
    Resume expected;
    std::string written;  // the payload written back
  };
  const std::vector<Case> cases = {
      {"answer wins over resume", R"({"answer":"yes","resume":true})", Resume{Resume::Answer{"yes", {}}},
       R"({"answer":"yes"})"},
      {"answer with null text", R"({"answer":"b","text":null})", Resume{Resume::Answer{"b", {}}}, R"({"answer":"b"})"},
      {"answer with text", R"({"text":"why","answer":"b"})", Resume{Resume::Answer{"b", "why"}},
       R"({"answer":"b","text":"why"})"},
      {"resume before retry", R"({"resume":true,"retry":true})", Resume{Resume::Continue{true}}, R"({"resume":true})"},
      {"false resume still reads", R"({"resume":false})", Resume{Resume::Continue{false}}, R"({"resume":false})"},
      {"extend before retry", R"({"extend":{"calls":5},"retry":true})",
       Resume{Resume::Extend{{{BudgetKey::Calls, 5.0}}}}, R"({"extend":{"calls":5.0}})"},
      {"extend in key order", R"({"extend":{"usd":2,"calls":1}})",
       Resume{Resume::Extend{{{BudgetKey::Calls, 1.0}, {BudgetKey::Usd, 2.0}}}}, R"({"extend":{"calls":1.0,"usd":2.0}})"},
      {"empty extend", R"({"extend":{}})", Resume{Resume::Extend{}}, R"({"extend":{}})"},
      {"negative extension", R"({"extend":{"calls":-1.5}})", Resume{Resume::Extend{{{BudgetKey::Calls, -1.5}}}},
       R"({"extend":{"calls":-1.5}})"},
      {"repeated key keeps the last", R"({"extend":{"steps":1,"steps":2}})",
       Resume{Resume::Extend{{{BudgetKey::Steps, 2.0}}}}, R"({"extend":{"steps":2.0}})"},
      {"false retry still reads", R"({"retry":false})", Resume{Resume::Retry{false}}, R"({"retry":false})"},
      {"answer of the wrong type", R"({"answer":1})", Resume{}, "{}"},
      {"extend with an unknown key", R"({"extend":{"hours":1}})", Resume{}, "{}"},
      {"extend with a capitalised key", R"({"extend":{"Calls":1}})", Resume{}, "{}"},
      {"extend with a text number", R"({"extend":{"calls":"60"}})", Resume{}, "{}"},
      {"extend with null", R"({"extend":{"calls":null}})", Resume{}, "{}"},
      {"answer twice falls through", R"({"answer":"a","answer":"b"})", Resume{}, "{}"},
      {"answer twice with retry", R"({"answer":"a","answer":"b","retry":true})", Resume{Resume::Retry{true}},
       R"({"retry":true})"},
      {"empty object", "{}", Resume{}, "{}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = Resume::read_json(parse(c.json));
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, c.expected);
    EXPECT_EQ(compact(*read), c.written);
    EXPECT_EQ(json::to_compact(read->to_json_value()), c.written);
  }
  for (const char* refused : {"null", "true", "3", R"("retry")", "[]"}) {
    auto read = Resume::read_json(parse(refused));
    ASSERT_FALSE(read.ok()) << refused;
    EXPECT_EQ(read.error(), "data did not match any variant of untagged enum Resume");
  }
}

TEST(ResumeWrite, NotFiniteExtensionsAreNullAndDoNotReadBack) {
  const Resume resume{Resume::Extend{{{BudgetKey::Minutes, std::numeric_limits<double>::infinity()}}}};
  EXPECT_EQ(compact(resume), R"({"extend":{"minutes":null}})");
  auto read = Resume::read_json(parse(compact(resume)));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->kind(), Resume::Kind::Nothing);
  EXPECT_NE((Resume{Resume::Extend{{{BudgetKey::Calls, std::nan("")}}}}),
            (Resume{Resume::Extend{{{BudgetKey::Calls, std::nan("")}}}}));
}

TEST(UsageForm, WrittenInDeclaredOrderReadFromObjectsAndArrays) {
  std::string text;
  sample_usage().write_json(text);
  EXPECT_EQ(text, R"({"calls":3,"tokens":1200,"usd":0.0,"minutes":0.5,"steps":2,"adapter_usd":0.0,"adapter_tokens":0})");
  EXPECT_EQ(json::to_compact(sample_usage().to_json_value()),
            R"({"adapter_tokens":0,"adapter_usd":0.0,"calls":3,"minutes":0.5,"steps":2,"tokens":1200,"usd":0.0})");

  struct Case {
    std::string name;
    std::string json;
    std::optional<Usage> expected;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"adapter counters default to 0", R"({"steps":2,"minutes":0.5,"usd":0,"tokens":1200,"calls":3})",
       sample_usage(), ""},
      {"usd from an integer", R"({"calls":1,"tokens":2,"usd":2,"minutes":0,"steps":0,"adapter_usd":1})",
       Usage{1, 2, 2.0, 0, 0, 1.0, 0}, ""},
      {"five counters by position", "[3,1200,0,0.5,2]", sample_usage(), ""},
      {"seven counters by position", "[1,2,3,4,5,6,7]", Usage{1, 2, 3, 4, 5, 6, 7}, ""},
      {"first missing in declared order", R"({"calls":1,"tokens":2,"minutes":0})", std::nullopt,
       "missing field `usd`"},
      {"steps missing", R"({"calls":1,"tokens":2,"usd":0,"minutes":0})", std::nullopt, "missing field `steps`"},
      {"calls as float", R"({"calls":1.0})", std::nullopt, "invalid type: floating point `1.0`, expected u64"},
      {"negative tokens", R"({"tokens":-4})", std::nullopt, "invalid value: integer `-4`, expected u64"},
      {"null minutes", R"({"minutes":null})", std::nullopt, "invalid type: null, expected f64"},
      {"counter twice", R"({"calls":1,"calls":1})", std::nullopt, "duplicate field `calls`"},
      {"four by position", "[1,2,3,4]", std::nullopt, "invalid length 4, expected struct Usage with 7 elements"},
      {"eight by position", "[1,2,3,4,5,6,7,8]", std::nullopt, "invalid length 8, expected 7 elements in sequence"},
      {"text", R"("usage")", std::nullopt, "invalid type: string \"usage\", expected struct Usage"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = Usage::read_json(parse(c.json));
    if (c.expected) {
      ASSERT_TRUE(read.ok()) << read.error();
      EXPECT_EQ(*read, *c.expected);
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error(), c.message);
    }
  }
  Usage not_finite = sample_usage();
  not_finite.minutes = std::nan("");
  text.clear();
  not_finite.write_json(text);
  EXPECT_NE(text.find(R"("minutes":null)"), std::string::npos);
  EXPECT_FALSE(Usage::read_json(parse(text)).ok());
}

TEST(BudgetKeyRead, NamesAndUnitObjects) {
  struct Case {
    std::string json;
    std::optional<BudgetKey> key;
    std::string message;
  };
  const std::vector<Case> cases = {
      {R"("usd")", BudgetKey::Usd, ""},
      {R"({"steps":null})", BudgetKey::Steps, ""},
      {R"({"steps":{}})", BudgetKey::Steps, ""},
      {R"("USD")", std::nullopt, "unknown variant `USD`, expected one of `calls`, `minutes`, `usd`, `steps`"},
      {"2", std::nullopt, "invalid type: integer `2`, expected string or map"},
      {R"({"steps":1})", std::nullopt, "invalid type: integer `1`, expected unit"},
      {"{}", std::nullopt, "invalid value: map, expected map with a single key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    auto read = read_budget_key(parse(c.json));
    if (c.key) {
      ASSERT_TRUE(read.ok()) << read.error();
      EXPECT_EQ(*read, *c.key);
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error(), c.message);
    }
  }
  EXPECT_EQ(budget_key_name(BudgetKey::Minutes), "minutes");
}

TEST(SaturatingCounters, NeverLeaveTheUnsignedRange) {
  struct Case {
    std::string name;
    double value;
    uint64_t expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {"nan", std::nan(""), 0},
      {"negative", -3.5, 0},
      {"negative infinity", -inf, 0},
      {"fraction below one", 0.99, 0},
      {"truncated", 41.9, 41},
      {"largest exact below 2^64", 18446744073709549568.0, 18446744073709549568ull},
      {"2^64", 18446744073709551616.0, std::numeric_limits<uint64_t>::max()},
      {"far beyond", 1e300, std::numeric_limits<uint64_t>::max()},
      {"infinity", inf, std::numeric_limits<uint64_t>::max()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(saturating_u64(c.value), c.expected);
  }
}

// A float counter's total stays finite, so that a usage written to a recording reads back.
TEST(SaturatingCounters, FloatTotalsStayFinite) {
  struct Case {
    std::string name;
    double total;
    double amount;
    double expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double max = std::numeric_limits<double>::max();
  const std::vector<Case> cases = {
      {"ordinary sum", 0.5, 0.25, 0.75},
      {"past the largest", 1e308, 1e308, max},
      {"past the lowest", -1e308, -1e308, -max},
      {"infinite amount", 2.0, inf, max},
      {"negative infinite amount", 2.0, -inf, -max},
      {"back down from the largest", max, -1e308, max - 1e308},
      {"not a number", 2.0, std::nan(""), 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double sum = saturating_add(c.total, c.amount);
    EXPECT_EQ(sum, c.expected);
    Usage usage;
    usage.adapter_usd = sum;
    std::string text;
    usage.write_json(text);
    auto parsed = json::parse(text);
    ASSERT_TRUE(parsed.ok());
    auto read = Usage::read_json(*parsed);
    ASSERT_TRUE(read.ok()) << text << ": " << read.error();
    EXPECT_EQ(*read, usage);
  }
}

}  // namespace
}  // namespace dravelin::record

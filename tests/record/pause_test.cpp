// Pause records: the compact and value forms, the reader's acceptances and refusals, equality and the replay
// comparison.
#include "record/pause.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "json/writer.h"
#include "record_test_support.h"

namespace dravelin::record {
namespace {

using runtime::Value;
using namespace test_support;

std::string compact(const Pause& pause) {
  std::string out;
  pause.write_json(out);
  return out;
}

constexpr std::string_view kCommon =
    R"("run_id":"r","step":1,"task":"t","source":{"start":[0,0,0],"end":[0,0,0]},"recording_offset":0)";

std::string with_common(std::string_view kind_and_fields) {
  return "{" + std::string(kind_and_fields) + "," + std::string(kCommon) + "}";
}

Pause with_detail(Pause::Detail detail, std::optional<std::string> state = std::nullopt) {
  Pause pause;
  pause.common = PauseCommon{"run_7_1", 4, "machine:door", std::move(state), span(2, 0, 10, 2, 6, 16), 0};
  pause.detail = std::move(detail);
  return pause;
}

TEST(PauseWrite, EveryKindInItsCompactForm) {
  struct Case {
    std::string name;
    Pause pause;
    std::string fields;  // after the common fields
  };
  const std::string common =
      R"("run_id":"run_7_1","step":4,"task":"machine:door","state":"closed","source":{"start":{"line":2,)"
      R"("column":0,"offset":10},"end":{"line":2,"column":6,"offset":16}},"recording_offset":0)";
  const std::vector<Case> cases = {
      {"confirm",
       with_detail(Pause::Confirm{"Gate asked for confirmation", {"yes", "no"},
                                  record_of({{"risk", Value::prob(0.75)}, {"confidence", Value::number(1)}})},
                   "closed"),
       R"("message":"Gate asked for confirmation","options":["yes","no"],)"
       R"("context":{"confidence":1,"risk":{"$zem":"prob","value":0.75}})"},
      {"escalate", with_detail(Pause::Escalate{"Gate escalated", {}}, "closed"),
       R"("reason":"Gate escalated","context":{})"},
      {"waiting", with_detail(Pause::Waiting{"coder", "idle", 0}, "closed"),
       R"("on":"coder","condition":"idle","timeout_minutes":0.0)"},
      {"budget", with_detail(Pause::Budget{BudgetKey::Usd, 1.5, 1e-7}, "closed"),
       R"("key":"usd","used":1.5,"limit":1e-7)"},
      {"error", with_detail(Pause::Error{RuntimeErrorCode::ZemUnavailable, "down", true}, "closed"),
       R"("code":"zem_unavailable","message":"down","retryable":true)"},
      {"stopped", with_detail(Pause::Stopped{"aborted by host"}, "closed"), R"("reason":"aborted by host")"},
      {"done", with_detail(Pause::Done{record_of({{"out", Value::none()}}), false, sample_usage()}, "closed"),
       R"("outputs":{"out":null},"verified":false,"usage":{"calls":3,"tokens":1200,"usd":0.0,"minutes":0.5,)"
       R"("steps":2,"adapter_usd":0.0,"adapter_tokens":0})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = compact(c.pause);
    EXPECT_EQ(text, R"({"kind":")" + c.name + "\"," + common + "," + c.fields + "}");
    auto read = Pause::read_json(parse(text));
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, c.pause);
    EXPECT_EQ(read->kind(), c.pause.kind());
    // The value form holds the same members, ordered by key.
    const json::Value value = c.pause.to_json_value();
    EXPECT_TRUE(value.as_object().is_sorted_map());
    auto from_value = Pause::read_json(value);
    ASSERT_TRUE(from_value.ok()) << from_value.error();
    EXPECT_EQ(*from_value, c.pause);
  }
}

TEST(PauseWrite, WithoutStateHasNoStateKeyAndNotFiniteFloatsAreNull) {
  EXPECT_EQ(compact(budget_pause()),
            R"({"kind":"budget","run_id":"run_7_1","step":2,"task":"main","source":{"start":{"line":3,"column":4,)"
            R"("offset":30},"end":{"line":3,"column":9,"offset":35}},"recording_offset":200,"key":"calls",)"
            R"("used":50.0,"limit":50.0})");
  const Pause waiting = with_detail(Pause::Waiting{"a", "idle", std::numeric_limits<double>::infinity()});
  const std::string text = compact(waiting);
  EXPECT_NE(text.find(R"("timeout_minutes":null)"), std::string::npos) << text;
  // What the writer puts in place of a float that is not finite does not read back as a float.
  auto read = Pause::read_json(parse(text));
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error(), "invalid type: null, expected f64");
}

TEST(PauseRead, Acceptances) {
  struct Case {
    std::string name;
    std::string json;
    Pause expected;
  };
  Pause budget = budget_pause();
  budget.common = PauseCommon{"r", 1, "t", std::nullopt, {}, 0};
  Pause waiting = with_detail(Pause::Waiting{"a", "idle", 2});
  waiting.common = budget.common;
  const std::vector<Case> cases = {
      {"kind last", with_common(R"("key":"calls","used":50,"limit":50.0,"kind":"budget")"), budget},
      {"kind as index", with_common(R"("kind":3,"key":"calls","used":50.0,"limit":50)"), budget},
      {"null state is absent", with_common(R"("kind":"budget","key":"calls","used":50,"limit":50,"state":null)"),
       budget},
      {"unknown keys ignored", with_common(R"("note":1,"kind":"budget","key":{"calls":null},"used":50,"limit":50)"),
       budget},
      {"integer float fields", with_common(R"("kind":"waiting","on":"a","condition":"idle","timeout_minutes":2)"),
       waiting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = Pause::read_json(parse(c.json));
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, c.expected);
  }
}

TEST(PauseRead, Refusals) {
  struct Case {
    std::string name;
    std::string json;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"not an object", "7", "invalid type: integer `7`, expected internally tagged enum Pause"},
      {"no kind", R"({"run_id":"r"})", "missing field `kind`"},
      {"kind twice", R"({"kind":"done","kind":"done"})", "duplicate field `kind`"},
      {"unknown kind", R"({"kind":"Done"})",
       "unknown variant `Done`, expected one of `confirm`, `escalate`, `waiting`, `budget`, `error`, `stopped`, "
       "`done`"},
      {"kind index out of range", R"({"kind":7})", "invalid value: integer `7`, expected variant index 0 <= i < 7"},
      {"kind negative", R"({"kind":-1})", "invalid type: integer `-1`, expected variant identifier"},
      {"empty array", "[]", "missing field `kind`"},
      {"array content", R"(["budget","calls",50,50])", "invalid type: sequence, expected struct variant Pause::Budget"},
      {"kind fields before common fields", R"({"kind":"done","verified":true})", "missing field `outputs`"},
      {"common field missing", R"({"kind":"stopped","reason":"x","run_id":"r","step":1,"task":"t"})",
       "missing field `source`"},
      {"common field twice", with_common(R"("kind":"stopped","reason":"x","step":3)"), "duplicate field `step`"},
      {"step as float", R"({"kind":"stopped","reason":"x","step":3.0})",
       "invalid type: floating point `3.0`, expected u64"},
      {"negative offset", R"({"kind":"stopped","reason":"x","recording_offset":-2})",
       "invalid value: integer `-2`, expected u64"},
      {"retryable as text", R"({"kind":"error","code":"type_error","message":"m","retryable":"no"})",
       "invalid type: string \"no\", expected a boolean"},
      {"budget key by index", R"({"kind":"budget","key":0,"used":1,"limit":1})",
       "invalid type: integer `0`, expected string or map"},
      {"context value with a bad marker", R"({"kind":"escalate","reason":"r","context":{"x":{"$zem":"nope"}}})",
       "unknown `$zem` kind `nope`"},
      {"options not texts", R"({"kind":"confirm","message":"m","options":[1],"context":{}})",
       "invalid type: integer `1`, expected a string"},
      {"span with a missing end", R"({"kind":"stopped","reason":"x","run_id":"r","step":1,"task":"t",)"
                                  R"("source":{"start":[0,0,0]},"recording_offset":0})",
       "missing field `end`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = Pause::read_json(parse(c.json));
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), c.message);
  }
}

TEST(PauseKindRead, NamesAndUnitObjectsOnly) {
  struct Case {
    std::string name;
    std::string json;
    std::optional<PauseKind> kind;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"name", R"("done")", PauseKind::Done, ""},
      {"unit object with null", R"({"budget":null})", PauseKind::Budget, ""},
      {"unit object with empty object", R"({"budget":{}})", PauseKind::Budget, ""},
      {"index", "3", std::nullopt, "invalid type: integer `3`, expected string or map"},
      {"two keys", R"({"done":null,"budget":null})", std::nullopt, "invalid value: map, expected map with a single key"},
      {"unit with data", R"({"done":1})", std::nullopt, "invalid type: integer `1`, expected unit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = read_pause_kind(parse(c.json));
    if (c.kind) {
      ASSERT_TRUE(read.ok()) << read.error();
      EXPECT_EQ(*read, *c.kind);
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error(), c.message);
    }
  }
}

TEST(PauseEquality, OffsetsCountExceptForReplay) {
  Pause a = budget_pause();
  Pause b = budget_pause();
  b.common.recording_offset = 999;
  EXPECT_NE(a, b);
  EXPECT_TRUE(same_pause_for_replay(a, b));
  b.common.step = 3;
  EXPECT_FALSE(same_pause_for_replay(a, b));
  b = budget_pause();
  b.common.source.end.offset += 1;
  EXPECT_FALSE(same_pause_for_replay(a, b));
  b = budget_pause();
  b.detail = Pause::Budget{BudgetKey::Calls, 50.0, 51.0};
  EXPECT_FALSE(same_pause_for_replay(a, b));

  const Pause nan_wait = with_detail(Pause::Waiting{"a", "idle", std::nan("")});
  EXPECT_NE(nan_wait, nan_wait);
  EXPECT_EQ(with_detail(Pause::Waiting{"a", "idle", 0.0}), with_detail(Pause::Waiting{"a", "idle", -0.0}));
  // Values inside compare structurally: a number is not a prob of the same value.
  EXPECT_NE(with_detail(Pause::Escalate{"r", record_of({{"x", Value::number(1)}})}),
            with_detail(Pause::Escalate{"r", record_of({{"x", Value::prob(1)}})}));
}

TEST(PauseLifecycle, WhichKindsEndTheRun) {
  EXPECT_FALSE(with_detail(Pause::Confirm{}).ends_run());
  EXPECT_FALSE(with_detail(Pause::Waiting{}).ends_run());
  EXPECT_FALSE(with_detail(Pause::Error{RuntimeErrorCode::ZemUnavailable, "m", true}).ends_run());
  EXPECT_TRUE(with_detail(Pause::Error{RuntimeErrorCode::TypeError, "m", false}).ends_run());
  EXPECT_TRUE(with_detail(Pause::Stopped{}).ends_run());
  EXPECT_TRUE(with_detail(Pause::Done{}).ends_run());
}

}  // namespace
}  // namespace dravelin::record

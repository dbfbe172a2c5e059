// The recording line reader: how a line is accepted or refused, with the exact texts and positions of its
// refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ir/program.h"
#include "ir/write_json.h"
#include "json/writer.h"
#include "record/recorded_event.h"
#include "record_test_support.h"
#include "zem/profile.h"

namespace dravelin::record {
namespace {

using namespace test_support;

constexpr std::string_view kLineStamps = R"({"ts":"t","run_id":"r","seq":1,)";

std::string line(std::string_view entries) { return std::string(kLineStamps) + std::string(entries) + "}"; }

std::string at_column(std::string message, size_t column) {
  return message + " at line 1 column " + std::to_string(column);
}

// A fault found once the object is complete is placed at its closing brace.
std::string at_brace(std::string message, std::string_view text) {
  return at_column(std::move(message), text.rfind('}') + 1);
}

TEST(LineReader, RefusalsOfTheEnvelopeAtTheirPositions) {
  struct Case {
    std::string name;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"empty", "", at_column("EOF while parsing a value", 0)},
      {"only whitespace", " \t ", at_column("EOF while parsing a value", 3)},
      {"a number", "7", at_column("invalid type: integer `7`, expected struct RecordedEvent", 1)},
      {"an array", "[1]", at_column("invalid type: sequence, expected struct RecordedEvent", 0)},
      {"ts a number", R"({"ts":5})", at_column("invalid type: integer `5`, expected a string", 7)},
      {"run_id null", R"({"run_id":null})", at_column("invalid type: null, expected a string", 14)},
      {"seq negative", R"({"seq":-1})", at_column("invalid value: integer `-1`, expected u64", 9)},
      {"seq a text", R"({"seq":"7"})", at_column("invalid type: string \"7\", expected u64", 10)},
      {"seq a float", R"({"seq":1.5})", at_column("invalid type: floating point `1.5`, expected u64", 10)},
      {"ts twice", R"({"ts":"t","ts":"u"})", at_column("duplicate field `ts`", 14)},
      {"seq missing", R"({"ts":"t","run_id":"r","event":"abort","reason":"x"})",
       at_column("missing field `seq`", 52)},
      {"ts missing first", R"({"seq":1})", at_column("missing field `ts`", 9)},
      {"trailing characters", line(R"("event":"abort","reason":"x")") + " x",
       at_column("trailing characters", line(R"("event":"abort","reason":"x")").size() + 2)},
      {"cut in the middle", R"({"ts":"t","run_id":"r","seq":1,"event":"ab)", at_column("EOF while parsing a string", 42)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = RecordedEvent::read_line(c.text);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), c.message);
  }
}

TEST(LineReader, RefusalsOfTheEventAtTheClosingBrace) {
  struct Case {
    std::string name;
    std::string entries;
    std::string message;
  };
  const std::string all_tags =
      "one of `start`, `request`, `answers`, `generate`, `call`, `observe`, `effect_error`, `draw`, `warning`, "
      "`log`, `pause`, `resume`, `abort`, `step`, `machine_step`, `end`";
  const std::vector<Case> cases = {
      {"no event", R"("reason":"x")", "missing field `event`"},
      {"event twice", R"("event":"abort","event":"abort","reason":"x")", "duplicate field `event`"},
      {"tag out of range", R"("event":16)", "invalid value: integer `16`, expected variant index 0 <= i < 16"},
      {"tag with a capital", R"("event":"Abort")", "unknown variant `Abort`, expected " + all_tags},
      {"negative tag", R"("event":-1)", "invalid type: integer `-1`, expected variant identifier"},
      {"fractional tag", R"("event":1.5)", "invalid type: floating point `1.5`, expected variant identifier"},
      {"defined key twice", R"("event":"abort","reason":"x","reason":"y")", "duplicate field `reason`"},
      {"sampled null", R"("event":"answers","request_id":"r","answers":[],"usage":{"tokens":1},"latency_ms":1,)"
                       R"("sampled":null)",
       "invalid type: null, expected a boolean"},
      {"fields null", R"("event":"log","level":"info","message":"m","fields":null,"task":"t",)"
                      R"("source":{"start":[0,0,0],"end":[0,0,0]})",
       "invalid type: null, expected a map"},
      {"machine step without to", R"("event":"machine_step","machine":"m","state":"a","enabled":[],"chosen":"a",)"
                                  R"("probabilities":{},"confidence":1)",
       "missing field `to`"},
      {"confidence null", R"("event":"machine_step","confidence":null)", "invalid type: null, expected f64"},
      {"probability null", R"("event":"machine_step","probabilities":{"a":null})", "invalid type: null, expected f64"},
      {"draw kind by index", R"("event":"draw","kind":1,"value":0.5)",
       "invalid type: integer `1`, expected string or map"},
      {"draw kind with data", R"("event":"draw","kind":{"now":1},"value":0.5)",
       "invalid type: integer `1`, expected unit"},
      {"draw kind unknown", R"("event":"draw","kind":"later","value":0.5)",
       "unknown variant `later`, expected `random` or `now`"},
      {"latency negative", R"("event":"call","latency_ms":-1)", "invalid value: integer `-1`, expected u64"},
      {"call without verb and args", R"("event":"call","capability":"c","result":1,"latency_ms":1)",
       "missing field `verb`"},
      {"observation without tail", R"("event":"observe","capability":"c","handle":null,)"
                                   R"("observation":{"status":"running","last_message":""})",
       "missing field `tail`"},
      {"pause without kind and payload", R"("event":"pause")", "missing field `kind`"},
      {"pause without payload", R"("event":"pause","kind":"done")", "missing field `payload`"},
      {"pause kind by index", R"("event":"pause","kind":3)", "invalid type: integer `3`, expected string or map"},
      {"resume payload null", R"("event":"resume","payload":null)",
       "data did not match any variant of untagged enum Resume"},
      {"end usage without steps", R"("event":"end","kind":"done","outputs":{},"verified":true,)"
                                  R"("usage":{"calls":1,"tokens":1,"usd":0,"minutes":0})",
       "missing field `steps`"},
      {"end verified null", R"("event":"end","verified":null)", "invalid type: null, expected a boolean"},
      {"end without outputs and usage", R"("event":"end","kind":"done","verified":true)", "missing field `outputs`"},
      {"end output with a bad marker", R"("event":"end","outputs":{"x":{"$zem":"nope"}})",
       "unknown `$zem` kind `nope`"},
      {"effect error without code and message", R"("event":"effect_error","operation":"call",)"
                                                R"("identity":{"request_id":"r"},"retryable":false,)"
                                                R"("source":{"start":[0,0,0],"end":[0,0,0]})",
       "missing field `code`"},
      {"span position beyond u32", R"("event":"warning","code":"c","message":"m",)"
                                   R"("source":{"start":[4294967296,0,0],"end":[0,0,0]})",
       "invalid value: integer `4294967296`, expected u32"},
      {"request state not an object", R"("event":"request","request_id":"r","state":[],"questions":[])",
       "invalid type: sequence, expected a map"},
      {"question of an unknown type", R"("event":"request","request_id":"r","state":{},"questions":[{"type":"x"}])",
       "unknown variant `x`, expected one of `noul`, `choice`, `score`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = line(c.entries);
    auto read = RecordedEvent::read_line(text);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), at_brace(c.message, text));
  }
}

TEST(LineReader, Acceptances) {
  struct Case {
    std::string name;
    std::string text;
    Event expected;
  };
  const Event abort{Event::Abort{"x"}};
  const Event now{Event::Draw{DrawKind::Now, json::Value("z")}};
  Event::Pause mismatched{PauseKind::Done, budget_pause()};
  mismatched.payload.common = PauseCommon{"r", 1, "t", std::nullopt, {}, 0};
  const std::vector<Case> cases = {
      {"keys in reverse order", R"({"reason":"x","event":"abort","seq":1,"run_id":"r","ts":"t"})", abort},
      {"tag by index", line(R"("event":12,"reason":"x")"), abort},
      {"unknown keys, also repeated", line(R"("note":1,"event":"abort","note":[{}],"reason":"x","ir_version":2)"),
       abort},
      {"whitespace around", "  " + line(R"( "event" : "abort" , "reason" : "x" )") + " \t", abort},
      {"kind as a unit object with null", line(R"("event":"draw","kind":{"now":null},"value":"z")"), now},
      {"kind as a unit object with {}", line(R"("event":"draw","kind":{"now":{}},"value":"z")"), now},
      {"answers without sampled",
       line(R"("event":"answers","request_id":"r","answers":[],"usage":{"tokens":1},"latency_ms":1)"),
       Event{Event::Answers{"r", {}, {1, std::nullopt}, 1, false}}},
      {"log without fields", line(R"("event":"log","level":"info","message":"m","task":"t",)"
                                  R"("source":{"start":[0,0,0],"end":[0,0,0]})"),
       Event{Event::Log{LogLevel::Info, Recorded<std::string>::full("m"), {}, "t", {}}}},
      {"generate without using", line(R"("event":"generate","capability":"c","instruction":"i","output":"o",)"
                                      R"("usage":{"tokens":1})"),
       Event{Event::Generate{"c", "i", {}, "o", {1, std::nullopt}}}},
      {"call arguments null", line(R"("event":"call","capability":"c","verb":"v","args":null,"result":1,)"
                                   R"("latency_ms":1)"),
       Event{Event::Call{"c", "v", runtime::Value::none(), Recorded<runtime::Value>::full(runtime::Value::number(1)),
                         1}}},
      {"pause kinds differing", line(R"("event":"pause","kind":{"done":null},"payload":{"kind":"budget",)"
                                     R"("run_id":"r","step":1,"task":"t","source":{"start":[0,0,0],"end":[0,0,0]},)"
                                     R"("recording_offset":0,"key":"calls","used":50,"limit":50})"),
       Event{mismatched}},
      {"resume with an empty payload", line(R"("event":"resume","payload":{})"), Event{Event::Resume{}}},
      {"resume extending an unknown key", line(R"("event":"resume","payload":{"extend":{"hours":1}})"),
       Event{Event::Resume{}}},
      {"end usage without adapter counters",
       line(R"("event":"end","kind":"stopped","outputs":{},"verified":false,)"
            R"("usage":{"calls":1,"tokens":2,"usd":0,"minutes":0,"steps":3})"),
       Event{Event::End{PauseKind::Stopped, {}, false, Usage{1, 2, 0, 0, 3, 0, 0}}}},
      {"output given twice keeps the last", line(R"("event":"end","kind":"done","outputs":{"a":1,"a":2},)"
                                                 R"("verified":true,"usage":[0,0,0,0,0])"),
       Event{Event::End{PauseKind::Done, record_of({{"a", runtime::Value::number(2)}}), true, Usage{}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = RecordedEvent::read_line(c.text);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->event, c.expected);
    EXPECT_FALSE(read->metadata.has_value());
  }
}

TEST(LineReader, MetadataIsReadWhereverItStandsAndItsFaultsAreNotReported) {
  const zem::Profile profile = zem::bundled_profiles().at("zem-1.13.0");
  const std::string ir = json::to_compact(ir::ir_program_to_json_value(ir::Ir::empty_named("p")));
  const std::string profile_json = json::to_compact(profile.to_json_value());
  const ExecutionMetadata metadata{ir::Ir::empty_named("p"), profile, Sample{Sample::Seeded{7}}};
  struct Case {
    std::string name;
    std::string entries;
    bool has_metadata;
  };
  const std::vector<Case> cases = {
      {"after the event", R"("event":"abort","reason":"x","sample":{"seed":7},"profile":)" + profile_json + R"(,"ir":)" + ir,
       true},
      {"on an event other than start", R"("ir":)" + ir + R"(,"profile":)" + profile_json +
                                           R"(,"sample":{"seed":7},"event":"abort","reason":"x")",
       true},
      {"sample missing", R"("event":"abort","reason":"x","ir":)" + ir + R"(,"profile":)" + profile_json, false},
      {"sample unreadable", R"("event":"abort","reason":"x","sample":{"seed":-1},"profile":)" + profile_json +
                                R"(,"ir":)" + ir,
       false},
      {"ir twice", R"("event":"abort","reason":"x","sample":true,"profile":)" + profile_json + R"(,"ir":)" + ir +
                       R"(,"ir":)" + ir,
       false},
      {"ir unreadable", R"("event":"abort","reason":"x","sample":true,"profile":)" + profile_json + R"(,"ir":{})",
       false},
      {"profile unreadable", R"("event":"abort","reason":"x","sample":true,"profile":{},"ir":)" + ir, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = RecordedEvent::read_line(line(c.entries));
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->event, Event{Event::Abort{"x"}});
    EXPECT_EQ(read->metadata.has_value(), c.has_metadata);
    if (c.has_metadata) {
      EXPECT_EQ(*read->metadata, metadata);
    }
  }
  // Valid metadata does not stand in for the event.
  auto missing = RecordedEvent::read_line(line(R"("ir":)" + ir + R"(,"profile":)" + profile_json + R"(,"sample":false)"));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().substr(0, missing.error().find(" at")), "missing field `event`");
}

TEST(LineReader, NestingLimit) {
  auto nested = [](int levels) {
    // The line's object is level 1; the unknown key's value adds `levels` arrays below it.
    return line(R"("event":"abort","reason":"x","deep":)" + std::string(levels, '[') + std::string(levels, ']'));
  };
  auto deepest = RecordedEvent::read_line(nested(kRecordingLineDepthLimit - 2));
  EXPECT_TRUE(deepest.ok()) << deepest.error();
  auto too_deep = RecordedEvent::read_line(nested(kRecordingLineDepthLimit - 1));
  ASSERT_FALSE(too_deep.ok());
  EXPECT_EQ(too_deep.error().substr(0, too_deep.error().find(" at")), "recursion limit exceeded");
}

TEST(LineReader, LinesAsLongAsARecorderWritesAndNoLonger) {
  // The text comes without its line feed, which the cap counts.
  std::string longest = line(R"("event":"abort","reason":"x")");
  longest.resize(kMaxRecordingLineBytes - 1, ' ');
  EXPECT_TRUE(RecordedEvent::read_line(longest).ok());
  longest += ' ';
  auto refused = RecordedEvent::read_line(longest);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), "the line is longer than the " + std::to_string(kMaxRecordingLineBytes) +
                                 " bytes a recording line may hold at line 1 column 0");
}

}  // namespace
}  // namespace dravelin::record

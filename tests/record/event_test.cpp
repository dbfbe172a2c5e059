// Recording events: the compact line of every kind, the value form, the sub-record readers, equality as the
// replay comparison uses it, and the conversions of log entries and step records.
#include "record/event.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ir/program.h"
#include "json/writer.h"
#include "record/recorded_event.h"
#include "record_test_support.h"
#include "zem/profile.h"

namespace dravelin::record {
namespace {

using runtime::Value;
using namespace test_support;

constexpr std::string_view kStamps = R"({"ts":"2024-01-02T03:04:05.006Z","run_id":"run_7_1","seq":4,)";

std::string line_of(const Event& event, const ExecutionMetadata* metadata = nullptr) {
  std::string out;
  write_recorded_line(out, "2024-01-02T03:04:05.006Z", "run_7_1", 4, metadata, event);
  return out;
}

ExecutionMetadata small_metadata() {
  const zem::ProfileMap profiles = zem::bundled_profiles();
  return ExecutionMetadata{ir::Ir::empty_named("triage"), profiles.at("zem-1.13.0"), Sample{true}};
}

TEST(EventLine, EveryKindWritesItsEntriesInDeclaredOrderAndReadsBack) {
  for (const NamedEvent& c : one_event_of_each_kind()) {
    SCOPED_TRACE(c.name);
    const std::string line = line_of(c.event);
    EXPECT_EQ(line, std::string(kStamps) + c.entries + "}");
    auto read = RecordedEvent::read_line(line);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->event, c.event);
    EXPECT_EQ(read->ts, "2024-01-02T03:04:05.006Z");
    EXPECT_EQ(read->run_id, "run_7_1");
    EXPECT_EQ(read->seq, 4u);
    EXPECT_FALSE(read->metadata.has_value());
  }
}

TEST(EventLine, OmissionRules) {
  Event::Answers answers{"r1", {}, {1, std::nullopt}, 2, false};
  EXPECT_EQ(line_of(Event{answers}), std::string(kStamps) +
                                         R"("event":"answers","request_id":"r1","answers":[],"usage":{"tokens":1},)"
                                         R"("latency_ms":2})");
  Event::Log log{LogLevel::Info, Recorded<std::string>::full("m"), {}, "main", {}};
  EXPECT_EQ(line_of(Event{log}).find("\"fields\""), std::string::npos);
  // A none value given as `using` is written as null, and so reads back as no value at all.
  Event::Generate generate{"w", "i", runtime::OptionalValue(Value::none()), "o", {1, std::nullopt}};
  const std::string text = line_of(Event{generate});
  EXPECT_NE(text.find(R"("using":null)"), std::string::npos);
  auto read = RecordedEvent::read_line(text);
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_FALSE(std::get<Event::Generate>(read->event.data).using_value.has_value());
  // Floats that are not finite are written as null.
  Event::MachineStep step{"m", "a", {"go"}, "go", {{"go", std::nan("")}}, std::numeric_limits<double>::infinity(), "b"};
  EXPECT_NE(line_of(Event{step}).find(R"("probabilities":{"go":null},"confidence":null)"), std::string::npos);
}

TEST(EventLine, MetadataStandsBetweenTheStampsAndTheEvent) {
  const ExecutionMetadata metadata = small_metadata();
  const std::string line = line_of(one_event_of_each_kind().front().event, &metadata);
  const size_t seq = line.find("\"seq\":4,");
  const size_t ir = line.find("\"ir\":{\"ir_version\":\"0.1\",\"program\":\"triage\"");
  const size_t profile = line.find(",\"profile\":{\"model\":\"zem-1.13.0\"");
  const size_t sample = line.find(",\"sample\":true,\"event\":\"start\"");
  ASSERT_NE(ir, std::string::npos) << line;
  ASSERT_NE(profile, std::string::npos) << line;
  ASSERT_NE(sample, std::string::npos) << line;
  EXPECT_LT(seq, ir);
  EXPECT_LT(ir, profile);
  EXPECT_LT(profile, sample);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.find(' '), std::string::npos);
  // The whole line reads back, metadata included.
  RecordedEvent expected{"2024-01-02T03:04:05.006Z", "run_7_1", 4, metadata, one_event_of_each_kind().front().event};
  auto read = RecordedEvent::read_line(line);
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(*read, expected);
  std::string again;
  read->write_json(again);
  EXPECT_EQ(again, line);
}

TEST(EventValueForm, MembersOrderedByKeyAtEveryLevel) {
  const ExecutionMetadata metadata = small_metadata();
  RecordedEvent start{"t", "run_7_1", 0, metadata, one_event_of_each_kind().front().event};
  const json::Value value = start.to_json_value();
  std::vector<std::string> keys;
  for (const json::Member& member : value.as_object()) keys.push_back(member.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"bindings", "event", "inputs", "ir", "ir_version", "profile", "program",
                                            "run_id", "sample", "seq", "task", "ts"}));

  for (const NamedEvent& c : one_event_of_each_kind()) {
    SCOPED_TRACE(c.name);
    RecordedEvent line{"t", "r", 1, std::nullopt, c.event};
    const json::Value tree = line.to_json_value();
    // The same members as the compact line: read back from the compact text of the value, the event is equal.
    std::string text = json::to_compact(tree);
    auto read = RecordedEvent::read_line(text);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->event, c.event);
    EXPECT_TRUE(tree.as_object().is_sorted_map());
  }
  RecordedEvent answers{"t", "r", 1, std::nullopt, one_event_of_each_kind()[2].event};
  keys.clear();
  const json::Value answers_value = answers.to_json_value();
  for (const json::Member& member : answers_value.as_object()) keys.push_back(member.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"answers", "event", "latency_ms", "request_id", "run_id", "sampled",
                                            "seq", "ts", "usage"}));
}

TEST(EventEquality, AsTheReplayComparisonSeesIt) {
  auto draw = [](json::Value v) { return Event{Event::Draw{DrawKind::Random, std::move(v)}}; };
  EXPECT_NE(draw(json::Value(1)), draw(json::Value(1.0)));
  EXPECT_EQ(draw(json::Value(1)), draw(json::Value(uint64_t{1})));
  EXPECT_EQ(draw(json::Value(0.0)), draw(json::Value(-0.0)));

  auto log = [](Recorded<std::string> message) {
    return Event{Event::Log{LogLevel::Info, std::move(message), {}, "main", {}}};
  };
  EXPECT_NE(log(Recorded<std::string>::full("hi")), log(Recorded<std::string>::redacted({"ab", 1})));
  EXPECT_EQ(log(Recorded<std::string>::redacted({"ab", 1})), log(Recorded<std::string>::redacted({"ab", 1})));
  EXPECT_NE(log(Recorded<std::string>::redacted({"ab", 1})), log(Recorded<std::string>::redacted({"ab", 2})));

  auto machine = [](double confidence) {
    return Event{Event::MachineStep{"m", "a", {"go"}, "go", {}, confidence, "b"}};
  };
  EXPECT_NE(machine(std::nan("")), machine(std::nan("")));
  EXPECT_EQ(machine(0.0), machine(-0.0));
  // Different kinds never compare equal, whatever their fields.
  EXPECT_NE(Event{Event::Abort{"x"}}, (Event{Event::Warning{"x", "", {}}}));
}

TEST(EffectIdentityRead, FormsAreTriedInDeclaredOrder) {
  struct Case {
    std::string name;
    std::string json;
    std::optional<size_t> form;  // the index of the form read; none when refused
  };
  const std::vector<Case> cases = {
      {"request wins over a complete call", R"({"request_id":"r","capability":"c","verb":"v","args":1})", 0},
      {"call", R"({"capability":"c","verb":"v","args":null})", 1},
      {"handle without args is an observe", R"({"capability":"c","verb":"v","handle":{}})", 2},
      {"generate with null using", R"({"capability":"c","instruction":"i","using":null})", 3},
      {"generate without using", R"({"capability":"c","instruction":"i"})", 3},
      {"capability and verb only", R"({"capability":"c","verb":"v"})", std::nullopt},
      {"not an object", R"("r")", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = std::string(kStamps) +
                             R"("event":"effect_error","operation":"call","identity":)" + c.json +
                             R"(,"code":"adapter_error","message":"m","retryable":false,)"
                             R"("source":{"start":[0,0,0],"end":[0,0,0]}})";
    auto read = RecordedEvent::read_line(line);
    if (c.form) {
      ASSERT_TRUE(read.ok()) << read.error();
      EXPECT_EQ(std::get<Event::EffectError>(read->event.data).identity.data.index(), *c.form);
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error().substr(0, read.error().find(" at line")),
                "data did not match any variant of untagged enum EffectIdentity");
    }
  }
}

TEST(SubRecordRead, StepAndBindingRecords) {
  struct Case {
    std::string name;
    std::string entries;
    std::string message;  // empty when the line reads
  };
  const std::vector<Case> cases = {
      {"step record by position", R"("event":"step","record":[1,"call","c.spawn","",false,"no_change"])", ""},
      {"step outcome by unit object", R"("event":"step","record":[1,"a","t","",true,{"error":null}])", ""},
      {"step outcome by variant name refused", R"("event":"step","record":[1,"a","t","",true,"Observe"])",
       "unknown variant `Observe`, expected one of `observed`, `error`, `no_change`"},
      {"short step record", R"("event":"step","record":[1,"a"])",
       "invalid length 2, expected struct StepRecord with 6 elements"},
      {"step number negative", R"("event":"step","record":{"step":-1})", "invalid value: integer `-1`, expected u64"},
      {"step record missing outcome",
       R"("event":"step","record":{"step":1,"action":"a","target":"t","args":"","changed":false})",
       "missing field `outcome`"},
      {"bindings by position", R"("event":"start","program":"p","task":"t","inputs":{},"bindings":[["c","tool"]],)"
                               R"("ir_version":"0.1")",
       ""},
      {"binding without kind", R"("event":"start","program":"p","task":"t","inputs":{},"bindings":[{"name":"c"}],)"
                               R"("ir_version":"0.1")",
       "missing field `kind`"},
      {"short binding", R"("event":"start","program":"p","task":"t","inputs":{},"bindings":[["c"]],)"
                        R"("ir_version":"0.1")",
       "invalid length 1, expected struct BindingRecord with 2 elements"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = RecordedEvent::read_line(std::string(kStamps) + c.entries + "}");
    if (c.message.empty()) {
      EXPECT_TRUE(read.ok()) << read.error();
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error().substr(0, read.error().find(" at line")), c.message);
    }
  }
}

TEST(LogEntries, BecomeLogEventsAndValues) {
  LogEntry entry;
  entry.level = LogLevel::Debug;
  entry.message = "seen";
  entry.task = "judge";
  entry.fields = record_of({{"n", Value::number(2)}});
  entry.source = span(1, 0, 0, 1, 4, 4);
  const Event event = log_entry_to_event(entry);
  const auto& log = std::get<Event::Log>(event.data);
  EXPECT_EQ(log.message, Recorded<std::string>::full("seen"));
  EXPECT_EQ(log.fields.at("n"), Recorded<Value>::full(Value::number(2)));
  EXPECT_EQ(log.task, "judge");
  EXPECT_EQ(log.source, entry.source);
  EXPECT_EQ(json::to_compact(log_entry_to_json_value(entry)),
            R"({"fields":{"n":2},"level":"debug","message":"seen",)"
            R"("source":{"end":{"column":4,"line":1,"offset":4},"start":{"column":0,"line":1,"offset":0}},)"
            R"("task":"judge"})");
  entry.fields.clear();
  EXPECT_EQ(log_entry_to_json_value(entry).find("fields"), nullptr);
}

TEST(StepRecords, BecomeRecordValuesForTrail) {
  const std::vector<Value> values = step_records_to_values(
      {StepRecord{3, "call", "coder.spawn", "x", false, StepOutcome::NoChange}, StepRecord{}});
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], Value::record(record_of({{"action", Value::text("call")},
                                                {"args", Value::text("x")},
                                                {"changed", Value::boolean(false)},
                                                {"outcome", Value::text("no_change")},
                                                {"step", Value::number(3)},
                                                {"target", Value::text("coder.spawn")}})));
  EXPECT_EQ(values[1].as_record().at("outcome"), Value::text("observed"));
}

TEST(EventLine, ValuesNestedToTheRecordedLimitReadBackWhereverTheyStand) {
  auto nested = [](int levels) {
    Value value = Value::number(1);
    for (int i = 0; i < levels; ++i) value = Value::list({std::move(value)});
    return value;
  };
  // The deepest place a value stands: an argument inside a failed call's identity.
  auto failed_call = [&](int levels) {
    CallArguments args{{nested(levels)}, {}};
    return Event{Event::EffectError{EffectOperation::Call,
                                    EffectIdentity{EffectIdentity::Call{"c", "v", call_arguments_to_value(args)}},
                                    RuntimeErrorCode::AdapterError, "m", false, {}}};
  };
  const Event deepest = failed_call(kMaxRecordedValueDepth);
  auto read = RecordedEvent::read_line(line_of(deepest));
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read->event, deepest);
  auto too_deep = RecordedEvent::read_line(line_of(failed_call(kMaxRecordedValueDepth + 1)));
  ASSERT_FALSE(too_deep.ok());
  EXPECT_EQ(too_deep.error().substr(0, too_deep.error().find(" at")), "recursion limit exceeded");
}

TEST(EventNames, TablesInTheirFixedOrder) {
  EXPECT_EQ(event_kind_name(EventKind::EffectError), "effect_error");
  EXPECT_EQ(event_kind_name(EventKind::MachineStep), "machine_step");
  EXPECT_EQ(event_kind_name(EventKind::End), "end");
  EXPECT_EQ(effect_operation_display_name(EffectOperation::Generate), "Generate");
  EXPECT_EQ(effect_operation_name(EffectOperation::Observe), "observe");
  EXPECT_EQ(draw_kind_name(DrawKind::Now), "now");
  EXPECT_EQ(step_outcome_name(StepOutcome::NoChange), "no_change");
  EXPECT_EQ(log_level_name(LogLevel::Warn), "warn");
}

}  // namespace
}  // namespace dravelin::record

// Recorded payloads and redaction: the three JSON forms and their markers, what is summarised and over which
// text, and that summaries are stable.
#include "record/redact.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "record/recorded_event.h"
#include "record_test_support.h"
#include "tokens/tokenizer.h"

namespace dravelin::record {
namespace {

using runtime::Value;
using namespace test_support;

const tokens::Tokenizer& chars4() {
  static const auto counter = tokens::TokenizerKind::chars4().tokenizer();
  return *counter;
}

Event call_event(std::string capability, std::string verb, Value result) {
  return Event{Event::Call{std::move(capability), std::move(verb), Value::record({}),
                           Recorded<Value>::full(std::move(result)), 1}};
}

std::string entries_of(const Event& event) {
  std::string out;
  write_recorded_line(out, "t", "r", 0, nullptr, event);
  return out.substr(std::string_view(R"({"ts":"t","run_id":"r","seq":0,)").size());
}

TEST(RecordedPayloads, AmbiguousFullPayloadsAreWrappedAndReadBack) {
  struct Case {
    std::string name;
    Value result;
    std::string written;  // the `result` entry
  };
  const std::vector<Case> cases = {
      {"looks like a summary",
       Value::record(record_of({{"redacted", Value::record(record_of({{"hash", Value::text("ab")},
                                                                      {"tokens", Value::number(3)}}))}})),
       R"("result":{"$recorded_full":{"redacted":{"hash":"ab","tokens":3}}})"},
      {"looks like a wrapper", Value::record(record_of({{"$recorded_full", Value::number(1)}})),
       R"("result":{"$recorded_full":{"$recorded_full":1}})"},
      {"wrapper key beside another", Value::record(record_of({{"$recorded_full", Value::number(1)}, {"b", Value::none()}})),
       R"("result":{"$recorded_full":1,"b":null})"},
      {"summary with a fractional count", Value::record(record_of({{"redacted", Value::record(record_of(
                                                                      {{"hash", Value::text("ab")},
                                                                       {"tokens", Value::number(1.5)}}))}})),
       R"("result":{"redacted":{"hash":"ab","tokens":1.5}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Event event = call_event("c", "v", c.result);
    const std::string entries = entries_of(event);
    EXPECT_NE(entries.find(c.written), std::string::npos) << entries;
    auto read = RecordedEvent::read_line(R"({"ts":"t","run_id":"r","seq":0,)" + entries);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->event, event);
  }
  // A message that looks like a marker once parsed is still a JSON string, never wrapped.
  const Event log{Event::Log{LogLevel::Info, Recorded<std::string>::full(R"({"redacted":{}})"), {}, "main", {}}};
  EXPECT_NE(entries_of(log).find(R"("message":"{\"redacted\":{}}")"), std::string::npos);
}

TEST(RecordedPayloads, MarkerTests) {
  struct Case {
    std::string name;
    std::string json;
    bool marker;
    bool wrapper;
  };
  const std::vector<Case> cases = {
      {"summary", R"({"redacted":{"hash":"x","tokens":0}})", true, false},
      {"summary with a third member", R"({"redacted":{"hash":"x","tokens":0,"more":1}})", false, false},
      {"negative count", R"({"redacted":{"hash":"x","tokens":-1}})", false, false},
      {"hash not a text", R"({"redacted":{"hash":1,"tokens":1}})", false, false},
      {"beside another member", R"({"redacted":{"hash":"x","tokens":1},"b":1})", false, false},
      {"wrapper of anything", R"({"$recorded_full":null})", false, true},
      {"wrapper beside another member", R"({"$recorded_full":1,"b":1})", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(redacted_marker(parse(c.json)).has_value(), c.marker);
    EXPECT_EQ(is_full_wrapper(parse(c.json)), c.wrapper);
  }
}

TEST(Redaction, WhatIsSummarisedAndOverWhichText) {
  // The expected hashes are the SHA-256 of the texts named in each case, taken by another tool.
  const std::set<std::string, std::less<>> agents = {"coder"};
  const std::vector<NamedEvent> events = one_event_of_each_kind();
  auto kind = [&](std::string_view name) {
    for (const NamedEvent& e : events) {
      if (e.name == name) return e.event;
    }
    return Event{};
  };

  // A request's state: its compact JSON, `{"ticket":{"title":"x"}}`.
  const Event request = redact_event(kind("request"), chars4(), agents);
  EXPECT_EQ(std::get<Event::Request>(request.data).state,
            Recorded<json::Object>::redacted({"9e18edfdb88d71f66a1cdd54c45a7e7e303ab473b87baaf54eb69435cb54634d", 6}));
  // A `wait` on an agent: the compact tagged JSON of its result, `"done"`.
  const Event waited = redact_event(call_event("coder", "wait", Value::text("done")), chars4(), agents);
  EXPECT_EQ(std::get<Event::Call>(waited.data).result,
            Recorded<Value>::redacted({"58bf5b5478e5d1fb7441daeff9fd1ed60a4ad5fbfabc64715cd8608f3f59f6da", 2}));
  // An observation: member by member in declared order, extra members after the named ones.
  const Event observed = redact_event(kind("observe"), chars4(), agents);
  EXPECT_EQ(std::get<Event::Observe>(observed.data).observation,
            Recorded<Observation>::redacted({"e5a25073b1372ab01469f451345ac643ded4aeea91c8748766adabeddb2f9d48", 15}));
  // A log message as a JSON string literal (four characters count as six) and each field's tagged JSON.
  const Event log{Event::Log{LogLevel::Info,
                             Recorded<std::string>::full("abcd"),
                             {{"p", Recorded<Value>::full(Value::prob(0.5))}},
                             "main",
                             {}}};
  const Event redacted = redact_event(log, chars4(), agents);
  const auto& redacted_log = std::get<Event::Log>(redacted.data);
  EXPECT_EQ(redacted_log.message,
            Recorded<std::string>::redacted({"ae2e7948a6ea7a15225e73689837ea51aa3675ad04b3ff4f62c88dd946e58da9", 2}));
  EXPECT_EQ(redacted_log.fields.at("p"),
            Recorded<Value>::redacted({"c491329cf5b3cd655a73a86b174589f7a8397c5d00a96d2eed5ca7d98ba02daa", 7}));

  // Any other verb on an agent, a `wait` on anything else, and every other kind keep their payloads.
  EXPECT_EQ(redact_event(call_event("coder", "spawn", Value::text("h")), chars4(), agents),
            call_event("coder", "spawn", Value::text("h")));
  EXPECT_EQ(redact_event(call_event("tool", "wait", Value::text("x")), chars4(), agents),
            call_event("tool", "wait", Value::text("x")));
  for (const char* name : {"start", "answers", "generate", "effect_error", "draw", "pause", "end"}) {
    EXPECT_EQ(redact_event(kind(name), chars4(), agents), kind(name)) << name;
  }
  // Redacting twice changes nothing more.
  for (const NamedEvent& e : events) {
    const Event once = redact_event(e.event, chars4(), agents);
    EXPECT_EQ(redact_event(once, chars4(), agents), once) << e.name;
  }
}

TEST(Redaction, AgentNamesComeFromTheStartBindings) {
  const Event event = one_event_of_each_kind().front().event;
  const auto& start = std::get<Event::Start>(event.data);
  EXPECT_EQ(agent_capability_names(start), (std::set<std::string, std::less<>>{"coder"}));
  EXPECT_EQ(hex_string(std::string("\x00\xff\x10", 3)), "00ff10");
}

}  // namespace
}  // namespace dravelin::record

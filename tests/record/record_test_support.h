// Shared helpers of the run-record tests: parsing JSON as a recording keeps it, and one event of each kind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#include "record/capability.h"
#include "record/event.h"
#include "record/pause.h"
#include "record/resume.h"
#include "runtime/value.h"

namespace dravelin::record::test_support {

using runtime::Value;

// Document order and repeated keys kept, as a recording line's reader holds its values.
inline json::Value parse(std::string_view text) {
  auto parsed = json::parse(text);
  EXPECT_TRUE(parsed.ok()) << text << ": " << (parsed.ok() ? "" : parsed.error().text());
  return parsed.ok() ? std::move(parsed).value() : json::Value();
}

inline syntax::Span span(uint32_t l1, uint32_t c1, uint32_t o1, uint32_t l2, uint32_t c2, uint32_t o2) {
  return syntax::Span{{l1, c1, o1}, {l2, c2, o2}};
}

inline runtime::Record record_of(std::vector<std::pair<std::string, Value>> entries) {
  runtime::Record out;
  for (auto& [key, value] : entries) out.insert_or_assign(key, std::move(value));
  return out;
}

inline Pause budget_pause() {
  Pause pause;
  pause.common = PauseCommon{"run_7_1", 2, "main", std::nullopt, span(3, 4, 30, 3, 9, 35), 200};
  pause.detail = Pause::Budget{BudgetKey::Calls, 50.0, 50.0};
  return pause;
}

inline Usage sample_usage() { return Usage{3, 1200, 0.0, 0.5, 2, 0.0, 0}; }

struct NamedEvent {
  std::string name;
  Event event;
  std::string entries;  // the compact text of the event's entries after the line's stamps
};

// One event of each kind, with the compact text its entries take in a line.
inline std::vector<NamedEvent> one_event_of_each_kind() {
  std::vector<NamedEvent> out;
  out.push_back({"start",
                 Event{Event::Start{"triage",
                                    "main",
                                    record_of({{"n", Value::number(3)}, {"tags", Value::list({Value::text("a")})}}),
                                    {{"coder", "agent"}, {"boss", "person"}},
                                    "0.1"}},
                 R"("event":"start","program":"triage","task":"main","inputs":{"n":3,"tags":["a"]},)"
                 R"("bindings":[{"name":"coder","kind":"agent"},{"name":"boss","kind":"person"}],"ir_version":"0.1")"});
  {
    json::Object state;
    state.set("ticket", json::Value(json::Object{{"title", "x"}}));
    out.push_back({"request",
                   Event{Event::Request{"r1", Recorded<json::Object>::full(std::move(state)),
                                        {zem::Question(zem::Question::Noul{"q1", "ticket", "is urgent", {}})}}},
                   R"("event":"request","request_id":"r1","state":{"ticket":{"title":"x"}},)"
                   R"("questions":[{"type":"noul","id":"q1","path":"ticket","condition":"is urgent"}])"});
  }
  out.push_back({"answers",
                 Event{Event::Answers{"r1", {zem::ZemAnswer(zem::ZemAnswer::Noul{"q1", 0.75})}, {12, 0.5}, 40, true}},
                 R"("event":"answers","request_id":"r1","answers":[{"type":"noul","id":"q1","prob":0.75}],)"
                 R"("usage":{"tokens":12,"usd":0.5},"latency_ms":40,"sampled":true)"});
  out.push_back({"generate", Event{Event::Generate{"writer", "Summarise", {}, "ok", {3, std::nullopt}}},
                 R"("event":"generate","capability":"writer","instruction":"Summarise","using":null,"output":"ok",)"
                 R"("usage":{"tokens":3})"});
  out.push_back({"call",
                 Event{Event::Call{"coder", "wait",
                                   call_arguments_to_value(CallArguments{{Value::text("idle")}, {}}),
                                   Recorded<Value>::full(Value::record(record_of({{"status", Value::text("done")}}))),
                                   7}},
                 R"("event":"call","capability":"coder","verb":"wait","args":{"positional":["idle"]},)"
                 R"("result":{"status":"done"},"latency_ms":7)"});
  {
    Observation observation{AgentStatus::Waiting, "", "", std::nullopt, {{"pid", json::Value(12)}}};
    out.push_back({"observe",
                   Event{Event::Observe{"coder", Value::handle(runtime::Handle{"coder", "h1", {}}),
                                        Recorded<Observation>::full(observation)}},
                   R"("event":"observe","capability":"coder","handle":{"$zem":"handle","capability":"coder",)"
                   R"("id":"h1"},"observation":{"last_message":"","pid":12,"status":"waiting","tail":""})"});
  }
  out.push_back({"effect_error",
                 Event{Event::EffectError{EffectOperation::Call,
                                          EffectIdentity{EffectIdentity::Call{"coder", "spawn", Value::record({})}},
                                          RuntimeErrorCode::AdapterError, "boom", true, span(1, 2, 3, 1, 5, 6)}},
                 R"("event":"effect_error","operation":"call","identity":{"capability":"coder","verb":"spawn",)"
                 R"("args":{}},"code":"adapter_error","message":"boom","retryable":true,)"
                 R"("source":{"start":{"line":1,"column":2,"offset":3},"end":{"line":1,"column":5,"offset":6}})"});
  out.push_back({"draw", Event{Event::Draw{DrawKind::Now, json::Value("2024-01-02T03:04:05.006Z")}},
                 R"("event":"draw","kind":"now","value":"2024-01-02T03:04:05.006Z")"});
  out.push_back({"warning", Event{Event::Warning{"truncated", "field `x` was cut", {}}},
                 R"("event":"warning","code":"truncated","message":"field `x` was cut",)"
                 R"("source":{"start":{"line":0,"column":0,"offset":0},"end":{"line":0,"column":0,"offset":0}})"});
  out.push_back({"log",
                 Event{Event::Log{LogLevel::Warn,
                                  Recorded<std::string>::full("hello"),
                                  {{"z", Recorded<Value>::full(Value::number(1))},
                                   {"a", Recorded<Value>::full(Value::prob(0.5))}},
                                  "main",
                                  {}}},
                 R"("event":"log","level":"warn","message":"hello","fields":{"a":{"$zem":"prob","value":0.5},"z":1},)"
                 R"("task":"main","source":{"start":{"line":0,"column":0,"offset":0},)"
                 R"("end":{"line":0,"column":0,"offset":0}})"});
  out.push_back({"pause", Event{Event::Pause{PauseKind::Budget, budget_pause()}},
                 R"("event":"pause","kind":"budget","payload":{"kind":"budget","run_id":"run_7_1","step":2,)"
                 R"("task":"main","source":{"start":{"line":3,"column":4,"offset":30},)"
                 R"("end":{"line":3,"column":9,"offset":35}},"recording_offset":200,"key":"calls","used":50.0,)"
                 R"("limit":50.0})"});
  out.push_back({"resume", Event{Event::Resume{Resume{Resume::Extend{{{BudgetKey::Calls, 60.0}}}}}},
                 R"("event":"resume","payload":{"extend":{"calls":60.0}})"});
  out.push_back({"abort", Event{Event::Abort{"aborted by host"}}, R"("event":"abort","reason":"aborted by host")"});
  out.push_back({"step", Event{Event::Step{StepRecord{1, "call", "coder.spawn", "", false, StepOutcome::Observed}}},
                 R"("event":"step","record":{"step":1,"action":"call","target":"coder.spawn","args":"",)"
                 R"("changed":false,"outcome":"observed"})"});
  out.push_back({"machine_step",
                 Event{Event::MachineStep{"m", "a", {"go", "stay"}, "go", {{"go", 0.9}, {"stay", 0.1}}, 0.9, "b"}},
                 R"("event":"machine_step","machine":"m","state":"a","enabled":["go","stay"],"chosen":"go",)"
                 R"("probabilities":{"go":0.9,"stay":0.1},"confidence":0.9,"to":"b")"});
  out.push_back({"end",
                 Event{Event::End{PauseKind::Done, record_of({{"result", Value::text("x")}}), true, sample_usage()}},
                 R"("event":"end","kind":"done","outputs":{"result":"x"},"verified":true,)"
                 R"("usage":{"calls":3,"tokens":1200,"usd":0.0,"minutes":0.5,"steps":2,"adapter_usd":0.0,)"
                 R"("adapter_tokens":0})"});
  return out;
}

}  // namespace dravelin::record::test_support

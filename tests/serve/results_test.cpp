// The records the bridge writes towards the SDK: a program's interface, judgment results and the event
// notifications, with members in byte order of their names; and what a failed write of a notification or a
// reply does.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "json/writer.h"
#include "serve/protocol/results.h"
#include "serve/server/event_sink.h"
#include "serve/server/server_loop.h"
#include "serve_test_support.h"

namespace dravelin::serve {
namespace {

TEST(ProgramLoadResult, DescribesEveryKindOfResult) {
  const ir::Ir ir = testing::compile_or_fail(R"(program shapes
in ticket: {title: text, replies: list}
needs helper: agent

judgment sort(ticket):
  kind = ticket.title pick:
    bug "a defect"
    other
  mood = ticket.title rate:
    "calm"
    high "the reporter is hostile"
    "unclear"
  best = ticket.replies pick among "which reply answers the question":
    none
  polite = each ticket.replies feels "the reply is polite"

task main:
  stop "x"
)");
  const json::Value written = protocol::ProgramLoadResult::describe("program_4", ir).to_json_value();
  const std::string judgment = json::to_compact(written.as_object().find("judgments")->as_array().at(0));
  EXPECT_EQ(judgment,
            R"({"name":"sort","params":["ticket"],"results":[)"
            R"({"each":false,"labels":["bug","other"],"name":"kind","verb":"pick"},)"
            R"({"each":false,"levels":[{"index":0},{"index":1,"name":"high"},{"index":2}],"name":"mood","verb":"rate"},)"
            R"({"allow_none":true,"each":false,"name":"best","verb":"pick_among"},)"
            R"({"each":true,"name":"polite","verb":"feels"}],"shape_hash":")" +
                ir.judgments.at(0).shape_hash + R"("})");
  const std::string whole = json::to_compact(written);
  EXPECT_EQ(whole.rfind(R"({"inputs":[{"name":"ticket","shape":{"fields":[)", 0), 0u) << whole;
  EXPECT_NE(whole.find(R"(],"name":"shapes","needs":[{"kind":"agent","name":"helper"}],"program_id":"program_4"})"),
            std::string::npos)
      << whole;
}

TEST(JudgmentRunResult, LeavesOutEmptyLogsAndEmptyFields) {
  protocol::JudgmentRunResult result;
  result.answers.emplace("urgent", runtime::Value::prob(0.25));
  EXPECT_EQ(json::to_compact(result.to_json_value()), R"({"answers":{"urgent":{"$zem":"prob","value":0.25}}})");

  record::LogEntry entry;
  entry.message = "picked";
  entry.task = "triage";
  result.logs.push_back(entry);
  EXPECT_EQ(json::to_compact(result.to_json_value()),
            R"({"answers":{"urgent":{"$zem":"prob","value":0.25}},"logs":[{"level":"info","message":"picked",)"
            R"("source":{"end":{"column":0,"line":0,"offset":0},"start":{"column":0,"line":0,"offset":0}},"task":"triage"}]})");
}

TEST(EventNotification, CarriesTheWholeEventInKeyOrder) {
  testing::StdioPipes pipes;
  record::Event::Log log;
  log.message = record::Recorded<std::string>::full("refund requested");
  log.fields.emplace("amount", record::Recorded<runtime::Value>::full(runtime::Value::number(750)));
  log.task = "main";
  const record::RecordedEvent event{"2026-01-02T03:04:05.006Z", "run_1", 3, std::nullopt, record::Event{log}};

  auto sink = server::bridge_event_sink(pipes.io(), "run_1");
  ASSERT_TRUE(sink(event).ok());
  const auto lines = pipes.written();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            R"({"jsonrpc":"2.0","method":"event","params":{"event":{"event":"log","fields":{"amount":750},"level":"info",)"
            R"("message":"refund requested","run_id":"run_1","seq":3,"source":{"end":{"column":0,"line":0,"offset":0},)"
            R"("start":{"column":0,"line":0,"offset":0}},"task":"main","ts":"2026-01-02T03:04:05.006Z"},"run_id":"run_1"}})");

  // With nobody reading the output any more, the run learns of it when it records its next event.
  std::signal(SIGPIPE, SIG_IGN);
  pipes.close_output();
  auto failed = sink(event);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, runtime::RuntimeErrorCode::AdapterError);
  EXPECT_EQ(failed.error().message, "Broken pipe");
  EXPECT_FALSE(failed.error().retryable);
}

TEST(ServerLoopOutput, AFailedReplyEndsTheLoopWithItsError) {
  testing::StdioPipes pipes;
  server::BridgeState state;
  state.io = pipes.io();
  std::signal(SIGPIPE, SIG_IGN);
  pipes.close_output();
  pipes.send({R"({"jsonrpc":"2.0","id":1,"method":"nope"})"});
  auto served = server::run_server_loop(state);
  ASSERT_FALSE(served.ok());
  EXPECT_EQ(served.error().message, "Broken pipe");
}

}  // namespace
}  // namespace dravelin::serve

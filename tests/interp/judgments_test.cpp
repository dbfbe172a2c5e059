// Judgments inside a run: request groups, answers as values, the calls and usd budgets, usage, retries of an
// unavailable service, sampling, and judgments called by name.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "interp/run_harness.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using Strings = std::vector<std::string>;

const char* const kTicket = "program p\nin ticket: {title: text, body: text}\nout a\nout b\n\n";

runtime::Record ticket_inputs() {
  return runtime::Record{
      {"ticket", Value::record({{"title", Value::text("down")}, {"body", Value::text("prod is down")}})}};
}

TEST(Judgments, AssignmentsOfOneGroupAreAskedInOneRequest) {
  TestRun run(std::string(kTicket) +
                  "task main:\n  a = ticket feels \"someone is blocked\"\n  b = ticket.body pick:\n"
                  "    bug \"a defect\"\n    feature \"a wish\"\n    other\n",
              ticket_inputs());
  run.service.labels["b"] = "feature";
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  ASSERT_EQ(run.service.asked.size(), 1u);
  EXPECT_EQ(run.service.asked[0].questions.size(), 2u);
  const auto& done = detail<Pause::Done>(outcome.pause);
  EXPECT_EQ(done.outputs.at("a"), Value::prob(0.9));
  ASSERT_TRUE(done.outputs.at("b").is_choice());
  EXPECT_EQ(done.outputs.at("b").as_choice().label, "feature");
  EXPECT_EQ(done.usage.calls, 1u);
  EXPECT_EQ(done.usage.tokens, 1000u);
  EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "request", "answers", "draw", "pause", "end"}));
  EXPECT_EQ(run.events_of<Event::Request>().front()->request_id, "r1");
}

// Request ids restart with every execution, so a resumed run serves its requests from the journal under the
// same ids and asks the service nothing again.
TEST(Judgments, AResumedRunServesItsRequestsAgain) {
  TestRun run(std::string(kTicket) +
                  "task main:\n  a = ticket feels \"urgent\"\n  escalate \"check\"\n"
                  "  b = ticket feels \"angry\"\n",
              ticket_inputs());
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
  ASSERT_EQ(run.service.asked.size(), 1u);
  TaskOutcome outcome = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  ASSERT_EQ(run.service.asked.size(), 2u);
  const auto requests = run.events_of<Event::Request>();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]->request_id, "r1");
  EXPECT_EQ(requests[1]->request_id, "r2");
  // The charges of the served request are made again, so the totals cover the whole run.
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).usage.calls, 2u);
}

TEST(Judgments, TheCallsBudgetPausesBeforeTheRequestAndAnExtensionSetsTheNewLimit) {
  TestRun run(
      "program p\nin t: text\nout a\n\ntask main budget calls 2:\n  a = 0\n  loop max 5:\n"
      "    p = t feels \"x\"\n    a = a + 1\n",
      runtime::Record{{"t", Value::text("x")}});
  TaskOutcome first = run.execute();
  ASSERT_EQ(first.pause.kind(), PauseKind::Budget) << describe(first.pause);
  const auto& budget = detail<Pause::Budget>(first.pause);
  EXPECT_EQ(budget.key, record::BudgetKey::Calls);
  EXPECT_EQ(budget.used, 2);
  EXPECT_EQ(budget.limit, 2);
  EXPECT_EQ(first.pause.common.task, "main");
  EXPECT_EQ(run.service.asked.size(), 2u);

  // A new limit that is still not above what was used pauses again at once.
  TaskOutcome again = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Calls, 2}}}});
  ASSERT_EQ(again.pause.kind(), PauseKind::Budget) << describe(again.pause);
  EXPECT_EQ(run.service.asked.size(), 2u);

  // The number is the new limit, not an increment: 4 calls in all, then the next pause.
  TaskOutcome extended = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Calls, 4}}}});
  ASSERT_EQ(extended.pause.kind(), PauseKind::Budget) << describe(extended.pause);
  EXPECT_EQ(detail<Pause::Budget>(extended.pause).used, 4);
  EXPECT_EQ(detail<Pause::Budget>(extended.pause).limit, 4);
  EXPECT_EQ(run.service.asked.size(), 4u);

  TaskOutcome done = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Calls, 10}}}});
  ASSERT_EQ(done.pause.kind(), PauseKind::Done) << describe(done.pause);
  EXPECT_EQ(detail<Pause::Done>(done.pause).outputs.at("a"), Value::number(5));
  EXPECT_EQ(run.service.asked.size(), 5u);
}

TEST(Judgments, UsdIsChargedAfterTheAnswersAndEnforcedByTheCheckThatFollows) {
  TestRun run(
      "program p\nin t: text\nout a\n\ntask main budget usd 0.1:\n  a = 0\n  loop max 5:\n"
      "    p = t feels \"x\"\n    a = a + 1\n",
      runtime::Record{{"t", Value::text("x")}});
  // No usd reported: 2,000,000 tokens at 0.042 per million cost 0.084 each.
  run.service.tokens = 2'000'000;
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Budget) << describe(outcome.pause);
  const auto& budget = detail<Pause::Budget>(outcome.pause);
  EXPECT_EQ(budget.key, record::BudgetKey::Usd);
  EXPECT_DOUBLE_EQ(budget.used, 0.168);
  EXPECT_EQ(budget.limit, 0.1);
  EXPECT_EQ(run.service.asked.size(), 2u);
}

// A cost past the largest number (a huge price per token) is charged as the largest one: the budget still
// pauses the run, and the amount it reports has a written form that reads back.
TEST(Judgments, AnInfiniteCostIsChargedAsTheLargestFiniteOne) {
  TestRun run("program p\nin t: text\nout a\n\ntask main budget usd 1000000:\n  a = t feels \"x\"\n",
              runtime::Record{{"t", Value::text("x")}});
  run.service.usd = std::numeric_limits<double>::infinity();
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Budget) << describe(outcome.pause);
  const auto& budget = detail<Pause::Budget>(outcome.pause);
  EXPECT_EQ(budget.key, record::BudgetKey::Usd);
  EXPECT_EQ(budget.used, std::numeric_limits<double>::max());
  EXPECT_EQ(outcome.usage.usd, std::numeric_limits<double>::max());
}

TEST(Judgments, AnUnavailableServiceIsRetriedAfterTheResumeAndARejectionEndsTheRun) {
  const std::string source = "program p\nin t: text\nout a\n\ntask main:\n  a = t feels \"x\"\n";
  {
    TestRun run(source, runtime::Record{{"t", Value::text("x")}});
    run.service.failures.push_back(zem::ZemError{zem::ZemError::Kind::Unavailable, "connection reset"});
    TaskOutcome first = run.execute();
    const auto& error = detail<Pause::Error>(first.pause);
    EXPECT_EQ(error.code, RuntimeErrorCode::ZemUnavailable);
    EXPECT_EQ(error.message, "connection reset");
    EXPECT_TRUE(error.retryable);
    EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "request", "effect_error", "pause", "draw"}));

    TaskOutcome second = run.resume(Resume{Resume::Retry{true}});
    ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
    EXPECT_EQ(run.service.asked.size(), 2u);
    // The failed attempt charged nothing; the retried one is charged, and is the execution's second request.
    EXPECT_EQ(detail<Pause::Done>(second.pause).usage.calls, 1u);
    EXPECT_EQ(run.events_of<Event::Request>().back()->request_id, "r2");
  }
  {
    TestRun run(source, runtime::Record{{"t", Value::text("x")}});
    run.service.failures.push_back(zem::ZemError{zem::ZemError::Kind::Rejected, "bad request"});
    TaskOutcome outcome = run.execute();
    const auto& error = detail<Pause::Error>(outcome.pause);
    EXPECT_EQ(error.code, RuntimeErrorCode::ZemRejected);
    EXPECT_FALSE(error.retryable);
    EXPECT_EQ(run.kinds().back(), "end");
  }
}

TEST(Judgments, SamplingDrawsAreRecordedAndServedAgain) {
  TestRun run(
      "program p\nin t: text\nout a\n\ntask main:\n  a = t pick:\n    yes \"y\"\n    no \"n\"\n"
      "    other\n  escalate \"look\"\n",
      runtime::Record{{"t", Value::text("x")}}, /*sample=*/true);
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
  const auto answers = run.events_of<Event::Answers>();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(answers[0]->sampled);
  const auto draws = run.events_of<Event::Draw>();
  ASSERT_EQ(std::count_if(draws.begin(), draws.end(),
                          [](const Event::Draw* d) { return d->kind == record::DrawKind::Random; }),
            1);
  const size_t events = run.run.journal.events.size();
  TaskOutcome outcome = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  // Nothing was drawn anew: the resume, the clock after it, the clock at the end, the pause and the end.
  EXPECT_EQ(run.run.journal.events.size(), events + 5);
}

TEST(Judgments, AJudgmentCalledByNameReturnsItsResultsAndRunsItsLogs) {
  TestRun run(std::string(kTicket) +
                  "judgment classify(ticket):\n  kind = ticket.body pick:\n    bug \"a defect\"\n"
                  "    feature \"a wish\"\n    other\n  log info \"classified\" {kind}\n"
                  "  urgent = ticket feels \"someone is blocked\"\n\n"
                  "task main:\n  r = classify({ticket: ticket})\n  a = r.kind\n  b = r.urgent\n",
              ticket_inputs());
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  ASSERT_EQ(run.service.asked.size(), 1u);
  // The judgment's parameters go into the state whole.
  EXPECT_EQ(run.service.asked[0].state.size(), 1u);
  const auto& done = detail<Pause::Done>(outcome.pause);
  EXPECT_EQ(done.outputs.at("a").as_choice().label, "bug");
  EXPECT_EQ(done.outputs.at("b"), Value::prob(0.9));
  const auto logs = run.events_of<Event::Log>();
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(*logs[0]->message.if_full(), "classified");
  EXPECT_EQ(logs[0]->task, "main");
  ASSERT_EQ(logs[0]->fields.size(), 1u);
  EXPECT_EQ(logs[0]->fields.at("kind").if_full()->as_choice().label, "bug");
}

TEST(Judgments, ABudgetPauseInsideAnExpressionReachesTheRunnerAsItself) {
  TestRun run(
      "program p\nin t: text\nout a\n\ndef check(t):\n  p = t feels \"x\"\n  return p\n\n"
      "task main budget calls 0:\n  a = [1, check(t)]\n",
      runtime::Record{{"t", Value::text("x")}});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Budget) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Budget>(outcome.pause).used, 0);
  EXPECT_TRUE(run.service.asked.empty());
}

}  // namespace
}  // namespace dravelin::interp

namespace dravelin::interp {
namespace {

// Two judgments assigned to one name in a single request group (as IR built by hand can have them): the
// repeated name closes the group, so each assignment gets the answer to its own question.
TEST(Judgments, ANameJudgedTwiceInOneGroupIsAskedAgainAtItsSecondAssignment) {
  TestRun run(
      "program p\nin t: text\nout a\nout b\n\ntask main:\n  a = t feels \"first\"\n  b = a\n"
      "  a = t feels \"second\"\n",
      runtime::Record{{"t", Value::text("x")}});
  std::vector<ir::Stmt>& body = run.run.metadata.ir.tasks.front().body;
  auto judge_of = [&](size_t i) -> ir::Judge& {
    return *std::get<ir::Expr::Judge>(std::get<ir::Stmt::Assign>(body[i].node).value.node).judge;
  };
  judge_of(2).request_group = judge_of(0).request_group;
  run.service.by_condition = {{"first", 0.1}, {"second", 0.7}};
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(run.service.asked.size(), 2u);
  const auto& done = detail<Pause::Done>(outcome.pause);
  EXPECT_EQ(done.outputs.at("b"), Value::prob(0.1));
  EXPECT_EQ(done.outputs.at("a"), Value::prob(0.7));
}

}  // namespace
}  // namespace dravelin::interp

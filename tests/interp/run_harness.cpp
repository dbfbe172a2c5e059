// The run harness of the interpreter tests, compiled once for all of them.
#include "interp/run_harness.h"

namespace dravelin::interp::testing {

ir::Ir compile(const std::string& source) {
  auto program = syntax::parse_program(source);
  EXPECT_TRUE(program.ok()) << source << "\n" << (program.ok() ? "" : syntax::debug_string(program.error()));
  if (!program.ok()) return ir::Ir::empty_named("broken");
  auto compiled = compiler::compile_source(*program, std::nullopt, compiler::ModuleSources{});
  EXPECT_TRUE(compiled.ok()) << source << "\n" << (compiled.ok() ? "" : syntax::debug_string(compiled.error()));
  if (!compiled.ok()) return ir::Ir::empty_named("broken");
  return std::move(compiled->ir);
}

zem::Profile test_profile() {
  zem::Profile profile;
  profile.model = "zem-test";
  profile.endpoint = "https://zem.invalid/v1/judge";
  profile.total_tokens = 100000;
  profile.state_plus_question_tokens = 50000;
  profile.max_questions_per_request = 8;
  profile.max_criteria_per_question = 8;
  profile.price_per_million_input_usd = 0.042;
  return profile;
}

Result<zem::ZemResponse, zem::ZemError> ScriptedService::ask(const zem::RequestGroup& group) {
  asked.push_back(group);
  if (on_ask) on_ask();
  if (!failures.empty()) {
    zem::ZemError error = failures.front();
    failures.pop_front();
    return err(std::move(error));
  }
  zem::ZemResponse response;
  response.tokens = tokens;
  response.usd = usd;
  response.latency_ms = 12;
  for (const zem::Question& question : group.questions) {
    const std::string& id = question.id();
    if (const auto* choice = std::get_if<zem::Question::Choice>(&question.data)) {
      std::string label = labels.count(id) ? labels[id] : choice->labels.front().name;
      zem::Probabilities probabilities;
      for (const auto& l : choice->labels)
        probabilities[l.name] = l.name == label ? 0.8 : 0.2 / double(choice->labels.size() - 1);
      response.answers.emplace_back(zem::ZemAnswer::Choice{id, label, 0.8, probabilities});
    } else if (std::holds_alternative<zem::Question::Score>(question.data)) {
      response.answers.emplace_back(zem::ZemAnswer::Score{id, 0, 0.0, 0.7, {{"0", 0.7}, {"1", 0.3}}});
    } else {
      const auto& noul = std::get<zem::Question::Noul>(question.data);
      double prob = probs.count(id) ? probs[id] : 0.9;
      if (by_condition.count(noul.condition)) prob = by_condition[noul.condition];
      response.answers.emplace_back(zem::ZemAnswer::Noul{id, prob});
    }
  }
  return response;
}

Result<uint64_t, runtime::RuntimeError> MemorySink::record(const Event& event) {
  if (recording_.failed || recording_.closed ||
      (recording_.fail_at && recording_.lines.size() >= *recording_.fail_at)) {
    recording_.failed = true;
    return err(
        runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "could not write the recording: disk full"));
  }
  std::string line;
  record::write_recorded_line(line, "2024-05-01T12:00:00.000Z", run_id_, recording_.lines.size(),
                              event.kind() == EventKind::Start ? metadata_ : nullptr, event);
  const uint64_t at = recording_.offset;
  recording_.offset += line.size() + 1;
  recording_.lines.push_back(std::move(line));
  return at;
}

TestRun::TestRun(const std::string& source, runtime::Record inputs, bool sample)
    : inputs_(std::move(inputs)) {
  record::Sample setting;
  setting.setting = sample;
  run = RunConfig{compile(source), test_profile(), setting, "run_1_1", 7}.with_tokenizer();
  run.clock = [this] { return clock_ms; };
  run.make_service = [this](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
    return std::unique_ptr<zem::ZemService>(std::make_unique<SharedService>(service));
  };
}

TestRun::~TestRun() = default;

TestRun& TestRun::with_recording() {
  run.recorder = std::make_unique<MemorySink>(recording, run.run_id, &run.metadata);
  return *this;
}

TaskOutcome TestRun::execute(std::string task) {
  TaskOutcome outcome = execute_task(run, std::move(task), inputs_);
  last = outcome.pause;
  return outcome;
}

TaskOutcome TestRun::resume(Resume payload) {
  auto recorded = journal::record_resume(run, std::move(payload));
  EXPECT_TRUE(recorded.ok()) << (recorded.ok() ? "" : recorded.error().text());
  return execute();
}

TaskOutcome TestRun::answer(std::string text) { return resume(Resume{Resume::Answer{std::move(text), std::nullopt}}); }

std::vector<std::string> TestRun::kinds() const {
  std::vector<std::string> out;
  for (const Event& event : run.journal.events) out.emplace_back(record::event_kind_name(event.kind()));
  return out;
}

std::string describe(const Pause& pause) {
  std::string out;
  pause.write_json(out);
  return out;
}

}  // namespace dravelin::interp::testing

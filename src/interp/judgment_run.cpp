// A judgment's `log` lines evaluated outside any run, over a temporary run of its own that records nothing to
// a file.
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {

using record::Event;
using runtime::RuntimeErrorCode;

namespace {

// Hands every request of the temporary run to the judge's own service.
class ForwardingService final : public zem::ZemService {
 public:
  explicit ForwardingService(zem::ZemService& target) : target_(target) {}
  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override { return target_.ask(group); }

 private:
  zem::ZemService& target_;
};

}  // namespace

std::optional<runtime::JudgmentLogEntry> log_entry_from_event(const Event& event) {
  const auto* log = std::get_if<Event::Log>(&event.data);
  if (log == nullptr) return std::nullopt;
  runtime::JudgmentLogEntry entry;
  entry.level = log->level;
  if (const std::string* message = log->message.if_full()) entry.message = *message;
  for (const auto& [name, field] : log->fields) {
    if (const Value* value = field.if_full()) entry.fields.emplace(name, *value);
  }
  entry.task = log->task;
  entry.source = log->source;
  return entry;
}

Result<Unit, RuntimeError> Interpreter::run_judgment_logs(const ir::Judgment& judgment, Scopes& scopes,
                                                          const runtime::Record& results) {
  size_t bound = 0;
  for (const ir::JudgmentLog& log : judgment.logs) {
    const size_t reached = std::min<size_t>(log.after, judgment.results.size());
    for (; bound < reached; ++bound) {
      const std::string& name = judgment.results[bound].name;
      auto result = results.find(name);
      scopes.define(name, result != results.end() ? result->second : Value::none());
    }
    runtime::EvalContext ctx = context();
    TRY(runtime::eval_expr(ctx, log.log, scopes));
  }
  return Unit{};
}

Result<std::vector<runtime::JudgmentLogEntry>, RuntimeError> run_judgment(const ir::Ir& ir, const zem::Profile& profile,
                                                                          zem::ZemService& service,
                                                                          const ir::Judgment& judgment,
                                                                          runtime::Scopes& scopes,
                                                                          const runtime::Record& results) {
  if (judgment.logs.empty()) return std::vector<runtime::JudgmentLogEntry>{};
  RunState run = RunConfig{ir, profile, record::Sample{}, std::string(), std::nullopt}.with_tokenizer();
  run.service = std::make_unique<ForwardingService>(service);
  Interpreter interpreter(run, judgment.name, {});

  Result<Unit, RuntimeError> evaluated = Unit{};
  try {
    evaluated = interpreter.run_judgment_logs(judgment, scopes, results);
  } catch (const std::bad_alloc&) {
    return err(runtime::out_of_memory_error("the judgment"));
  } catch (const std::length_error&) {
    return err(runtime::out_of_memory_error("the judgment"));
  }
  if (!evaluated.ok()) {
    if (!run.pending_pause) return err(std::move(evaluated).error());
    const record::Pause& pause = *run.pending_pause;
    if (const auto* error = std::get_if<record::Pause::Error>(&pause.detail)) {
      return err(runtime::make_runtime_error(error->code, error->message, error->retryable, pause.common.source));
    }
    return err(runtime::make_runtime_error(
        RuntimeErrorCode::TypeError,
        "a judgment run alone cannot raise a `" + std::string(runtime::pause_kind_name(pause.kind())) + "` pause",
        false, pause.common.source));
  }

  std::vector<runtime::JudgmentLogEntry> entries;
  for (const Event& event : run.journal.events) {
    if (auto entry = log_entry_from_event(event)) entries.push_back(std::move(*entry));
  }
  return entries;
}

}  // namespace dravelin::interp

// The small effects of expressions: `trail`, `now()`, `random()` and `log`; and the places kept for capability
// verbs and `focus`, which this build refuses with a runtime error.
#include <string>
#include <utility>
#include <variant>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {

using record::Event;
using runtime::RuntimeErrorCode;

ValueResult Interpreter::call_verb(const runtime::CallTarget& target, std::string_view verb, runtime::CallArguments) {
  const std::string name =
      std::holds_alternative<std::string>(target) ? std::get<std::string>(target) : std::get<runtime::Handle>(target).capability;
  return err(runtime::make_runtime_error(
      RuntimeErrorCode::TypeError,
      "`" + name + "." + std::string(verb) + "` cannot be called: capability verbs are not supported yet"));
}

ValueResult Interpreter::focus(const Value&, std::string_view, double) {
  return err(runtime::make_runtime_error(RuntimeErrorCode::TypeError, "`focus` is not supported yet"));
}

ValueResult Interpreter::trail(uint64_t count) {
  const BudgetAccount* account = nearest_task_account();
  if (account == nullptr) return Value::list({});
  const std::vector<record::StepRecord>& records = account->trail;
  const size_t take = count < records.size() ? static_cast<size_t>(count) : records.size();
  const std::vector<record::StepRecord> last(records.end() - static_cast<std::ptrdiff_t>(take), records.end());
  return Value::list(record::step_records_to_values(last));
}

Result<std::string, RuntimeError> Interpreter::now() { return journal::now(run_, current_span_); }

Result<double, RuntimeError> Interpreter::random() { return journal::random(run_, current_span_); }

Result<Unit, RuntimeError> Interpreter::log(runtime::JudgmentLogEntry entry) {
  Event::Log log;
  log.level = entry.level;
  log.message = record::Recorded<std::string>::full(std::move(entry.message));
  for (auto& [name, value] : entry.fields) {
    log.fields.emplace(name, record::Recorded<Value>::full(std::move(value)));
  }
  log.task = label();
  log.source = entry.source;
  return journal::expect(run_, Event{std::move(log)}, entry.source);
}

}  // namespace dravelin::interp

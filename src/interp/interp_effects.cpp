// The small effects of expressions: `trail`, `now()`, `random()` and `log`. `focus` is in interp_shape.cpp
// and capability verbs are in interp_capabilities.cpp.
#include <string>
#include <utility>
#include <variant>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {

using record::Event;
using runtime::RuntimeErrorCode;

ValueResult Interpreter::trail(uint64_t count) {
  const BudgetAccount* account = nearest_task_account();
  if (account == nullptr) return Value::list({});
  const std::vector<record::StepRecord>& records = account->trail;
  const size_t take = count < records.size() ? static_cast<size_t>(count) : records.size();
  const std::vector<record::StepRecord> last(records.end() - static_cast<std::ptrdiff_t>(take), records.end());
  return runtime::within_bounds(Value::list(record::step_records_to_values(last)));
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

#include <string>
#include <utility>

#include "runtime/eval.h"

namespace dravelin::runtime {
namespace {

RuntimeError refused(std::string message, syntax::Span span = {}) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message), false, span);
}

}  // namespace

ValueResult QuestionHost::judge(const ir::Judge&, Scopes&) {
  return err(refused("a judgment is not allowed inside a question"));
}

ValueResult QuestionHost::call(std::string_view callee, CallArguments) {
  return err(refused("calling `" + std::string(callee) + "` is not allowed inside a question"));
}

ValueResult QuestionHost::call_verb(const CallTarget& target, std::string_view verb, CallArguments) {
  const std::string& capability =
      std::holds_alternative<std::string>(target) ? std::get<std::string>(target) : std::get<Handle>(target).capability;
  return err(refused("calling `" + capability + "." + std::string(verb) + "` is not allowed inside a question"));
}

ValueResult QuestionHost::focus(const Value&, std::string_view, double) {
  return err(refused("`focus` is not allowed inside a question"));
}

ValueResult QuestionHost::trail(uint64_t) { return err(refused("`trail` is not allowed inside a question")); }

Result<std::string, RuntimeError> QuestionHost::now() {
  return err(refused("`now()` is not allowed inside a question"));
}

Result<double, RuntimeError> QuestionHost::random() {
  return err(refused("`random()` is not allowed inside a question"));
}

Result<Unit, RuntimeError> QuestionHost::log(JudgmentLogEntry entry) {
  return err(refused("a `log` (" + std::string(syntax::enum_name(entry.level)) + ") is not allowed here",
                     entry.source));
}

}  // namespace dravelin::runtime

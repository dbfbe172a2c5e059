// Calls: built-ins, units (through the host), capability verbs and handle verbs.
#include <string>
#include <utility>

#include "runtime/builtins.h"
#include "runtime/eval.h"

namespace dravelin::runtime {
namespace {

using ir::Expr;

RuntimeError call_error(std::string message, const syntax::Span& span) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message), false, span);
}

// A bare name that is neither a variable nor an input; such a name as the target of a verb names a capability or
// a module, not a value.
const Expr::Name* unbound_name(const Expr& expr, const Scopes& scopes) {
  const auto* name = std::get_if<Expr::Name>(&expr.node);
  return name != nullptr && scopes.lookup(WrittenName{name->name}) == nullptr ? name : nullptr;
}

// `wait` names the states it waits for with bare words (`agent.wait(done, failed)`): an unnamed argument that is
// an unbound bare name stands for its own text.
Result<CallArguments, RuntimeError> eval_arguments(EvalContext& context, const Expr::Call& call, Scopes& scopes) {
  const auto* verb = std::get_if<Expr::Field>(&call.callee->node);
  bool waits = verb != nullptr && verb->name == "wait";
  CallArguments args;
  args.positional.reserve(call.args.size());
  for (const ir::Arg& arg : call.args) {
    const Expr::Name* word = waits && !arg.name ? unbound_name(arg.value, scopes) : nullptr;
    if (word != nullptr) {
      args.positional.push_back(Value::text(word->name));
      continue;
    }
    ValueResult value = eval_expr(context, arg.value, scopes);
    if (!value.ok()) return err(std::move(value).error());
    if (arg.name) {
      args.named.insert_or_assign(*arg.name, std::move(*value));
    } else {
      args.positional.push_back(std::move(*value));
    }
  }
  return args;
}

[[gnu::noinline]] ValueResult call_name(EvalContext& context, const Expr::Name& callee, CallArguments args,
                                        const Scopes& scopes, const syntax::Span& span) {
  // A built-in wins over a def or variable of the same name.
  if (is_builtin(callee.name)) {
    ValueResult result = call_builtin(context, callee.name, args);
    if (!result.ok()) return err(with_span_if_missing(std::move(result).error(), span));
    return result;
  }
  if (scopes.is_capability(callee.name)) {
    return err(call_error("capability `" + callee.name + "` needs a verb: `" + callee.name + ".<verb>`", span));
  }
  return context.host.call(callee.name, std::move(args));
}

// A verb of a name that is neither a variable nor an input: a capability's, else a def of a `use` module or of
// the prelude by its qualified name.
[[gnu::noinline]] ValueResult call_named_verb(EvalContext& context, const std::string& target,
                                              const Expr::Field& callee, CallArguments args, const Scopes& scopes) {
  if (scopes.is_capability(target)) {
    return context.host.call_verb(CallTarget(std::in_place_type<std::string>, target), callee.name, std::move(args));
  }
  return context.host.call(target + "." + callee.name, std::move(args));
}

[[gnu::noinline]] ValueResult call_value_verb(EvalContext& context, Value target, const Expr::Field& callee,
                                              CallArguments args, const syntax::Span& span) {
  if (target.is_handle()) {
    return context.host.call_verb(CallTarget(std::in_place_type<Handle>, std::move(target.as_handle())), callee.name,
                                  std::move(args));
  }
  return err(call_error(
      "`." + callee.name + "(...)` needs a capability or handle, got " + std::string(target.type_word()), span));
}

ValueResult call_member(EvalContext& context, const Expr::Field& callee, CallArguments args, Scopes& scopes,
                        const syntax::Span& span) {
  if (const Expr::Name* target = unbound_name(*callee.target, scopes)) {
    return call_named_verb(context, target->name, callee, std::move(args), scopes);
  }
  ValueResult target = eval_expr(context, *callee.target, scopes);
  if (!target.ok()) return target;
  return call_value_verb(context, std::move(*target), callee, std::move(args), span);
}

[[gnu::noinline]] RuntimeError not_callable(const syntax::Span& span) {
  return call_error("only a name, a def, a capability verb or a handle verb can be called", span);
}

}  // namespace

ValueResult eval_call(EvalContext& context, const ir::Expr::Call& call, Scopes& scopes) {
  auto args = eval_arguments(context, call, scopes);
  if (!args.ok()) return err(std::move(args).error());
  if (const auto* name = std::get_if<Expr::Name>(&call.callee->node)) {
    return call_name(context, *name, std::move(*args), scopes, call.span);
  }
  if (const auto* field = std::get_if<Expr::Field>(&call.callee->node)) {
    return call_member(context, *field, std::move(*args), scopes, call.span);
  }
  return err(not_callable(call.span));
}

}  // namespace dravelin::runtime

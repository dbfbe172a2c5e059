// Built-ins that reach outside the value model: now and random through the effect host, tokens through the
// tokenizer, hash through libcrypto; and bool, which applies the one truthiness table.
#include <string>
#include <utility>

#include "base/sha256.h"
#include "runtime/builtins_internal.h"
#include "runtime/operators.h"

namespace dravelin::runtime::builtins {
ValueResult builtin_now(EvalContext& context, const CallArguments&) {
  std::string reading = TRY(context.host.now());
  return Value::text(std::move(reading));
}

ValueResult builtin_hash(EvalContext&, const CallArguments& args) {
  const std::string text = TRY(arg(args, "hash", 0, "x"))->to_text();
  return Value::text(sha256_hex(text));
}

ValueResult builtin_bool(EvalContext&, const CallArguments& args) {
  const Value* x = TRY(arg(args, "bool", 0, "x"));
  return Value::boolean(truthy(*x));
}

ValueResult builtin_tokens(EvalContext& context, const CallArguments& args) {
  const std::string text = TRY(arg(args, "tokens", 0, "x"))->to_text();
  return Value::number(static_cast<double>(context.tokenizer.count(text)));
}

ValueResult builtin_random(EvalContext& context, const CallArguments&) {
  const double draw = TRY(context.host.random());
  return Value::number(draw);
}

}  // namespace dravelin::runtime::builtins

// Built-ins that reach outside the value model: now and random through the effect host, tokens through the
// tokenizer, hash through libcrypto; and bool, which applies the one truthiness table.
#include <openssl/evp.h>

#include <string>
#include <utility>

#include "runtime/builtins_internal.h"
#include "runtime/operators.h"

namespace dravelin::runtime::builtins {
namespace {

std::string lower_hex(const unsigned char* bytes, unsigned int length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0xF]);
  }
  return out;
}

}  // namespace

ValueResult builtin_now(EvalContext& context, const CallArguments&) {
  std::string reading = TRY(context.host.now());
  return Value::text(std::move(reading));
}

ValueResult builtin_hash(EvalContext&, const CallArguments& args) {
  const std::string text = TRY(arg(args, "hash", 0, "x"))->to_text();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // SHA-256 over memory only fails when libcrypto cannot allocate its context; report it rather than crash.
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    return err(builtin_error("`hash` could not compute a SHA-256 digest"));
  }
  return Value::text(lower_hex(digest, length));
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

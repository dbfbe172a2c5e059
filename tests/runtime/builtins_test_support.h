// A small evaluation context for calling built-ins directly: a scripted effect host and a chars4 tokenizer,
// with short builders for values and call arguments.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "runtime/builtins.h"
#include "tokens/tokenizer.h"
#include "scripted_host.h"

namespace dravelin::runtime::testing {

using tokens::BpeEncoding;
using tokens::TokenizerKind;

inline Value num(double n) { return Value::number(n); }
inline Value prob(double p) { return Value::prob(p); }
inline Value txt(std::string s) { return Value::text(std::move(s)); }
inline Value boolean(bool b) { return Value::boolean(b); }
inline Value list(List items) { return Value::list(std::move(items)); }
inline Value rec(Record entries) { return Value::record(std::move(entries)); }

inline CallArguments args(List positional, Record named = {}) {
  CallArguments a;
  a.positional = std::move(positional);
  for (auto& [name, value] : named) a.named.emplace(name, std::move(value));
  return a;
}

inline CallArguments named(Record entries) { return args({}, std::move(entries)); }

// One failing call and the exact message it must give.
struct FailureCase {
  std::string function;
  CallArguments arguments;
  std::string message;
};

inline void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.function << " -> " << c.message; }

// One successful call and the value it must give (compared structurally).
struct ResultCase {
  std::string function;
  CallArguments arguments;
  Value expected;
};

inline void PrintTo(const ResultCase& c, std::ostream* out) { *out << c.function << " -> " << c.expected; }

class BuiltinsTest : public ::testing::Test {
 protected:
  ValueResult call(std::string_view name, const CallArguments& arguments) {
    EvalContext context{host, *tokenizer};
    return call_builtin(context, name, arguments);
  }

  // The call must fail as every built-in failure does: a spanless, non-retryable type error.
  void expect_failure(const FailureCase& c) {
    SCOPED_TRACE(c.function + ": " + c.message);
    ValueResult result = call(c.function, c.arguments);
    ASSERT_FALSE(result.ok()) << "gave " << result.value();
    EXPECT_EQ(result.error().message, c.message);
    EXPECT_EQ(result.error().code, RuntimeErrorCode::TypeError);
    EXPECT_FALSE(result.error().retryable);
    EXPECT_TRUE(result.error().span.is_zero());
  }

  void expect_result(const ResultCase& c) {
    SCOPED_TRACE(c.function + " -> " + debug_string(c.expected));
    ValueResult result = call(c.function, c.arguments);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), c.expected);
  }

  ScriptedHost host;
  std::unique_ptr<Tokenizer> tokenizer = TokenizerKind::chars4().tokenizer();
};

}  // namespace dravelin::runtime::testing

// Expression evaluation: one IR expression to a value, every outside effect handed to an `EffectHost`.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "ir/nodes.h"
#include "runtime/runtime_error.h"
#include "runtime/tokenizer.h"
#include "runtime/value.h"
#include "syntax/diagnostic.h"
#include "syntax/unit_enums.h"

namespace dravelin::runtime {

// The arguments of a call or verb call: positional in order; named by name, a repeated name keeping the later
// value.
struct CallArguments {
  std::vector<Value> positional;
  std::map<std::string, Value, std::less<>> named;
  friend bool operator==(const CallArguments&, const CallArguments&) = default;
};

// What a verb is called on: a capability's name, or a handle.
using CallTarget = std::variant<std::string, Handle>;

// One `log` line as evaluation hands it to the host.
struct JudgmentLogEntry {
  std::string message;
  std::string task;  // empty when made by evaluation
  std::map<std::string, Value, std::less<>> fields;
  syntax::Span source;
  syntax::LogLevel level = syntax::LogLevel::Info;
};

class Scopes;

using ValueResult = Result<Value, RuntimeError>;

// Every outside effect of an expression. The slot order is fixed: judge, call, call_verb, focus, trail, now,
// random, log.
class EffectHost {
 public:
  virtual ~EffectHost() = default;
  virtual ValueResult judge(const ir::Judge& judge, Scopes& scopes) = 0;
  virtual ValueResult call(std::string_view callee, CallArguments args) = 0;
  virtual ValueResult call_verb(const CallTarget& target, std::string_view verb, CallArguments args) = 0;
  virtual ValueResult focus(const Value& text, std::string_view purpose, double max) = 0;
  virtual ValueResult trail(uint64_t count) = 0;
  virtual Result<std::string, RuntimeError> now() = 0;
  virtual Result<double, RuntimeError> random() = 0;
  virtual Result<Unit, RuntimeError> log(JudgmentLogEntry entry) = 0;
};

struct EvalContext {
  EffectHost& host;
  const Tokenizer& tokenizer;
};

// The variables of one body: frames innermost last (never empty), the run's inputs (read only) and the names of
// the capabilities visible to the module.
class Scopes {
 public:
  using Frame = std::map<std::string, Value, std::less<>>;

  Scopes();
  explicit Scopes(Frame inputs);

  Scopes& with_capabilities(const std::vector<std::string>& names);

  const Value* lookup(std::string_view name) const;
  void define(std::string name, Value value);
  void assign(std::string name, Value value);
  Result<Unit, RuntimeError> assign_path(std::string_view root, const std::vector<std::string>& path, Value value);

  void push_frame();
  void pop_frame();

  const std::vector<Frame>& frames() const { return frames_; }
  const Frame& inputs() const { return inputs_; }
  const std::set<std::string, std::less<>>& capabilities() const { return capabilities_; }

 private:
  std::vector<Frame> frames_;
  Frame inputs_;
  std::set<std::string, std::less<>> capabilities_;
};

ValueResult eval_expr(EvalContext& context, const ir::Expr& expr, Scopes& scopes);

// Binds loop or comprehension names to one element.
Result<Unit, RuntimeError> unpack(Scopes& scopes, const std::vector<std::string>& names, const Value& value);

}  // namespace dravelin::runtime

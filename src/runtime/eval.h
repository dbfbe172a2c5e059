// Expression evaluation: one IR expression to a value, every outside effect handed to an `EffectHost`.
//
// Evaluation binds variables only in the `Scopes` it is given (comprehension names, in frames it pushes and pops
// itself); a judgment, a call of a unit, a capability verb, `focus`, `trail`, a clock reading, a random draw and a
// `log` line all go through the host. Every failure raised here is a non-retryable `type_error`; failures of the
// host pass through unchanged, apart from a missing span being filled in at the few places listed with
// `eval_expr`.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "ir/nodes.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"
#include "runtime/value.h"
#include "syntax/diagnostic.h"
#include "syntax/unit_enums.h"

namespace dravelin::runtime {

using tokens::Tokenizer;

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
  friend bool operator==(const JudgmentLogEntry&, const JudgmentLogEntry&) = default;
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

// The host under which the texts of a question are evaluated: a question is pure, so every effect is refused
// with a `type_error`. Only the refusal of `log` carries a span (the log expression's); the others get theirs on
// the way out.
class QuestionHost final : public EffectHost {
 public:
  ValueResult judge(const ir::Judge& judge, Scopes& scopes) override;
  ValueResult call(std::string_view callee, CallArguments args) override;
  ValueResult call_verb(const CallTarget& target, std::string_view verb, CallArguments args) override;
  ValueResult focus(const Value& text, std::string_view purpose, double max) override;
  ValueResult trail(uint64_t count) override;
  Result<std::string, RuntimeError> now() override;
  Result<double, RuntimeError> random() override;
  Result<Unit, RuntimeError> log(JudgmentLogEntry entry) override;
};

// Borrowed for one evaluation. `depth` counts the expressions being evaluated on the way down from the outermost
// one; it starts at 0 and evaluation restores it on return.
struct EvalContext {
  EffectHost& host;
  const Tokenizer& tokenizer;
  uint32_t depth = 0;
};

// How deep expressions may nest before evaluation refuses them. Compiled programs stay far below it (the parser
// bounds nesting); it protects the stack from IR built elsewhere, such as the program carried by a recording.
inline constexpr uint32_t kMaxEvalDepth = 256;

// A name as the program writes it: a string the IR owns for the whole run. Scopes remember where each such name
// was found, keyed by the string's address and checked against its text, so that reading or binding it again
// costs no search. Any other name goes through the by-name overloads.
struct WrittenName {
  const std::string& text;
};

// Where the variables of one body live: every name the body binds or reads gets a slot, numbered in the order
// they were first met. Shared by every `Scopes` of that body during a run (calls of one def, say), which also
// recycle their slot vectors through it. Defined in eval_scopes.cpp.
class ScopeLayout;

// The variables of one body: frames innermost last (never empty), the run's inputs (read only) and the names of
// the capabilities visible to the module.
//
// A variable is a slot of the body's layout holding its innermost binding and the frame that made it; defining a
// name already bound by an outer frame saves that binding on the innermost frame's undo list, and popping the
// frame drops what it bound and puts back what it hid.
class Scopes {
 public:
  using Frame = std::map<std::string, Value, std::less<>>;
  using Capabilities = std::set<std::string, std::less<>>;

  // One empty frame, no inputs, no capabilities.
  Scopes();
  explicit Scopes(Frame inputs);
  // Inputs shared with other scopes (a run's inputs, read by every body it executes) instead of copied.
  explicit Scopes(std::shared_ptr<const Frame> inputs);
  // The inputs a layout was made for, with its slots.
  explicit Scopes(std::shared_ptr<ScopeLayout> layout);
  Scopes(const Scopes& other);
  Scopes(Scopes&& other) noexcept;
  Scopes& operator=(const Scopes& other);
  Scopes& operator=(Scopes&& other) noexcept;
  ~Scopes();

  // A layout for the bodies run with these inputs; one per body keeps each body's slots few and dense.
  static std::shared_ptr<ScopeLayout> make_layout(std::shared_ptr<const Frame> inputs);

  // Replaces the capability set by these names.
  Scopes& with_capabilities(const std::vector<std::string>& names);
  // Shares a capability set made once.
  Scopes& with_capabilities(std::shared_ptr<const Capabilities> capabilities);

  // The innermost frame's binding of the name, else the input of that name, else nullptr. Capabilities are not
  // consulted.
  const Value* lookup(std::string_view name) const;
  const Value* lookup(WrittenName name) const;
  // The innermost binding of the name in a frame, inputs left out; nullptr when no frame binds it.
  const Value* variable(std::string_view name) const;
  // Binds the name in the innermost frame, replacing a binding there.
  void define(std::string_view name, Value value);
  void define(WrittenName name, Value value);
  // Rebinds the name in the innermost frame that binds it, else defines it in the innermost frame. Inputs are not
  // consulted: assigning to an input's name makes a variable that hides it.
  void assign(std::string_view name, Value value);
  void assign(WrittenName name, Value value);
  // Sets the field at `path` inside the record held by the variable `root`, creating the last field when absent.
  // Spanless `type_error`s; on failure nothing has changed.
  Result<Unit, RuntimeError> assign_path(std::string_view root, const std::vector<std::string>& path, Value value);
  Result<Unit, RuntimeError> assign_path(WrittenName root, const std::vector<std::string>& path, Value value);

  void push_frame();
  // Pops the innermost frame while more than one remains; the outermost frame is never popped.
  void pop_frame();

  bool is_capability(std::string_view name) const { return capabilities_->count(name) != 0; }

  // The frames as maps, outermost first: a copy made for inspection, not for the hot path.
  std::vector<Frame> frames() const;
  size_t frame_count() const { return marks_.size() + 1; }
  const Frame& inputs() const { return *inputs_; }
  const Capabilities& capabilities() const { return *capabilities_; }

 private:
  friend class ScopeLayout;
  static constexpr uint32_t kUnbound = UINT32_MAX;
  struct Binding {
    Value value;
    uint32_t depth = kUnbound;  // the frame that bound it, outermost 0
  };
  // A binding hidden or a slot first bound by an inner frame, put back when that frame is popped.
  struct Saved {
    uint32_t slot;
    uint32_t depth;
    Value value;
  };

  uint32_t depth() const { return static_cast<uint32_t>(marks_.size()); }
  Binding& slot(uint32_t index);
  const Binding* bound(uint32_t index) const;
  const Value* input(uint32_t index) const;
  void define_slot(uint32_t index, Value value);
  void assign_slot(uint32_t index, Value value);
  Result<Unit, RuntimeError> assign_path_slot(std::optional<uint32_t> index, std::string_view root,
                                              const std::vector<std::string>& path, Value value);

  std::shared_ptr<ScopeLayout> layout_;  // never null
  std::shared_ptr<const Frame> inputs_;  // never null; the layout's
  std::shared_ptr<const Capabilities> capabilities_;  // never null
  std::vector<Binding> slots_;  // by slot; may be shorter than the layout, when slots were added since
  std::vector<Saved> saved_;
  std::vector<uint32_t> marks_;  // per frame inside the outermost: where its entries of `saved_` start
};

// Evaluates one expression. Sub-expressions go left to right and the first failure is the result.
//
// Errors raised by an expression carry its span. A spanless error receives a span only at these points: inside a
// text's interpolation (the text's span), from reading a field (the field expression's), from indexing (the index
// expression's), from unpacking in a comprehension (the comprehension's) and from a built-in, the host's `now`
// and `random` included (the call's). Everywhere else errors pass outward unchanged.
ValueResult eval_expr(EvalContext& context, const ir::Expr& expr, Scopes& scopes);

// A call expression: its arguments left to right, then its callee, resolved as a built-in, a unit (through the
// host's `call`), a capability verb or a handle verb. Part of `eval_expr`.
ValueResult eval_call(EvalContext& context, const ir::Expr::Call& call, Scopes& scopes);

// Binds loop or comprehension names to one element: one name takes the whole value; several take the items of a
// list of exactly that length. Spanless `type_error` otherwise.
Result<Unit, RuntimeError> unpack(Scopes& scopes, const std::vector<std::string>& names, const Value& value);
// The same for names the IR owns (a loop's or a comprehension's).
Result<Unit, RuntimeError> unpack_written(Scopes& scopes, const std::vector<std::string>& names, const Value& value);

// A field of a value, as `target.name` reads it. Spanless `type_error` when the kind has no such field.
ValueResult read_field(const Value& value, std::string_view name);

// An element of a list or an entry of a record, as `target[index]` reads it. Spanless `type_error`s.
ValueResult index_value(const Value& target, const Value& index);

// A text evaluated from an expression, with the name it came with.
struct NamedText {
  std::optional<std::string> name;
  std::string text;
  friend bool operator==(const NamedText&, const NamedText&) = default;
};

// The situations of a `rate` question's levels, each evaluated in order and rendered with `Value::to_text`, kept
// with the level's name. The first failure ends the list and is the result.
Result<std::vector<NamedText>, RuntimeError> eval_exprs_to_texts(EvalContext& context,
                                                                 const std::vector<ir::RateLevel>& levels,
                                                                 Scopes& scopes);

// The error with `span` when it has none of its own.
RuntimeError with_span_if_missing(RuntimeError error, const syntax::Span& span);

}  // namespace dravelin::runtime

// The IR's root record, the program's declarations and its four kinds of unit.
//
// The same conventions as code.h hold: plain data, owned children, declared field order is the format's order,
// structural equality defined out of line. Names that refer to units, states, capabilities or variables are
// just texts, compared byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ir/code.h"

namespace dravelin::ir {

// The IR format version the compiler writes and the runtime accepts.
inline constexpr std::string_view kIrVersion = "0.1";

#define DRAVELIN_IR_EQUALITY(T) friend bool operator==(const T&, const T&);

// ---------------------------------------------------------------------------------------------------------------
// Declarations.

struct Input {
  std::string name;
  Shape shape;
  Span span;
  DRAVELIN_IR_EQUALITY(Input)
};

struct Output {
  std::string name;
  Span span;
  DRAVELIN_IR_EQUALITY(Output)
};

struct ToolSignature {
  std::string name;
  std::vector<std::string> params;
  ToolReturnType returns = ToolReturnType::None;
  Span span;
  DRAVELIN_IR_EQUALITY(ToolSignature)
};

struct Need {
  std::string name;
  NeedKind kind = NeedKind::Agent;
  std::vector<ToolSignature> signatures;  // only a tool declared with a signature block has any
  Span span;
  DRAVELIN_IR_EQUALITY(Need)
};

// One binding of a `with` clause: the module's capability `inner` is served by the importer's `outer`.
struct NeedMapping {
  std::string inner;
  std::string outer;
  NeedKind kind = NeedKind::Agent;
  DRAVELIN_IR_EQUALITY(NeedMapping)
};

struct Module {
  std::string alias;                // qualified; empty for the root program, "std" for the prelude
  std::string program;              // the module's own program name
  std::optional<std::string> path;  // as written in the `use`; absent for the root and the prelude
  std::vector<NeedMapping> mapping;
  Span span;
  DRAVELIN_IR_EQUALITY(Module)
};

// ---------------------------------------------------------------------------------------------------------------
// Units.

struct JudgmentResult {
  std::string name;
  Judge question;  // request group 0: a judgment's results are asked together
  Span span;
  DRAVELIN_IR_EQUALITY(JudgmentResult)
};

struct JudgmentLog {
  uint32_t after = 0;  // how many result lines precede the log line
  Expr log;            // always a `Log`
  Span span;
  DRAVELIN_IR_EQUALITY(JudgmentLog)
};

struct Judgment {
  std::string name;
  std::vector<std::string> params;
  std::vector<JudgmentResult> results;
  std::vector<JudgmentLog> logs;
  std::string shape_hash;
  Span span;
  DRAVELIN_IR_EQUALITY(Judgment)
};

struct DefParam {
  std::string name;
  std::optional<Expr> default_value;  // the format's `default`
  DRAVELIN_IR_EQUALITY(DefParam)
};

// An absent limit means no limit of that kind.
struct Budget {
  std::optional<double> calls;
  std::optional<double> minutes;
  std::optional<double> usd;
  std::optional<double> steps;
  DRAVELIN_IR_EQUALITY(Budget)
};

struct NamedNumber {
  std::string name;
  double value = 0;
  DRAVELIN_IR_EQUALITY(NamedNumber)
};

// An absent threshold takes no part in decisions.
struct Thresholds {
  std::optional<double> risk_confirm;
  std::optional<double> min_confidence;
  std::optional<double> stop_confidence;
  std::optional<double> done;
  std::vector<NamedNumber> other;  // in source order, repeated names included
  DRAVELIN_IR_EQUALITY(Thresholds)
};

struct Task {
  std::string name;
  std::vector<DefParam> params;
  Budget budget;
  Thresholds thresholds;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(Task)
};

struct Def {
  std::string name;
  std::vector<DefParam> params;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(Def)
};

struct Transition {
  std::string event;
  Expr description;
  std::string target;         // a state of the same machine
  std::optional<Expr> when;   // the guard
  bool risky = false;
  std::vector<Stmt> body;     // the action
  Span span;
  DRAVELIN_IR_EQUALITY(Transition)
};

struct MachineState {
  std::string name;  // never qualified
  bool done = false;
  std::vector<Transition> transitions;
  Span span;
  DRAVELIN_IR_EQUALITY(MachineState)
};

struct Machine {
  std::string name;
  std::vector<DefParam> params;
  Budget budget;
  Thresholds thresholds;
  std::optional<Expr> goal;
  std::string initial;  // empty only when the machine has no states
  std::vector<ShapeField> observe;
  std::vector<MachineState> states;
  std::string shape_hash;
  Span span;
  DRAVELIN_IR_EQUALITY(Machine)
};

// ---------------------------------------------------------------------------------------------------------------
// The program.

// Unit names are final: units of the root program keep their names, all others carry their module's qualified
// alias (`std.stuck`, `m.main`). The unit lists run module by module in the order of `modules`.
struct Ir {
  std::string ir_version;
  std::string program;
  std::vector<Input> inputs;
  std::vector<Output> outputs;
  std::vector<Need> needs;
  std::vector<Module> modules;
  std::vector<Judgment> judgments;
  std::vector<Task> tasks;
  std::vector<Machine> machines;
  std::vector<Def> defs;
  std::optional<std::string> file;
  Span span;

  // Copying, moving and destroying a whole program touch every node type; defined once in lookup.cpp rather
  // than in every file that holds an `Ir`.
  Ir();
  Ir(const Ir&);
  Ir(Ir&&) noexcept;
  Ir& operator=(const Ir&);
  Ir& operator=(Ir&&) noexcept;
  ~Ir();

  // The first unit whose name equals `name` byte for byte, or null. Names are compared whole, so the bare name
  // of a library unit does not find it.
  const Task* find_task(std::string_view name) const;
  const Machine* find_machine(std::string_view name) const;
  const Judgment* find_judgment(std::string_view name) const;

  // A program of the current version with that name and nothing in it: no file, the zero span.
  static Ir empty_named(std::string_view name);

  DRAVELIN_IR_EQUALITY(Ir)
};

#undef DRAVELIN_IR_EQUALITY

}  // namespace dravelin::ir

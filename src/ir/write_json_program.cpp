// The JSON writers of the document root, spans and positions, the declarations, tasks, functions and machines,
// and the entry points of the three output forms.
#include <string>

#include "ir/write_json.h"
#include "ir/write_json_fields.h"

namespace dravelin::ir {

namespace e = json_entry;

template <class Out>
void write_json(const Ir& value, Out& out) {
  out.begin_object();
  out.field_string("ir_version", value.ir_version);
  out.field_string("program", value.program);
  e::list(out, "inputs", value.inputs);
  e::list(out, "outputs", value.outputs);
  e::list(out, "needs", value.needs);
  e::nonempty_list(out, "modules", value.modules);
  e::list(out, "judgments", value.judgments);
  e::list(out, "tasks", value.tasks);
  e::nonempty_list(out, "machines", value.machines);
  e::list(out, "defs", value.defs);
  e::opt_string(out, "file", value.file);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const Span& value, Out& out) {
  out.begin_object();
  e::record(out, "start", value.start);
  e::record(out, "end", value.end);
  out.end_object();
}

template <class Out>
void write_json(const Pos& value, Out& out) {
  out.begin_object();
  out.field_u32("line", value.line);
  out.field_u32("column", value.column);
  out.field_u32("offset", value.offset);
  out.end_object();
}

template <class Out>
void write_json(const Input& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::record(out, "shape", value.shape);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const Output& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const Need& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::unit_enum(out, "kind", value.kind);
  e::nonempty_list(out, "signatures", value.signatures);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const ToolSignature& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::nonempty_string_list(out, "params", value.params);
  e::unit_enum(out, "returns", value.returns);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const Module& value, Out& out) {
  out.begin_object();
  out.field_string("alias", value.alias);
  out.field_string("program", value.program);
  e::opt_string(out, "path", value.path);
  e::nonempty_list(out, "mapping", value.mapping);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const NeedMapping& value, Out& out) {
  out.begin_object();
  out.field_string("inner", value.inner);
  out.field_string("outer", value.outer);
  e::unit_enum(out, "kind", value.kind);
  out.end_object();
}

// A task without parameters has no `params` key, while a function always has one: the two records differ here.
template <class Out>
void write_json(const Task& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::nonempty_list(out, "params", value.params);
  e::record(out, "budget", value.budget);
  e::record(out, "thresholds", value.thresholds);
  e::list(out, "body", value.body);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const Def& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::list(out, "params", value.params);
  e::list(out, "body", value.body);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const DefParam& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::opt_record(out, "default", value.default_value);
  out.end_object();
}

template <class Out>
void write_json(const Budget& value, Out& out) {
  out.begin_object();
  e::opt_f64(out, "calls", value.calls);
  e::opt_f64(out, "minutes", value.minutes);
  e::opt_f64(out, "usd", value.usd);
  e::opt_f64(out, "steps", value.steps);
  out.end_object();
}

template <class Out>
void write_json(const Thresholds& value, Out& out) {
  out.begin_object();
  e::opt_f64(out, "risk_confirm", value.risk_confirm);
  e::opt_f64(out, "min_confidence", value.min_confidence);
  e::opt_f64(out, "stop_confidence", value.stop_confidence);
  e::opt_f64(out, "done", value.done);
  e::nonempty_list(out, "other", value.other);
  out.end_object();
}

template <class Out>
void write_json(const NamedNumber& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::f64(out, "value", value.value);
  out.end_object();
}

template <class Out>
void write_json(const Machine& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::nonempty_list(out, "params", value.params);
  e::record(out, "budget", value.budget);
  e::record(out, "thresholds", value.thresholds);
  e::opt_record(out, "goal", value.goal);
  out.field_string("initial", value.initial);
  e::nonempty_list(out, "observe", value.observe);
  e::list(out, "states", value.states);
  out.field_string("shape_hash", value.shape_hash);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const MachineState& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  out.field_bool("done", value.done);
  e::nonempty_list(out, "transitions", value.transitions);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const Transition& value, Out& out) {
  out.begin_object();
  out.field_string("event", value.event);
  e::record(out, "description", value.description);
  out.field_string("target", value.target);
  e::opt_record(out, "when", value.when);
  out.field_bool("risky", value.risky);
  e::nonempty_list(out, "body", value.body);
  e::span(out, value.span);
  out.end_object();
}

DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Ir)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Span)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Pos)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Input)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Output)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Need)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(ToolSignature)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Module)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(NeedMapping)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Task)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Def)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(DefParam)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Budget)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Thresholds)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(NamedNumber)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Machine)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(MachineState)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Transition)

std::string ir_program_to_pretty_json(const Ir& ir) {
  std::string text;
  json::Writer out(text, json::Layout::Pretty, json::FloatStyle::Ir);
  write_json(ir, out);
  return text;
}

json::Value ir_program_to_json_value(const Ir& ir) {
  json::ValueBuilder out;
  write_json(ir, out);
  return out.take();
}

json::Value to_json_value(const Span& span) {
  json::ValueBuilder out;
  write_json(span, out);
  return out.take();
}

json::Value to_json_value(const Pos& pos) {
  json::ValueBuilder out;
  write_json(pos, out);
  return out.take();
}

json::Value to_json_value(syntax::ast::BudgetKey key) { return json::Value(to_json_key(key)); }

std::string_view to_json_key(syntax::ast::BudgetKey key) { return syntax::enum_name(key); }

}  // namespace dravelin::ir

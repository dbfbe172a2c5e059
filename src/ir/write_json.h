// The IR as JSON: one writer per IR type, written once against an output and used with all three output forms.
// The writers are driven by each type's form (json_forms.h), the same description that drives the reader
// (read_json.h), so that the two cannot drift apart.
//
// An output is either a `json::Writer` (the pretty or the compact text, by the writer's layout, appended straight
// into the caller's buffer) or a `json::ValueBuilder` (the value form: a tree whose objects keep their entries in
// key-byte order). Because every form goes through the same writer, the forms agree key for key: the same keys
// (the text forms also in the same order), tag keys, variant names, unit-enum names and omissions.
//
// The format, for every type:
//   - a record is an object with its fields as keys in declared order; a field is always written, omitted when
//     absent (an optional holding nothing) or omitted when empty (a list without items), as each writer says.
//     Absence is never written as null;
//   - a tagged union is one object whose first entry is the tag key (`node`, `stmt`, `shape`, `verb`, `policy`,
//     `step`, `part`) holding the variant's snake_case name, followed by the variant's own fields; the `Expr`
//     variant "judge" carries the question's entries in the same object;
//   - unit enums are their names;
//   - `line`, `column`, `offset`, `request_group` and `after` are integers; every other number is a float in the
//     IR float text form ("10.0", "0.1", "1e-6", "1e+16"), and a float that is not finite is null. The text form
//     holds whatever float style the writer was made with, so an IR nested in a recording line reads exactly as
//     `compile` prints it.
//
// Writing cannot fail: the outputs are memory buffers and value trees.
#pragma once

#include <string>
#include <string_view>

#include "ir/nodes.h"
#include "json/value.h"
#include "json/writer.h"
#include "syntax/unit_enums.h"

namespace dravelin::ir {

// The whole document in the pretty form (two-space indentation), without a newline after the final "}".
std::string ir_program_to_pretty_json(const Ir& ir);

// The whole document in the value form.
json::Value ir_program_to_json_value(const Ir& ir);

// The per-type writers. Each writes exactly one JSON value at the output's current place (after a key, as a
// list item, or as the whole document). `Out` is `json::Writer` or `json::ValueBuilder`; both are instantiated
// in the writers' own sources.
template <class Out> void write_json(const Ir& value, Out& out);
template <class Out> void write_json(const Span& value, Out& out);
template <class Out> void write_json(const Pos& value, Out& out);

// Declarations, tasks and machines.
template <class Out> void write_json(const Input& value, Out& out);
template <class Out> void write_json(const Output& value, Out& out);
template <class Out> void write_json(const Need& value, Out& out);
template <class Out> void write_json(const ToolSignature& value, Out& out);
template <class Out> void write_json(const Module& value, Out& out);
template <class Out> void write_json(const NeedMapping& value, Out& out);
template <class Out> void write_json(const Task& value, Out& out);
template <class Out> void write_json(const Def& value, Out& out);
template <class Out> void write_json(const DefParam& value, Out& out);
template <class Out> void write_json(const Budget& value, Out& out);
template <class Out> void write_json(const Thresholds& value, Out& out);
template <class Out> void write_json(const NamedNumber& value, Out& out);
template <class Out> void write_json(const Machine& value, Out& out);
template <class Out> void write_json(const MachineState& value, Out& out);
template <class Out> void write_json(const Transition& value, Out& out);

// Expressions and statements.
template <class Out> void write_json(const Expr& value, Out& out);
template <class Out> void write_json(const Stmt& value, Out& out);
template <class Out> void write_json(const TextPart& value, Out& out);
template <class Out> void write_json(const Arg& value, Out& out);
template <class Out> void write_json(const RecordField& value, Out& out);
template <class Out> void write_json(const Branch& value, Out& out);
template <class Out> void write_json(const GateArm& value, Out& out);

// Judgments and shapes.
template <class Out> void write_json(const Judgment& value, Out& out);
template <class Out> void write_json(const JudgmentResult& value, Out& out);
template <class Out> void write_json(const JudgmentLog& value, Out& out);
template <class Out> void write_json(const Judge& value, Out& out);
template <class Out> void write_json(const Subject& value, Out& out);
template <class Out> void write_json(const SubjectStep& value, Out& out);
template <class Out> void write_json(const JudgeVerb& value, Out& out);
template <class Out> void write_json(const PickLabel& value, Out& out);
template <class Out> void write_json(const RateLevel& value, Out& out);
template <class Out> void write_json(const Detail& value, Out& out);
template <class Out> void write_json(const Shape& value, Out& out);
template <class Out> void write_json(const FieldShape& value, Out& out);
template <class Out> void write_json(const ShapeField& value, Out& out);
template <class Out> void write_json(const ShapePolicy& value, Out& out);

// Spans and positions in the value form, for the records of other parts (diagnostics, recording events, pause
// records, bridge messages) that carry one: `{"end":{...},"start":{...}}` once printed.
json::Value to_json_value(const Span& span);
json::Value to_json_value(const Pos& pos);

// A budget key in the value form: its name, never a number ("calls", "minutes", "usd", "steps"). `to_json_key`
// is the name as an object key; an object keyed by budget keys prints them in byte order, so "steps" comes
// before "usd".
json::Value to_json_value(syntax::ast::BudgetKey key);
std::string_view to_json_key(syntax::ast::BudgetKey key);

}  // namespace dravelin::ir

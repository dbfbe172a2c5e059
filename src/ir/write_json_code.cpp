// The JSON writers of expressions, statements and their parts.
#include <variant>

#include "ir/write_json.h"
#include "ir/write_json_fields.h"

namespace dravelin::ir {

namespace e = json_entry;

namespace {

// ---- the entries of each `Expr` variant after its tag; `span` always last ----

template <class Out>
void entries(const Expr::Number& v, Out& out) {
  e::f64(out, "value", v.value);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Text& v, Out& out) {
  e::list(out, "parts", v.parts);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Bool& v, Out& out) {
  out.field_bool("value", v.value);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::None& v, Out& out) {
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Name& v, Out& out) {
  out.field_string("name", v.name);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::List& v, Out& out) {
  e::list(out, "items", v.items);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Record& v, Out& out) {
  e::list(out, "fields", v.fields);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Field& v, Out& out) {
  e::record(out, "target", v.target);
  out.field_string("name", v.name);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Index& v, Out& out) {
  e::record(out, "target", v.target);
  e::record(out, "index", v.index);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Call& v, Out& out) {
  e::record(out, "callee", v.callee);
  e::list(out, "args", v.args);
  e::unit_enum(out, "form", v.form);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Unary& v, Out& out) {
  e::unit_enum(out, "op", v.op);
  e::record(out, "operand", v.operand);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Binary& v, Out& out) {
  e::unit_enum(out, "op", v.op);
  e::record(out, "left", v.left);
  e::record(out, "right", v.right);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Is& v, Out& out) {
  e::record(out, "target", v.target);
  out.field_string("label", v.label);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Comprehension& v, Out& out) {
  e::record(out, "expr", v.expr);
  out.field_string_list("names", v.names);
  e::record(out, "iterable", v.iterable);
  e::opt_record(out, "test", v.test);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Focus& v, Out& out) {
  e::record(out, "text", v.text);
  e::record(out, "on", v.on);
  e::f64(out, "max", v.max);
  e::span(out, v.span);
}
template <class Out>
void entries(const Expr::Trail& v, Out& out) {
  e::f64(out, "count", v.count);
  e::span(out, v.span);
}
// The question's own entries, its span included, in the expression's object: no nested object, no second span.
template <class Out>
void entries(const Expr::Judge& v, Out& out) {
  write_judge_entries(*v.judge, out);
}
template <class Out>
void entries(const Expr::Log& v, Out& out) {
  e::unit_enum(out, "level", v.level);
  e::record(out, "value", v.value);
  e::nonempty_list(out, "fields", v.fields);
  e::span(out, v.span);
}

// ---- the entries of each `Stmt` variant after its tag ----

template <class Out>
void entries(const Stmt::Assign& v, Out& out) {
  out.field_string("root", v.root);
  out.field_string_list("path", v.path);
  e::record(out, "value", v.value);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Expr& v, Out& out) {
  e::record(out, "expr", v.expr);
  e::span(out, v.span);
}
// An `else` that holds nothing still differs from no `else`: the present empty list is written as `[]`.
template <class Out>
void entries(const Stmt::If& v, Out& out) {
  e::list(out, "branches", v.branches);
  e::opt_list(out, "otherwise", v.otherwise);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::For& v, Out& out) {
  out.field_string_list("names", v.names);
  e::record(out, "iterable", v.iterable);
  e::list(out, "body", v.body);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Loop& v, Out& out) {
  e::f64(out, "max", v.max);
  e::list(out, "body", v.body);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Until& v, Out& out) {
  e::record(out, "test", v.test);
  out.field_bool("verify", v.verify);
  e::f64(out, "max", v.max);
  e::list(out, "body", v.body);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Gate& v, Out& out) {
  e::opt_record(out, "risk", v.risk);
  e::opt_record(out, "confidence", v.confidence);
  e::opt_record(out, "done", v.done);
  e::list(out, "arms", v.arms);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Shape& v, Out& out) {
  out.field_string("target", v.target);
  out.field_bool("strict", v.strict);
  e::list(out, "fields", v.fields);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Return& v, Out& out) {
  e::opt_record(out, "value", v.value);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Continue& v, Out& out) {
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Break& v, Out& out) {
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Stop& v, Out& out) {
  e::record(out, "reason", v.reason);
  e::span(out, v.span);
}
template <class Out>
void entries(const Stmt::Escalate& v, Out& out) {
  e::record(out, "reason", v.reason);
  e::span(out, v.span);
}

// ---- `TextPart` variants (no span) ----

template <class Out>
void entries(const TextPart::Literal& v, Out& out) {
  out.field_string("value", v.value);
}
template <class Out>
void entries(const TextPart::Interpolation& v, Out& out) {
  e::record(out, "expr", v.expr);
}

// One tagged object: the tag entry first, then the variant's entries.
template <class Union, class Out>
void write_tagged(const Union& value, Out& out) {
  out.begin_tagged_object(VariantNames<Union>::tag, variant_name(value));
  std::visit([&out](const auto& variant) { entries(variant, out); }, value.node);
  out.end_object();
}

}  // namespace

template <class Out>
void write_json(const Expr& value, Out& out) {
  write_tagged(value, out);
}

template <class Out>
void write_json(const Stmt& value, Out& out) {
  write_tagged(value, out);
}

template <class Out>
void write_json(const TextPart& value, Out& out) {
  write_tagged(value, out);
}

template <class Out>
void write_json(const Arg& value, Out& out) {
  out.begin_object();
  e::opt_string(out, "name", value.name);
  e::record(out, "value", value.value);
  out.end_object();
}

template <class Out>
void write_json(const RecordField& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::record(out, "value", value.value);
  out.end_object();
}

template <class Out>
void write_json(const Branch& value, Out& out) {
  out.begin_object();
  e::record(out, "test", value.test);
  e::list(out, "body", value.body);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const GateArm& value, Out& out) {
  out.begin_object();
  e::unit_enum(out, "verdict", value.verdict);
  e::list(out, "body", value.body);
  e::span(out, value.span);
  out.end_object();
}

DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Expr)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Stmt)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(TextPart)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Arg)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(RecordField)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Branch)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(GateArm)

}  // namespace dravelin::ir

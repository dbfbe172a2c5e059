// The JSON writers of judgments, questions and shapes.
#include <variant>

#include "ir/write_json.h"
#include "ir/write_json_fields.h"

namespace dravelin::ir {

namespace e = json_entry;

namespace {

// ---- `SubjectStep` variants ----

template <class Out>
void entries(const SubjectStep::Field& v, Out& out) {
  out.field_string("name", v.name);
}
template <class Out>
void entries(const SubjectStep::Index& v, Out& out) {
  e::record(out, "index", v.index);
}

// ---- `JudgeVerb` variants ----

template <class Out>
void entries(const JudgeVerb::Feels& v, Out& out) {
  e::record(out, "condition", v.condition);
}
template <class Out>
void entries(const JudgeVerb::Pick& v, Out& out) {
  e::list(out, "labels", v.labels);
}
template <class Out>
void entries(const JudgeVerb::Rate& v, Out& out) {
  e::list(out, "levels", v.levels);
}
template <class Out>
void entries(const JudgeVerb::PickAmong& v, Out& out) {
  e::record(out, "question", v.question);
  e::opt_string(out, "by", v.by);
  out.field_bool("allow_none", v.allow_none);
}

// ---- `Shape` variants ----

template <class Out>
void entries(const Shape::Type& v, Out& out) {
  e::unit_enum(out, "name", v.name);
}
template <class Out>
void entries(const Shape::Record& v, Out& out) {
  e::list(out, "fields", v.fields);
}

// ---- `ShapePolicy` variants: head and tail are the tag alone ----

template <class Out>
void entries(const ShapePolicy::Head&, Out&) {}
template <class Out>
void entries(const ShapePolicy::Tail&, Out&) {}
template <class Out>
void entries(const ShapePolicy::Focus& v, Out& out) {
  e::record(out, "on", v.on);
}

template <class Union, class Out>
void write_tagged(const Union& value, Out& out) {
  out.begin_tagged_object(VariantNames<Union>::tag, variant_name(value));
  std::visit([&out](const auto& variant) { entries(variant, out); }, value.node);
  out.end_object();
}

}  // namespace

template <class Out>
void write_json(const Judgment& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  out.field_string_list("params", value.params);
  e::list(out, "results", value.results);
  e::nonempty_list(out, "logs", value.logs);
  out.field_string("shape_hash", value.shape_hash);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const JudgmentResult& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::record(out, "question", value.question);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const JudgmentLog& value, Out& out) {
  out.begin_object();
  out.field_u32("after", value.after);
  e::record(out, "log", value.log);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_judge_entries(const Judge& value, Out& out) {
  out.field_bool("each", value.each);
  e::record(out, "subject", value.subject);
  e::record(out, "verb", value.verb);
  e::opt_record(out, "detail", value.detail);
  out.field_u32("request_group", value.request_group);
  e::span(out, value.span);
}

template <class Out>
void write_json(const Judge& value, Out& out) {
  out.begin_object();
  write_judge_entries(value, out);
  out.end_object();
}

template <class Out>
void write_json(const Subject& value, Out& out) {
  out.begin_object();
  out.field_string("root", value.root);
  e::list(out, "path", value.path);
  out.field_string("state_path", value.state_path);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const SubjectStep& value, Out& out) {
  write_tagged(value, out);
}

template <class Out>
void write_json(const JudgeVerb& value, Out& out) {
  write_tagged(value, out);
}

template <class Out>
void write_json(const PickLabel& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  out.field_bool("escape", value.escape);
  e::opt_record(out, "description", value.description);
  e::opt_record(out, "what", value.what);
  e::opt_record(out, "not_for", value.not_for);
  e::opt_record(out, "examples", value.examples);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const RateLevel& value, Out& out) {
  out.begin_object();
  e::opt_string(out, "name", value.name);
  e::record(out, "situation", value.situation);
  e::span(out, value.span);
  out.end_object();
}

// `sample` has three states: no key, `true`, and a `false` that is written.
template <class Out>
void write_json(const Detail& value, Out& out) {
  out.begin_object();
  e::opt_record(out, "focus", value.focus);
  e::opt_record(out, "note", value.note);
  e::opt_record(out, "compare", value.compare);
  e::opt_record(out, "yes", value.yes);
  e::opt_record(out, "no", value.no);
  if (value.sample) out.field_bool("sample", *value.sample);
  out.end_object();
}

template <class Out>
void write_json(const Shape& value, Out& out) {
  write_tagged(value, out);
}

template <class Out>
void write_json(const FieldShape& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::opt_record(out, "shape", value.shape);
  out.end_object();
}

template <class Out>
void write_json(const ShapeField& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  e::record(out, "value", value.value);
  e::opt_f64(out, "max", value.max);
  e::record(out, "policy", value.policy);
  e::span(out, value.span);
  out.end_object();
}

template <class Out>
void write_json(const ShapePolicy& value, Out& out) {
  write_tagged(value, out);
}

template void write_judge_entries<json::Writer>(const Judge&, json::Writer&);
template void write_judge_entries<json::ValueBuilder>(const Judge&, json::ValueBuilder&);

DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Judgment)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(JudgmentResult)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(JudgmentLog)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Judge)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Subject)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(SubjectStep)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(JudgeVerb)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(PickLabel)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(RateLevel)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Detail)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(Shape)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(FieldShape)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(ShapeField)
DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(ShapePolicy)

}  // namespace dravelin::ir

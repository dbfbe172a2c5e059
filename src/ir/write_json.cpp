// The IR's JSON writers, driven by the forms of json_forms.h: one generic walk serves every type and all three
// output forms.
#include "ir/write_json.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "ir/json_forms.h"

namespace dravelin::ir {

namespace {

using namespace json_form;

template <class Out, class T>
void write_value(const T& value, Out& out);

template <class Out, class T>
void write_fields(const T& value, Out& out);

template <class Out, class Owner, class Member>
void write_field(const Owner& owner, const Field<Owner, Member>& field, Out& out) {
  const Member& member = owner.*field.member;
  if constexpr (is_optional_v<Member>) {
    if (!member) return;
    out.key(field.key);
    write_value(*member, out);
  } else {
    if constexpr (is_vector_v<Member>) {
      if (field.presence == Presence::WhenNonempty && member.empty()) return;
    }
    out.key(field.key);
    write_value(member, out);
  }
}

template <class Out, class T>
void write_fields(const T& value, Out& out) {
  if constexpr (InlineVariant<T>) {
    write_fields(*(value.*Form<T>::inline_record), out);
  } else {
    std::apply([&](const auto&... field) { (write_field(value, field, out), ...); }, Form<T>::fields);
  }
}

template <class Out, class T>
void write_value(const T& value, Out& out) {
  if constexpr (std::is_same_v<T, std::string>) {
    out.string(value);
  } else if constexpr (std::is_same_v<T, bool>) {
    out.boolean(value);
  } else if constexpr (std::is_same_v<T, double>) {
    // The IR's own float form, whatever the writer's: an IR nested in a recording line reads as `compile` prints.
    out.f64(value, json::FloatStyle::Ir);
  } else if constexpr (std::is_same_v<T, uint32_t>) {
    out.u64(value);
  } else if constexpr (UnitEnum<T>) {
    out.string(syntax::enum_name(value));
  } else if constexpr (is_vector_v<T>) {
    out.begin_array();
    for (const auto& item : value) write_value(item, out);
    out.end_array();
  } else if constexpr (is_box_v<T>) {
    write_value(*value, out);
  } else if constexpr (TaggedUnion<T>) {
    out.begin_tagged_object(VariantNames<T>::tag, variant_name(value));
    std::visit([&out](const auto& variant) { write_fields(variant, out); }, value.node);
    out.end_object();
  } else {
    static_assert(Described<T>, "every IR type has a JSON form");
    out.begin_object();
    write_fields(value, out);
    out.end_object();
  }
}

}  // namespace

#define DRAVELIN_IR_WRITE_JSON(T)                                                  \
  template <class Out>                                                             \
  void write_json(const T& value, Out& out) {                                      \
    write_value(value, out);                                                       \
  }                                                                                \
  template void write_json<json::Writer>(const T&, json::Writer&);                 \
  template void write_json<json::ValueBuilder>(const T&, json::ValueBuilder&);

DRAVELIN_IR_WRITE_JSON(Ir)
DRAVELIN_IR_WRITE_JSON(Span)
DRAVELIN_IR_WRITE_JSON(Pos)
DRAVELIN_IR_WRITE_JSON(Input)
DRAVELIN_IR_WRITE_JSON(Output)
DRAVELIN_IR_WRITE_JSON(Need)
DRAVELIN_IR_WRITE_JSON(ToolSignature)
DRAVELIN_IR_WRITE_JSON(Module)
DRAVELIN_IR_WRITE_JSON(NeedMapping)
DRAVELIN_IR_WRITE_JSON(Task)
DRAVELIN_IR_WRITE_JSON(Def)
DRAVELIN_IR_WRITE_JSON(DefParam)
DRAVELIN_IR_WRITE_JSON(Budget)
DRAVELIN_IR_WRITE_JSON(Thresholds)
DRAVELIN_IR_WRITE_JSON(NamedNumber)
DRAVELIN_IR_WRITE_JSON(Machine)
DRAVELIN_IR_WRITE_JSON(MachineState)
DRAVELIN_IR_WRITE_JSON(Transition)
DRAVELIN_IR_WRITE_JSON(Expr)
DRAVELIN_IR_WRITE_JSON(Stmt)
DRAVELIN_IR_WRITE_JSON(TextPart)
DRAVELIN_IR_WRITE_JSON(Arg)
DRAVELIN_IR_WRITE_JSON(RecordField)
DRAVELIN_IR_WRITE_JSON(Branch)
DRAVELIN_IR_WRITE_JSON(GateArm)
DRAVELIN_IR_WRITE_JSON(Judgment)
DRAVELIN_IR_WRITE_JSON(JudgmentResult)
DRAVELIN_IR_WRITE_JSON(JudgmentLog)
DRAVELIN_IR_WRITE_JSON(Judge)
DRAVELIN_IR_WRITE_JSON(Subject)
DRAVELIN_IR_WRITE_JSON(SubjectStep)
DRAVELIN_IR_WRITE_JSON(JudgeVerb)
DRAVELIN_IR_WRITE_JSON(PickLabel)
DRAVELIN_IR_WRITE_JSON(RateLevel)
DRAVELIN_IR_WRITE_JSON(Detail)
DRAVELIN_IR_WRITE_JSON(Shape)
DRAVELIN_IR_WRITE_JSON(FieldShape)
DRAVELIN_IR_WRITE_JSON(ShapeField)
DRAVELIN_IR_WRITE_JSON(ShapePolicy)

#undef DRAVELIN_IR_WRITE_JSON

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

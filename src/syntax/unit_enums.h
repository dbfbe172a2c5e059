// The unit enums that the syntax tree and the IR share, with their names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace dravelin::syntax {

// ---------------------------------------------------------------------------------------------------------------
// The unit enums that the syntax tree shares with the IR. Each list gives the declared order and the snake_case
// name of every member in one place; lowering copies the values across unchanged, so the order is part of the
// format.

#define DRAVELIN_NEED_KINDS(X) X(Agent, "agent") X(Person, "person") X(Llm, "llm") X(Tool, "tool")
#define DRAVELIN_TOOL_RETURN_TYPES(X) \
  X(Text, "text") X(Number, "number") X(Bool, "bool") X(List, "list") X(Record, "record") X(Handle, "handle") \
  X(None, "none")
#define DRAVELIN_SHAPE_TYPE_NAMES(X) \
  X(Text, "text") X(Number, "number") X(Bool, "bool") X(List, "list") X(Record, "record")
#define DRAVELIN_UNARY_OPS(X) X(Not, "not") X(Neg, "neg")
#define DRAVELIN_BINARY_OPS(X)                                                                                    \
  X(Or, "or") X(And, "and") X(Eq, "eq") X(NotEq, "not_eq") X(Lt, "lt") X(LtEq, "lt_eq") X(Gt, "gt")            \
  X(GtEq, "gt_eq") X(Add, "add") X(Sub, "sub") X(Mul, "mul") X(Div, "div") X(Rem, "rem")
#define DRAVELIN_CALL_FORMS(X) X(Command, "command") X(Function, "function")
#define DRAVELIN_LOG_LEVELS(X) X(Debug, "debug") X(Info, "info") X(Warn, "warn") X(Error, "error")
#define DRAVELIN_VERDICTS(X) X(Proceed, "proceed") X(Confirm, "confirm") X(Escalate, "escalate") X(Stop, "stop")
#define DRAVELIN_BUDGET_KEYS(X) X(Calls, "calls") X(Minutes, "minutes") X(Usd, "usd") X(Steps, "steps")

#define DRAVELIN_ENUM_MEMBER(member, name) member,
#define DRAVELIN_ENUM_NAME(member, name) name,

// The enum, one byte, its members in list order.
#define DRAVELIN_UNIT_ENUM(Enum, LIST) \
  enum class Enum : uint8_t { LIST(DRAVELIN_ENUM_MEMBER) };

// The name table `EnumNames<Enum>::names`, indexed by the member's value.
#define DRAVELIN_UNIT_ENUM_NAMES(Enum, LIST)                                \
  template <>                                                               \
  struct EnumNames<Enum> {                                                  \
    static constexpr std::string_view names[] = {LIST(DRAVELIN_ENUM_NAME)}; \
    static constexpr std::size_t count = std::size(names);                  \
  };

template <class E>
struct EnumNames;

DRAVELIN_UNIT_ENUM(NeedKind, DRAVELIN_NEED_KINDS)
DRAVELIN_UNIT_ENUM(ToolReturnType, DRAVELIN_TOOL_RETURN_TYPES)
DRAVELIN_UNIT_ENUM(ShapeTypeName, DRAVELIN_SHAPE_TYPE_NAMES)
DRAVELIN_UNIT_ENUM(UnaryOp, DRAVELIN_UNARY_OPS)
DRAVELIN_UNIT_ENUM(BinaryOp, DRAVELIN_BINARY_OPS)
DRAVELIN_UNIT_ENUM(CallForm, DRAVELIN_CALL_FORMS)
DRAVELIN_UNIT_ENUM(LogLevel, DRAVELIN_LOG_LEVELS)
DRAVELIN_UNIT_ENUM(Verdict, DRAVELIN_VERDICTS)
namespace ast {
DRAVELIN_UNIT_ENUM(BudgetKey, DRAVELIN_BUDGET_KEYS)
}  // namespace ast

DRAVELIN_UNIT_ENUM_NAMES(NeedKind, DRAVELIN_NEED_KINDS)
DRAVELIN_UNIT_ENUM_NAMES(ToolReturnType, DRAVELIN_TOOL_RETURN_TYPES)
DRAVELIN_UNIT_ENUM_NAMES(ShapeTypeName, DRAVELIN_SHAPE_TYPE_NAMES)
DRAVELIN_UNIT_ENUM_NAMES(UnaryOp, DRAVELIN_UNARY_OPS)
DRAVELIN_UNIT_ENUM_NAMES(BinaryOp, DRAVELIN_BINARY_OPS)
DRAVELIN_UNIT_ENUM_NAMES(CallForm, DRAVELIN_CALL_FORMS)
DRAVELIN_UNIT_ENUM_NAMES(LogLevel, DRAVELIN_LOG_LEVELS)
DRAVELIN_UNIT_ENUM_NAMES(Verdict, DRAVELIN_VERDICTS)
DRAVELIN_UNIT_ENUM_NAMES(ast::BudgetKey, DRAVELIN_BUDGET_KEYS)

#undef DRAVELIN_UNIT_ENUM_NAMES
#undef DRAVELIN_UNIT_ENUM
#undef DRAVELIN_ENUM_NAME
#undef DRAVELIN_ENUM_MEMBER
#undef DRAVELIN_NEED_KINDS
#undef DRAVELIN_TOOL_RETURN_TYPES
#undef DRAVELIN_SHAPE_TYPE_NAMES
#undef DRAVELIN_UNARY_OPS
#undef DRAVELIN_BINARY_OPS
#undef DRAVELIN_CALL_FORMS
#undef DRAVELIN_LOG_LEVELS
#undef DRAVELIN_VERDICTS
#undef DRAVELIN_BUDGET_KEYS

// The snake_case name of a unit enum member.
template <class E>
constexpr std::string_view enum_name(E value) {
  return EnumNames<E>::names[static_cast<std::size_t>(value)];
}

// The member with that exact name, if any.
template <class E>
constexpr std::optional<E> enum_from_name(std::string_view name) {
  for (std::size_t i = 0; i < EnumNames<E>::count; ++i) {
    if (EnumNames<E>::names[i] == name) return static_cast<E>(i);
  }
  return std::nullopt;
}

}  // namespace dravelin::syntax

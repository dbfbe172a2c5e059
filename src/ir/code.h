// The code inside IR units: expressions, judgment questions, declared shapes, shape fields and statements.
//
// Every type is plain data with value semantics. Children are owned outright (single expression children through
// Box), so a copy duplicates the whole subtree and shares nothing with its source. Field order and variant order
// are part of the IR's format: the JSON form writes fields in declared order and tagged unions by position, and
// equality compares fields in declared order. Equality is structural (IEEE equality for numbers, so a NaN is
// unequal to itself and 0 equals -0); it is defined out of line in equality.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/box.h"
#include "syntax/diagnostic.h"
#include "syntax/unit_enums.h"

namespace dravelin::ir {

using syntax::Pos;
using syntax::Span;

// The unit enums are the syntax tree's own: lowering copies them across unchanged, and their names are the IR's
// JSON names.
using syntax::BinaryOp;
using syntax::CallForm;
using syntax::enum_from_name;
using syntax::enum_name;
using syntax::LogLevel;
using syntax::NeedKind;
using syntax::ShapeTypeName;
using syntax::ToolReturnType;
using syntax::UnaryOp;
using syntax::Verdict;

// The `request_group` of a question that the request-group pass left out of every group: it is asked alone.
inline constexpr uint32_t kNoRequestGroup = 0xFFFFFFFFu;

#define DRAVELIN_IR_EQUALITY(T) friend bool operator==(const T&, const T&);

// ---------------------------------------------------------------------------------------------------------------
// Expressions.

struct Expr;
struct Judge;
struct TextPart;
struct RecordField;
struct Arg;

// The variants of each tagged union are complete classes of their own namespace and are named through the union
// (`Expr::Call`, `Stmt::If`, `JudgeVerb::Pick`), because several unions share variant names with each other and
// with records (`Expr::Judge` and `Judge`, `Stmt::Shape` and `Shape`).
namespace expr_variant {
struct Number {
  double value = 0;
  Span span;
  DRAVELIN_IR_EQUALITY(Number)
};
struct Text {
  std::vector<TextPart> parts;  // no empty literal piece, never two literal pieces in a row
  Span span;
  DRAVELIN_IR_EQUALITY(Text)
};
struct Bool {
  bool value = false;
  Span span;
  DRAVELIN_IR_EQUALITY(Bool)
};
struct None {
  Span span;
  DRAVELIN_IR_EQUALITY(None)
};
struct Name {
  std::string name;
  Span span;
  DRAVELIN_IR_EQUALITY(Name)
};
struct List {
  std::vector<Expr> items;
  Span span;
  DRAVELIN_IR_EQUALITY(List)
};
struct Record {
  std::vector<RecordField> fields;
  Span span;
  DRAVELIN_IR_EQUALITY(Record)
};
struct Field {
  Box<Expr> target;
  std::string name;
  Span span;
  DRAVELIN_IR_EQUALITY(Field)
};
struct Index {
  Box<Expr> target;
  Box<Expr> index;
  Span span;
  DRAVELIN_IR_EQUALITY(Index)
};
struct Call {
  Box<Expr> callee;
  std::vector<Arg> args;
  CallForm form = CallForm::Function;
  Span span;
  DRAVELIN_IR_EQUALITY(Call)
};
struct Unary {
  UnaryOp op = UnaryOp::Not;
  Box<Expr> operand;
  Span span;
  DRAVELIN_IR_EQUALITY(Unary)
};
struct Binary {
  BinaryOp op = BinaryOp::Or;
  Box<Expr> left;
  Box<Expr> right;
  Span span;
  DRAVELIN_IR_EQUALITY(Binary)
};
struct Is {
  Box<Expr> target;
  std::string label;
  Span span;
  DRAVELIN_IR_EQUALITY(Is)
};
struct Comprehension {
  Box<Expr> expr;
  std::vector<std::string> names;  // one or two
  Box<Expr> iterable;
  std::optional<Box<Expr>> test;
  Span span;
  DRAVELIN_IR_EQUALITY(Comprehension)
};
struct Focus {
  Box<Expr> text;
  Box<Expr> on;
  double max = 0;
  Span span;
  DRAVELIN_IR_EQUALITY(Focus)
};
struct Trail {
  double count = 0;
  Span span;
  DRAVELIN_IR_EQUALITY(Trail)
};
// The question's own span stands for the expression's; the variant carries no second one.
struct Judge {
  Box<ir::Judge> judge;
  DRAVELIN_IR_EQUALITY(Judge)
};
struct Log {
  LogLevel level = LogLevel::Info;
  Box<Expr> value;
  std::vector<RecordField> fields;
  Span span;
  DRAVELIN_IR_EQUALITY(Log)
};
}  // namespace expr_variant

struct Expr {
  using Number = expr_variant::Number;
  using Text = expr_variant::Text;
  using Bool = expr_variant::Bool;
  using None = expr_variant::None;
  using Name = expr_variant::Name;
  using List = expr_variant::List;
  using Record = expr_variant::Record;
  using Field = expr_variant::Field;
  using Index = expr_variant::Index;
  using Call = expr_variant::Call;
  using Unary = expr_variant::Unary;
  using Binary = expr_variant::Binary;
  using Is = expr_variant::Is;
  using Comprehension = expr_variant::Comprehension;
  using Focus = expr_variant::Focus;
  using Trail = expr_variant::Trail;
  using Judge = expr_variant::Judge;
  using Log = expr_variant::Log;

  using Node = std::variant<Number, Text, Bool, None, Name, List, Record, Field, Index, Call, Unary, Binary, Is,
                            Comprehension, Focus, Trail, Judge, Log>;
  Node node;

  DRAVELIN_IR_EQUALITY(Expr)
};

namespace text_part_variant {
struct Literal {
  std::string value;  // escapes already resolved
  DRAVELIN_IR_EQUALITY(Literal)
};
struct Interpolation {
  Expr expr;
  DRAVELIN_IR_EQUALITY(Interpolation)
};
}  // namespace text_part_variant

struct TextPart {
  using Literal = text_part_variant::Literal;
  using Interpolation = text_part_variant::Interpolation;

  using Node = std::variant<Literal, Interpolation>;
  Node node;

  DRAVELIN_IR_EQUALITY(TextPart)
};

// A field of a record literal or of a `log` form. Shorthand fields hold the `Name` read of their variable.
struct RecordField {
  std::string name;
  Expr value;
  DRAVELIN_IR_EQUALITY(RecordField)
};

// A call argument; a name makes it a named argument.
struct Arg {
  std::optional<std::string> name;
  Expr value;
  DRAVELIN_IR_EQUALITY(Arg)
};

// ---------------------------------------------------------------------------------------------------------------
// Judgment questions.

namespace step_variant {
struct Field {
  std::string name;
  DRAVELIN_IR_EQUALITY(Field)
};
struct Index {
  Expr index;
  DRAVELIN_IR_EQUALITY(Index)
};
}  // namespace step_variant

struct SubjectStep {
  using Field = step_variant::Field;
  using Index = step_variant::Index;

  using Node = std::variant<Field, Index>;
  Node node;

  DRAVELIN_IR_EQUALITY(SubjectStep)
};

struct Subject {
  std::string root;
  std::vector<SubjectStep> path;
  std::string state_path;  // how the judged value is named in the state sent to the model service
  Span span;
  DRAVELIN_IR_EQUALITY(Subject)
};

struct PickLabel {
  std::string name;
  bool escape = false;  // the bare `other` or `none`
  std::optional<Expr> description;
  std::optional<Expr> what;
  std::optional<Expr> not_for;
  std::optional<Expr> examples;
  Span span;
  DRAVELIN_IR_EQUALITY(PickLabel)
};

struct RateLevel {
  std::optional<std::string> name;  // absent for a level written as a bare text
  Expr situation;
  Span span;
  DRAVELIN_IR_EQUALITY(RateLevel)
};

namespace verb_variant {
struct Feels {
  Expr condition;
  DRAVELIN_IR_EQUALITY(Feels)
};
struct Pick {
  std::vector<PickLabel> labels;
  DRAVELIN_IR_EQUALITY(Pick)
};
struct Rate {
  std::vector<RateLevel> levels;  // lowest first
  DRAVELIN_IR_EQUALITY(Rate)
};
struct PickAmong {
  Expr question;
  std::optional<std::string> by;
  bool allow_none = false;
  DRAVELIN_IR_EQUALITY(PickAmong)
};
}  // namespace verb_variant

struct JudgeVerb {
  using Feels = verb_variant::Feels;
  using Pick = verb_variant::Pick;
  using Rate = verb_variant::Rate;
  using PickAmong = verb_variant::PickAmong;

  using Node = std::variant<Feels, Pick, Rate, PickAmong>;
  Node node;

  DRAVELIN_IR_EQUALITY(JudgeVerb)
};

// A `sample` that is absent differs from one that is false: equality keeps the three states apart.
struct Detail {
  std::optional<Expr> focus;
  std::optional<Expr> note;
  std::optional<Expr> compare;
  std::optional<Expr> yes;
  std::optional<Expr> no;
  std::optional<bool> sample;
  DRAVELIN_IR_EQUALITY(Detail)
};

struct Judge {
  bool each = false;
  Subject subject;
  JudgeVerb verb;
  std::optional<Detail> detail;
  uint32_t request_group = kNoRequestGroup;
  Span span;
  DRAVELIN_IR_EQUALITY(Judge)
};

// ---------------------------------------------------------------------------------------------------------------
// Declared shapes (of inputs) and shape fields (of `shape` statements and machine observations).

struct FieldShape;

namespace shape_variant {
struct Type {
  ShapeTypeName name = ShapeTypeName::Text;
  DRAVELIN_IR_EQUALITY(Type)
};
struct Record {
  std::vector<FieldShape> fields;
  DRAVELIN_IR_EQUALITY(Record)
};
}  // namespace shape_variant

struct Shape {
  using Type = shape_variant::Type;
  using Record = shape_variant::Record;

  using Node = std::variant<Type, Record>;
  Node node;

  DRAVELIN_IR_EQUALITY(Shape)
};

struct FieldShape {
  std::string name;
  std::optional<Shape> shape;  // absent when the field is declared without one
  DRAVELIN_IR_EQUALITY(FieldShape)
};

namespace policy_variant {
struct Head {
  DRAVELIN_IR_EQUALITY(Head)
};
struct Tail {
  DRAVELIN_IR_EQUALITY(Tail)
};
// `on` is the purpose operand of the field's own `focus` value, which stays whole in the field.
struct Focus {
  Expr on;
  DRAVELIN_IR_EQUALITY(Focus)
};
}  // namespace policy_variant

struct ShapePolicy {
  using Head = policy_variant::Head;
  using Tail = policy_variant::Tail;
  using Focus = policy_variant::Focus;

  using Node = std::variant<Head, Tail, Focus>;
  Node node;

  DRAVELIN_IR_EQUALITY(ShapePolicy)
};

struct ShapeField {
  std::string name;
  Expr value;
  std::optional<double> max;  // the cap in tokens
  ShapePolicy policy;
  Span span;
  DRAVELIN_IR_EQUALITY(ShapeField)
};

// ---------------------------------------------------------------------------------------------------------------
// Statements.

struct Stmt;

struct Branch {
  Expr test;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(Branch)
};

struct GateArm {
  Verdict verdict = Verdict::Proceed;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(GateArm)
};

// Inside this namespace `Expr` and `Shape` name statement variants; the IR types are `ir::Expr` and `ir::Shape`.
namespace stmt_variant {
struct Assign {
  std::string root;
  std::vector<std::string> path;  // field names only: targets have no index steps
  ir::Expr value;
  Span span;
  DRAVELIN_IR_EQUALITY(Assign)
};
struct Expr {
  ir::Expr expr;
  Span span;
  DRAVELIN_IR_EQUALITY(Expr)
};
struct If {
  std::vector<Branch> branches;
  std::optional<std::vector<Stmt>> otherwise;  // absent without `else`; an `else` is present even when empty
  Span span;
  DRAVELIN_IR_EQUALITY(If)
};
struct For {
  std::vector<std::string> names;  // one or two
  ir::Expr iterable;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(For)
};
struct Loop {
  double max = 0;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(Loop)
};
struct Until {
  ir::Expr test;
  bool verify = false;
  double max = 0;
  std::vector<Stmt> body;
  Span span;
  DRAVELIN_IR_EQUALITY(Until)
};
struct Gate {
  std::optional<ir::Expr> risk;
  std::optional<ir::Expr> confidence;
  std::optional<ir::Expr> done;
  std::vector<GateArm> arms;
  Span span;
  DRAVELIN_IR_EQUALITY(Gate)
};
struct Shape {
  std::string target;
  bool strict = false;
  std::vector<ShapeField> fields;
  Span span;
  DRAVELIN_IR_EQUALITY(Shape)
};
struct Return {
  std::optional<ir::Expr> value;
  Span span;
  DRAVELIN_IR_EQUALITY(Return)
};
struct Continue {
  Span span;
  DRAVELIN_IR_EQUALITY(Continue)
};
struct Break {
  Span span;
  DRAVELIN_IR_EQUALITY(Break)
};
struct Stop {
  ir::Expr reason;
  Span span;
  DRAVELIN_IR_EQUALITY(Stop)
};
struct Escalate {
  ir::Expr reason;
  Span span;
  DRAVELIN_IR_EQUALITY(Escalate)
};
}  // namespace stmt_variant

struct Stmt {
  using Assign = stmt_variant::Assign;
  using Expr = stmt_variant::Expr;
  using If = stmt_variant::If;
  using For = stmt_variant::For;
  using Loop = stmt_variant::Loop;
  using Until = stmt_variant::Until;
  using Gate = stmt_variant::Gate;
  using Shape = stmt_variant::Shape;
  using Return = stmt_variant::Return;
  using Continue = stmt_variant::Continue;
  using Break = stmt_variant::Break;
  using Stop = stmt_variant::Stop;
  using Escalate = stmt_variant::Escalate;

  using Node =
      std::variant<Assign, Expr, If, For, Loop, Until, Gate, Shape, Return, Continue, Break, Stop, Escalate>;
  Node node;

  DRAVELIN_IR_EQUALITY(Stmt)
};

#undef DRAVELIN_IR_EQUALITY

// ---------------------------------------------------------------------------------------------------------------
// Tag keys and variant names of the tagged unions, in variant order: the JSON form writes and reads a union's
// variant by these names.

template <class Union>
struct VariantNames;

template <>
struct VariantNames<Expr> {
  static constexpr std::string_view tag = "node";
  static constexpr std::array<std::string_view, 18> names = {
      "number", "text", "bool",   "none",   "name",  "list",          "record", "field", "index",
      "call",   "unary", "binary", "is",    "comprehension", "focus", "trail",  "judge", "log"};
};
template <>
struct VariantNames<Stmt> {
  static constexpr std::string_view tag = "stmt";
  static constexpr std::array<std::string_view, 13> names = {"assign", "expr",  "if",       "for",   "loop",
                                                             "until",  "gate",  "shape",    "return", "continue",
                                                             "break",  "stop",  "escalate"};
};
template <>
struct VariantNames<Shape> {
  static constexpr std::string_view tag = "shape";
  static constexpr std::array<std::string_view, 2> names = {"type", "record"};
};
template <>
struct VariantNames<JudgeVerb> {
  static constexpr std::string_view tag = "verb";
  static constexpr std::array<std::string_view, 4> names = {"feels", "pick", "rate", "pick_among"};
};
template <>
struct VariantNames<ShapePolicy> {
  static constexpr std::string_view tag = "policy";
  static constexpr std::array<std::string_view, 3> names = {"head", "tail", "focus"};
};
template <>
struct VariantNames<SubjectStep> {
  static constexpr std::string_view tag = "step";
  static constexpr std::array<std::string_view, 2> names = {"field", "index"};
};
template <>
struct VariantNames<TextPart> {
  static constexpr std::string_view tag = "part";
  static constexpr std::array<std::string_view, 2> names = {"literal", "interpolation"};
};

template <class Union>
inline constexpr bool kVariantNamesMatch =
    VariantNames<Union>::names.size() == std::variant_size_v<typename Union::Node>;
static_assert(kVariantNamesMatch<Expr> && kVariantNamesMatch<Stmt> && kVariantNamesMatch<Shape> &&
              kVariantNamesMatch<JudgeVerb> && kVariantNamesMatch<ShapePolicy> &&
              kVariantNamesMatch<SubjectStep> && kVariantNamesMatch<TextPart>);

// The snake_case name of the variant a union value holds.
template <class Union>
std::string_view variant_name(const Union& value) {
  return VariantNames<Union>::names[value.node.index()];
}

}  // namespace dravelin::ir

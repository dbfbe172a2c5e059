// The syntax tree: what the parser builds and the compiler reads.
//
// Nodes are plain values. Every node owns its children outright (recursive children through Box), so copying a
// node copies its whole subtree and shares nothing with the source.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/box.h"
#include "syntax/diagnostic.h"
#include "syntax/token.h"
#include "syntax/unit_enums.h"

namespace dravelin::syntax {

namespace ast {

// ---------------------------------------------------------------------------------------------------------------
// Names and texts.

struct Ident {
  std::string name;
  Span span;
  friend bool operator==(const Ident&, const Ident&) = default;
};

struct Expr;

// A text literal as the lexer produced it: literal runs and raw interpolation sources with their spans, and the
// expression of each interpolation as the parser read it. Keeping the expressions spares every later phase
// parsing the sources again, which for interpolations nested in interpolations multiplied the work by the
// depth at every level.
struct TextLit {
  std::vector<TokenTextPart> parts;
  bool triple_quoted = false;
  // One expression per interpolation part, in order, positioned in the file. A text literal built other than by
  // the parser may leave it empty; `interpolation_exprs` then finds no kept expressions.
  std::vector<Expr> interpolations;
  // Whether they were read with `log` as an ordinary name (the file declares a unit named `log`).
  bool interpolations_log_shadowed = false;
  // The expressions follow from the parts, so equality is that of the parts.
  friend bool operator==(const TextLit& a, const TextLit& b) {
    return a.parts == b.parts && a.triple_quoted == b.triple_quoted;
  }
};

// The kept expressions of a text's interpolations as read with the given reading of `log`, or null when they are
// not all kept (the text was not built by the parser) or were read the other way (the tree was changed since);
// the caller then parses the sources itself.
const std::vector<Expr>* interpolation_exprs(const TextLit& text, bool log_shadowed);

// ---------------------------------------------------------------------------------------------------------------
// Expressions.

struct Judge;
struct RecordField;
struct Arg;

// The variants of the tree's sum types are complete classes of their own namespaces (a class nested in one that
// is still being defined cannot be default-constructed from inside it); each sum type names them as members, so
// code writes `Expr::Call`, `Stmt::If`, `JudgeVerb::Pick`.
namespace expr_variant {
struct Number {
  double value = 0;  // suffixes `%` and `k` already applied
  Span span;
  friend bool operator==(const Number&, const Number&) = default;
};
struct Text {
  TextLit text;
  Span span;
  friend bool operator==(const Text&, const Text&) = default;
};
struct Bool {
  bool value = false;
  Span span;
  friend bool operator==(const Bool&, const Bool&) = default;
};
struct None {
  Span span;
  friend bool operator==(const None&, const None&) = default;
};
struct Name {
  std::string name;
  Span span;
  friend bool operator==(const Name&, const Name&) = default;
};
struct List {
  std::vector<Expr> items;
  Span span;
  friend bool operator==(const List&, const List&) = default;
};
struct Record {
  std::vector<RecordField> fields;
  Span span;
  friend bool operator==(const Record&, const Record&) = default;
};
struct Field {
  Box<Expr> target;
  std::string name;
  Span name_span;
  Span span;
  friend bool operator==(const Field&, const Field&) = default;
};
struct Index {
  Box<Expr> target;
  Box<Expr> index;
  Span span;
  friend bool operator==(const Index&, const Index&) = default;
};
struct Call {
  Box<Expr> callee;
  std::vector<Arg> args;
  CallForm form = CallForm::Function;
  Span span;
  friend bool operator==(const Call&, const Call&) = default;
};
struct Unary {
  UnaryOp op = UnaryOp::Not;
  Box<Expr> operand;
  Span span;
  friend bool operator==(const Unary&, const Unary&) = default;
};
struct Binary {
  BinaryOp op = BinaryOp::Or;
  Box<Expr> left;
  Box<Expr> right;
  Span span;
  friend bool operator==(const Binary&, const Binary&) = default;
};
struct Is {
  Box<Expr> target;
  std::string label;
  Span label_span;
  Span span;
  friend bool operator==(const Is&, const Is&) = default;
};
struct Comprehension {
  Box<Expr> expr;
  std::vector<Ident> names;  // one or two loop variables
  Box<Expr> iterable;
  std::optional<Box<Expr>> test;
  Span span;
  friend bool operator==(const Comprehension&, const Comprehension&) = default;
};
struct Focus {
  Box<Expr> text;
  Box<Expr> on;  // always a Text
  double max = 0;
  Span span;
  friend bool operator==(const Focus&, const Focus&) = default;
};
struct Trail {
  double count = 0;
  Span span;
  friend bool operator==(const Trail&, const Trail&) = default;
};
// A judgment in expression position; its span is the judge's own.
struct Judge {
  Box<ast::Judge> judge;
  friend bool operator==(const Judge&, const Judge&) = default;
};
struct Log {
  LogLevel level = LogLevel::Info;
  Box<Expr> value;
  std::vector<RecordField> fields;  // empty when no `{ ... }` follows
  Span span;
  friend bool operator==(const Log&, const Log&) = default;
};
}  // namespace expr_variant

// One expression. The variants keep the order of the IR's expressions: lowering maps them by position.
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

  friend bool operator==(const Expr&, const Expr&) = default;
};

// One field of a record literal or of a `log` form; no value is the shorthand `{ name }`.
struct RecordField {
  std::string name;
  Span name_span;
  std::optional<Expr> value;
  Span span;
  friend bool operator==(const RecordField&, const RecordField&) = default;
};

// One call argument; a name makes it a named argument.
struct Arg {
  std::optional<Ident> name;
  Expr value;
  Span span;
  friend bool operator==(const Arg&, const Arg&) = default;
};

// The span of any expression (for a judgment, the judge's span).
Span span(const Expr& expr);

// ---------------------------------------------------------------------------------------------------------------
// Judgments.

// The detail keys of a question or of a label. A detail that no detail line touched keeps the zero span.
struct Detail {
  std::optional<Expr> focus;
  std::optional<Expr> note;
  std::optional<Expr> compare;
  std::optional<Expr> yes;
  std::optional<Expr> no;
  std::optional<Expr> examples;
  std::optional<Expr> what;
  std::optional<Expr> not_for;
  std::optional<bool> sample;
  Span span;
  friend bool operator==(const Detail&, const Detail&) = default;
};

struct PickLabel {
  std::string name;
  Span name_span;
  bool escape = false;  // the bare `other` or `none`
  std::optional<Expr> description;
  std::optional<Detail> detail;
  Span span;
  friend bool operator==(const PickLabel&, const PickLabel&) = default;
};

struct RateLevel {
  std::optional<Ident> name;
  Expr situation;
  Span span;
  friend bool operator==(const RateLevel&, const RateLevel&) = default;
};

namespace verb_variant {
struct Feels {
  Expr condition;
  friend bool operator==(const Feels&, const Feels&) = default;
};
struct Pick {
  std::vector<PickLabel> labels;
  friend bool operator==(const Pick&, const Pick&) = default;
};
struct Rate {
  std::vector<RateLevel> levels;  // lowest first
  friend bool operator==(const Rate&, const Rate&) = default;
};
struct PickAmong {
  Expr question;
  std::optional<Ident> by;
  bool allow_none = false;
  friend bool operator==(const PickAmong&, const PickAmong&) = default;
};
}  // namespace verb_variant

struct JudgeVerb {
  using Feels = verb_variant::Feels;
  using Pick = verb_variant::Pick;
  using Rate = verb_variant::Rate;
  using PickAmong = verb_variant::PickAmong;

  using Node = std::variant<Feels, Pick, Rate, PickAmong>;
  Node node;

  friend bool operator==(const JudgeVerb&, const JudgeVerb&) = default;
};

namespace step_variant {
struct Field {
  std::string name;
  Span span;
  friend bool operator==(const Field&, const Field&) = default;
};
struct Index {
  Expr expr;
  friend bool operator==(const Index&, const Index&) = default;
};
}  // namespace step_variant

struct SubjectStep {
  using Field = step_variant::Field;
  using Index = step_variant::Index;

  using Node = std::variant<Field, Index>;
  Node node;

  friend bool operator==(const SubjectStep&, const SubjectStep&) = default;
};

struct Subject {
  std::string root;
  Span root_span;
  std::vector<SubjectStep> path;
  Span span;
  friend bool operator==(const Subject&, const Subject&) = default;
};

struct Judge {
  bool each = false;
  Subject subject;
  JudgeVerb verb;
  std::optional<Detail> detail;
  Span span;
  friend bool operator==(const Judge&, const Judge&) = default;
};

// ---------------------------------------------------------------------------------------------------------------
// Statements.

struct Stmt;

struct Block {
  std::vector<Stmt> stmts;
  Span span;
  friend bool operator==(const Block&, const Block&) = default;
};

// The left side of `=`: a name and the field names after it (never an index).
struct AssignTarget {
  std::string root;
  Span root_span;
  std::vector<Ident> path;
  Span span;
  friend bool operator==(const AssignTarget&, const AssignTarget&) = default;
};

struct Branch {
  Expr test;
  Block body;
  Span span;
  friend bool operator==(const Branch&, const Branch&) = default;
};

struct GateArm {
  Verdict verdict = Verdict::Proceed;
  Block body;
  Span span;
  friend bool operator==(const GateArm&, const GateArm&) = default;
};

// One field of a `shape:` statement or of a machine's `observe:` block.
struct ShapeField {
  std::string name;
  Span name_span;
  Expr value;
  std::optional<double> max;
  bool tail = false;
  Span span;
  friend bool operator==(const ShapeField&, const ShapeField&) = default;
};

// Here, and inside `Stmt`, `Expr` names the expression-statement variant; the expression type is `ast::Expr`.
namespace stmt_variant {
struct Assign {
  AssignTarget target;
  ast::Expr value;
  Span span;
  friend bool operator==(const Assign&, const Assign&) = default;
};
struct Expr {
  ast::Expr expr;
  Span span;
  friend bool operator==(const Expr&, const Expr&) = default;
};
struct If {
  std::vector<Branch> branches;  // the `if`, then each `elif`
  std::optional<Block> otherwise;
  Span span;
  friend bool operator==(const If&, const If&) = default;
};
struct For {
  std::vector<Ident> names;
  ast::Expr iterable;
  Block body;
  Span span;
  friend bool operator==(const For&, const For&) = default;
};
struct Loop {
  double max = 0;
  Block body;
  Span span;
  friend bool operator==(const Loop&, const Loop&) = default;
};
struct Until {
  ast::Expr test;
  double max = 0;
  bool verify = false;
  Block body;
  Span span;
  friend bool operator==(const Until&, const Until&) = default;
};
struct Gate {
  std::optional<ast::Expr> risk;
  std::optional<ast::Expr> confidence;
  std::optional<ast::Expr> done;
  std::vector<GateArm> arms;
  Span span;
  friend bool operator==(const Gate&, const Gate&) = default;
};
struct Shape {
  std::string target;
  Span target_span;
  bool strict = false;
  std::vector<ShapeField> fields;
  Span span;
  friend bool operator==(const Shape&, const Shape&) = default;
};
struct Return {
  std::optional<ast::Expr> value;
  Span span;
  friend bool operator==(const Return&, const Return&) = default;
};
struct Continue {
  Span span;
  friend bool operator==(const Continue&, const Continue&) = default;
};
struct Break {
  Span span;
  friend bool operator==(const Break&, const Break&) = default;
};
struct Stop {
  ast::Expr reason;  // a Text
  Span span;
  friend bool operator==(const Stop&, const Stop&) = default;
};
struct Escalate {
  ast::Expr reason;  // a Text
  Span span;
  friend bool operator==(const Escalate&, const Escalate&) = default;
};
}  // namespace stmt_variant

// One statement. The variants keep the order of the IR's statements: lowering maps them by position.
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

  friend bool operator==(const Stmt&, const Stmt&) = default;
};

// ---------------------------------------------------------------------------------------------------------------
// Program header.

struct FieldShape;

namespace shape_variant {
struct Type {
  ShapeTypeName name = ShapeTypeName::Text;
  Span span;
  friend bool operator==(const Type&, const Type&) = default;
};
struct Record {
  std::vector<FieldShape> fields;
  Span span;
  friend bool operator==(const Record&, const Record&) = default;
};
}  // namespace shape_variant

struct Shape {
  using Type = shape_variant::Type;
  using Record = shape_variant::Record;

  using Node = std::variant<Type, Record>;
  Node node;

  friend bool operator==(const Shape&, const Shape&) = default;
};

struct FieldShape {
  std::string name;
  Span name_span;
  std::optional<Shape> shape;
  Span span;
  friend bool operator==(const FieldShape&, const FieldShape&) = default;
};

struct NeedMapping {
  std::string inner;
  Span inner_span;
  std::optional<Ident> outer;
  Span span;
  friend bool operator==(const NeedMapping&, const NeedMapping&) = default;
};

struct UseDecl {
  TextLit path;
  std::string alias;
  Span alias_span;
  std::vector<NeedMapping> mapping;
  Span span;
  friend bool operator==(const UseDecl&, const UseDecl&) = default;
};

struct Input {
  std::string name;
  Span name_span;
  Shape shape;
  Span span;
  friend bool operator==(const Input&, const Input&) = default;
};

struct Output {
  std::string name;
  Span name_span;
  Span span;
  friend bool operator==(const Output&, const Output&) = default;
};

struct ToolSignature {
  std::string name;
  Span name_span;
  std::vector<Ident> params;
  ToolReturnType returns = ToolReturnType::None;
  Span span;
  friend bool operator==(const ToolSignature&, const ToolSignature&) = default;
};

struct Need {
  std::string name;
  Span name_span;
  NeedKind kind = NeedKind::Agent;
  std::vector<ToolSignature> signatures;
  Span span;
  friend bool operator==(const Need&, const Need&) = default;
};

struct Decl {
  using Node = std::variant<Input, Output, Need>;
  Node node;
  friend bool operator==(const Decl&, const Decl&) = default;
};

// ---------------------------------------------------------------------------------------------------------------
// Units.

struct DefParam {
  std::string name;
  Span name_span;
  std::optional<Expr> default_value;  // the value after `=`
  Span span;
  friend bool operator==(const DefParam&, const DefParam&) = default;
};

struct BudgetLimit {
  BudgetKey key = BudgetKey::Calls;
  double value = 0;
  Span span;
  friend bool operator==(const BudgetLimit&, const BudgetLimit&) = default;
};

struct Threshold {
  std::string name;
  Span name_span;
  double value = 0;
  Span span;
  friend bool operator==(const Threshold&, const Threshold&) = default;
};

struct JudgmentResult {
  std::string name;
  Span name_span;
  Judge question;
  Span span;
  friend bool operator==(const JudgmentResult&, const JudgmentResult&) = default;
};

// A `log` line of a judgment unit; `after` counts the result lines written before it.
struct JudgmentLog {
  std::size_t after = 0;
  Expr log;  // always the Log variant
  Span span;
  friend bool operator==(const JudgmentLog&, const JudgmentLog&) = default;
};

struct Judgment {
  std::string name;
  Span name_span;
  std::vector<Ident> params;
  std::vector<JudgmentResult> results;
  std::vector<JudgmentLog> logs;
  Span span;
  friend bool operator==(const Judgment&, const Judgment&) = default;
};

struct Task {
  std::string name;
  Span name_span;
  std::vector<DefParam> params;
  std::vector<BudgetLimit> budget;
  std::vector<Threshold> thresholds;
  Block body;
  Span span;
  friend bool operator==(const Task&, const Task&) = default;
};

struct Def {
  std::string name;
  Span name_span;
  std::vector<DefParam> params;
  Block body;
  Span span;
  friend bool operator==(const Def&, const Def&) = default;
};

struct Transition {
  std::string event;
  Span event_span;
  Expr description;  // a Text
  std::string target;
  Span target_span;
  std::optional<Expr> when;
  bool risky = false;
  std::optional<Block> body;
  Span span;
  friend bool operator==(const Transition&, const Transition&) = default;
};

struct MachineState {
  std::string name;
  Span name_span;
  bool done = false;
  std::vector<Transition> transitions;
  Span span;
  friend bool operator==(const MachineState&, const MachineState&) = default;
};

struct Machine {
  std::string name;
  Span name_span;
  std::vector<DefParam> params;
  std::vector<BudgetLimit> budget;
  std::vector<Threshold> thresholds;
  std::optional<Expr> goal;  // a Text
  std::optional<Ident> initial;
  std::vector<ShapeField> observe;
  std::vector<MachineState> states;
  Span span;
  friend bool operator==(const Machine&, const Machine&) = default;
};

struct Unit {
  using Node = std::variant<Judgment, Task, Def, Machine>;
  Node node;
  friend bool operator==(const Unit&, const Unit&) = default;
};

// The name of any unit.
const std::string& unit_name(const Unit& unit);

struct Program {
  std::string name;
  Span name_span;
  std::vector<UseDecl> uses;
  std::vector<Decl> decls;  // `in`, `out` and `needs`, interleaved in source order
  std::vector<Unit> units;
  Span span;

  // Copies, moves, destruction and equality of a whole tree instantiate every node type: defined once, in
  // ast.cpp, rather than in every file that holds a `Program`.
  Program();
  Program(const Program&);
  Program(Program&&) noexcept;
  Program& operator=(const Program&);
  Program& operator=(Program&&) noexcept;
  ~Program();

  // Whether some unit carries exactly this name (byte for byte).
  bool has_unit(std::string_view name) const;

  friend bool operator==(const Program&, const Program&);
};

// ---------------------------------------------------------------------------------------------------------------
// Conversions shared by the parsers.

// The judgment subject of a name, field and index path; nothing for any other expression.
std::optional<Subject> subject_from_expr(const Expr& expr);

// The assignment target of a name or field path; nothing for any other expression (an index included).
std::optional<AssignTarget> assign_target_from_expr(const Expr& expr);

// Nothing for a detail that no detail line touched (zero span), else the detail itself.
std::optional<Detail> detail_or_none(Detail detail);

// Whether a rate level's situation says nothing but a number or a degree word.
bool is_bare_degree(std::string_view text);

}  // namespace ast
}  // namespace dravelin::syntax

// The per-document index of declared names and of the places where names occur, read by every feature that
// talks about names (outline, hover, definition, references, completion, highlighting).
//
// Symbols are addressed by their position in `symbols`, valid only inside the index that holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::lsp {

using SymbolId = uint32_t;

// What a symbol declares. The values are stored and fixed.
#define DRAVELIN_DECL_KINDS(X)                                                                             \
  X(Program, "program") X(Module, "module") X(Input, "input") X(InputField, "input_field")                \
  X(Output, "output") X(Capability, "capability") X(ToolVerb, "tool_verb") X(Unit, "unit")                \
  X(Parameter, "parameter") X(JudgmentResult, "judgment_result") X(Variable, "variable")                  \
  X(ShapedField, "shaped_field") X(MachineState, "machine_state") X(MachineEvent, "machine_event")         \
  X(Label, "label")

enum class DeclKind : uint8_t {
#define X(member, name) member,
  DRAVELIN_DECL_KINDS(X)
#undef X
};

std::string_view decl_kind_name(DeclKind kind);

// The kind of unit, stored as a unit symbol's sub-kind; the same values as the syntax tree's unit variants.
enum class UnitKind : uint8_t { Judgment = 0, Task = 1, Def = 2, Machine = 3 };

struct DeclaredSymbol {
  std::optional<SymbolId> parent;
  std::string name;
  std::string detail;  // a one-line summary: the declaration's first source line, as a rule
  syntax::Span selection_span;  // the name
  syntax::Span span;            // the whole declaration
  DeclKind kind = DeclKind::Program;
  // A capability's NeedKind or a unit's UnitKind; meaningless for the other kinds.
  uint8_t sub_kind = 0;
  friend bool operator==(const DeclaredSymbol&, const DeclaredSymbol&) = default;
};

// The role of an occurrence: how the name is used, for highlighting. The values are stored and fixed.
#define DRAVELIN_OCCURRENCE_ROLES(X)                                                                        \
  X(JudgmentRef, "judgment_ref") X(TaskRef, "task_ref") X(DefRef, "def_ref") X(MachineRef, "machine_ref") \
  X(PreludeUnit, "prelude_unit") X(BuiltinFunction, "builtin_function") X(Capability, "capability")      \
  X(Module, "module") X(Parameter, "parameter") X(Variable, "variable") X(Input, "input")                 \
  X(Output, "output") X(Field, "field") X(Verb, "verb") X(Label, "label") X(MachineState, "machine_state") \
  X(MachineEvent, "machine_event") X(TypeName, "type_name")

enum class OccurrenceRole : uint8_t {
#define X(member, name) member,
  DRAVELIN_OCCURRENCE_ROLES(X)
#undef X
};

std::string_view occurrence_role_name(OccurrenceRole role);

// What an occurrence refers to. The variants' order is fixed.
namespace ref {
struct Local {
  SymbolId symbol = 0;
  friend bool operator==(const Local&, const Local&) = default;
};
// A unit by its path: module aliases, then the unit's name. One segment names a unit of the document or,
// failing that, of the prelude.
struct Unit {
  std::vector<std::string> path;
  friend bool operator==(const Unit&, const Unit&) = default;
};
// An import alias declared in the module that the leading segments name.
struct ModuleAlias {
  std::vector<std::string> path;
  friend bool operator==(const ModuleAlias&, const ModuleAlias&) = default;
};
struct UnitMember {
  std::vector<std::string> unit;
  std::string member;
  friend bool operator==(const UnitMember&, const UnitMember&) = default;
};
struct MemberLabel {
  std::vector<std::string> unit;
  std::string member;
  std::string label;
  friend bool operator==(const MemberLabel&, const MemberLabel&) = default;
};
struct UnitParameter {
  std::vector<std::string> unit;
  std::string name;
  friend bool operator==(const UnitParameter&, const UnitParameter&) = default;
};
struct ModuleCapability {
  std::string alias;
  std::string capability;
  friend bool operator==(const ModuleCapability&, const ModuleCapability&) = default;
};
// The module a `use` path names.
struct ModuleFile {
  std::string path;
  friend bool operator==(const ModuleFile&, const ModuleFile&) = default;
};
struct CapabilityVerb {
  std::string verb;
  syntax::NeedKind kind = syntax::NeedKind::Agent;
  friend bool operator==(const CapabilityVerb&, const CapabilityVerb&) = default;
};
struct HandleMethod {
  std::string method;
  friend bool operator==(const HandleMethod&, const HandleMethod&) = default;
};
struct Builtin {
  std::string function;
  friend bool operator==(const Builtin&, const Builtin&) = default;
};
// Any label of the document with that name.
struct Label {
  std::string name;
  friend bool operator==(const Label&, const Label&) = default;
};
struct Unresolved {
  friend bool operator==(const Unresolved&, const Unresolved&) = default;
};
}  // namespace ref

using RefTarget = std::variant<ref::Local, ref::Unit, ref::ModuleAlias, ref::UnitMember, ref::MemberLabel,
                               ref::UnitParameter, ref::ModuleCapability, ref::ModuleFile, ref::CapabilityVerb,
                               ref::HandleMethod, ref::Builtin, ref::Label, ref::Unresolved>;

struct Occurrence {
  RefTarget target;
  syntax::Span span;  // the name, on one line
  bool is_declaration = false;
  OccurrenceRole role = OccurrenceRole::Variable;
  friend bool operator==(const Occurrence&, const Occurrence&) = default;
};

// What is known of the value a name holds, for member access and `is` tests.
namespace shape {
struct UnitResult {
  std::vector<std::string> unit;
  friend bool operator==(const UnitResult&, const UnitResult&) = default;
};
struct Record {
  std::vector<SymbolId> fields;
  friend bool operator==(const Record&, const Record&) = default;
};
struct InputRecord {
  std::vector<SymbolId> fields;
  friend bool operator==(const InputRecord&, const InputRecord&) = default;
};
struct AgentHandle {
  friend bool operator==(const AgentHandle&, const AgentHandle&) = default;
};
struct Choice {
  std::vector<SymbolId> labels;
  friend bool operator==(const Choice&, const Choice&) = default;
};
struct Opaque {
  friend bool operator==(const Opaque&, const Opaque&) = default;
};
}  // namespace shape

using ValueShape =
    std::variant<shape::UnitResult, shape::Record, shape::InputRecord, shape::AgentHandle, shape::Choice,
                 shape::Opaque>;

struct NameBinding {
  std::optional<SymbolId> symbol;
  ValueShape shape = shape::Opaque{};
  friend bool operator==(const NameBinding&, const NameBinding&) = default;
};

struct ImportAlias {
  std::string alias;
  // The path when it is one plain text (empty for an empty path); nothing when it is interpolated.
  std::optional<std::string> path;
  SymbolId symbol = 0;     // the alias's module symbol
  syntax::Span path_span;  // the quoted path
  syntax::Span span;       // the whole `use`
  friend bool operator==(const ImportAlias&, const ImportAlias&) = default;
};

struct UnitScope {
  SymbolId unit = 0;
  syntax::Span span;
  std::map<std::string, NameBinding> bindings;  // the unit's names as they stand at its end
  friend bool operator==(const UnitScope&, const UnitScope&) = default;
};

// The word `log` of a log expression and the level word after it.
struct LogSpan {
  syntax::Span log;
  syntax::Span level;
  friend bool operator==(const LogSpan&, const LogSpan&) = default;
};

struct SymbolIndex {
  std::vector<DeclaredSymbol> symbols;  // parents before their children
  std::vector<Occurrence> occurrences;  // by span start, then span end
  std::vector<UnitScope> scopes;        // in unit order
  std::vector<ImportAlias> imports;     // in `use` order
  std::vector<LogSpan> log_spans;
  std::map<std::string, SymbolId> unit_names;        // the first unit of each name
  std::map<std::string, SymbolId> capability_names;  // the last capability of each name
  std::map<std::string, NameBinding> program_names;  // inputs and outputs, the last of each name

  // The symbols whose parent is `parent` (none: the top-level symbols), by span start, declaration order
  // kept among equal starts.
  std::vector<SymbolId> children(std::optional<SymbolId> parent) const;
  // The first child of `parent`, in declaration order, with exactly that name.
  std::optional<SymbolId> child_named(SymbolId parent, std::string_view name) const;
  std::vector<SymbolId> labels() const;
  std::vector<SymbolId> labels_of(SymbolId parent) const;

  friend bool operator==(const SymbolIndex&, const SymbolIndex&) = default;
};

// The index of a parsed document. Never fails: what cannot be resolved is recorded as unresolved.
SymbolIndex build_symbol_index(const syntax::ast::Program& program, std::string_view text);

// The narrowest occurrence whose span holds the offset (both ends included); the earliest among equals.
const Occurrence* occurrence_at(const SymbolIndex& index, size_t offset);

}  // namespace dravelin::lsp

// The linker: the root program, every module its `use` declarations import (depth first, in declaration
// order) and the prelude `std`, with the lookups the checker and lowering make over them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/result.h"
#include "compiler/module_sources.h"
#include "ir/nodes.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler {

// What a module's capability name stands for in the end: always a capability of the root program.
struct CapabilityBinding {
  std::string name;
  std::vector<syntax::ast::ToolSignature> signatures;
  syntax::NeedKind kind = syntax::NeedKind::Agent;
  friend bool operator==(const CapabilityBinding&, const CapabilityBinding&) = default;
};

// Where each unit name stands in a module's program: its first and its last unit of that name.
struct UnitSlots {
  size_t first = 0;
  size_t last = 0;
  friend bool operator==(const UnitSlots&, const UnitSlots&) = default;
};

struct LinkedModule {
  // Qualified: empty for the root, "std" for the prelude, importer's alias + "." + `use` alias otherwise.
  std::string alias;
  syntax::ast::Program program;
  std::vector<ir::NeedMapping> mapping;
  // The root's path as given, or an import's path as module search resolved it (not canonicalized).
  std::optional<std::filesystem::path> source_path;
  // The path as written in the `use` declaration.
  std::optional<std::string> use_path;
  std::map<std::string, CapabilityBinding> capabilities;
  // Local `use` alias to qualified alias; "std" is always there, except in the prelude itself.
  std::map<std::string, std::string> aliases;
  syntax::Span span;
  // Unit lookups by name, so that resolving every call of a large program stays linear. Filled by the linker
  // (`index_units`); a module whose index does not cover its program's units is searched unit by unit.
  std::unordered_map<std::string, UnitSlots> unit_index;
  size_t indexed_units = 0;
  friend bool operator==(const LinkedModule&, const LinkedModule&) = default;
};

// Builds the module's unit index from its program's units.
void index_units(LinkedModule& module);

// The order of the syntax tree's unit variants.
enum class UnitKind : uint8_t { Judgment = 0, Task = 1, Def = 2, Machine = 3 };

UnitKind unit_kind(const syntax::ast::Unit& unit);

namespace callee {
struct Found {
  std::string qualified;
  UnitKind kind = UnitKind::Def;
  friend bool operator==(const Found&, const Found&) = default;
};
// A unit of another module whose name begins with "_".
struct Private {
  std::string qualified;
  friend bool operator==(const Private&, const Private&) = default;
};
// The alias is known but its module has no such unit.
struct UnitMissing {
  std::string alias;
  std::string unit;
  friend bool operator==(const UnitMissing&, const UnitMissing&) = default;
};
// The alias is known but no linked module carries its qualified alias.
struct ModuleMissing {
  friend bool operator==(const ModuleMissing&, const ModuleMissing&) = default;
};
struct NotFound {
  friend bool operator==(const NotFound&, const NotFound&) = default;
};
}  // namespace callee

using CalleeResolution =
    std::variant<callee::Found, callee::Private, callee::UnitMissing, callee::ModuleMissing, callee::NotFound>;

// The linked modules in link order (root first, `std` last), or every diagnostic raised. Linking goes on after
// a problem so that one call reports every import problem; the prelude is appended whatever happens.
Result<std::vector<LinkedModule>, std::vector<syntax::Diagnostic>> link_program(
    const syntax::ast::Program& program, const std::optional<std::filesystem::path>& path,
    const ModuleSources& sources);
// The same, taking over the root program instead of copying it.
Result<std::vector<LinkedModule>, std::vector<syntax::Diagnostic>> link_program(
    syntax::ast::Program&& program, const std::optional<std::filesystem::path>& path, const ModuleSources& sources);

// The prelude as module `std`. The bundled text always parses; if it did not, the process stops.
LinkedModule parse_prelude();

// The `file` of diagnostics about a module: "<prelude>", the module's path, or nothing for a root without one.
std::optional<std::string> module_display_name(const LinkedModule& module);

// "prefix.name", or the bare name when the prefix is empty.
std::string qualify_name(std::string_view prefix, std::string_view name);

// The linked modules by qualified alias, built once per compile. A program that imports one library under two
// aliases, level after level, links as many instances as it has routes; looking modules up through this index
// keeps the checking and lowering of each instance from scanning all of them. The modules must outlive it and
// stay in place.
class ModuleIndex {
 public:
  explicit ModuleIndex(const std::vector<LinkedModule>& modules);

  const std::vector<LinkedModule>& modules() const { return *modules_; }
  // The first module with this qualified alias, or null.
  const LinkedModule* with_alias(std::string_view alias) const;

 private:
  const std::vector<LinkedModule>* modules_;
  std::unordered_map<std::string_view, std::size_t> first_;
};

// The prelude's unit names that do not begin with "_"; empty when no module is `std`.
std::set<std::string> prelude_public_names(const std::vector<LinkedModule>& modules);
std::set<std::string> prelude_public_names(const ModuleIndex& modules);

// The unit a qualified name denotes: the part after the last "." is the unit's name, the part before it the
// module's alias. The first unit of that name in the first module of that alias.
const syntax::ast::Unit* find_unit(const std::vector<LinkedModule>& modules, std::string_view qualified);
const syntax::ast::Unit* find_unit(const ModuleIndex& modules, std::string_view qualified);

// What the name `x` or `a.x` (as parts) written in `module` calls; a bare name falls back to the prelude.
CalleeResolution resolve_callee(const std::vector<LinkedModule>& modules, const LinkedModule& module,
                                const std::vector<std::string>& parts);
CalleeResolution resolve_callee(const ModuleIndex& modules, const LinkedModule& module,
                                const std::vector<std::string>& parts);

}  // namespace dravelin::compiler

// The lookups over linked modules that the checker and lowering make.
#include "compiler/link.h"

namespace dravelin::compiler {

namespace ast = syntax::ast;

namespace {

const LinkedModule* module_with_alias(const std::vector<LinkedModule>& modules, std::string_view alias) {
  for (const LinkedModule& module : modules) {
    if (module.alias == alias) return &module;
  }
  return nullptr;
}

const LinkedModule* module_with_alias(const ModuleIndex& modules, std::string_view alias) {
  return modules.with_alias(alias);
}

const UnitSlots* indexed_slots(const LinkedModule& module, std::string_view name) {
  auto it = module.unit_index.find(std::string(name));
  return it == module.unit_index.end() ? nullptr : &it->second;
}

bool has_index(const LinkedModule& module) { return module.indexed_units == module.program.units.size(); }

// The last unit of that name: when a module repeats a name the checker reports it, and calls see the later one.
const ast::Unit* last_unit_named(const LinkedModule& module, std::string_view name) {
  if (has_index(module)) {
    const UnitSlots* slots = indexed_slots(module, name);
    return slots ? &module.program.units[slots->last] : nullptr;
  }
  const ast::Unit* found = nullptr;
  for (const ast::Unit& unit : module.program.units) {
    if (ast::unit_name(unit) == name) found = &unit;
  }
  return found;
}

const ast::Unit* first_unit_named(const LinkedModule& module, std::string_view name) {
  if (has_index(module)) {
    const UnitSlots* slots = indexed_slots(module, name);
    return slots ? &module.program.units[slots->first] : nullptr;
  }
  for (const ast::Unit& unit : module.program.units) {
    if (ast::unit_name(unit) == name) return &unit;
  }
  return nullptr;
}

bool is_private(std::string_view name) { return name.starts_with("_"); }

}  // namespace

void index_units(LinkedModule& module) {
  module.unit_index.clear();
  const auto& units = module.program.units;
  for (size_t i = 0; i < units.size(); ++i) {
    auto [it, inserted] = module.unit_index.try_emplace(ast::unit_name(units[i]), UnitSlots{i, i});
    if (!inserted) it->second.last = i;
  }
  module.indexed_units = units.size();
}

UnitKind unit_kind(const ast::Unit& unit) { return static_cast<UnitKind>(unit.node.index()); }

std::optional<std::string> module_display_name(const LinkedModule& module) {
  if (module.alias == "std") return std::string("<prelude>");
  if (module.source_path) return display_path(*module.source_path);
  return std::nullopt;
}

std::string qualify_name(std::string_view prefix, std::string_view name) {
  std::string out;
  if (!prefix.empty()) {
    out.reserve(prefix.size() + 1 + name.size());
    out.append(prefix);
    out.push_back('.');
  }
  out.append(name);
  return out;
}

namespace {

template <class Modules>
std::set<std::string> public_prelude_names(const Modules& modules) {
  std::set<std::string> names;
  const LinkedModule* prelude = module_with_alias(modules, "std");
  if (prelude == nullptr) return names;
  for (const ast::Unit& unit : prelude->program.units) {
    const std::string& name = ast::unit_name(unit);
    if (!is_private(name)) names.insert(name);
  }
  return names;
}

template <class Modules>
const ast::Unit* unit_by_qualified_name(const Modules& modules, std::string_view qualified) {
  size_t dot = qualified.rfind('.');
  std::string_view alias = dot == std::string_view::npos ? std::string_view() : qualified.substr(0, dot);
  std::string_view name = dot == std::string_view::npos ? qualified : qualified.substr(dot + 1);
  const LinkedModule* module = module_with_alias(modules, alias);
  if (module == nullptr) return nullptr;
  return first_unit_named(*module, name);
}

template <class Modules>
CalleeResolution resolve(const Modules& modules, const LinkedModule& module, const std::vector<std::string>& parts) {
  if (parts.empty()) return callee::NotFound{};
  if (parts.size() == 1) {
    const std::string& name = parts[0];
    if (const ast::Unit* unit = last_unit_named(module, name)) {
      return callee::Found{qualify_name(module.alias, name), unit_kind(*unit)};
    }
    if (module.alias != "std" && !is_private(name)) {
      if (const LinkedModule* prelude = module_with_alias(modules, "std")) {
        if (const ast::Unit* unit = last_unit_named(*prelude, name)) {
          return callee::Found{qualify_name("std", name), unit_kind(*unit)};
        }
      }
    }
    return callee::NotFound{};
  }
  const std::string& alias = parts[0];
  const std::string& name = parts[1];
  auto local = module.aliases.find(alias);
  if (local == module.aliases.end()) return callee::NotFound{};
  const LinkedModule* target = module_with_alias(modules, local->second);
  if (target == nullptr) return callee::ModuleMissing{};
  const ast::Unit* unit = last_unit_named(*target, name);
  if (unit == nullptr) return callee::UnitMissing{alias, name};
  std::string qualified = qualify_name(local->second, name);
  if (is_private(name)) return callee::Private{std::move(qualified)};
  return callee::Found{std::move(qualified), unit_kind(*unit)};
}

}  // namespace

ModuleIndex::ModuleIndex(const std::vector<LinkedModule>& modules) : modules_(&modules) {
  first_.reserve(modules.size());
  for (std::size_t i = 0; i < modules.size(); ++i) first_.try_emplace(modules[i].alias, i);
}

const LinkedModule* ModuleIndex::with_alias(std::string_view alias) const {
  auto it = first_.find(alias);
  return it == first_.end() ? nullptr : &(*modules_)[it->second];
}

std::set<std::string> prelude_public_names(const std::vector<LinkedModule>& modules) {
  return public_prelude_names(modules);
}

std::set<std::string> prelude_public_names(const ModuleIndex& modules) { return public_prelude_names(modules); }

const ast::Unit* find_unit(const std::vector<LinkedModule>& modules, std::string_view qualified) {
  return unit_by_qualified_name(modules, qualified);
}

const ast::Unit* find_unit(const ModuleIndex& modules, std::string_view qualified) {
  return unit_by_qualified_name(modules, qualified);
}

CalleeResolution resolve_callee(const std::vector<LinkedModule>& modules, const LinkedModule& module,
                                const std::vector<std::string>& parts) {
  return resolve(modules, module, parts);
}

CalleeResolution resolve_callee(const ModuleIndex& modules, const LinkedModule& module,
                                const std::vector<std::string>& parts) {
  return resolve(modules, module, parts);
}

}  // namespace dravelin::compiler

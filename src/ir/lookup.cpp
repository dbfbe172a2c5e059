// Lookups of units by name on the whole program, the empty program, and the program's copies and moves.
#include <algorithm>
#include <vector>

#include "ir/program.h"

namespace dravelin::ir {

namespace {

template <class Unit>
const Unit* first_named(const std::vector<Unit>& units, std::string_view name) {
  auto it = std::find_if(units.begin(), units.end(), [&](const Unit& unit) { return unit.name == name; });
  return it == units.end() ? nullptr : &*it;
}

}  // namespace

Ir::Ir() = default;
Ir::Ir(const Ir&) = default;
Ir::Ir(Ir&&) noexcept = default;
Ir& Ir::operator=(const Ir&) = default;
Ir& Ir::operator=(Ir&&) noexcept = default;
Ir::~Ir() = default;

const Task* Ir::find_task(std::string_view name) const { return first_named(tasks, name); }

const Machine* Ir::find_machine(std::string_view name) const { return first_named(machines, name); }

const Judgment* Ir::find_judgment(std::string_view name) const { return first_named(judgments, name); }

Ir Ir::empty_named(std::string_view name) {
  Ir ir;
  ir.ir_version = std::string(kIrVersion);
  ir.program = std::string(name);
  return ir;
}

}  // namespace dravelin::ir

// Finding units by name, and the empty program.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string_view>

#include "ir/ir_test_builders.h"
#include "ir/nodes.h"

namespace dravelin::ir {
namespace {

using namespace build;

// Each unit list holds `main`, a library's `lib.main` and a second `main`, told apart by their lines.
Ir program_with_twins() {
  Ir ir = Ir::empty_named("twins");
  for (auto [unit, line] : {std::pair{"main", 1u}, {"lib.main", 2u}, {"main", 3u}}) {
    ir.tasks.push_back(task(unit, {}, at(line)));
    ir.machines.push_back(machine(unit, {}, at(line)));
    ir.judgments.push_back(judgment(unit, {}, at(line)));
  }
  return ir;
}

struct Lookup {
  const char* what;
  // The line of the unit found, or nothing.
  std::function<std::optional<uint32_t>(const Ir&, std::string_view)> line_of;
};

template <class Unit>
std::optional<uint32_t> line(const Unit* unit) {
  if (unit == nullptr) return std::nullopt;
  return unit->span.start.line;
}

TEST(IrLookup, FirstUnitOfTheWholeNameOrNothing) {
  const Lookup lookups[] = {
      {"find_task", [](const Ir& ir, std::string_view n) { return line(ir.find_task(n)); }},
      {"find_machine", [](const Ir& ir, std::string_view n) { return line(ir.find_machine(n)); }},
      {"find_judgment", [](const Ir& ir, std::string_view n) { return line(ir.find_judgment(n)); }},
  };
  struct Case {
    std::string_view name;
    std::optional<uint32_t> line;
  };
  const Case cases[] = {
      {"main", 1u},            // the first of two, never the library's
      {"lib.main", 2u},        // a library unit by its qualified name
      {"lib", std::nullopt},   // no prefix match
      {"mai", std::nullopt},
      {"main ", std::nullopt},
      {"Main", std::nullopt},  // bytes, not letters
      {"", std::nullopt},
      {"absent", std::nullopt},
  };
  const Ir ir = program_with_twins();
  for (const Lookup& lookup : lookups) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(lookup.what) + " \"" + std::string(c.name) + "\"");
      EXPECT_EQ(lookup.line_of(ir, c.name), c.line);
    }
    EXPECT_EQ(lookup.line_of(Ir::empty_named("none"), "main"), std::nullopt);
  }
}

TEST(IrLookup, LookupsSearchOnlyTheirOwnList) {
  Ir ir = Ir::empty_named("mixed");
  ir.machines.push_back(machine("flow", {}));
  ir.defs.push_back(def("helper", {}));
  EXPECT_EQ(ir.find_task("flow"), nullptr);
  EXPECT_EQ(ir.find_judgment("flow"), nullptr);
  EXPECT_EQ(ir.find_task("helper"), nullptr);
  EXPECT_EQ(ir.find_machine("flow"), &ir.machines[0]);
}

TEST(IrEmpty, HoldsOnlyTheVersionAndTheName) {
  const Ir ir = Ir::empty_named("replay");
  EXPECT_EQ(ir.ir_version, "0.1");
  EXPECT_EQ(ir.program, "replay");
  EXPECT_TRUE(ir.inputs.empty() && ir.outputs.empty() && ir.needs.empty() && ir.modules.empty());
  EXPECT_TRUE(ir.judgments.empty() && ir.tasks.empty() && ir.machines.empty() && ir.defs.empty());
  EXPECT_FALSE(ir.file.has_value());
  EXPECT_TRUE(ir.span == Span{});

  EXPECT_TRUE(ir == Ir::empty_named("replay"));
  EXPECT_FALSE(ir == Ir::empty_named("replay2"));
}

}  // namespace
}  // namespace dravelin::ir

// Request groups: independent judgments of one task, def or machine asked together.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ir/nodes.h"

namespace dravelin::compiler {

// Numbers the qualifying judgments of `stmts` in place; `counter` runs on across calls for one unit.
void assign_request_groups(std::vector<ir::Stmt>& stmts, const std::set<std::string>& capability_names,
                           uint32_t& counter);

// Whether evaluating `expr` may have an effect (a capability call, a unit call, a `focus`, ...).
bool expr_has_effect(const ir::Expr& expr, const std::set<std::string>& capability_names);

// Adds every variable name that `expr` reads to `names`.
void expr_read_names(const ir::Expr& expr, std::set<std::string>& names);

}  // namespace dravelin::compiler

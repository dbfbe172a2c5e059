// Placeholder until request groups land.
#include "compiler/batch.h"

namespace dravelin::compiler {

void assign_request_groups(std::vector<ir::Stmt>&, const std::set<std::string>&, uint32_t&) {}
bool expr_has_effect(const ir::Expr&, const std::set<std::string>&) { return true; }
void expr_read_names(const ir::Expr&, std::set<std::string>&) {}

}  // namespace dravelin::compiler

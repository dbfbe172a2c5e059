// Placeholder until lowering lands.
#include "compiler/lower.h"

namespace dravelin::compiler {

LoweredModule lower_program(const LinkedModule&, const std::vector<LinkedModule>&) { return {}; }
LoweredDeclarations lower_declarations(const syntax::ast::Program&) { return {}; }

}  // namespace dravelin::compiler

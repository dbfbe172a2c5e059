#include "record/linked_program.h"

#include "ir/read_json.h"

namespace dravelin::record {

Result<ir::Ir, std::string> read_linked_program(const json::Value& value) { return ir::read_ir_json(value); }

}  // namespace dravelin::record

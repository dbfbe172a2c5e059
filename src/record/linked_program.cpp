#include "record/linked_program.h"

namespace dravelin::record {

// The IR JSON reader is not part of the IR library yet; until it is, a start line's program does not read, and
// such a line comes back without execution metadata.
Result<ir::Ir, std::string> read_linked_program(const json::Value&) {
  return err(std::string("reading a linked program from JSON is not available yet"));
}

}  // namespace dravelin::record

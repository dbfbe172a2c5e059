// The IR reader: whatever it accepts writes back in a form it reads as the same program.
#include "fuzz_target.h"
#include "ir/read_json.h"
#include "ir/write_json.h"
#include "json/writer.h"

using namespace dravelin;

DRAVELIN_FUZZ_TARGET(ir) {
  auto program = ir::read_ir_json_text(bytes);
  if (!program.ok()) {
    if (program.error().empty()) return fuzz::broken("a refused program has an empty message");
    return fuzz::holds();
  }
  const std::string pretty = ir::ir_program_to_pretty_json(*program);
  auto again = ir::read_ir_json_text(pretty);
  if (!again.ok()) return fuzz::broken("the written form of an accepted program is refused: " + again.error());
  if (!(*again == *program)) return fuzz::broken("the written form reads back as another program");
  if (json::to_compact(ir::ir_program_to_json_value(*again)) != json::to_compact(ir::ir_program_to_json_value(*program)))
    return fuzz::broken("the value form differs between a program and its round trip");
  return fuzz::holds();
}

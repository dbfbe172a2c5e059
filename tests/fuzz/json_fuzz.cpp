// The JSON layer: every reader over the same bytes, with round trips through both layouts.
#include "fuzz_target.h"
#include "json/fuzz.h"

DRAVELIN_FUZZ_TARGET(json) {
  if (!dravelin::json::fuzz_one_input(bytes)) return dravelin::fuzz::broken("the JSON readers disagree or a round trip changed the value");
  return dravelin::fuzz::holds();
}

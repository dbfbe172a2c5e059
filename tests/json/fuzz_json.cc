// libFuzzer harness for the JSON layer (not part of the CMake build: its tests glob *.cpp only).
// Build with clang, for example:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/json/fuzz_json.cc src/json/*.cpp -o build/fuzz_json && build/fuzz_json -max_len=4096
#include <cstddef>
#include <cstdint>

#include "json/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!dravelin::json::fuzz_one_input({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}

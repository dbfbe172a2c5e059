// A fuzz-friendly entry: runs every reader over arbitrary bytes and checks the invariants that must hold
// whatever the input (no crash, no undefined behaviour, consistent results, lossless round trips).
//
// The `json` fuzz target (tests/fuzz/json_fuzz.cpp) runs it under libFuzzer and over its regression corpus.
#pragma once

#include <string_view>

namespace dravelin::json {

// Parses `bytes` with `parse` (document order), `parse_json_value`, `parse_json_object` and
// `Reader::skip_value`; for accepted input writes the value compactly and prettily and reads it back.
// Returns false when an invariant is broken:
//   - the readers agree on acceptance, and on the error (text, line, column) when they refuse;
//   - an error's line is at least 1 and its position lies within the text;
//   - compact and pretty output read back identical to the parsed value (kinds, float bits, entry order);
//   - compact output holds no line break and no byte below 0x20;
//   - the ordered-map reading equals the document-order reading.
bool fuzz_one_input(std::string_view bytes);

}  // namespace dravelin::json

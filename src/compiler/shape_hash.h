// Shape hashes: fingerprints of a judgment's or a machine's shape, "sh1:" and 16 hexadecimal digits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ir/nodes.h"

namespace dravelin::compiler {

// `name` is the unit's name as written, never the qualified one.
std::string judgment_shape_hash(std::string_view name, const std::vector<ir::JudgmentResult>& results);
std::string machine_shape_hash(std::string_view name, const std::vector<ir::MachineState>& states);

// Lowercase hexadecimal, two digits per byte.
std::string hex_lower(const unsigned char* bytes, std::size_t size);

// The canonical bytes each hash digests: 0x1E opens every result or state and 0x1F separates fields.
std::string judgment_shape_text(std::string_view name, const std::vector<ir::JudgmentResult>& results);
std::string machine_shape_text(std::string_view name, const std::vector<ir::MachineState>& states);

// "sh1:" and the first 8 bytes of the SHA-256 digest of `canonical` in lowercase hexadecimal.
std::string shape_hash_of_text(std::string_view canonical);

}  // namespace dravelin::compiler

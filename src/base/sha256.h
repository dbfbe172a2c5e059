// SHA-256 of bytes in memory, the one digest the program uses (shape hashes, `hash`, redacted texts, the skill
// receipt).
#pragma once

#include <string>
#include <string_view>

namespace dravelin {

// The 64 lower-case hex digits of the digest.
std::string sha256_hex(std::string_view bytes);

}  // namespace dravelin

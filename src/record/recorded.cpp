#include "record/recorded.h"

#include "base/sha256.h"
#include "json/record_read.h"

namespace dravelin::record {

std::optional<Redacted> redacted_marker(const json::Value& value) {
  const json::Object* outer = value.if_object();
  if (outer == nullptr || outer->size() != 1 || outer->entries().front().key != "redacted") return std::nullopt;
  const json::Object* inner = outer->entries().front().value.if_object();
  if (inner == nullptr || inner->size() != 2) return std::nullopt;
  const json::Value* hash = inner->find("hash");
  const json::Value* tokens = inner->find("tokens");
  if (hash == nullptr || tokens == nullptr || !hash->is_string() || !tokens->is_uint()) return std::nullopt;
  return Redacted{hash->as_string(), tokens->as_uint()};
}

bool is_full_wrapper(const json::Value& value) {
  const json::Object* object = value.if_object();
  return object != nullptr && object->size() == 1 && object->entries().front().key == kFullWrapperKey;
}

std::string hex_string(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0f];
  }
  return out;
}

Redacted summarize_text(std::string_view text, uint64_t tokens) {
  return Redacted{sha256_hex(text), tokens};
}

}  // namespace dravelin::record

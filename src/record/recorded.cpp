#include "record/recorded.h"

#include <openssl/evp.h>

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
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // SHA-256 over memory cannot fail short of the library being unusable; an empty digest would then show as
  // an empty hash, which no check accepts.
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) length = 0;
  return Redacted{hex_string(std::string_view(reinterpret_cast<const char*>(digest), length)), tokens};
}

}  // namespace dravelin::record

#include "tokens/tokenizer.h"

#include <array>

#include "tokens/bpe_encoder.h"

namespace dravelin::tokens {
namespace {

// The eight setting texts, indexed by code.
constexpr std::array<std::string_view, 8> kNames = {
    "tiktoken:o200k_harmony", "tiktoken:o200k_base", "tiktoken:cl100k_base", "tiktoken:p50k_base",
    "tiktoken:p50k_edit",     "tiktoken:r50k_base",  "tiktoken:gpt2",        "chars4",
};

class Chars4Tokenizer final : public Tokenizer {
 public:
  uint64_t count(std::string_view text) const override { return count_chars4(text); }
};

class BpeTokenizer final : public Tokenizer {
 public:
  explicit BpeTokenizer(const bpe::Encoder& encoder) : encoder_(encoder) {}
  uint64_t count(std::string_view text) const override { return encoder_.count(text); }

 private:
  const bpe::Encoder& encoder_;  // shared for the life of the process
};

json::ParseError unpositioned(std::string message) {
  return json::ParseError{json::ErrorCode::Message, std::move(message), 0, 0};
}

}  // namespace

std::string_view BpeEncoding::name() const { return kNames[id_]; }

std::optional<BpeEncoding> BpeEncoding::from_name(std::string_view text) {
  for (uint8_t code = 0; code < count; ++code) {
    if (kNames[code] == text) return BpeEncoding(static_cast<Id>(code));
  }
  return std::nullopt;
}

std::optional<BpeEncoding> BpeEncoding::from_code(uint8_t code) {
  if (code >= count) return std::nullopt;
  return BpeEncoding(static_cast<Id>(code));
}

std::optional<TokenizerKind> TokenizerKind::from_code(uint8_t code) {
  if (code > chars4_code) return std::nullopt;
  return TokenizerKind(code);
}

std::optional<BpeEncoding> TokenizerKind::encoding() const { return BpeEncoding::from_code(code_); }

std::string_view TokenizerKind::name() const { return kNames[code_]; }

std::optional<TokenizerKind> TokenizerKind::from_name(std::string_view text) {
  if (text == kNames[chars4_code]) return chars4();
  if (auto encoding = BpeEncoding::from_name(text)) return bpe(*encoding);
  return std::nullopt;
}

Result<TokenizerKind, json::ParseError> TokenizerKind::from_json(const json::Value& value) {
  const std::string* text = value.if_string();
  if (text == nullptr) return err(unpositioned(json::invalid_type_message(value, "a string")));
  if (auto kind = from_name(*text)) return *kind;
  return err(unpositioned(unsupported_tokenizer_error(*text)));
}

Result<TokenizerKind, json::ParseError> TokenizerKind::from_json(json::Reader& reader) {
  if (reader.peek() != '"') return err(reader.invalid_type("a string"));
  json::Value value = TRY(reader.read_value());
  if (auto kind = from_name(value.as_string())) return *kind;
  return err(reader.error(unsupported_tokenizer_error(value.as_string())));
}

std::unique_ptr<Tokenizer> TokenizerKind::tokenizer() const {
  if (auto encoding = this->encoding()) return std::make_unique<BpeTokenizer>(bpe::encoder_for(*encoding));
  return std::make_unique<Chars4Tokenizer>();
}

std::string unsupported_tokenizer_error(std::string_view text) {
  std::string message = "unsupported tokenizer `";
  message += text;
  message += "`; expected `chars4` or a supported `tiktoken:<encoding>`";
  return message;
}

uint64_t count_chars4(std::string_view text) {
  // Scalar values are the bytes that do not continue a UTF-8 sequence.
  uint64_t scalars = 0;
  for (unsigned char b : text) scalars += (b & 0xC0) != 0x80;
  return (scalars + 3) / 4;
}

uint64_t count_bpe_tokens(BpeEncoding encoding, std::string_view text) {
  return bpe::encoder_for(encoding).count(text);
}

}  // namespace dravelin::tokens

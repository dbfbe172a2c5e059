// Token counting: a model profile's `tokenizer` setting and the counter it yields.
//
// The setting is either "chars4" (a cheap estimate: Unicode scalar values divided by four, rounded up) or one of
// seven byte-pair encodings, named "tiktoken:<encoding>". A BPE count equals the length of the encoding's
// ordinary encoding of the text: special-token texts such as "<|endoftext|>" count as plain text.
//
// Encoders are heavy (up to two hundred thousand ranks) and are built lazily, once per process, on the first
// count of an encoding that needs them; encodings that share ranks and split pattern share one encoder
// (o200k_harmony with o200k_base, p50k_edit with p50k_base, gpt2 with r50k_base). Naming, parsing and writing
// a setting never builds one. Counting is thread-safe and takes no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/reader.h"
#include "json/value.h"

namespace dravelin::tokens {

// The byte-pair encodings; the order is their one-byte code.
class BpeEncoding {
 public:
  enum Id : uint8_t { O200kHarmony, O200kBase, Cl100kBase, P50kBase, P50kEdit, R50kBase, Gpt2 };
  static constexpr size_t count = 7;

  constexpr BpeEncoding(Id id) : id_(id) {}

  constexpr Id id() const { return id_; }
  constexpr uint8_t code() const { return id_; }
  // The tokenizer text, prefix included: "tiktoken:o200k_base".
  std::string_view name() const;

  // Exact, case-sensitive match of the whole tokenizer text; nothing is trimmed.
  static std::optional<BpeEncoding> from_name(std::string_view text);
  static std::optional<BpeEncoding> from_code(uint8_t code);

  friend constexpr bool operator==(BpeEncoding a, BpeEncoding b) { return a.id_ == b.id_; }

 private:
  Id id_;
};

// Counts tokens. Handles are cheap: the encoders behind them are shared and outlive every handle.
class Tokenizer {
 public:
  virtual ~Tokenizer() = default;
  virtual uint64_t count(std::string_view text) const = 0;
};

// A profile's tokenizer setting: a byte-pair encoding (codes 0 to 6) or chars4 (code 7).
class TokenizerKind {
 public:
  static constexpr uint8_t chars4_code = 7;

  static constexpr TokenizerKind chars4() { return TokenizerKind(chars4_code); }
  static constexpr TokenizerKind bpe(BpeEncoding encoding) { return TokenizerKind(encoding.code()); }
  static std::optional<TokenizerKind> from_code(uint8_t code);

  constexpr uint8_t code() const { return code_; }
  constexpr bool is_chars4() const { return code_ == chars4_code; }
  std::optional<BpeEncoding> encoding() const;
  // "chars4" or the encoding's tokenizer text.
  std::string_view name() const;

  // "chars4" or a tokenizer text of `BpeEncoding::from_name`; anything else gives none.
  static std::optional<TokenizerKind> from_name(std::string_view text);
  // A JSON string naming a setting. A string that names none fails with `unsupported_tokenizer_error`; any other
  // JSON value with the reader's "invalid type: ..., expected a string". The errors carry no position.
  static Result<TokenizerKind, json::ParseError> from_json(const json::Value& value);
  // The same, reading the value at the pull reader's place; errors are positioned as the reader places them.
  static Result<TokenizerKind, json::ParseError> from_json(json::Reader& reader);

  // A new counter for this setting (building the encoder first if this is its first use in the process).
  std::unique_ptr<Tokenizer> tokenizer() const;

  friend constexpr bool operator==(TokenizerKind a, TokenizerKind b) { return a.code_ == b.code_; }

 private:
  explicit constexpr TokenizerKind(uint8_t code) : code_(code) {}
  uint8_t code_;
};

// "unsupported tokenizer `<text>`; expected `chars4` or a supported `tiktoken:<encoding>`"
std::string unsupported_tokenizer_error(std::string_view text);

// The member "tokenizer":"<name>" of an object being written (`json::Writer` or `json::ValueBuilder`).
template <class Out>
void write_json_field_tokenizer(Out& out, TokenizerKind kind) {
  out.field_string("tokenizer", kind.name());
}

// Unicode scalar values of the text divided by four, rounded up. One pass, no allocation.
uint64_t count_chars4(std::string_view text);

// The number of tokens of the encoding's ordinary encoding of the text. Bytes that are not UTF-8 are counted
// too (each as a character of its own that is neither letter, number nor space), never refused.
uint64_t count_bpe_tokens(BpeEncoding encoding, std::string_view text);

}  // namespace dravelin::tokens

// Byte offsets of a UTF-8 text to and from protocol positions in the negotiated encoding.
//
// Only "\n" ends a line; "\r" is an ordinary character. The index keeps no text: every conversion is given the
// text it was built from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/protocol/types.h"
#include "syntax/diagnostic.h"

namespace dravelin::lsp {

#define DRAVELIN_POSITION_ENCODINGS(X) X(Utf8, "utf-8") X(Utf16, "utf-16") X(Utf32, "utf-32")

enum class PositionEncoding : uint8_t {
#define X(member, name) member,
  DRAVELIN_POSITION_ENCODINGS(X)
#undef X
};

std::string_view encoding_name(PositionEncoding encoding);

// The first of the client's offers that the server knows; UTF-16 when there is none.
PositionEncoding negotiate_position_encoding(const std::optional<std::vector<std::string>>& offered);

class LineIndex {
 public:
  LineIndex(std::string_view text, PositionEncoding encoding);

  Position position(std::string_view text, size_t offset) const;
  size_t offset(std::string_view text, Position position) const;
  // From the span's start offset to the larger of its two offsets; the line and column members are not read.
  Range range(std::string_view text, const syntax::Span& span) const;
  Range range(std::string_view text, size_t start, size_t end) const;

  size_t line_count() const { return line_starts_.size(); }
  size_t line_start(size_t line) const { return line_starts_[line]; }
  // The zero-based line holding the offset.
  size_t line_of(size_t offset) const;
  PositionEncoding encoding() const { return encoding_; }

 private:
  std::vector<uint32_t> line_starts_;
  PositionEncoding encoding_;
};

}  // namespace dravelin::lsp

// Byte offsets of a UTF-8 text to and from protocol positions in the negotiated encoding.
//
// Only "\n" ends a line; "\r" is an ordinary character. The index keeps no text: every conversion is given the
// text it was built from.
//
// A conversion counts characters from the line's start, or on a long line from the nearest checkpoint before
// the place asked: a line of any length costs a binary search and a walk of a few dozen bytes per conversion.
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

  // Positions of offsets asked in increasing order, as `position` gives them, each counted on from the one
  // before when it lies on the same line: converting every token of a document costs one pass over its text
  // instead of a count from the line start per token. An offset below the last one asked is counted afresh.
  class Cursor {
   public:
    Cursor(const LineIndex& index, std::string_view text) : index_(index), text_(text) {}
    Position position(size_t offset);

   private:
    const LineIndex& index_;
    std::string_view text_;
    size_t line_ = 0;
    size_t offset_ = 0;  // a character boundary on `line_`
    uint32_t character_ = 0;
  };

 private:
  // A character boundary inside a long line and the units of its line before it.
  struct Checkpoint {
    uint32_t offset;
    uint32_t units;
  };

  // Where to start counting towards `offset` on `line`: the last checkpoint at or before it, else the line start.
  Checkpoint walk_start(size_t line, size_t offset) const;

  std::vector<uint32_t> line_starts_;
  std::vector<Checkpoint> checkpoints_;  // ascending offsets; one per few dozen bytes of each long line
  PositionEncoding encoding_;
};

}  // namespace dravelin::lsp

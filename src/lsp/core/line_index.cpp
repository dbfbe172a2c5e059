#include "lsp/core/line_index.h"

#include <algorithm>

#include "syntax/utf8.h"

namespace dravelin::lsp {
namespace {

constexpr std::string_view kEncodingNames[] = {
#define X(member, name) name,
    DRAVELIN_POSITION_ENCODINGS(X)
#undef X
};

// Lines longer than this get a checkpoint every this many bytes: the most a conversion walks.
constexpr size_t kCheckpointStride = 64;

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

uint32_t width(char32_t code, uint32_t utf8_length, PositionEncoding encoding) {
  switch (encoding) {
    case PositionEncoding::Utf8: return utf8_length;
    case PositionEncoding::Utf16: return code >= 0x10000 ? 2 : 1;
    case PositionEncoding::Utf32: return 1;
  }
  return 1;
}

}  // namespace

std::string_view encoding_name(PositionEncoding encoding) {
  return kEncodingNames[static_cast<size_t>(encoding)];
}

PositionEncoding negotiate_position_encoding(const std::optional<std::vector<std::string>>& offered) {
  if (offered) {
    for (const std::string& name : *offered) {
      for (size_t i = 0; i < std::size(kEncodingNames); ++i)
        if (name == kEncodingNames[i]) return static_cast<PositionEncoding>(i);
    }
  }
  return PositionEncoding::Utf16;
}

LineIndex::LineIndex(std::string_view text, PositionEncoding encoding) : encoding_(encoding) {
  line_starts_.push_back(0);
  for (size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1))
    line_starts_.push_back(static_cast<uint32_t>(i + 1));
  // Checkpoints lie on the character boundaries a walk from the line start steps on, so a walk begun at one
  // counts exactly what the walk from the line start would.
  for (size_t line = 0; line < line_starts_.size(); ++line) {
    const size_t start = line_starts_[line];
    const size_t end = line + 1 < line_starts_.size() ? line_starts_[line + 1] - 1 : text.size();
    if (end - start <= kCheckpointStride) continue;
    size_t next = start + kCheckpointStride;
    uint32_t units = 0;
    for (size_t i = start; i < end;) {
      if (i >= next) {
        checkpoints_.push_back(Checkpoint{static_cast<uint32_t>(i), units});
        next = i + kCheckpointStride;
      }
      const syntax::Utf8Char c = syntax::decode_utf8(text, i);
      units += width(c.code, c.length, encoding_);
      i += c.length;
    }
  }
}

LineIndex::Checkpoint LineIndex::walk_start(size_t line, size_t offset) const {
  const uint32_t start = line_starts_[line];
  auto after = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset,
                                [](size_t o, const Checkpoint& c) { return o < c.offset; });
  // Checkpoints lie strictly inside their lines: one after the line start and not after the offset is on it.
  if (after != checkpoints_.begin() && std::prev(after)->offset > start) return *std::prev(after);
  return Checkpoint{start, 0};
}

size_t LineIndex::line_of(size_t offset) const {
  auto it = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  return static_cast<size_t>(it - line_starts_.begin()) - 1;
}

Position LineIndex::position(std::string_view text, size_t offset) const {
  offset = std::min(offset, text.size());
  while (offset > 0 && offset < text.size() && is_continuation(text[offset])) --offset;
  const size_t line = line_of(offset);
  const Checkpoint from = walk_start(line, offset);
  uint32_t character = from.units;
  for (size_t i = from.offset; i < offset;) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, i);
    character += width(c.code, c.length, encoding_);
    i += c.length;
  }
  return Position{static_cast<uint32_t>(line), character};
}

Position LineIndex::Cursor::position(size_t offset) {
  offset = std::min(offset, text_.size());
  while (offset > 0 && offset < text_.size() && is_continuation(text_[offset])) --offset;
  const bool past_line = line_ + 1 < index_.line_starts_.size() && offset >= index_.line_starts_[line_ + 1];
  const bool reset = offset < offset_ || past_line;
  if (reset) line_ = index_.line_of(offset);
  // Far ahead on a long line, a checkpoint is nearer than the place reached so far.
  const Checkpoint from = index_.walk_start(line_, offset);
  if (reset || from.offset > offset_) {
    offset_ = from.offset;
    character_ = from.units;
  }
  while (offset_ < offset) {
    const syntax::Utf8Char c = syntax::decode_utf8(text_, offset_);
    character_ += width(c.code, c.length, index_.encoding_);
    offset_ += c.length;
  }
  return Position{static_cast<uint32_t>(line_), character_};
}

size_t LineIndex::offset(std::string_view text, Position position) const {
  if (position.line >= line_starts_.size()) return text.size();
  const size_t start = line_starts_[position.line];
  const size_t end = position.line + 1 < line_starts_.size() ? line_starts_[position.line + 1] - 1 : text.size();
  // The line's checkpoints, and the last of them still short of the character asked: the walk from the line
  // start would pass it without stopping.
  auto first = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), start,
                                [](size_t o, const Checkpoint& c) { return o < c.offset; });
  auto last = std::lower_bound(first, checkpoints_.end(), end,
                               [](const Checkpoint& c, size_t o) { return c.offset < o; });
  auto short_of = std::partition_point(first, last, [&](const Checkpoint& c) { return c.units < position.character; });
  size_t i = start;
  uint32_t count = 0;
  if (short_of != first) {
    i = std::prev(short_of)->offset;
    count = std::prev(short_of)->units;
  }
  while (i < end) {
    if (count >= position.character) return i;
    const syntax::Utf8Char c = syntax::decode_utf8(text, i);
    count += width(c.code, c.length, encoding_);
    i += c.length;
  }
  return end;
}

Range LineIndex::range(std::string_view text, size_t start, size_t end) const {
  return Range{position(text, start), position(text, std::max(start, end))};
}

Range LineIndex::range(std::string_view text, const syntax::Span& span) const {
  return range(text, span.start.offset, span.end.offset);
}

}  // namespace dravelin::lsp

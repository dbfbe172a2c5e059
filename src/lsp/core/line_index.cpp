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
}

size_t LineIndex::line_of(size_t offset) const {
  auto it = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  return static_cast<size_t>(it - line_starts_.begin()) - 1;
}

Position LineIndex::position(std::string_view text, size_t offset) const {
  offset = std::min(offset, text.size());
  while (offset > 0 && offset < text.size() && is_continuation(text[offset])) --offset;
  const size_t line = line_of(offset);
  uint32_t character = 0;
  for (size_t i = line_starts_[line]; i < offset;) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, i);
    character += width(c.code, c.length, encoding_);
    i += c.length;
  }
  return Position{static_cast<uint32_t>(line), character};
}

size_t LineIndex::offset(std::string_view text, Position position) const {
  if (position.line >= line_starts_.size()) return text.size();
  const size_t start = line_starts_[position.line];
  const size_t end = position.line + 1 < line_starts_.size() ? line_starts_[position.line + 1] - 1 : text.size();
  uint32_t count = 0;
  for (size_t i = start; i < end;) {
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

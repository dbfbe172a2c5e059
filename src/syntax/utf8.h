// UTF-8 decoding that never fails: a byte that does not begin a well-formed sequence reads as U+FFFD
// of length 1, so byte offsets keep indexing the original text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dravelin::syntax {

inline constexpr char32_t kReplacementChar = 0xFFFD;

struct Utf8Char {
  char32_t code;
  uint32_t length;  // bytes taken from the text, 1 to 4
};

// What a byte at or above 0x80 asks of the bytes after it: how many continuation bytes (0 when it cannot
// begin a sequence), and the range the first of them must lie in. That range depends on the lead byte: it
// rules out overlong forms, surrogates and values past U+10FFFF in one comparison.
struct Utf8Lead {
  uint32_t need;
  uint32_t lo;
  uint32_t hi;
};

inline constexpr Utf8Lead utf8_lead(uint32_t b0) {
  if (b0 >= 0xC2 && b0 <= 0xDF) return {1, 0x80, 0xBF};
  if (b0 >= 0xE0 && b0 <= 0xEF) return {2, b0 == 0xE0 ? 0xA0u : 0x80u, b0 == 0xED ? 0x9Fu : 0xBFu};
  if (b0 >= 0xF0 && b0 <= 0xF4) return {3, b0 == 0xF0 ? 0x90u : 0x80u, b0 == 0xF4 ? 0x8Fu : 0xBFu};
  return {0, 0x80, 0xBF};
}

// The character starting at `offset`, which must lie inside `text`.
inline Utf8Char decode_utf8(std::string_view text, size_t offset) {
  auto byte = [&](size_t i) -> uint32_t { return static_cast<unsigned char>(text[i]); };
  const uint32_t b0 = byte(offset);
  if (b0 < 0x80) return {b0, 1};
  const size_t left = text.size() - offset;
  const Utf8Char bad{kReplacementChar, 1};
  const Utf8Lead lead = utf8_lead(b0);
  if (lead.need == 0 || left <= lead.need) return bad;
  const uint32_t b1 = byte(offset + 1);
  if (b1 < lead.lo || b1 > lead.hi) return bad;
  uint32_t code = (b0 & (0x3F >> lead.need)) << 6 | (b1 & 0x3F);
  for (uint32_t i = 2; i <= lead.need; ++i) {
    const uint32_t b = byte(offset + i);
    if ((b & 0xC0) != 0x80) return bad;
    code = code << 6 | (b & 0x3F);
  }
  return {code, lead.need + 1};
}

// Whether `text` is well-formed UTF-8.
inline bool is_valid_utf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const Utf8Char c = decode_utf8(text, i);
    // The decoder marks a malformed byte as a one-byte U+FFFD; a well-formed U+FFFD takes three bytes.
    if (c.code == kReplacementChar && c.length == 1) return false;
    i += c.length;
  }
  return true;
}

inline void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// How many bytes from `offset`, where a malformed sequence starts, one U+FFFD stands for: the longest prefix of a
// well-formed sequence there (at least the one byte), as the usual lossy conversion counts it, so that a
// truncated three-byte sequence shows as one replacement, not one per byte.
inline size_t malformed_length(std::string_view text, size_t offset) {
  const Utf8Lead lead = utf8_lead(static_cast<unsigned char>(text[offset]));
  size_t end = offset + 1;
  for (uint32_t k = 0; k < lead.need && end < text.size(); ++k, ++end) {
    const auto b = static_cast<unsigned char>(text[end]);
    if (k == 0 ? (b < lead.lo || b > lead.hi) : (b & 0xC0) != 0x80) break;
  }
  return end - offset;
}

// `text` with every byte that does not begin a well-formed sequence replaced by U+FFFD, as messages show a
// file name or other bytes that need not be UTF-8.
inline std::string to_valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const Utf8Char c = decode_utf8(text, at);
    append_utf8(out, c.code);
    at += c.length;
  }
  return out;
}

}  // namespace dravelin::syntax

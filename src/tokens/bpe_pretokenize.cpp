#include "tokens/bpe_pretokenize.h"

#include <array>

#include "tokens/bpe_char_class.h"

namespace dravelin::tokens::bpe {
namespace {

constexpr uint16_t kOther = class_bit(kClassOther);
constexpr uint16_t kMark = class_bit(kClassMark);
constexpr uint16_t kNumber = class_bit(kClassNumber);
constexpr uint16_t kSpace = class_bit(kClassSpace);
constexpr uint16_t kLetter = class_bit(kClassUpper) | class_bit(kClassLower) | class_bit(kClassTitle) |
                             class_bit(kClassModifier) | class_bit(kClassLetter);
// [^\s\p{L}\p{N}]
constexpr uint16_t kSymbol = kOther | kMark;
// [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}] and [\p{Ll}\p{Lm}\p{Lo}\p{M}]
constexpr uint16_t kCased = class_bit(kClassUpper) | class_bit(kClassTitle) | class_bit(kClassModifier) |
                            class_bit(kClassLetter) | kMark;
constexpr uint16_t kUncased = class_bit(kClassLower) | class_bit(kClassModifier) | class_bit(kClassLetter) | kMark;

struct Char {
  uint16_t mask;  // class_bit of its class
  uint8_t len;    // bytes
};

// ASCII's classes never change between Unicode versions; White_Space there is \t \n \v \f \r and space.
constexpr std::array<uint16_t, 128> ascii_masks() {
  std::array<uint16_t, 128> m{};
  for (int c = 0; c < 128; ++c) {
    if (c >= 'A' && c <= 'Z') m[c] = class_bit(kClassUpper);
    else if (c >= 'a' && c <= 'z') m[c] = class_bit(kClassLower);
    else if (c >= '0' && c <= '9') m[c] = kNumber;
    else if ((c >= '\t' && c <= '\r') || c == ' ') m[c] = kSpace;
    else m[c] = kOther;
  }
  return m;
}
constexpr std::array<uint16_t, 128> kAsciiMasks = ascii_masks();

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

class Text {
 public:
  explicit Text(std::string_view text)
      : p_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()), classes_(CharClasses::get()) {}

  size_t size() const { return n_; }
  unsigned char byte(size_t i) const { return p_[i]; }
  const unsigned char* data() const { return p_; }

  // The character at byte i (< size).
  Char at(size_t i) const {
    const unsigned char b = p_[i];
    if (b < 0x80) return Char{kAsciiMasks[b], 1};
    return decode(i);
  }

  // The end of the run of characters in `mask` that starts at i.
  size_t run_end(size_t i, uint16_t mask) const {
    while (i < n_) {
      const Char c = at(i);
      if (!(c.mask & mask)) break;
      i += c.len;
    }
    return i;
  }

  // [^\r\n\p{L}\p{N}]
  bool is_prefix(size_t i, Char c) const {
    return (c.mask & (kSymbol | kSpace)) && p_[i] != '\r' && p_[i] != '\n';
  }

  bool is_line_break(size_t i) const { return p_[i] == '\r' || p_[i] == '\n'; }

 private:
  Char classify(uint32_t cp, uint8_t len) const { return Char{class_bit(classes_.of(cp)), len}; }

  // Well-formed UTF-8 only: shortest forms, no surrogates, nothing above U+10FFFF.
  Char decode(size_t i) const {
    static constexpr Char kMalformed{kOther, 1};
    const unsigned char b0 = p_[i];
    const size_t left = n_ - i;
    if (b0 < 0xC2) return kMalformed;
    if (b0 < 0xE0) {
      if (left < 2 || !is_continuation(p_[i + 1])) return kMalformed;
      return classify((b0 & 0x1Fu) << 6 | (p_[i + 1] & 0x3Fu), 2);
    }
    if (b0 < 0xF0) {
      if (left < 3) return kMalformed;
      const unsigned char b1 = p_[i + 1];
      const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
      const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
      if (b1 < lo || b1 > hi || !is_continuation(p_[i + 2])) return kMalformed;
      return classify((b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (p_[i + 2] & 0x3Fu), 3);
    }
    if (b0 < 0xF5) {
      if (left < 4) return kMalformed;
      const unsigned char b1 = p_[i + 1];
      const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
      const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
      if (b1 < lo || b1 > hi || !is_continuation(p_[i + 2]) || !is_continuation(p_[i + 3])) return kMalformed;
      return classify((b0 & 0x07u) << 18 | (b1 & 0x3Fu) << 12 | (p_[i + 2] & 0x3Fu) << 6 | (p_[i + 3] & 0x3Fu), 4);
    }
    return kMalformed;
  }

  const unsigned char* p_;
  size_t n_;
  const CharClasses& classes_;
};

// The contractions at an apostrophe at i: the end of the one that matches there, or 0.
size_t contraction(const Text& t, size_t i, bool any_case) {
  const size_t n = t.size();
  if (i + 1 >= n) return 0;
  unsigned char c = t.byte(i + 1);
  if (any_case) {
    if (c == 0xC5 && i + 2 < n && t.byte(i + 2) == 0xBF) return i + 3;  // U+017F, which folds to s
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
  }
  auto second_is = [&](unsigned char want) {
    if (i + 2 >= n) return false;
    unsigned char d = t.byte(i + 2);
    if (any_case && d >= 'A' && d <= 'Z') d = static_cast<unsigned char>(d + 32);
    return d == want;
  };
  switch (c) {
    case 's':
    case 't':
    case 'm':
    case 'd':
      return i + 2;
    case 'r':
    case 'v':
      return second_is('e') ? i + 3 : 0;
    case 'l':
      return second_is('l') ? i + 3 : 0;
    default:
      return 0;
  }
}

// The white-space alternatives once nothing before them matched at i (a white-space character). With
// `line_breaks`, \s*[\r\n]+ comes first: the run up to and including its last line break. Then \s+(?!\S): the
// whole run at the end of the text, else the run without its last character, which goes with what follows.
// Then \s+ for a single white-space character before a non-space.
size_t space_end(const Text& t, size_t i, bool line_breaks) {
  size_t p = i;
  size_t last_start = i;
  size_t after_break = 0;
  while (p < t.size()) {
    const Char c = t.at(p);
    if (!(c.mask & kSpace)) break;
    if (t.is_line_break(p)) after_break = p + 1;
    last_start = p;
    p += c.len;
  }
  if (line_breaks && after_break != 0) return after_break;
  if (p == t.size()) return p;
  if (last_start > i) return last_start;
  return p;
}

// Up to three numbers.
size_t digits_end(const Text& t, size_t i) {
  size_t p = i;
  for (int k = 0; k < 3 && p < t.size(); ++k) {
    const Char c = t.at(p);
    if (!(c.mask & kNumber)) break;
    p += c.len;
  }
  return p;
}

struct R50kSplit {
  static size_t end(const Text& t, size_t i) {
    if (t.byte(i) == '\'') {
      if (size_t e = contraction(t, i, false)) return e;
    }
    const Char a = t.at(i);
    // ` ?X+` for X letters, numbers and symbols: a space goes with a run that follows it.
    if (t.byte(i) == ' ' && i + 1 < t.size()) {
      const Char b = t.at(i + 1);
      for (uint16_t run : {kLetter, kNumber, kSymbol}) {
        if (b.mask & run) return t.run_end(i + 1, run);
      }
    }
    for (uint16_t run : {kLetter, kNumber, kSymbol}) {
      if (a.mask & run) return t.run_end(i, run);
    }
    return space_end(t, i, false);
  }
};

struct Cl100kSplit {
  static size_t end(const Text& t, size_t i) {
    const size_t n = t.size();
    if (t.byte(i) == '\'') {
      if (size_t e = contraction(t, i, true)) return e;
    }
    const Char a = t.at(i);
    // [^\r\n\p{L}\p{N}]?\p{L}+
    if (t.is_prefix(i, a) && i + a.len < n && (t.at(i + a.len).mask & kLetter)) return t.run_end(i + a.len, kLetter);
    if (a.mask & kLetter) return t.run_end(i, kLetter);
    if (a.mask & kNumber) return digits_end(t, i);
    // ` ?[^\s\p{L}\p{N}]+[\r\n]*`
    size_t s = i;
    if (t.byte(i) == ' ' && i + 1 < n && (t.at(i + 1).mask & kSymbol)) s = i + 1;
    if (s != i || (a.mask & kSymbol)) {
      size_t p = t.run_end(s, kSymbol);
      while (p < n && t.is_line_break(p)) ++p;
      return p;
    }
    return space_end(t, i, true);
  }
};

struct O200kSplit {
  // [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+ at s, or 0. The first class is taken greedily
  // and given back one character at a time until the second can start: so the match ends after the run of
  // the second class that follows the first class's run, or else just after the last character of the run
  // that belongs to both classes.
  static size_t cased_then_uncased(const Text& t, size_t s) {
    size_t p = s;
    size_t after_last_shared = 0;
    while (p < t.size()) {
      const Char c = t.at(p);
      if (!(c.mask & kCased)) {
        if (c.mask & kUncased) return t.run_end(p, kUncased);
        break;
      }
      p += c.len;
      if (c.mask & kUncased) after_last_shared = p;
    }
    return after_last_shared;
  }

  // [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]* at s, or 0.
  static size_t cased_run(const Text& t, size_t s) {
    if (s >= t.size() || !(t.at(s).mask & kCased)) return 0;
    return t.run_end(t.run_end(s, kCased), kUncased);
  }

  static size_t with_contraction(const Text& t, size_t e) {
    if (e < t.size() && t.byte(e) == '\'') {
      if (size_t c = contraction(t, e, true)) return c;
    }
    return e;
  }

  static size_t end(const Text& t, size_t i) {
    const size_t n = t.size();
    const Char a = t.at(i);
    // The two letter alternatives, each first with the optional leading character, then without it.
    const bool prefix = t.is_prefix(i, a) && i + a.len < n;
    if (prefix) {
      if (size_t e = cased_then_uncased(t, i + a.len)) return with_contraction(t, e);
    }
    if (size_t e = cased_then_uncased(t, i)) return with_contraction(t, e);
    if (prefix) {
      if (size_t e = cased_run(t, i + a.len)) return with_contraction(t, e);
    }
    if (size_t e = cased_run(t, i)) return with_contraction(t, e);
    if (a.mask & kNumber) return digits_end(t, i);
    // ` ?[^\s\p{L}\p{N}]+[\r\n/]*`
    size_t s = i;
    if (t.byte(i) == ' ' && i + 1 < n && (t.at(i + 1).mask & kSymbol)) s = i + 1;
    if (s != i || (a.mask & kSymbol)) {
      size_t p = t.run_end(s, kSymbol);
      while (p < n && (t.is_line_break(p) || t.byte(p) == '/')) ++p;
      return p;
    }
    return space_end(t, i, true);
  }
};

template <class Split, class Visit>
void for_each_piece(std::string_view text, Visit&& visit) {
  const Text t(text);
  size_t i = 0;
  while (i < t.size()) {
    size_t e = Split::end(t, i);
    if (e <= i) e = i + t.at(i).len;  // unreachable: some alternative matches every character
    visit(t.data() + i, e - i);
    i = e;
  }
}

template <class Visit>
void dispatch(SplitPattern pattern, std::string_view text, Visit&& visit) {
  switch (pattern) {
    case SplitPattern::R50k: return for_each_piece<R50kSplit>(text, visit);
    case SplitPattern::Cl100k: return for_each_piece<Cl100kSplit>(text, visit);
    case SplitPattern::O200k: return for_each_piece<O200kSplit>(text, visit);
  }
}

}  // namespace

uint64_t count_tokens(SplitPattern pattern, const Ranks& ranks, std::string_view text) {
  uint64_t total = 0;
  dispatch(pattern, text, [&](const unsigned char* p, size_t len) { total += ranks.count_piece(p, len); });
  return total;
}

std::vector<std::string_view> split_pieces(SplitPattern pattern, std::string_view text) {
  std::vector<std::string_view> pieces;
  dispatch(pattern, text, [&](const unsigned char* p, size_t len) {
    pieces.emplace_back(reinterpret_cast<const char*>(p), len);
  });
  return pieces;
}

}  // namespace dravelin::tokens::bpe

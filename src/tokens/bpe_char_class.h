// Character classes of the split patterns: the general categories they name (letters by kind, marks, numbers)
// and Unicode white space, for every code point. Private to the tokenizer sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravelin::tokens::bpe {

// The numbering of data/bpe/char_classes.bin.
enum CharClass : uint8_t {
  kClassOther = 0,
  kClassUpper = 1,     // Lu
  kClassLower = 2,     // Ll
  kClassTitle = 3,     // Lt
  kClassModifier = 4,  // Lm
  kClassLetter = 5,    // Lo
  kClassMark = 6,      // M
  kClassNumber = 7,    // N
  kClassSpace = 8,     // White_Space
};
inline constexpr int kClassCount = 9;

// One bit per class, so that the patterns' character sets are masks.
constexpr uint16_t class_bit(CharClass c) { return static_cast<uint16_t>(1u << c); }

// A two-stage table over all code points, built once from the embedded range list.
class CharClasses {
 public:
  static const CharClasses& get();

  CharClass of(uint32_t cp) const {
    if (cp > 0x10FFFF) return kClassOther;
    return static_cast<CharClass>(blocks_[(static_cast<size_t>(block_of_[cp >> 8]) << 8) | (cp & 0xFF)]);
  }

 private:
  CharClasses();
  std::vector<uint16_t> block_of_;  // code point >> 8 -> block number
  std::vector<uint8_t> blocks_;     // 256 classes per distinct block
};

}  // namespace dravelin::tokens::bpe

#include "tokens/bpe_char_class.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "tokens/bpe_tables.h"

namespace dravelin::tokens::bpe {
namespace {

constexpr uint32_t kCodePoints = 0x110000;

uint32_t read_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The table is part of the program: a malformed one is a build fault, not something a user can cause.
[[noreturn]] void corrupt_classes(const char* what) {
  std::fprintf(stderr, "dravelin: the embedded character classes are malformed (%s)\n", what);
  std::abort();
}

}  // namespace

const CharClasses& CharClasses::get() {
  static const CharClasses* classes = new CharClasses();
  return *classes;
}

CharClasses::CharClasses() {
  EmbeddedBytes data = embedded_char_classes();
  if (data.size < 12 || std::memcmp(data.data, "DRVUCC01", 8) != 0) corrupt_classes("header");
  const uint32_t count = read_u32(data.data + 8);
  if (count == 0 || data.size != 12 + static_cast<size_t>(count) * 4) corrupt_classes("size");

  std::vector<uint8_t> flat(kCodePoints, kClassOther);
  uint32_t previous_start = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t word = read_u32(data.data + 12 + i * 4);
    const uint32_t start = word >> 8;
    const uint8_t cls = static_cast<uint8_t>(word & 0xFF);
    if (cls >= kClassCount || start >= kCodePoints || (i > 0 && start <= previous_start) || (i == 0 && start != 0)) {
      corrupt_classes("range");
    }
    const uint32_t end = i + 1 < count ? read_u32(data.data + 12 + (i + 1) * 4) >> 8 : kCodePoints;
    if (end > kCodePoints) corrupt_classes("range end");
    std::memset(flat.data() + start, cls, end > start ? end - start : 0);
    previous_start = start;
  }

  // Most blocks of 256 code points are alike (unassigned, or all of one script's letters): keep each once.
  std::map<std::string, uint16_t> seen;
  block_of_.resize(kCodePoints >> 8);
  for (uint32_t b = 0; b < (kCodePoints >> 8); ++b) {
    std::string block(reinterpret_cast<const char*>(flat.data() + (b << 8)), 256);
    auto [it, inserted] = seen.emplace(std::move(block), static_cast<uint16_t>(seen.size()));
    if (inserted) blocks_.insert(blocks_.end(), flat.begin() + (b << 8), flat.begin() + ((b + 1) << 8));
    block_of_[b] = it->second;
  }
}

}  // namespace dravelin::tokens::bpe

// The byte-pair ranks of one table and the merging that counts the tokens of one piece of split text.
// Private to the tokenizer sources.
//
// Lookup is an open-addressing hash table over the embedded token bytes (which stay where they are); a token of
// up to eight bytes is compared through a packed 64-bit key held in its slot, so most lookups touch one cache
// line. Two-byte pairs, the first lookups of every merge, go through a direct table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tokens/bpe_tables.h"

namespace dravelin::tokens::bpe {

class Ranks {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // Reads a table in the format of scripts/convert-bpe-tables; a malformed one aborts (it is part of the program).
  explicit Ranks(EmbeddedBytes table);
  Ranks(const Ranks&) = delete;
  Ranks& operator=(const Ranks&) = delete;

  // The number of tokens of one piece. Tokenizing looks the whole piece up first: a piece that is itself a
  // token is one token whatever merging would give, and that is also the common case.
  size_t count_piece(const unsigned char* p, size_t len) const {
    if (len <= 1) return len;
    if (lookup(p, len) != kNone) return 1;
    return merge_count(p, len);
  }

  // The rank of a byte string (1 byte or more), or kNone.
  uint32_t lookup(const unsigned char* p, size_t len) const {
    if (len == 2) return pair_rank_[static_cast<size_t>(p[0]) << 8 | p[1]];
    if (len > max_len_) return kNone;
    if (len == 1) return byte_rank_[p[0]];
    const uint64_t key = head_key(p, len);
    size_t i = home(hash(p, len, key));
    for (;;) {
      const Slot& s = slots_[i];
      if (s.rank_plus_one == 0) return kNone;
      if (s.key == key && s.len == len &&
          (len <= 8 || std::memcmp(base_ + offset_[s.rank_plus_one - 1] + 8, p + 8, len - 8) == 0)) {
        return s.rank_plus_one - 1;
      }
      if (++i == slots_.size()) i = 0;
    }
  }

 private:
  struct Slot {
    uint64_t key = 0;            // head_key of the token
    uint32_t rank_plus_one = 0;  // 0: empty slot
    uint32_t len = 0;
  };

  // The slot a hash starts probing at: the hash's high bits scaled to the table size, which need not be a
  // power of two (so the table can stay small: it is built, page by page, on first use).
  size_t home(uint64_t h) const {
    return static_cast<size_t>((static_cast<__uint128_t>(h) * slots_.size()) >> 64);
  }

  static uint64_t load64(const unsigned char* p) { uint64_t v; std::memcpy(&v, p, 8); return v; }
  static uint32_t load32(const unsigned char* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }

  // A 64-bit key that tells apart all byte strings of one length up to 8 (the overlapping loads cover every
  // byte), and holds the first eight bytes of a longer one.
  static uint64_t head_key(const unsigned char* p, size_t len) {
    if (len >= 8) return load64(p);
    if (len >= 4) return static_cast<uint64_t>(load32(p)) | static_cast<uint64_t>(load32(p + len - 4)) << 32;
    return static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[len >> 1]) << 8 |
           static_cast<uint64_t>(p[len - 1]) << 16;
  }

  static uint64_t mix(uint64_t a, uint64_t b) {
    const __uint128_t r = static_cast<__uint128_t>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
  }

  static uint64_t hash(const unsigned char* p, size_t len, uint64_t key) {
    uint64_t h = mix(key ^ 0x9E3779B97F4A7C15ull, len ^ 0xD6E8FEB86659FD93ull);
    for (size_t i = 8; i < len; i += 8) {
      const uint64_t chunk = i + 8 <= len ? load64(p + i) : load64(p + len - 8);
      h = mix(h ^ chunk, 0xA0761D6478BD642Full);
    }
    return h;
  }

  size_t merge_count(const unsigned char* p, size_t len) const;
  size_t merge_count_long(const unsigned char* p, size_t len) const;

  const unsigned char* base_ = nullptr;
  size_t token_count_ = 0;
  size_t max_len_ = 0;
  std::vector<Slot> slots_;
  std::vector<uint32_t> offset_;     // by rank: where the token's bytes are in the table
  std::vector<uint32_t> pair_rank_;  // 65536 entries
  uint32_t byte_rank_[256];
};

}  // namespace dravelin::tokens::bpe

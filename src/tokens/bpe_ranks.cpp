#include "tokens/bpe_ranks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace dravelin::tokens::bpe {
namespace {

[[noreturn]] void corrupt_table(const char* what) {
  std::fprintf(stderr, "dravelin: an embedded byte-pair rank table is malformed (%s)\n", what);
  std::abort();
}

// Pieces up to this many bytes merge in place on the stack; longer ones (long words, runs of one character)
// use a linked list with a heap, so that a huge piece costs n log n rather than n squared.
constexpr size_t kShortPiece = 128;

}  // namespace

Ranks::Ranks(EmbeddedBytes table) {
  if (table.size < 12 || std::memcmp(table.data, "DRVBPE01", 8) != 0) corrupt_table("header");
  const unsigned char* p = table.data;
  const uint32_t rank_limit = load32(p + 8);
  base_ = p;

  std::vector<uint8_t> lens(rank_limit);
  offset_.resize(rank_limit);
  size_t at = 12;
  for (uint32_t rank = 0; rank < rank_limit; ++rank) {
    if (at >= table.size) corrupt_table("truncated");
    const uint8_t len = p[at++];
    if (at + len > table.size) corrupt_table("truncated token");
    lens[rank] = len;
    offset_[rank] = static_cast<uint32_t>(at);
    at += len;
    if (len > 0) ++token_count_;
    if (len > max_len_) max_len_ = len;
  }
  if (at != table.size) corrupt_table("trailing bytes");

  // At most five slots in eight filled: probes stay short, and the table small.
  slots_.resize(token_count_ * 8 / 5 + 16);
  pair_rank_.assign(65536, kNone);
  for (uint32_t& r : byte_rank_) r = kNone;

  for (uint32_t rank = 0; rank < rank_limit; ++rank) {
    const uint8_t len = lens[rank];
    if (len == 0) continue;
    const unsigned char* bytes = p + offset_[rank];
    if (len == 1) byte_rank_[bytes[0]] = rank;
    if (len == 2) pair_rank_[static_cast<size_t>(bytes[0]) << 8 | bytes[1]] = rank;
    const uint64_t key = head_key(bytes, len);
    size_t i = home(hash(bytes, len, key));
    while (slots_[i].rank_plus_one != 0) {
      if (++i == slots_.size()) i = 0;
    }
    slots_[i] = Slot{key, rank + 1, len};
  }
  for (uint32_t r : byte_rank_) {
    if (r == kNone) corrupt_table("a byte without a rank");
  }
}

// Merging as the published encoder does it: the parts start as single bytes; while some adjacent pair is a
// token, the pair of lowest rank (the leftmost of equals) becomes one part. The count is the parts left.
size_t Ranks::merge_count(const unsigned char* p, size_t len) const {
  if (len > kShortPiece) return merge_count_long(p, len);
  // start[i]: where part i begins (start[m - 1] is the end); rank[i]: rank of parts i and i + 1 together.
  uint32_t start[kShortPiece + 1];
  uint32_t rank[kShortPiece + 1];
  size_t m = len + 1;
  for (size_t i = 0; i <= len; ++i) start[i] = static_cast<uint32_t>(i);
  for (size_t i = 0; i + 1 < len; ++i) rank[i] = pair_rank_[static_cast<size_t>(p[i]) << 8 | p[i + 1]];
  rank[len - 1] = kNone;
  rank[len] = kNone;

  for (;;) {
    uint32_t best = kNone;
    size_t at = 0;
    for (size_t i = 0; i + 2 < m; ++i) {
      if (rank[i] < best) {
        best = rank[i];
        at = i;
      }
    }
    if (best == kNone) break;
    rank[at] = at + 3 < m ? lookup(p + start[at], start[at + 3] - start[at]) : kNone;
    if (at > 0) rank[at - 1] = lookup(p + start[at - 1], start[at + 2] - start[at - 1]);
    // Pieces are short: a plain loop beats a library call here.
    for (size_t k = at + 1; k + 1 < m; ++k) {
      start[k] = start[k + 1];
      rank[k] = rank[k + 1];
    }
    --m;
  }
  return m - 1;
}

size_t Ranks::merge_count_long(const unsigned char* p, size_t len) const {
  // Parts are a linked list over their first byte; a heap holds (rank << 32 | first byte) of candidate pairs,
  // smallest first, so equal ranks come out leftmost first. Entries made stale by a merge are skipped: a part's
  // current pair rank is kept in `rank` (kNone once the part is merged away).
  thread_local std::vector<uint32_t> next, prev, rank;
  thread_local std::vector<uint64_t> heap;
  next.resize(len);
  prev.resize(len);
  rank.resize(len);
  heap.clear();
  const std::greater<uint64_t> later;
  auto push = [&](uint32_t part) {
    heap.push_back(static_cast<uint64_t>(rank[part]) << 32 | part);
    std::push_heap(heap.begin(), heap.end(), later);
  };
  for (size_t i = 0; i < len; ++i) {
    next[i] = static_cast<uint32_t>(i + 1);
    prev[i] = static_cast<uint32_t>(i - 1);  // unused for part 0
    rank[i] = i + 1 < len ? pair_rank_[static_cast<size_t>(p[i]) << 8 | p[i + 1]] : kNone;
    if (rank[i] != kNone) push(static_cast<uint32_t>(i));
  }
  // The rank of part `a` joined with the part after it.
  auto pair_rank = [&](uint32_t a) -> uint32_t {
    const uint32_t b = next[a];
    if (b >= len) return kNone;
    return lookup(p + a, next[b] - a);
  };

  size_t parts = len;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const uint64_t top = heap.back();
    heap.pop_back();
    const uint32_t a = static_cast<uint32_t>(top);
    if (rank[a] != static_cast<uint32_t>(top >> 32)) continue;
    const uint32_t b = next[a];
    const uint32_t c = next[b];
    next[a] = c;
    if (c < len) prev[c] = a;
    rank[b] = kNone;
    --parts;
    rank[a] = pair_rank(a);
    if (rank[a] != kNone) push(a);
    if (a > 0) {
      const uint32_t before = prev[a];
      rank[before] = pair_rank(before);
      if (rank[before] != kNone) push(before);
    }
  }
  return parts;
}

}  // namespace dravelin::tokens::bpe

#include "tokens/bpe_encoder.h"

#include <atomic>
#include <mutex>

#include "tokens/bpe_char_class.h"

namespace dravelin::tokens::bpe {
namespace {

struct EncoderSlot {
  std::once_flag once;
  const Encoder* encoder = nullptr;
};

EncoderSlot g_slots[rank_table_count];
std::atomic<size_t> g_built{0};

}  // namespace

Encoder::Encoder(RankTable table, SplitPattern pattern) : ranks_(embedded_rank_table(table)), pattern_(pattern) {
  CharClasses::get();  // built with the first encoder rather than inside someone's first count
}

RankTable rank_table_of(BpeEncoding encoding) {
  switch (encoding.id()) {
    case BpeEncoding::O200kHarmony:
    case BpeEncoding::O200kBase:
      return RankTable::O200k;
    case BpeEncoding::Cl100kBase:
      return RankTable::Cl100k;
    case BpeEncoding::P50kBase:
    case BpeEncoding::P50kEdit:
      return RankTable::P50k;
    case BpeEncoding::R50kBase:
    case BpeEncoding::Gpt2:
      return RankTable::R50k;
  }
  return RankTable::R50k;
}

SplitPattern split_pattern_of(BpeEncoding encoding) {
  switch (rank_table_of(encoding)) {
    case RankTable::O200k: return SplitPattern::O200k;
    case RankTable::Cl100k: return SplitPattern::Cl100k;
    case RankTable::P50k:
    case RankTable::R50k:
      return SplitPattern::R50k;
  }
  return SplitPattern::R50k;
}

const Encoder& encoder_for(BpeEncoding encoding) {
  const RankTable table = rank_table_of(encoding);
  EncoderSlot& slot = g_slots[static_cast<size_t>(table)];
  std::call_once(slot.once, [&] {
    slot.encoder = new Encoder(table, split_pattern_of(encoding));
    g_built.fetch_add(1, std::memory_order_relaxed);
  });
  return *slot.encoder;
}

size_t encoders_built() { return g_built.load(std::memory_order_relaxed); }

}  // namespace dravelin::tokens::bpe

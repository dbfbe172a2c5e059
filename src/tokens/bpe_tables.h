// The binary tables that scripts/convert-bpe-tables writes under data/bpe, embedded into the library as they are.
// Their formats are described in that script. Private to the tokenizer sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravelin::tokens::bpe {

// The four rank tables; several encodings share one.
enum class RankTable : uint8_t { O200k, Cl100k, P50k, R50k };
inline constexpr size_t rank_table_count = 4;

struct EmbeddedBytes {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

EmbeddedBytes embedded_rank_table(RankTable table);
EmbeddedBytes embedded_char_classes();

}  // namespace dravelin::tokens::bpe

// The process's byte-pair encoders: one per rank table, built on first use under a one-time initialisation and
// then shared read-only for the rest of the process. Private to the tokenizer sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tokens/bpe_pretokenize.h"
#include "tokens/bpe_ranks.h"
#include "tokens/bpe_tables.h"
#include "tokens/tokenizer.h"

namespace dravelin::tokens::bpe {

class Encoder {
 public:
  Encoder(RankTable table, SplitPattern pattern);
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  uint64_t count(std::string_view text) const { return count_tokens(pattern_, ranks_, text); }
  SplitPattern pattern() const { return pattern_; }
  const Ranks& ranks() const { return ranks_; }

 private:
  Ranks ranks_;
  SplitPattern pattern_;
};

// The table and pattern of an encoding.
RankTable rank_table_of(BpeEncoding encoding);
SplitPattern split_pattern_of(BpeEncoding encoding);

// The shared encoder of an encoding, built now if this is the first use of its table. Never freed.
const Encoder& encoder_for(BpeEncoding encoding);

// How many encoders this process has built so far.
size_t encoders_built();

}  // namespace dravelin::tokens::bpe

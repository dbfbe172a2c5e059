// Pre-tokenisation: cutting a text into the pieces that byte-pair merging encodes one by one. The published
// encodings define their pieces by regular expressions; these are hand-written scanners that give exactly the
// pieces those expressions give under leftmost-first backtracking, for every text. Private to the tokenizer
// sources.
//
// The three split patterns:
//   R50k (r50k_base, gpt2, p50k_base, p50k_edit):
//     's|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
//   Cl100k (cl100k_base):
//     (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|
//     \s+(?!\S)|\s+
//   O200k (o200k_base, o200k_harmony):
//     [^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+(?i:'s|'t|'re|'ve|'m|'ll|'d)?|
//     [^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?|
//     \p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n/]*|\s*[\r\n]+|\s+(?!\S)|\s+
// `\s` is Unicode White_Space. Case-insensitive contractions also match U+017F (long s) for `s`, as Unicode
// case folding has it. A byte that does not begin a well-formed UTF-8 sequence counts as one character of
// class other.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tokens/bpe_ranks.h"

namespace dravelin::tokens::bpe {

enum class SplitPattern : uint8_t { R50k, Cl100k, O200k };

// The tokens of the whole text: the pieces' counts added up.
uint64_t count_tokens(SplitPattern pattern, const Ranks& ranks, std::string_view text);

// The pieces themselves, in order; they cover the text without gaps.
std::vector<std::string_view> split_pieces(SplitPattern pattern, std::string_view text);

}  // namespace dravelin::tokens::bpe

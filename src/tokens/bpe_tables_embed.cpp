// Embeds the files of data/bpe with the assembler's .incbin, so the build copies megabytes of ranks without
// compiling them as C++ arrays. DRAVELIN_BPE_DATA_DIR is set by the build, which also makes this file depend on
// the data files.
#include "tokens/bpe_tables.h"

#ifndef DRAVELIN_BPE_DATA_DIR
#error "DRAVELIN_BPE_DATA_DIR must name the data/bpe directory"
#endif

#define DRAVELIN_EMBED_FILE(symbol, file)                                  \
  __asm__(".pushsection .rodata." #symbol ",\"a\",@progbits\n"             \
          ".balign 16\n"                                                   \
          ".globl " #symbol "_begin\n"                                     \
          ".hidden " #symbol "_begin\n" #symbol "_begin:\n"                \
          ".incbin \"" DRAVELIN_BPE_DATA_DIR "/" file "\"\n"               \
          ".globl " #symbol "_end\n"                                       \
          ".hidden " #symbol "_end\n" #symbol "_end:\n"                    \
          ".popsection\n");                                                \
  extern "C" __attribute__((visibility("hidden"))) const unsigned char symbol##_begin[]; \
  extern "C" __attribute__((visibility("hidden"))) const unsigned char symbol##_end[];

DRAVELIN_EMBED_FILE(dravelin_bpe_o200k, "o200k_base.bpe")
DRAVELIN_EMBED_FILE(dravelin_bpe_cl100k, "cl100k_base.bpe")
DRAVELIN_EMBED_FILE(dravelin_bpe_p50k, "p50k_base.bpe")
DRAVELIN_EMBED_FILE(dravelin_bpe_r50k, "r50k_base.bpe")
DRAVELIN_EMBED_FILE(dravelin_bpe_char_classes, "char_classes.bin")

namespace dravelin::tokens::bpe {
namespace {

EmbeddedBytes between(const unsigned char* begin, const unsigned char* end) {
  return EmbeddedBytes{begin, static_cast<size_t>(end - begin)};
}

}  // namespace

EmbeddedBytes embedded_rank_table(RankTable table) {
  switch (table) {
    case RankTable::O200k: return between(dravelin_bpe_o200k_begin, dravelin_bpe_o200k_end);
    case RankTable::Cl100k: return between(dravelin_bpe_cl100k_begin, dravelin_bpe_cl100k_end);
    case RankTable::P50k: return between(dravelin_bpe_p50k_begin, dravelin_bpe_p50k_end);
    case RankTable::R50k: return between(dravelin_bpe_r50k_begin, dravelin_bpe_r50k_end);
  }
  return {};
}

EmbeddedBytes embedded_char_classes() {
  return between(dravelin_bpe_char_classes_begin, dravelin_bpe_char_classes_end);
}

}  // namespace dravelin::tokens::bpe

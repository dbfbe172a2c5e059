// tokens --encoding NAME FILE...
//
// Counts the tokens of text files the way requests are measured: each file is cut into chunks, each chunk the
// longest run of whole lines (newline kept) within 4096 bytes, a longer line a chunk of its own; every chunk is
// counted with the encoding's counter. Prints `total=<tokens> bytes=<bytes> seconds=<counting time>`, the time
// covering the counting alone (the encoder is built before the clock starts). NAME is a tokenizer setting
// ("tiktoken:o200k_base", "chars4") or an encoding's bare name ("o200k_base").
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tokens/tokenizer.h"

namespace {

constexpr size_t kChunkBytes = 4096;

int usage() {
  std::fprintf(stderr, "usage: tokens --encoding NAME FILE...\n");
  return 2;
}

// Appends the chunks of one file's text.
void cut_chunks(std::string_view text, std::vector<std::string_view>& chunks) {
  size_t start = 0;  // of the chunk being gathered
  size_t end = 0;    // of its last whole line
  while (end < text.size()) {
    size_t line_end = text.find('\n', end);
    line_end = line_end == std::string_view::npos ? text.size() : line_end + 1;
    if (line_end - start > kChunkBytes && end > start) {
      chunks.push_back(text.substr(start, end - start));
      start = end;
    }
    end = line_end;
    if (end - start > kChunkBytes) {  // a line too long for any chunk stands alone
      chunks.push_back(text.substr(start, end - start));
      start = end;
    }
  }
  if (end > start) chunks.push_back(text.substr(start, end - start));
}

}  // namespace

int main(int argc, char** argv) {
  using dravelin::tokens::TokenizerKind;
  std::string name;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--encoding" && i + 1 < argc) {
      name = argv[++i];
    } else if (arg.rfind("--encoding=", 0) == 0) {
      name = arg.substr(11);
    } else if (arg.rfind("--", 0) == 0) {
      return usage();
    } else {
      files.push_back(arg);
    }
  }
  if (name.empty() || files.empty()) return usage();
  auto kind = TokenizerKind::from_name(name);
  if (!kind) kind = TokenizerKind::from_name("tiktoken:" + name);
  if (!kind) {
    std::fprintf(stderr, "tokens: unknown encoding %s\n", name.c_str());
    return 2;
  }

  std::vector<std::string> texts;
  for (const std::string& path : files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "tokens: cannot read %s\n", path.c_str());
      return 1;
    }
    texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string_view> chunks;
  uint64_t bytes = 0;
  for (const std::string& text : texts) {
    cut_chunks(text, chunks);
    bytes += text.size();
  }

  const auto counter = kind->tokenizer();  // builds the encoder
  const auto begin = std::chrono::steady_clock::now();
  uint64_t total = 0;
  for (std::string_view chunk : chunks) total += counter->count(chunk);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begin;
  std::printf("total=%llu bytes=%llu seconds=%.6f\n", static_cast<unsigned long long>(total),
              static_cast<unsigned long long>(bytes), seconds.count());
  return 0;
}

// Tokens held in chunks of a fixed size, for a parse that owns its tokens: the chunks it has read past can be
// given back while the tree grows, so the tokens of a whole file and its whole tree are never held at once.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "syntax/token.h"

namespace dravelin::syntax {

class TokenChunks {
 public:
  static constexpr std::size_t kChunk = 1024;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  Token& operator[](std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const Token& operator[](std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  Token& back() { return (*this)[size_ - 1]; }
  const Token& back() const { return (*this)[size_ - 1]; }

  void push_back(Token&& token) {
    if (size_ % kChunk == 0) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
    }
    chunks_.back().push_back(std::move(token));
    ++size_;
  }

  // Frees every chunk that lies wholly before token `i`. Those tokens must never be read again.
  void release_before(std::size_t i) {
    for (const std::size_t end = i / kChunk; released_ < end; ++released_) std::vector<Token>().swap(chunks_[released_]);
  }

 private:
  std::vector<std::vector<Token>> chunks_;
  std::size_t size_ = 0;
  std::size_t released_ = 0;
};

}  // namespace dravelin::syntax

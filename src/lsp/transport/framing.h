// The base protocol's framing: a header section of "Name: value" lines ended by an empty line, then exactly
// Content-Length bytes of body.
//
// The parser is fed whatever the input delivers and hands out whole bodies. A length is trusted only after it
// has been checked against the limit, and even then nothing is reserved for it: the buffer grows by the bytes
// that actually arrive.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace dravelin::lsp::transport {

inline constexpr size_t kMaxHeaderBytes = 16 * 1024;
inline constexpr size_t kMaxBodyBytes = 64 * 1024 * 1024;

class FrameParser {
 public:
  explicit FrameParser(size_t max_body = kMaxBodyBytes) : max_body_(max_body) {}

  void feed(std::string_view bytes);

  // The next whole body; nothing while more input is needed. An error leaves the stream without a known frame
  // boundary, so nothing after it can be read.
  Result<std::optional<std::string>, std::string> next();

  // Whether bytes of an unfinished frame are held (the input ending now would cut a message).
  bool holds_partial_frame() const { return consumed_ < buffer_.size() || body_length_.has_value(); }

 private:
  Result<size_t, std::string> read_header(std::string_view header) const;

  size_t max_body_;
  std::string buffer_;
  size_t consumed_ = 0;
  std::optional<size_t> body_length_;  // known once the header section of the current frame was read
};

// The frame of one body: its Content-Length header, the empty line, the body.
std::string encode_frame(std::string_view body);

}  // namespace dravelin::lsp::transport

#include "lsp/transport/framing.h"

#include <charconv>
#include <string>

namespace dravelin::lsp::transport {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

void FrameParser::feed(std::string_view bytes) {
  // Drop what was handed out once it is the larger part, so the buffer holds about one frame.
  if (consumed_ > 0 && consumed_ >= buffer_.size() / 2) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  buffer_.append(bytes);
}

Result<size_t, std::string> FrameParser::read_header(std::string_view header) const {
  std::optional<size_t> length;
  while (!header.empty()) {
    size_t end = header.find("\r\n");
    std::string_view line = header.substr(0, end);
    header.remove_prefix(end == std::string_view::npos ? header.size() : end + 2);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return err("malformed message header line `" + std::string(line) + "`");
    std::string_view name = trim(line.substr(0, colon));
    if (!equals_ignoring_case(name, "Content-Length")) continue;
    std::string_view value = trim(line.substr(colon + 1));
    size_t n = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || ptr != value.data() + value.size())
      return err("invalid Content-Length `" + std::string(value) + "`");
    if (n > max_body_) {
      return err("Content-Length " + std::string(value) + " exceeds the limit of " + std::to_string(max_body_) +
                 " bytes");
    }
    if (length && *length != n) return err(std::string("conflicting Content-Length headers"));
    length = n;
  }
  if (!length) return err(std::string("message header without Content-Length"));
  return *length;
}

Result<std::optional<std::string>, std::string> FrameParser::next() {
  std::string_view pending = std::string_view(buffer_).substr(consumed_);
  if (!body_length_) {
    size_t end = pending.find("\r\n\r\n");
    if (end == std::string_view::npos) {
      if (pending.size() > kMaxHeaderBytes)
        return err("message header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
      return std::optional<std::string>();
    }
    if (end > kMaxHeaderBytes)
      return err("message header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
    size_t length = TRY(read_header(pending.substr(0, end)));
    body_length_ = length;
    consumed_ += end + 4;
    pending.remove_prefix(end + 4);
  }
  if (pending.size() < *body_length_) return std::optional<std::string>();
  std::string body(pending.substr(0, *body_length_));
  consumed_ += *body_length_;
  body_length_.reset();
  return std::optional<std::string>(std::move(body));
}

std::string encode_frame(std::string_view body) {
  std::string frame = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  frame.append(body);
  return frame;
}

}  // namespace dravelin::lsp::transport

#include "serve/transport/line_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dravelin::serve::transport {
namespace {

bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point of the UTF-8 sequence of `length` bytes at `p`, or none when it is malformed (a malformed
// sequence is never white space, so trimming stops there).
std::optional<uint32_t> decode(const unsigned char* p, size_t length) {
  if (length == 1) return p[0] < 0x80 ? std::optional<uint32_t>(p[0]) : std::nullopt;
  uint32_t c = 0;
  if (length == 2 && (p[0] & 0xE0) == 0xC0) c = p[0] & 0x1F;
  else if (length == 3 && (p[0] & 0xF0) == 0xE0) c = p[0] & 0x0F;
  else return std::nullopt;  // no White_Space character takes four bytes
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (p[i] & 0x3F);
  }
  return c;
}

size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  return 4;
}

IoError io_error(int code) { return IoError{std::strerror(code)}; }

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end) {
    const size_t length = sequence_length(bytes[begin]);
    if (begin + length > end) break;
    const auto c = decode(bytes + begin, length);
    if (!c || !is_white_space(*c)) break;
    begin += length;
  }
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (bytes[start] & 0xC0) == 0x80 && end - start < 3) --start;
    const auto c = decode(bytes + start, end - start);
    if (!c || !is_white_space(*c)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

Result<bool, IoError> LineReader::fill(std::optional<std::chrono::steady_clock::time_point> deadline,
                                       bool& timed_out) {
  if (ended_) return false;
  begin_ = end_ = 0;
  for (;;) {
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        timed_out = true;
        return false;
      }
      pollfd watched{fd_, POLLIN, 0};
      const int ready = ::poll(&watched, 1, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
      if (ready < 0) {
        if (errno == EINTR) continue;
        return err(io_error(errno));
      }
      if (ready == 0) continue;  // the deadline is checked again above
    }
    const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
    if (got < 0) {
      if (errno == EINTR) continue;
      return err(io_error(errno));
    }
    if (got == 0) {
      ended_ = true;
      return false;
    }
    end_ = static_cast<size_t>(got);
    return true;
  }
}

Result<LineRead, IoError> LineReader::next(std::optional<std::chrono::steady_clock::time_point> deadline) {
  for (;;) {
    const char* start = buffer_ + begin_;
    const void* found = std::memchr(start, '\n', end_ - begin_);
    const size_t take = found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - start) : end_ - begin_;
    if (!dropping_) {
      if (partial_.size() + take > kMaxLineBytes) {
        partial_.clear();
        partial_.shrink_to_fit();
        dropping_ = true;
      } else {
        partial_.append(start, take);
      }
    }
    begin_ += take;
    bool line_ended = false;
    if (found != nullptr) {
      ++begin_;  // the line feed
      line_ended = true;
    } else {
      bool timed_out = false;
      const bool filled = TRY(fill(deadline, timed_out));
      if (timed_out) return LineRead{LineRead::Kind::TimedOut, {}};
      if (!filled) {
        if (!dropping_ && partial_.empty()) return LineRead{LineRead::Kind::End, {}};
        line_ended = true;  // the last line, without a line feed
      }
    }
    if (!line_ended) continue;
    if (dropping_) {
      dropping_ = false;
      return LineRead{LineRead::Kind::TooLong, {}};
    }
    std::string_view trimmed = trim_white_space(partial_);
    if (trimmed.empty()) {
      partial_.clear();
      continue;
    }
    LineRead read{LineRead::Kind::Line, std::string(trimmed)};
    partial_.clear();
    return read;
  }
}

Result<Unit, IoError> LineWriter::write_line(std::string_view text) {
  line_.assign(text);
  line_ += '\n';
  size_t written = 0;
  while (written < line_.size()) {
    const ssize_t put = ::write(fd_, line_.data() + written, line_.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      line_.clear();
      return err(io_error(code));
    }
    written += static_cast<size_t>(put);
  }
  // A large reply must not keep its buffer for the life of the server.
  if (line_.capacity() > (size_t{1} << 20)) {
    line_.clear();
    line_.shrink_to_fit();
  }
  return Unit{};
}

}  // namespace dravelin::serve::transport

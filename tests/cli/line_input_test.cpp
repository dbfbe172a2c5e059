#include "cli/line_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace dravelin::cli {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File stream_of(const std::string& bytes) {
  File file(std::tmpfile(), &std::fclose);
  if (file) {
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
  }
  return file;
}

// Every read of the stream until its end (or the first overlong line), "<too long>" for that one.
std::vector<std::string> lines_of(const std::string& bytes, size_t max_bytes) {
  File file = stream_of(bytes);
  std::vector<std::string> lines;
  std::string line = "stale";
  for (;;) {
    auto read = read_line(file.get(), line, max_bytes);
    if (!read.ok()) return {"error: " + read.error()};
    if (*read == LineRead::End) return lines;
    if (*read == LineRead::TooLong) {
      EXPECT_EQ(line, "");
      lines.push_back("<too long>");
      return lines;
    }
    lines.push_back(line);
  }
}

TEST(ReadLine, LinesUpToTheLimitAndNoFurther) {
  struct Case {
    const char* what;
    std::string bytes;
    size_t max_bytes;
    std::vector<std::string> lines;
  };
  const std::string chunk_and_more(10000, 'x');  // past the reader's own chunk
  const Case cases[] = {
      {"nothing at all", "", 8, {}},
      {"the last line without its end", "a\n\nbc", 8, {"a", "", "bc"}},
      {"a final line end starts no line", "a\n", 8, {"a"}},
      {"NUL bytes and carriage returns are kept", std::string("a\0b\r\n", 5), 8, {std::string("a\0b\r", 4)}},
      {"exactly the limit", "abcd\nefgh", 4, {"abcd", "efgh"}},
      {"one byte over the limit", "abcd\nefghi\nj\n", 4, {"abcd", "<too long>"}},
      {"over the limit without a line end", "abcdefgh", 4, {"<too long>"}},
      {"a long line at the limit", chunk_and_more + "\n", 10000, {chunk_and_more}},
      {"a long line one over", chunk_and_more + "x", 10000, {"<too long>"}},
  };
  for (const Case& c : cases) EXPECT_EQ(lines_of(c.bytes, c.max_bytes), c.lines) << c.what;
}

TEST(ReadLine, LeavesWhatFollowsTheLineInTheStream) {
  File file = stream_of("first\nsecond\n");
  std::string line;
  ASSERT_EQ(*read_line(file.get(), line), LineRead::Line);
  EXPECT_EQ(std::fgetc(file.get()), 's');
}

TEST(ReadLine, AReadFailureIsTheSystemsText) {
  File file(std::fopen("/", "rbe"), &std::fclose);
  ASSERT_TRUE(file);
  std::string line;
  auto read = read_line(file.get(), line);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error(), "Is a directory");
}

}  // namespace
}  // namespace dravelin::cli

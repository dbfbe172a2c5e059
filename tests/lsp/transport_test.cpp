#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "lsp/transport/connection.h"
#include "lsp/transport/framing.h"
#include "lsp/transport/message.h"

namespace dravelin::lsp::transport {
namespace {

// Feeds the bytes one at a time and collects every body, or the first error.
std::vector<std::string> bodies(const std::string& bytes, std::string* error = nullptr, size_t max_body = kMaxBodyBytes) {
  FrameParser parser(max_body);
  std::vector<std::string> out;
  for (char c : bytes) {
    parser.feed(std::string_view(&c, 1));
    for (;;) {
      auto body = parser.next();
      if (!body.ok()) {
        if (error) *error = body.error();
        return out;
      }
      if (!body->has_value()) break;
      out.push_back(std::move(**body));
    }
  }
  return out;
}

TEST(Framing, ReadsFramesWhateverTheChunking) {
  std::string bytes = encode_frame("{\"a\":1}") + "content-length:  2\r\nContent-Type: x\r\n\r\n{}" + encode_frame("");
  EXPECT_EQ(bodies(bytes), (std::vector<std::string>{"{\"a\":1}", "{}", ""}));
  FrameParser whole;
  whole.feed(bytes);
  int count = 0;
  while (whole.next()->has_value()) ++count;
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(whole.holds_partial_frame());
}

TEST(Framing, KnowsWhenAFrameIsCutShort) {
  FrameParser parser;
  parser.feed("Content-Length: 10\r\n\r\n");
  EXPECT_FALSE(parser.next()->has_value());
  EXPECT_TRUE(parser.holds_partial_frame());
}

struct BadFrame {
  const char* name;
  std::string bytes;
  std::string error;
};
// Cases show their names in test listings, not their bytes.
void PrintTo(const BadFrame& c, std::ostream* os) { *os << c.name; }

class FramingErrors : public testing::TestWithParam<BadFrame> {};

TEST_P(FramingErrors, AreReported) {
  std::string error;
  bodies(GetParam().bytes, &error, 1000);
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FramingErrors,
    testing::Values(
        BadFrame{"NoLength", "Content-Type: x\r\n\r\n{}", "message header without Content-Length"},
        BadFrame{"NotANumber", "Content-Length: 1x\r\n\r\n", "invalid Content-Length `1x`"},
        BadFrame{"Negative", "Content-Length: -1\r\n\r\n", "invalid Content-Length `-1`"},
        BadFrame{"OverTheLimit", "Content-Length: 1001\r\n\r\n", "Content-Length 1001 exceeds the limit of 1000 bytes"},
        BadFrame{"HugeIsRefusedBeforeAnyAllocation", "Content-Length: 99999999999999999999\r\n\r\n",
                 "invalid Content-Length `99999999999999999999`"},
        BadFrame{"LineWithoutColon", "garbage\r\n\r\n", "malformed message header line `garbage`"},
        BadFrame{"Conflicting", "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", "conflicting Content-Length headers"},
        BadFrame{"EndlessHeader", std::string(kMaxHeaderBytes + 2, 'x'), "message header longer than 16384 bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Messages, ClassifiesRequestsNotificationsAndResponses) {
  auto request = parse_message(R"({"jsonrpc":"2.0","id":"x1","method":"m","params":{"a":1}})");
  ASSERT_TRUE(request.ok());
  EXPECT_EQ(std::get<Request>(*request).id, json::Value("x1"));
  auto note = parse_message(R"({"jsonrpc":"2.0","method":"n"})");
  ASSERT_TRUE(note.ok());
  EXPECT_TRUE(std::get<Notification>(*note).params.is_null());
  auto response = parse_message(R"({"jsonrpc":"2.0","id":3,"result":null})");
  ASSERT_TRUE(response.ok());
  EXPECT_TRUE(std::holds_alternative<Response>(*response));
}

struct BadMessage {
  const char* name;
  std::string body;
  int64_t code;
  json::Value id;
};
void PrintTo(const BadMessage& c, std::ostream* os) { *os << c.name; }

class MalformedMessages : public testing::TestWithParam<BadMessage> {};

TEST_P(MalformedMessages, AreRefusedWithTheirCodeAndId) {
  auto message = parse_message(GetParam().body);
  ASSERT_FALSE(message.ok());
  EXPECT_EQ(message.error().code, GetParam().code);
  EXPECT_EQ(message.error().id, GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedMessages,
    testing::Values(BadMessage{"NotJson", "{", error_code::kParseError, nullptr},
                    BadMessage{"NotAnObject", "[1]", error_code::kInvalidRequest, nullptr},
                    BadMessage{"FractionalId", R"({"id":1.5,"method":"m"})", error_code::kInvalidRequest, nullptr},
                    BadMessage{"MethodNotText", R"({"id":4,"method":7})", error_code::kInvalidRequest, 4},
                    BadMessage{"NeitherMethodNorId", R"({"params":{}})", error_code::kInvalidRequest, nullptr},
                    BadMessage{"ResponseWithoutResult", R"({"id":5})", error_code::kInvalidRequest, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Messages, WritesJsonRpcFirstAndOmitsAbsentParams) {
  EXPECT_EQ(message_to_json(make_result(json::Value(7), json::Value())), R"({"jsonrpc":"2.0","id":7,"result":null})");
  EXPECT_EQ(message_to_json(make_error(json::Value("a"), -32601, "unhandled method `x`")),
            R"({"jsonrpc":"2.0","id":"a","error":{"code":-32601,"message":"unhandled method `x`"}})");
  EXPECT_EQ(message_to_json(Notification{"exit", json::Value()}), R"({"jsonrpc":"2.0","method":"exit"})");
}

// An editor that has sent `initialize` keeps its end open and waits for the answer. When that answer cannot be
// written, the connection must end its input too, or the server and the editor would wait for each other forever.
TEST(Connection, AFailedWriteEndsTheInputThoughThePeerKeepsItOpen) {
  int input[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  std::unique_ptr<Connection> connection = Connection::open(input[0], full);
  ASSERT_TRUE(connection->send(make_result(json::Value(1), json::Value())));

  std::future<std::optional<Message>> received = std::async(std::launch::async, [&] { return connection->receive(); });
  const bool ended = received.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  close(input[1]);  // lets a connection that still reads end, so that a failure does not hang the test
  EXPECT_TRUE(ended) << "the connection went on waiting for input";
  EXPECT_FALSE(received.get().has_value());
  EXPECT_FALSE(connection->send(make_result(json::Value(2), json::Value())));
  EXPECT_EQ(connection->join(), std::optional<std::string>("cannot write the output: No space left on device"));
  close(input[0]);
  close(full);
}

}  // namespace
}  // namespace dravelin::lsp::transport

// The JSON-RPC messages the language server receives and sends: requests, notifications and responses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "json/value.h"

namespace dravelin::lsp::transport {

// The error codes of JSON-RPC and of the language server protocol that this server sends.
namespace error_code {
inline constexpr int64_t kParseError = -32700;
inline constexpr int64_t kInvalidRequest = -32600;
inline constexpr int64_t kMethodNotFound = -32601;
inline constexpr int64_t kInvalidParams = -32602;
inline constexpr int64_t kServerNotInitialized = -32002;
}  // namespace error_code

struct ResponseError {
  int64_t code = 0;
  std::string message;
  std::optional<json::Value> data;
};

// `id` is a number or a text, kept as the client sent it.
struct Request {
  json::Value id;
  std::string method;
  json::Value params;  // null when the message has none
};

struct Notification {
  std::string method;
  json::Value params;  // null when the message has none
};

// Exactly one of `result` and `error` is set in a response this server writes.
struct Response {
  json::Value id;  // null when the request could not be read far enough to know its id
  std::optional<json::Value> result;
  std::optional<ResponseError> error;
};

using Message = std::variant<Request, Notification, Response>;

// Why a frame's body is not a message, with the id to answer under when one could be read.
struct MalformedMessage {
  int64_t code = error_code::kInvalidRequest;
  std::string message;
  json::Value id;
};

Result<Message, MalformedMessage> parse_message(std::string_view body);

// The compact JSON text of a message, "jsonrpc" first.
std::string message_to_json(const Message& message);

// How error texts show a message: its JSON text.
std::string render_message(const Message& message);

Response make_result(json::Value id, json::Value result);
Response make_error(json::Value id, int64_t code, std::string message);

}  // namespace dravelin::lsp::transport

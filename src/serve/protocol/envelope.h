// The JSON-RPC envelope: the request record every message is read as, the id kept as it was received, and the
// lines the bridge writes (replies, its own requests to the SDK host, notifications).
//
// Every object the bridge writes is an ordered map, so its members come out in byte order of their keys: a
// reply is {"id", "jsonrpc", "result"} or {"error", "id", "jsonrpc"}, a request {"id", "jsonrpc", "method",
// "params"} and a notification {"jsonrpc", "method", "params"}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"
#include "serve/protocol/errors.h"

namespace dravelin::serve::protocol {

struct Request {
  std::string jsonrpc;            // the empty text when absent
  std::optional<json::Value> id;  // a present null is a null id; absent is a notification
  std::string method;             // the empty text when absent
  json::Value params;             // null when absent

  // An object (members in any order, unknown ones skipped, a repeated one keeping its last value) or the array
  // [jsonrpc, id, method, params]; anything else is "invalid type: <found>, expected struct Request".
  static Result<Request, std::string> read(const json::Value& value);
};

// The id as it is echoed: its JSON text exactly as the peer wrote it, so that numbers with fractions or beyond
// 64 bits and strings with escapes come back byte for byte.
struct MessageId {
  std::string text = "null";

  static MessageId null() { return MessageId{}; }
  // The id's text in `line`, the whole message: the last top-level "id" member of an object, or the second
  // element of an array; `parsed` (that id, read) is written compactly if the text cannot be found.
  static MessageId of(std::string_view line, const json::Value& parsed);
};

// Whether a value is acceptable as an id: a string, a number or null.
bool is_valid_id(const json::Value& id);

std::string result_line(const MessageId& id, const json::Value& result);
std::string error_line(const MessageId& id, const ErrorObject& error);
std::string request_line(uint64_t id, std::string_view method, const json::Value& params);
std::string notification_line(std::string_view method, const json::Value& params);

}  // namespace dravelin::serve::protocol

// The JSON-RPC error object and the builders of every error the bridge answers with, and the two conversions
// that turn a failed exchange with the SDK host into a runtime error of the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"
#include "runtime/runtime_error.h"
#include "syntax/diagnostic.h"

namespace dravelin::serve::protocol {

inline constexpr int32_t kParseError = -32700;
inline constexpr int32_t kInvalidRequest = -32600;
inline constexpr int32_t kMethodNotFound = -32601;
inline constexpr int32_t kInvalidParams = -32602;
inline constexpr int32_t kCompileError = -32020;
inline constexpr int32_t kRuntimeError = -32010;
inline constexpr int32_t kRunProtocol = -32011;

struct ErrorObject {
  int32_t code = 0;
  std::string message;
  std::optional<json::Value> data;  // every error the bridge makes carries one

  // {"code", "data", "message"}, `data` left out when absent.
  json::Value to_json_value() const;

  friend bool operator==(const ErrorObject&, const ErrorObject&) = default;
};

// -32700 "parse error", {"kind": "parse_error", "detail"}.
ErrorObject parse_error(std::string detail);
// -32600 "invalid request", {"kind": "invalid_request"} with "detail" when given.
ErrorObject invalid_request(std::optional<std::string> detail);
// The detail of an id that is neither a string, a number nor null.
inline constexpr std::string_view kBadIdDetail = "id must be a string, number or null";
// -32601 "method not found", {"kind": "method_not_found", "method", "known"}.
ErrorObject method_not_found(std::string_view method);
// -32602 with the text, {"kind": "invalid_params"}.
ErrorObject invalid_params_error(std::string text);
// -32602 "invalid parameters: " and a parameter reader's text.
ErrorObject unreadable_params_error(std::string_view reader_text);
// -32020: the first diagnostic's message ("program did not compile" for none), {"kind": "compile_error",
// "diagnostics"}.
ErrorObject compile_error_object(const std::vector<syntax::Diagnostic>& diagnostics);
// -32010: the error's message, {"kind": its code, "retryable", "source": its span}.
ErrorObject runtime_error_object(const runtime::RuntimeError& error);
// -32011 with the refusal's text and {"kind": "run_protocol"}; a refusal that carries a runtime error is
// answered as that error.
ErrorObject run_protocol_error(const runtime::ResumeError& error);

// A failure of reading or writing stdio during a capability call: `adapter_error`, not retryable, no span.
runtime::RuntimeError host_io_failure(std::string message);
// The `error` member of a host's reply: its "message" when that is a string, else "adapter error"; its
// "retryable" when that is a boolean, else false; `adapter_error` with no span.
runtime::RuntimeError host_error_to_runtime_error(const json::Value& error);

}  // namespace dravelin::serve::protocol

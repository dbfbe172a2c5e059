#include "serve/protocol/errors.h"

#include <utility>

#include "serve/protocol/methods.h"

namespace dravelin::serve::protocol {
namespace {

json::Object kind_only(std::string_view kind) {
  json::Object data;
  data.set("kind", json::Value(kind));
  return data;
}

ErrorObject make(int32_t code, std::string message, json::Object data) {
  return ErrorObject{code, std::move(message), json::Value(std::move(data))};
}

}  // namespace

json::Value ErrorObject::to_json_value() const {
  json::Object out;
  out.set("code", json::Value(code));
  if (data) out.set("data", *data);
  out.set("message", json::Value(message));
  return json::Value(std::move(out));
}

ErrorObject parse_error(std::string detail) {
  json::Object data = kind_only("parse_error");
  data.set("detail", json::Value(std::move(detail)));
  return make(kParseError, "parse error", std::move(data));
}

ErrorObject invalid_request(std::optional<std::string> detail) {
  json::Object data = kind_only("invalid_request");
  if (detail) data.set("detail", json::Value(std::move(*detail)));
  return make(kInvalidRequest, "invalid request", std::move(data));
}

ErrorObject method_not_found(std::string_view method) {
  json::Object data = kind_only("method_not_found");
  data.set("method", json::Value(method));
  data.set("known", method_names_to_json_value());
  return make(kMethodNotFound, "method not found", std::move(data));
}

ErrorObject invalid_params_error(std::string text) {
  return make(kInvalidParams, std::move(text), kind_only("invalid_params"));
}

ErrorObject unreadable_params_error(std::string_view reader_text) {
  return invalid_params_error("invalid parameters: " + std::string(reader_text));
}

ErrorObject compile_error_object(const std::vector<syntax::Diagnostic>& diagnostics) {
  json::Object data = kind_only("compile_error");
  json::Array list;
  for (const syntax::Diagnostic& diagnostic : diagnostics) list.push_back(syntax::diagnostic_to_json(diagnostic));
  data.set("diagnostics", json::Value(std::move(list)));
  std::string message = diagnostics.empty() ? "program did not compile" : diagnostics.front().message;
  return make(kCompileError, std::move(message), std::move(data));
}

ErrorObject runtime_error_object(const runtime::RuntimeError& error) {
  json::Object data = kind_only(runtime::runtime_error_code_name(error.code));
  data.set("retryable", json::Value(error.retryable));
  data.set("source", syntax::span_to_json(error.span));
  return make(kRuntimeError, error.message, std::move(data));
}

ErrorObject run_protocol_error(const runtime::ResumeError& error) {
  if (const auto* failed = std::get_if<runtime::ResumeError::Runtime>(&error.reason)) {
    return runtime_error_object(failed->error);
  }
  return make(kRunProtocol, error.text(), kind_only("run_protocol"));
}

runtime::RuntimeError host_io_failure(std::string message) {
  return runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, std::move(message), false);
}

runtime::RuntimeError host_error_to_runtime_error(const json::Value& error) {
  const json::Value* message = error.find("message");
  const json::Value* retryable = error.find("retryable");
  return runtime::make_runtime_error(
      runtime::RuntimeErrorCode::AdapterError,
      message != nullptr && message->is_string() ? message->as_string() : std::string("adapter error"),
      retryable != nullptr && retryable->is_bool() && retryable->as_bool());
}

}  // namespace dravelin::serve::protocol

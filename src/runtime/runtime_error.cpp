#include "runtime/runtime_error.h"

#include <array>
#include <vector>

#include "json/reader.h"
#include "json/record_read.h"

namespace dravelin::runtime {
namespace {

struct CodeInfo {
  std::string_view variant;
  std::string_view name;
};

constexpr std::array<CodeInfo, kRuntimeErrorCodeCount> kCodes = {{
#define DRAVELIN_X(variant, name) {#variant, name},
    DRAVELIN_RUNTIME_ERROR_CODES(DRAVELIN_X)
#undef DRAVELIN_X
}};

const std::vector<std::string_view>& code_names() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> out;
    for (const CodeInfo& info : kCodes) out.push_back(info.name);
    return out;
  }();
  return names;
}

// A text quoted the way debug renderings show it: `"a\"b"`.
std::string debug_quoted(std::string_view text) {
  // The reader's description of a string is `string "<escaped>"`; the quoted part is what we want.
  constexpr std::string_view prefix = "string ";
  return json::describe_string(text).substr(prefix.size());
}

}  // namespace

std::string_view runtime_error_code_name(RuntimeErrorCode code) { return kCodes[static_cast<size_t>(code)].name; }

std::string_view runtime_error_code_variant(RuntimeErrorCode code) {
  return kCodes[static_cast<size_t>(code)].variant;
}

std::optional<RuntimeErrorCode> runtime_error_code_from_name(std::string_view name) {
  for (size_t i = 0; i < kCodes.size(); ++i) {
    if (kCodes[i].name == name) return static_cast<RuntimeErrorCode>(i);
  }
  return std::nullopt;
}

json::Value runtime_error_code_to_json(RuntimeErrorCode code) { return json::Value(runtime_error_code_name(code)); }

Result<RuntimeErrorCode, std::string> read_runtime_error_code(const json::Value& value) {
  const size_t index = TRY(json::record_read::read_unit_variant(value, code_names()));
  return static_cast<RuntimeErrorCode>(index);
}

std::string RuntimeError::text() const {
  std::string out(runtime_error_code_name(code));
  out += ": ";
  out += message;
  return out;
}

RuntimeError make_runtime_error(RuntimeErrorCode code, std::string message, bool retryable, syntax::Span span) {
  return RuntimeError{code, std::move(message), retryable, span};
}

RuntimeError out_of_memory_error(std::string_view what) {
  std::string message(what);
  message += " ran out of memory";
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message));
}

std::string debug_string(const RuntimeError& error) {
  std::string out = "RuntimeError { code: ";
  out += runtime_error_code_variant(error.code);
  out += ", message: ";
  out += debug_quoted(error.message);
  out += ", retryable: ";
  out += error.retryable ? "true" : "false";
  out += ", span: ";
  out += syntax::debug_string(error.span);
  out += " }";
  return out;
}

std::ostream& operator<<(std::ostream& out, const RuntimeError& error) { return out << debug_string(error); }

std::string ResumeError::text() const {
  if (std::holds_alternative<NotPaused>(reason)) return "the run is not paused";
  if (const auto* ended = std::get_if<Ended>(&reason)) {
    return "the run has ended with `" + std::string(pause_kind_name(ended->kind)) + "`";
  }
  if (const auto* wrong = std::get_if<WrongPayload>(&reason)) {
    return "a `" + std::string(pause_kind_name(wrong->pause)) + "` pause cannot be resumed with this payload: " +
           wrong->reason;
  }
  return std::get<Runtime>(reason).error.text();
}

std::string debug_string(const ResumeError& error) {
  if (std::holds_alternative<ResumeError::NotPaused>(error.reason)) return "NotPaused";
  if (const auto* ended = std::get_if<ResumeError::Ended>(&error.reason)) {
    return "Ended(" + debug_quoted(pause_kind_name(ended->kind)) + ")";
  }
  if (const auto* wrong = std::get_if<ResumeError::WrongPayload>(&error.reason)) {
    return "WrongPayload { pause: " + debug_quoted(pause_kind_name(wrong->pause)) +
           ", reason: " + debug_quoted(wrong->reason) + " }";
  }
  return "Runtime(" + debug_string(std::get<ResumeError::Runtime>(error.reason).error) + ")";
}

std::ostream& operator<<(std::ostream& out, const ResumeError& error) { return out << debug_string(error); }

}  // namespace dravelin::runtime

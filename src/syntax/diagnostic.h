// Source positions, spans and compile-time diagnostics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravelin::json {
class Value;
}

namespace dravelin::syntax {

// Line from 1, column from 0 in Unicode scalar values, byte offset from 0.
struct Pos {
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t offset = 0;
  friend bool operator==(const Pos&, const Pos&) = default;
};

// From start to just past the last character; all zeros means "no position".
struct Span {
  Pos start;
  Pos end;
  bool is_zero() const { return *this == Span{}; }
  friend bool operator==(const Span&, const Span&) = default;
};

enum class Severity : uint8_t { Error = 0, Warning = 1 };

enum class DiagnosticCode : uint8_t {
#define X(variant, name, severity) variant,
#include "syntax/diagnostic_codes.def"
#undef X
};

inline constexpr int kDiagnosticCodeCount = 0
#define X(variant, name, severity) +1
#include "syntax/diagnostic_codes.def"
#undef X
    ;

std::string_view diagnostic_code_name(DiagnosticCode code);
std::string_view diagnostic_code_variant(DiagnosticCode code);
// The severity the code is always raised with.
Severity diagnostic_code_severity(DiagnosticCode code);
std::optional<DiagnosticCode> diagnostic_code_from_name(std::string_view name);

struct RelatedLocation {
  std::string message;
  Span span;
  std::optional<std::string> file;
  friend bool operator==(const RelatedLocation&, const RelatedLocation&) = default;
};

struct Diagnostic {
  DiagnosticCode code = DiagnosticCode::Syntax;
  Severity severity = Severity::Error;
  std::string message;
  Span span;
  std::optional<std::string> file;
  std::vector<RelatedLocation> related;
  friend bool operator==(const Diagnostic&, const Diagnostic&) = default;
};

// An error diagnostic with the code's own severity, no file and no related locations.
Diagnostic make_diagnostic(DiagnosticCode code, std::string message, Span span);

json::Value pos_to_json(const Pos& pos);
json::Value span_to_json(const Span& span);
json::Value related_location_to_json(const RelatedLocation& related);
json::Value diagnostic_to_json(const Diagnostic& diagnostic);

// The debugging text form: `Diagnostic { code: Syntax, severity: Error, ... }`.
std::string debug_string(const Pos& pos);
std::string debug_string(const Span& span);
std::string debug_string(const RelatedLocation& related);
std::string debug_string(const Diagnostic& diagnostic);
std::string debug_string(const std::vector<Diagnostic>& diagnostics);

}  // namespace dravelin::syntax

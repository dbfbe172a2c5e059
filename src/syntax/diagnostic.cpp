#include "syntax/diagnostic.h"

#include <array>
#include <cstdio>

#include "json/value.h"

namespace dravelin::syntax {
namespace {

struct CodeInfo {
  std::string_view variant;
  std::string_view name;
  Severity severity;
};

constexpr std::array<CodeInfo, kDiagnosticCodeCount> kCodes = {{
#define X(variant, name, severity) {#variant, name, Severity::severity},
#include "syntax/diagnostic_codes.def"
#undef X
}};

// Text the way the debugging form quotes it: double quotes, with quotes, backslashes and controls escaped.
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void append_file(std::string& out, const std::optional<std::string>& file) {
  if (!file) {
    out += "None";
    return;
  }
  out += "Some(";
  append_quoted(out, *file);
  out += ')';
}

}  // namespace

std::string_view diagnostic_code_name(DiagnosticCode code) { return kCodes[static_cast<size_t>(code)].name; }

std::string_view diagnostic_code_variant(DiagnosticCode code) { return kCodes[static_cast<size_t>(code)].variant; }

Severity diagnostic_code_severity(DiagnosticCode code) { return kCodes[static_cast<size_t>(code)].severity; }

std::optional<DiagnosticCode> diagnostic_code_from_name(std::string_view name) {
  for (size_t i = 0; i < kCodes.size(); ++i)
    if (kCodes[i].name == name) return static_cast<DiagnosticCode>(i);
  return std::nullopt;
}

Diagnostic make_diagnostic(DiagnosticCode code, std::string message, Span span) {
  return Diagnostic{code, diagnostic_code_severity(code), std::move(message), span, std::nullopt, {}};
}

json::Value pos_to_json(const Pos& pos) {
  json::Object o;
  o.set("column", pos.column);
  o.set("line", pos.line);
  o.set("offset", pos.offset);
  return json::Value(std::move(o));
}

json::Value span_to_json(const Span& span) {
  json::Object o;
  o.set("end", pos_to_json(span.end));
  o.set("start", pos_to_json(span.start));
  return json::Value(std::move(o));
}

json::Value related_location_to_json(const RelatedLocation& related) {
  json::Object o;
  if (related.file) o.set("file", *related.file);
  o.set("message", related.message);
  o.set("span", span_to_json(related.span));
  return json::Value(std::move(o));
}

json::Value diagnostic_to_json(const Diagnostic& d) {
  json::Object o;
  o.set("code", std::string(diagnostic_code_name(d.code)));
  if (d.file) o.set("file", *d.file);
  o.set("message", d.message);
  if (!d.related.empty()) {
    json::Array related;
    related.reserve(d.related.size());
    for (const auto& r : d.related) related.push_back(related_location_to_json(r));
    o.set("related", json::Value(std::move(related)));
  }
  o.set("severity", d.severity == Severity::Error ? "error" : "warning");
  o.set("span", span_to_json(d.span));
  return json::Value(std::move(o));
}

std::string debug_string(const Pos& pos) {
  return "Pos { line: " + std::to_string(pos.line) + ", column: " + std::to_string(pos.column) +
         ", offset: " + std::to_string(pos.offset) + " }";
}

std::string debug_string(const Span& span) {
  return "Span { start: " + debug_string(span.start) + ", end: " + debug_string(span.end) + " }";
}

std::string debug_string(const RelatedLocation& related) {
  std::string out = "RelatedLocation { message: ";
  append_quoted(out, related.message);
  out += ", span: " + debug_string(related.span) + ", file: ";
  append_file(out, related.file);
  out += " }";
  return out;
}

std::string debug_string(const Diagnostic& d) {
  std::string out = "Diagnostic { code: ";
  out += diagnostic_code_variant(d.code);
  out += ", severity: ";
  out += d.severity == Severity::Error ? "Error" : "Warning";
  out += ", message: ";
  append_quoted(out, d.message);
  out += ", span: " + debug_string(d.span) + ", file: ";
  append_file(out, d.file);
  out += ", related: [";
  for (size_t i = 0; i < d.related.size(); ++i) {
    if (i) out += ", ";
    out += debug_string(d.related[i]);
  }
  out += "] }";
  return out;
}

std::string debug_string(const std::vector<Diagnostic>& diagnostics) {
  std::string out = "[";
  for (size_t i = 0; i < diagnostics.size(); ++i) {
    if (i) out += ", ";
    out += debug_string(diagnostics[i]);
  }
  out += "]";
  return out;
}

}  // namespace dravelin::syntax

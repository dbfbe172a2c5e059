#include "cli/diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "cli/display_width.h"
#include "compiler/module_sources.h"
#include "runtime/runtime_error.h"
#include "syntax/utf8.h"

namespace dravelin::cli {
namespace {

constexpr std::string_view kStdinLabel = "<stdin>";
constexpr std::string_view kLinkedProgramLabel = "<source unavailable>";
constexpr std::string_view kTabExpansion = "    ";

struct KeptStdin {
  std::mutex mutex;
  std::optional<std::string> text;
};

KeptStdin& kept_stdin() {
  static KeptStdin kept;
  return kept;
}

// Line `number` (from 1) without its line ending and trailing carriage returns. A final line ending
// does not start another line, so "a\n" has one line.
std::optional<std::string_view> source_line(std::string_view text, uint32_t number) {
  size_t pos = 0;
  for (uint32_t current = 1; pos < text.size(); ++current) {
    const size_t newline = text.find('\n', pos);
    const size_t stop = newline == std::string_view::npos ? text.size() : newline;
    if (current == number) {
      std::string_view line = text.substr(pos, stop - pos);
      while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      return line;
    }
    if (newline == std::string_view::npos) break;
    pos = newline + 1;
  }
  return std::nullopt;
}

// Byte offsets of the character boundaries of `line`: entry i is where character i starts, and the
// last entry is the line's length.
std::vector<size_t> char_boundaries(std::string_view line) {
  std::vector<size_t> bounds;
  size_t i = 0;
  while (i < line.size()) {
    bounds.push_back(i);
    i += syntax::decode_utf8(line, i).length;
  }
  bounds.push_back(line.size());
  return bounds;
}

std::string expand_tabs(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\t') {
      out += kTabExpansion;
    } else {
      out += c;
    }
  }
  return out;
}

std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (true) {
    const size_t next = text.find(separator, pos);
    if (next == std::string_view::npos) {
      parts.push_back(text.substr(pos));
      return parts;
    }
    parts.push_back(text.substr(pos, next - pos));
    pos = next + 1;
  }
}

void write_place(std::string& out, std::string_view label, const syntax::Pos& pos) {
  out += label;
  out += ':';
  out += std::to_string(pos.line);
  out += ':';
  out += std::to_string(pos.column);
}

}  // namespace

std::string_view error_reference_location() {
  return "https://dravelin.dev/docs/error-reference";
}

void keep_stdin_text(std::string text) {
  KeptStdin& kept = kept_stdin();
  std::lock_guard<std::mutex> lock(kept.mutex);
  if (!kept.text) kept.text = std::move(text);
}

std::optional<std::string_view> kept_stdin_text() {
  KeptStdin& kept = kept_stdin();
  std::lock_guard<std::mutex> lock(kept.mutex);
  if (!kept.text) return std::nullopt;
  // The slot is written once and never again, so the view stays valid for the whole process.
  return std::string_view(*kept.text);
}

std::optional<std::string> read_utf8_file(const std::string& path) {
  auto text = compiler::ModuleSources{}.read_text(path);
  if (!text.ok()) return std::nullopt;
  return std::move(text).value();
}

SourceCache::SourceCache(std::optional<std::string_view> stdin_text, SourceReader reader)
    : stdin_text_(stdin_text), reader_(std::move(reader)) {}

const std::string* SourceCache::text(const std::string& label) {
  auto it = texts_.find(label);
  if (it == texts_.end()) {
    std::optional<std::string> text;
    if (label == kStdinLabel) {
      if (stdin_text_) text = std::string(*stdin_text_);
    } else {
      text = reader_(label);
    }
    it = texts_.emplace(label, std::move(text)).first;
  }
  return it->second ? &*it->second : nullptr;
}

void write_excerpt(std::string& out, SourceCache& sources, std::string_view label,
                   const syntax::Span& span) {
  if (span.start.line == 0) {
    out += "  | source location unavailable\n";
    return;
  }
  if (label == kLinkedProgramLabel) {
    out += "  | source file unavailable for linked program\n";
    return;
  }
  const std::string* text = sources.text(std::string(label));
  const std::optional<std::string_view> line =
      text ? source_line(*text, span.start.line) : std::nullopt;
  if (!line) {
    out += "  | source excerpt unavailable\n";
    return;
  }

  const std::vector<size_t> bounds = char_boundaries(*line);
  const size_t n = bounds.size() - 1;
  const size_t start = std::min<size_t>(span.start.column, n);
  // Every excerpt marks at least one column, and a span that runs past its line (or onto later
  // lines) stops at the line's end.
  size_t end = std::max(n, start + 1);
  if (span.end.line <= span.start.line) {
    end = std::min(std::max<size_t>(span.end.column, start + 1), end);
  }
  const std::string_view prefix = line->substr(0, bounds[start]);
  const std::string_view marked =
      line->substr(bounds[start], bounds[std::min(end, n)] - bounds[start]);

  const std::string number = std::to_string(span.start.line);
  out += "  ";
  out += number;
  out += " | ";
  out += expand_tabs(*line);
  out += '\n';
  out += "  ";
  out.append(number.size(), ' ');
  out += " | ";
  out.append(display_width(expand_tabs(prefix)), ' ');
  out.append(std::max<size_t>(display_width(expand_tabs(marked)), 1), '^');
  out += '\n';
}

void write_reference_lines(std::string& out, std::string_view reference, std::string_view code,
                           std::string_view message) {
  const std::string anchor = "<a id=\"" + std::string(code) + "\"></a>";
  std::optional<std::string_view> row;
  for (std::string_view line : split(reference, '\n')) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find(anchor) != std::string_view::npos) {
      row = line;
      break;
    }
  }
  const std::vector<std::string_view> cells =
      row ? split(*row, '|') : std::vector<std::string_view>{};
  if (cells.size() >= 4) {
    out += "  cause: ";
    out += trim(cells[2]);
    out += '\n';
    const std::string_view help = trim(cells[3]);
    if (!help.empty()) {
      out += "  help: ";
      out += help;
      out += '\n';
    }
  } else {
    out += "  cause: ";
    out += message;
    out += '\n';
  }
  out += "  docs: ";
  out += error_reference_location();
  out += '#';
  out += code;
  out += '\n';
}

void write_report(std::string& out, SourceCache& sources, const Report& report) {
  write_place(out, report.label, report.span.start);
  out += ": ";
  if (report.severity == syntax::Severity::Warning) out += "warning: ";
  out += report.code;
  out += ": ";
  out += report.message;
  out += '\n';
  write_excerpt(out, sources, report.label, report.span);
  write_reference_lines(out, error_reference_text(), report.code, report.message);
}

std::string diagnostics_label(const std::filesystem::path& path) {
  const std::string& text = path.native();
  return syntax::is_valid_utf8(text) ? text : std::string("<source>");
}

std::string format_diagnostics(std::string_view label,
                               const std::vector<syntax::Diagnostic>& diagnostics,
                               SourceCache& sources) {
  std::string out;
  for (const syntax::Diagnostic& diagnostic : diagnostics) {
    const std::string_view own_label = diagnostic.file ? std::string_view(*diagnostic.file) : label;
    write_report(out, sources,
                 Report{own_label, diagnostic.span, diagnostic.severity,
                        syntax::diagnostic_code_name(diagnostic.code), diagnostic.message});
    for (const syntax::RelatedLocation& related : diagnostic.related) {
      const std::string_view related_label =
          related.file ? std::string_view(*related.file) : own_label;
      out += "  related: ";
      write_place(out, related_label, related.span.start);
      out += ": ";
      out += related.message;
      out += '\n';
      write_excerpt(out, sources, related_label, related.span);
    }
  }
  return out;
}

void render_diagnostics(const std::filesystem::path& path,
                        const std::vector<syntax::Diagnostic>& diagnostics) {
  SourceCache sources(kept_stdin_text());
  const std::string text = format_diagnostics(diagnostics_label(path), diagnostics, sources);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void render_missing_verb(const std::filesystem::path& path, std::string_view message) {
  SourceCache sources(std::nullopt);
  const std::string label = compiler::display_path(path);
  std::string out;
  write_report(out, sources,
               Report{label, syntax::Span{}, syntax::Severity::Error,
                      runtime::runtime_error_code_name(runtime::RuntimeErrorCode::VerbMissing), message});
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

}  // namespace dravelin::cli

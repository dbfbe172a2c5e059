#include "cli/diagnostics.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "cli/display_width.h"
#include "cli/output.h"
#include "syntax/terminal_text.h"
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

std::string_view trim_cell(std::string_view text) {
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
  syntax::append_for_terminal(out, label, syntax::Backslashes::Kept);
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

SourceCache::Source& SourceCache::source(const std::string& label) {
  auto it = texts_.find(label);
  if (it == texts_.end()) {
    Source source;
    if (label == kStdinLabel) {
      if (stdin_text_) source.text = std::string(*stdin_text_);
    } else {
      source.text = reader_(label);
    }
    it = texts_.emplace(label, std::move(source)).first;
  }
  return it->second;
}

const std::string* SourceCache::text(const std::string& label) {
  Source& found = source(label);
  return found.text ? &*found.text : nullptr;
}

std::optional<std::string_view> SourceCache::line(const std::string& label, uint32_t number) {
  Source& found = source(label);
  if (!found.text) return std::nullopt;
  const std::string_view text = *found.text;
  if (!found.indexed) {
    // A final line ending does not start another line, so "a\n" has one line.
    for (size_t pos = 0; pos < text.size();) {
      found.line_starts.push_back(pos);
      const size_t newline = text.find('\n', pos);
      if (newline == std::string_view::npos) break;
      pos = newline + 1;
    }
    found.indexed = true;
  }
  if (number == 0 || number > found.line_starts.size()) return std::nullopt;
  const size_t start = found.line_starts[number - 1];
  const size_t newline = text.find('\n', start);
  std::string_view line = text.substr(start, (newline == std::string_view::npos ? text.size() : newline) - start);
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
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
  const std::optional<std::string_view> line = sources.line(std::string(label), span.start.line);
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

  // Control characters in the source are shown escaped, and the carets measure the escaped text.
  const std::string number = std::to_string(span.start.line);
  out += "  ";
  out += number;
  out += " | ";
  out += syntax::terminal_line(expand_tabs(*line));
  out += '\n';
  out += "  ";
  out.append(number.size(), ' ');
  out += " | ";
  out.append(display_width(syntax::terminal_line(expand_tabs(prefix))), ' ');
  out.append(std::max<size_t>(display_width(syntax::terminal_line(expand_tabs(marked))), 1), '^');
  out += '\n';
}

namespace {

// The first line of `reference` that holds the anchor of `code`.
std::optional<std::string_view> find_reference_row(std::string_view reference, std::string_view code) {
  const std::string anchor = "<a id=\"" + std::string(code) + "\"></a>";
  for (std::string_view line : split(reference, '\n')) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find(anchor) != std::string_view::npos) return line;
  }
  return std::nullopt;
}

// The rows of the embedded reference by code, found in one scan: a report of many problems would otherwise scan
// the whole reference once per report. Each code maps to the first line holding its anchor, as a scan for that
// anchor finds it.
const std::unordered_map<std::string_view, std::string_view>& embedded_reference_rows() {
  static const std::unordered_map<std::string_view, std::string_view> rows = [] {
    constexpr std::string_view kOpen = "<a id=\"";
    constexpr std::string_view kClose = "\"></a>";
    std::unordered_map<std::string_view, std::string_view> found;
    for (std::string_view line : split(error_reference_text(), '\n')) {
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      for (size_t at = line.find(kOpen); at != std::string_view::npos; at = line.find(kOpen, at + 1)) {
        const size_t code_start = at + kOpen.size();
        const size_t quote = line.find('"', code_start);
        if (quote == std::string_view::npos || line.substr(quote, kClose.size()) != kClose) continue;
        found.try_emplace(line.substr(code_start, quote - code_start), line);
      }
    }
    return found;
  }();
  return rows;
}

std::optional<std::string_view> reference_row(std::string_view reference, std::string_view code) {
  const std::string_view embedded = error_reference_text();
  if (reference.data() == embedded.data() && reference.size() == embedded.size()) {
    const auto& rows = embedded_reference_rows();
    auto it = rows.find(code);
    if (it == rows.end()) return std::nullopt;
    return it->second;
  }
  return find_reference_row(reference, code);
}

}  // namespace

void write_reference_lines(std::string& out, std::string_view reference, std::string_view code,
                           std::string_view message) {
  const std::optional<std::string_view> row = reference_row(reference, code);
  const std::vector<std::string_view> cells =
      row ? split(*row, '|') : std::vector<std::string_view>{};
  if (cells.size() >= 4) {
    out += "  cause: ";
    out += trim_cell(cells[2]);
    out += '\n';
    const std::string_view help = trim_cell(cells[3]);
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
  // A message may quote the source, a value of the run or what an adapter or the model service said.
  const std::string message = syntax::terminal_line(report.message);
  write_place(out, report.label, report.span.start);
  out += ": ";
  if (report.severity == syntax::Severity::Warning) out += "warning: ";
  out += report.code;
  out += ": ";
  out += message;
  out += '\n';
  write_excerpt(out, sources, report.label, report.span);
  write_reference_lines(out, error_reference_text(), report.code, message);
}

std::string diagnostics_label(const std::filesystem::path& path) {
  const std::string& text = path.native();
  return syntax::is_valid_utf8(text) ? text : std::string("<source>");
}

namespace {

constexpr size_t kFlushChunk = 64 * 1024;

void write_hidden_reports(std::string& out, std::string_view label, uint32_t line, size_t hidden) {
  syntax::append_for_terminal(out, label, syntax::Backslashes::Kept);
  out += ':';
  out += std::to_string(line);
  out += ": ";
  out += std::to_string(hidden);
  out += hidden == 1 ? " more diagnostic on this line is not shown\n" : " more diagnostics on this line are not shown\n";
}

}  // namespace

void write_diagnostics(std::string_view label, const std::vector<syntax::Diagnostic>& diagnostics,
                       SourceCache& sources, const std::function<void(std::string&)>& flush) {
  std::string out;
  // The run of reports about one line: its place, how many were shown, how many were held back.
  std::string_view run_label;
  uint32_t run_line = 0;
  size_t run_shown = 0;
  size_t run_hidden = 0;
  auto end_run = [&] {
    if (run_hidden > 0) write_hidden_reports(out, run_label, run_line, run_hidden);
    run_shown = run_hidden = 0;
  };

  for (const syntax::Diagnostic& diagnostic : diagnostics) {
    const std::string_view own_label = diagnostic.file ? std::string_view(*diagnostic.file) : label;
    // Reports without a place (line 0) show no line, so they never count as repeats of one.
    const uint32_t line = diagnostic.span.start.line;
    if (line == 0 || line != run_line || own_label != run_label) {
      end_run();
      run_label = own_label;
      run_line = line;
    }
    if (line != 0 && run_shown == kReportsShownPerLine) {
      ++run_hidden;
      continue;
    }
    ++run_shown;
    write_report(out, sources,
                 Report{own_label, diagnostic.span, diagnostic.severity,
                        syntax::diagnostic_code_name(diagnostic.code), diagnostic.message});
    for (const syntax::RelatedLocation& related : diagnostic.related) {
      const std::string_view related_label =
          related.file ? std::string_view(*related.file) : own_label;
      out += "  related: ";
      write_place(out, related_label, related.span.start);
      out += ": ";
      syntax::append_for_terminal(out, related.message, syntax::Backslashes::Kept);
      out += '\n';
      write_excerpt(out, sources, related_label, related.span);
    }
    if (out.size() >= kFlushChunk) {
      flush(out);
      out.clear();
    }
  }
  end_run();
  if (!out.empty()) flush(out);
}

std::string format_diagnostics(std::string_view label,
                               const std::vector<syntax::Diagnostic>& diagnostics,
                               SourceCache& sources) {
  std::string text;
  write_diagnostics(label, diagnostics, sources, [&](std::string& chunk) { text += chunk; });
  return text;
}

void render_diagnostics(const std::filesystem::path& path,
                        const std::vector<syntax::Diagnostic>& diagnostics) {
  SourceCache sources(kept_stdin_text());
  write_diagnostics(diagnostics_label(path), diagnostics, sources,
                    [](std::string& chunk) { write_text(stderr, chunk); });
}

void render_missing_verb(const std::filesystem::path& path, std::string_view message) {
  SourceCache sources(std::nullopt);
  const std::string label = compiler::display_path(path);
  std::string out;
  write_report(out, sources,
               Report{label, syntax::Span{}, syntax::Severity::Error,
                      runtime::runtime_error_code_name(runtime::RuntimeErrorCode::VerbMissing), message});
  write_text(stderr, out);
}

}  // namespace dravelin::cli

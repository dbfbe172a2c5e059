// Terminal reports of problems found in a program: a header naming the place, an excerpt of the
// source line with carets under the marked text, and the cause, help and docs lines taken from the
// embedded error reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/diagnostic.h"

namespace dravelin::cli {

// The error reference: Markdown with one table row per stable code, each row's first cell starting
// with the anchor `<a id="CODE"></a>`. Compiled in from error_reference.md.
std::string_view error_reference_text();

// Where the published reference lives; the entry of a code is this, "#" and the code.
std::string_view error_reference_location();

// The program text read from stdin, kept for the excerpts of reports labelled "<stdin>". Only the
// first call stores; the text then stays unchanged until the process ends.
void keep_stdin_text(std::string text);
std::optional<std::string_view> kept_stdin_text();

// A file's whole content, or nothing when it cannot be read or is not valid UTF-8.
std::optional<std::string> read_utf8_file(const std::string& path);

using SourceReader = std::function<std::optional<std::string>(const std::string& path)>;

// The source texts of one rendering call, by label. "<stdin>" is the kept stdin text, any other
// label a file path; each label is looked up at most once, failures included, however many reports
// point into it.
class SourceCache {
 public:
  explicit SourceCache(std::optional<std::string_view> stdin_text,
                       SourceReader reader = read_utf8_file);

  // Null when the label has no readable text.
  const std::string* text(const std::string& label);

  // Line `number` (from 1) of the label's text without its line ending and trailing carriage returns; nothing
  // when the label has no text or the text has fewer lines. The line starts of a text are found once, on its
  // first excerpt, so that every later excerpt costs only its own line.
  std::optional<std::string_view> line(const std::string& label, uint32_t number);

 private:
  struct Source {
    std::optional<std::string> text;
    std::vector<size_t> line_starts;  // filled on the first line asked for
    bool indexed = false;
  };
  Source& source(const std::string& label);

  std::optional<std::string_view> stdin_text_;
  SourceReader reader_;
  std::map<std::string, Source> texts_;
};

// One report: the place, severity, code name (compile or runtime) and message.
struct Report {
  std::string_view label;
  syntax::Span span;
  syntax::Severity severity = syntax::Severity::Error;
  std::string_view code;
  std::string_view message;
};

// The excerpt lines of a span: the start line with carets under the marked text, or one line saying
// why no excerpt can be shown.
void write_excerpt(std::string& out, SourceCache& sources, std::string_view label,
                   const syntax::Span& span);

// The cause, help and docs lines of a code, read from `reference`. A code without a usable row
// falls back to the message as its cause.
void write_reference_lines(std::string& out, std::string_view reference, std::string_view code,
                           std::string_view message);

// Header, excerpt and reference lines of one report, against the embedded reference.
void write_report(std::string& out, SourceCache& sources, const Report& report);

// The label of diagnostics that name no file: the path's text, or "<source>" when that is not
// valid UTF-8.
std::string diagnostics_label(const std::filesystem::path& path);

// How many reports in a row about one line of one file are shown in full. A long line with a problem at every
// character would otherwise be printed again for each of them; the reports past this many are counted in one
// summary line instead.
inline constexpr size_t kReportsShownPerLine = 10;

// Every diagnostic's report in list order, each followed by its related locations, with at most
// kReportsShownPerLine reports in a row about one line. `flush` is handed the text so far whenever it has
// grown past a chunk, and whatever is left at the end; it may empty the text it is given.
void write_diagnostics(std::string_view label, const std::vector<syntax::Diagnostic>& diagnostics,
                       SourceCache& sources, const std::function<void(std::string&)>& flush);

// write_diagnostics into one text.
std::string format_diagnostics(std::string_view label,
                               const std::vector<syntax::Diagnostic>& diagnostics,
                               SourceCache& sources);

// Writes the reports of `diagnostics` to stderr as they are formatted; `path` labels the ones without a file.
void render_diagnostics(const std::filesystem::path& path,
                        const std::vector<syntax::Diagnostic>& diagnostics);

// Writes to stderr the `verb_missing` report of a tool verb that no manifest declares. It has no place in the
// source, so its header reads line 0, column 0 and it shows no excerpt; `path` labels it in display form.
void render_missing_verb(const std::filesystem::path& path, std::string_view message);

}  // namespace dravelin::cli

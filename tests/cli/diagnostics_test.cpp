#include "cli/diagnostics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace dravelin::cli {
namespace {

using syntax::Diagnostic;
using syntax::DiagnosticCode;
using syntax::Pos;
using syntax::RelatedLocation;
using syntax::Severity;
using syntax::Span;

// Offsets play no part in rendering, so the spans here leave them at 0.
Span span(uint32_t l1, uint32_t c1, uint32_t l2, uint32_t c2) {
  return Span{Pos{l1, c1, 0}, Pos{l2, c2, 0}};
}

const char* const kFlow =
    "program flow\n"                 // 1
    "# cafe\u0301 bar\n"             // 2
    "in topic: text\n"               // 3
    "\n"                             // 4
    "task main\n"                    // 5
    "    count = 0\n"                // 6
    "\ttally = 1\n"                  // 7
    "    note = \"名前 is 値\"\n"    // 8
    "    mood = \"\U0001F600 ok\"\n"  // 9
    "\t\tif sure\n"                  // 10
    "    x = 1\n"                    // 11
    "    loop\n";                    // 12

// Files the renderer may read, by path; everything else is unreadable.
std::map<std::string, std::string> test_files() {
  return {
      {"flow.zem", kFlow},
      {"long.zem", std::string(999, '\n') + "x = 1\n"},
      {"crlf.zem", "a = 1\r\r\nb = 2\r\n"},
      {"other.zem", "use \"./flow\"\n"},
      {"control.zem", "x = \"\x1b[31m\" + y\n"},
  };
}

SourceCache test_cache(std::optional<std::string_view> stdin_text = std::nullopt) {
  return SourceCache(stdin_text, [files = test_files()](const std::string& path) {
    auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  });
}

TEST(Excerpt, CaretPlacement) {
  struct Case {
    const char* what;
    const char* label;
    Span span;
    const char* expected;
  };
  const Case cases[] = {
      {"a word on one line", "flow.zem", span(12, 4, 12, 8),
       "  12 |     loop\n"
       "     |     ^^^^\n"},
      {"an empty span marks one column", "flow.zem", span(1, 8, 1, 8),
       "  1 | program flow\n"
       "    |         ^\n"},
      {"an end before the start still marks one column", "flow.zem", span(1, 8, 1, 2),
       "  1 | program flow\n"
       "    |         ^\n"},
      {"a start past the line's end marks just after it", "flow.zem", span(1, 20, 1, 25),
       "  1 | program flow\n"
       "    |             ^\n"},
      {"an end past the line's end stops at the end", "flow.zem", span(3, 10, 3, 40),
       "  3 | in topic: text\n"
       "    |           ^^^^\n"},
      {"a span onto later lines marks the rest of its first line", "flow.zem", span(5, 5, 12, 8),
       "  5 | task main\n"
       "    |      ^^^^\n"},
      {"a span starting at a line's end and going on", "flow.zem", span(5, 9, 6, 3),
       "  5 | task main\n"
       "    |          ^\n"},
      {"a tab before the mark counts four columns", "flow.zem", span(7, 1, 7, 6),
       "  7 |     tally = 1\n"
       "    |     ^^^^^\n"},
      {"marked tabs count four columns each", "flow.zem", span(10, 0, 10, 4),
       "  10 |         if sure\n"
       "     | ^^^^^^^^^^\n"},
      {"wide characters before the mark shift it two columns each", "flow.zem", span(8, 18, 8, 19),
       "  8 |     note = \"名前 is 値\"\n"
       "    |                     ^^\n"},
      {"a marked emoji takes two carets", "flow.zem", span(9, 12, 9, 16),
       "  9 |     mood = \"\U0001F600 ok\"\n"
       "    |             ^^^^^\n"},
      {"a zero-width mark still gets one caret", "flow.zem", span(2, 6, 2, 7),
       "  2 | # cafe\u0301 bar\n"
       "    |       ^\n"},
      {"an empty line", "flow.zem", span(4, 0, 4, 0),
       "  4 | \n"
       "    | ^\n"},
      {"line 1000 widens the gutter", "long.zem", span(1000, 2, 1000, 3),
       "  1000 | x = 1\n"
       "       |   ^\n"},
      {"carriage returns are dropped from the line", "crlf.zem", span(1, 0, 1, 10),
       "  1 | a = 1\n"
       "    | ^^^^^\n"},
      {"a control character shows escaped, and the carets after it move along", "control.zem",
       span(1, 14, 1, 15),
       "  1 | x = \"\\u001b[31m\" + y\n"
       "    |                    ^\n"},
      {"a marked control character gets a caret per column of its escape", "control.zem", span(1, 5, 1, 6),
       "  1 | x = \"\\u001b[31m\" + y\n"
       "    |      ^^^^^^\n"},
      {"no position", "flow.zem", span(0, 0, 0, 0), "  | source location unavailable\n"},
      {"line 0 with a column", "flow.zem", span(0, 5, 0, 9), "  | source location unavailable\n"},
      {"a linked program", "<source unavailable>", span(3, 0, 3, 2),
       "  | source file unavailable for linked program\n"},
      {"an unreadable file", "gone.zem", span(1, 0, 1, 1), "  | source excerpt unavailable\n"},
      {"the line after the final line ending", "flow.zem", span(13, 0, 13, 0),
       "  | source excerpt unavailable\n"},
      {"stdin without kept text", "<stdin>", span(1, 0, 1, 1), "  | source excerpt unavailable\n"},
  };
  for (const Case& c : cases) {
    SourceCache cache = test_cache();
    std::string out;
    write_excerpt(out, cache, c.label, c.span);
    EXPECT_EQ(out, c.expected) << c.what;
  }
}

TEST(Excerpt, StdinLabelTakesTheKeptText) {
  int reads = 0;
  SourceCache cache(std::string_view("task main\n    loop\n"), [&](const std::string&) {
    ++reads;
    return std::optional<std::string>("not this");
  });
  std::string out;
  write_excerpt(out, cache, "<stdin>", span(2, 4, 2, 8));
  EXPECT_EQ(out,
            "  2 |     loop\n"
            "    |     ^^^^\n");
  EXPECT_EQ(reads, 0);
}

TEST(SourceCache, ReadsEachLabelOnceFailuresIncluded) {
  std::map<std::string, int> reads;
  SourceCache cache(std::nullopt, [&](const std::string& path) -> std::optional<std::string> {
    ++reads[path];
    if (path == "a.zem") return std::string("x = 1\n");
    return std::nullopt;
  });
  std::vector<Diagnostic> diagnostics;
  for (int i = 0; i < 3; ++i) {
    Diagnostic d{DiagnosticCode::Syntax, Severity::Error, "m", span(1, 0, 1, 1), "a.zem", {}};
    d.related.push_back(RelatedLocation{"r", span(1, 0, 1, 1), "b.zem"});
    diagnostics.push_back(d);
  }
  format_diagnostics("a.zem", diagnostics, cache);
  EXPECT_EQ(reads, (std::map<std::string, int>{{"a.zem", 1}, {"b.zem", 1}}));
}

TEST(SourceCache, LinesComeFromTheLineStartsOfTheirText) {
  struct Case {
    const char* name;
    std::string text;
    uint32_t number;
    std::optional<std::string> line;
  };
  const Case cases[] = {
      {"first line", "a\nbb\nccc\n", 1, "a"},
      {"last line before the final line feed", "a\nbb\nccc\n", 3, "ccc"},
      {"a final line feed starts no line", "a\nbb\nccc\n", 4, std::nullopt},
      {"last line without a line feed", "a\nbb", 2, "bb"},
      {"an empty line in the middle", "a\n\nc", 2, ""},
      {"carriage returns before the line feed are dropped", "a\r\r\nb\r\n", 1, "a"},
      {"line zero", "a\n", 0, std::nullopt},
      {"an empty text has no lines", "", 1, std::nullopt},
      {"far past the end", "a\n", 1000, std::nullopt},
  };
  for (const Case& c : cases) {
    SourceCache cache(std::nullopt, [&](const std::string&) { return std::optional<std::string>(c.text); });
    // Asked twice: the second answer comes from the index the first one built.
    for (int pass = 0; pass < 2; ++pass) {
      std::optional<std::string_view> line = cache.line("x.zem", c.number);
      EXPECT_EQ(line ? std::optional<std::string>(std::string(*line)) : std::nullopt, c.line) << c.name;
    }
  }
}

// The lines of a rendering that do not start with two spaces: headers and summaries.
std::vector<std::string> unindented_lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("  ", 0) != 0) out.push_back(line);
  }
  return out;
}

TEST(Report, RepeatedReportsOfOneLineStopAfterTenWithASummary) {
  std::vector<Diagnostic> diagnostics;
  auto add = [&](int count, const char* file, uint32_t line) {
    for (int i = 0; i < count; ++i) {
      const auto column = static_cast<uint32_t>(i);
      diagnostics.push_back({DiagnosticCode::Syntax, Severity::Error, "m" + std::to_string(i),
                             span(line, column, line, column + 1), file, {}});
    }
  };
  add(12, "flow.zem", 6);
  add(11, "crlf.zem", 1);  // another file: a run of its own, one report held back
  add(3, "flow.zem", 6);   // the same line again after another: a new run
  add(11, "gone.zem", 0);  // no place: never held back

  SourceCache cache = test_cache();
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) expected.push_back("flow.zem:6:" + std::to_string(i) + ": syntax: m" + std::to_string(i));
  expected.push_back("flow.zem:6: 2 more diagnostics on this line are not shown");
  for (int i = 0; i < 10; ++i) expected.push_back("crlf.zem:1:" + std::to_string(i) + ": syntax: m" + std::to_string(i));
  expected.push_back("crlf.zem:1: 1 more diagnostic on this line is not shown");
  for (int i = 0; i < 3; ++i) expected.push_back("flow.zem:6:" + std::to_string(i) + ": syntax: m" + std::to_string(i));
  for (int i = 0; i < 11; ++i) expected.push_back("gone.zem:0:" + std::to_string(i) + ": syntax: m" + std::to_string(i));
  EXPECT_EQ(unindented_lines(format_diagnostics("flow.zem", diagnostics, cache)), expected);
}

TEST(Report, LongReportsAreHandedOverInChunks) {
  std::vector<Diagnostic> diagnostics;
  // Reports without a place are never held back, so these are all written.
  for (int i = 0; i < 500; ++i) {
    diagnostics.push_back({DiagnosticCode::Syntax, Severity::Error, "m", Span{}, "gone.zem", {}});
  }
  SourceCache cache = test_cache();
  std::vector<std::string> chunks;
  write_diagnostics("flow.zem", diagnostics, cache, [&](std::string& chunk) { chunks.push_back(chunk); });
  ASSERT_GT(chunks.size(), 1u);
  std::string joined;
  for (const std::string& chunk : chunks) {
    // A chunk is handed over once it passes 64 KiB, so none grows far beyond that.
    EXPECT_LT(chunk.size(), 70u * 1024);
    joined += chunk;
  }
  SourceCache again = test_cache();
  EXPECT_EQ(joined, format_diagnostics("flow.zem", diagnostics, again));
}

TEST(Report, FullText) {
  struct Case {
    const char* what;
    std::vector<Diagnostic> diagnostics;
    const char* expected;
  };
  const Case cases[] = {
      {"an error names no severity",
       {{DiagnosticCode::UnboundedLoop, Severity::Error, "`loop` needs a `max` bound",
         span(12, 4, 12, 8), "flow.zem", {}}},
       "flow.zem:12:4: unbounded_loop: `loop` needs a `max` bound\n"
       "  12 |     loop\n"
       "     |     ^^^^\n"
       "  cause: A `loop` or `until` has no `max`.\n"
       "  help: Add an explicit positive `max` appropriate to the operation.\n"
       "  docs: https://dravelin.dev/docs/error-reference#unbounded_loop\n"},
      {"a warning says so before its code",
       {{DiagnosticCode::BareProbCondition, Severity::Warning, "`sure` is a probability",
         span(10, 5, 10, 9), "flow.zem", {}}},
       "flow.zem:10:5: warning: bare_prob_condition: `sure` is a probability\n"
       "  10 |         if sure\n"
       "     |            ^^^^\n"
       "  cause: A probability is used directly as a boolean condition.\n"
       "  help: Compare it with an explicit threshold so the policy is visible.\n"
       "  docs: https://dravelin.dev/docs/error-reference#bare_prob_condition\n"},
      {"no file: the path labels it; an unreadable file with the zero span",
       {{DiagnosticCode::Indent, Severity::Error, "tab in indentation", span(7, 0, 7, 1),
         std::nullopt, {}},
        {DiagnosticCode::UseNotFound, Severity::Error, "cannot read `gone.zem`: No such file",
         Span{}, "gone.zem", {}}},
       "flow.zem:7:0: indent: tab in indentation\n"
       "  7 |     tally = 1\n"
       "    | ^^^^\n"
       "  cause: Indentation contains a tab or is inconsistent within a block.\n"
       "  help: Replace tabs with spaces and align every statement in the same block to the same "
       "column.\n"
       "  docs: https://dravelin.dev/docs/error-reference#indent\n"
       "gone.zem:0:0: use_not_found: cannot read `gone.zem`: No such file\n"
       "  | source location unavailable\n"
       "  cause: An imported file cannot be resolved, or the imported source cannot be loaded.\n"
       "  help: Correct the path and ensure the file is under the importer or a configured module "
       "search root.\n"
       "  docs: https://dravelin.dev/docs/error-reference#use_not_found\n"},
      {"related locations follow their diagnostic without reference lines",
       {{DiagnosticCode::DuplicateName, Severity::Error, "`count` is declared twice",
         span(6, 4, 6, 9), std::nullopt,
         {{"first declared here", span(3, 3, 3, 8), std::nullopt},
          {"imported here", span(1, 4, 1, 12), "other.zem"},
          {"through the prelude", Span{}, "std"}}}},
       "flow.zem:6:4: duplicate_name: `count` is declared twice\n"
       "  6 |     count = 0\n"
       "    |     ^^^^^\n"
       "  cause: A name or key is repeated in a scope that requires uniqueness.\n"
       "  help: Rename or remove the marked duplicate; also inspect the related first declaration "
       "when shown.\n"
       "  docs: https://dravelin.dev/docs/error-reference#duplicate_name\n"
       "  related: flow.zem:3:3: first declared here\n"
       "  3 | in topic: text\n"
       "    |    ^^^^^\n"
       "  related: other.zem:1:4: imported here\n"
       "  1 | use \"./flow\"\n"
       "    |     ^^^^^^^^\n"
       "  related: std:0:0: through the prelude\n"
       "  | source location unavailable\n"},
      {"a message and file names from outside show their control characters escaped",
       {{DiagnosticCode::UnboundedLoop, Severity::Error, "`lo\x1b[2Jop` needs\na bound", Span{}, "a\nb.zem",
         {{"and\rhere", Span{}, std::nullopt}}}},
       "a\\nb.zem:0:0: unbounded_loop: `lo\\u001b[2Jop` needs\\na bound\n"
       "  | source location unavailable\n"
       "  cause: A `loop` or `until` has no `max`.\n"
       "  help: Add an explicit positive `max` appropriate to the operation.\n"
       "  docs: https://dravelin.dev/docs/error-reference#unbounded_loop\n"
       "  related: a\\nb.zem:0:0: and\\rhere\n"
       "  | source location unavailable\n"},
      {"a code whose cause cell holds quotes and backticks",
       {{DiagnosticCode::LogLevel, Severity::Error, "`log` needs a level", span(1, 0, 1, 3),
         "crlf.zem", {}}},
       "crlf.zem:1:0: log_level: `log` needs a level\n"
       "  1 | a = 1\n"
       "    | ^^^\n"
       "  cause: A `log` names a level other than `debug`, `info`, `warn` or `error`, or has no "
       "level at all (`log \"x\"`).\n"
       "  help: Write one of the four levels right after `log`, then the value: `log info \"routed "
       "request\"`.\n"
       "  docs: https://dravelin.dev/docs/error-reference#log_level\n"},
  };
  for (const Case& c : cases) {
    SourceCache cache = test_cache();
    EXPECT_EQ(format_diagnostics("flow.zem", c.diagnostics, cache), c.expected) << c.what;
  }
}

TEST(Report, RuntimeCodesUseTheirRows) {
  SourceCache cache = test_cache();
  std::string out;
  write_report(out, cache,
               Report{"<source unavailable>", span(3, 2, 3, 9), Severity::Error, "type_error",
                      "expected a number"});
  EXPECT_EQ(out,
            "<source unavailable>:3:2: type_error: expected a number\n"
            "  | source file unavailable for linked program\n"
            "  cause: A runtime value has the wrong type for the operation.\n"
            "  help: Inspect the marked expression and convert or shape the value explicitly.\n"
            "  docs: https://dravelin.dev/docs/error-reference#type_error\n");
}

TEST(ReferenceLines, RowShapes) {
  const std::string reference =
      "# Guide\r\n"
      "| <a id=\"plain\"></a>`plain` |  Cause text.  | Help text. |\r\n"
      "| <a id=\"no_help\"></a>`no_help` | Only a cause. |   |\n"
      "| <a id=\"short\"></a>`short` | too few cells\n"
      "| <a id=\"twice\"></a>`twice` | First row. | First help. |\n"
      "| <a id=\"twice\"></a>`twice` | Second row. | Second help. |\n"
      "| <a id=\"plain_more\"></a>`plain_more` | Longer name. | Other help. |\n";
  struct Case {
    const char* code;
    const char* expected;
  };
  const Case cases[] = {
      {"plain",
       "  cause: Cause text.\n"
       "  help: Help text.\n"
       "  docs: https://dravelin.dev/docs/error-reference#plain\n"},
      {"no_help",
       "  cause: Only a cause.\n"
       "  docs: https://dravelin.dev/docs/error-reference#no_help\n"},
      {"short",
       "  cause: the message\n"
       "  docs: https://dravelin.dev/docs/error-reference#short\n"},
      {"twice",
       "  cause: First row.\n"
       "  help: First help.\n"
       "  docs: https://dravelin.dev/docs/error-reference#twice\n"},
      {"absent",
       "  cause: the message\n"
       "  docs: https://dravelin.dev/docs/error-reference#absent\n"},
  };
  for (const Case& c : cases) {
    std::string out;
    write_reference_lines(out, reference, c.code, "the message");
    EXPECT_EQ(out, c.expected) << c.code;
  }
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ErrorReference, EveryCodeHasOneCompleteRowInItsSection) {
  const std::vector<std::string> lines = split_lines(error_reference_text());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "# Dravelin error reference");

  // Codes per section, in the order of their rows.
  std::vector<std::pair<std::string, std::vector<std::string>>> sections;
  for (const std::string& line : lines) {
    if (line.rfind("## ", 0) == 0) sections.push_back({line.substr(3), {}});
    const size_t at = line.find("<a id=\"");
    if (at == std::string::npos) continue;
    ASSERT_FALSE(sections.empty()) << line;
    const size_t name_start = at + 7;
    const std::string code = line.substr(name_start, line.find('"', name_start) - name_start);
    EXPECT_EQ(line.rfind("| <a id=\"" + code + "\"></a>`" + code + "` | ", 0), 0u) << line;
    sections.back().second.push_back(code);
  }
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].first, "Compile errors");
  EXPECT_EQ(sections[1].first, "Compile warnings");
  EXPECT_EQ(sections[2].first, "Runtime errors and machine escalation");

  std::vector<std::string> errors, warnings;
  for (int i = 0; i < syntax::kDiagnosticCodeCount; ++i) {
    const auto code = static_cast<DiagnosticCode>(i);
    auto& list = syntax::diagnostic_code_severity(code) == Severity::Warning ? warnings : errors;
    list.emplace_back(syntax::diagnostic_code_name(code));
  }
  const std::vector<std::string> runtime = {
      "binding_missing", "state_too_large", "zem_unavailable", "zem_rejected",
      "verb_missing",    "adapter_error",   "type_error",      "recursion_limit",
      "replay_diverged", "pick_too_many",   "profile_missing", "no_enabled_events"};
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(sections[0].second), sorted(errors));
  EXPECT_EQ(sorted(sections[1].second), sorted(warnings));
  EXPECT_EQ(sections[2].second, runtime);
  EXPECT_EQ(sections[0].second.front(), "syntax");
  EXPECT_EQ(sections[0].second.back(), "log_in_question");

  // Each code's anchor sits on exactly one line, and that row gives both a cause and a help.
  for (const auto& [title, codes] : sections) {
    for (const std::string& code : codes) {
      const std::string anchor = "<a id=\"" + code + "\"></a>";
      int rows = 0;
      for (const std::string& line : lines) rows += line.find(anchor) != std::string::npos;
      EXPECT_EQ(rows, 1) << code;
      std::string out;
      write_reference_lines(out, error_reference_text(), code, "MESSAGE");
      EXPECT_EQ(out.find("MESSAGE"), std::string::npos) << code;
      EXPECT_NE(out.find("\n  help: "), std::string::npos) << code;
    }
  }
}

TEST(ErrorReference, EmbeddedTextIsTheMarkdownFile) {
  std::ifstream in(DRAVELIN_SOURCE_DIR "/cli/error_reference.md", std::ios::binary);
  ASSERT_TRUE(in) << "cannot open the reference source";
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(error_reference_text(), text.str());
}

// A scratch directory removed with everything in it when the test ends.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dravelin_diagnostics_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::filesystem::path dir_;
};

using ReadUtf8File = ScratchFolder;

TEST_F(ReadUtf8File, OnlyReadableUtf8Text) {
  EXPECT_EQ(read_utf8_file(write("ok.zem", "x = \"名\"\n")), "x = \"名\"\n");
  EXPECT_EQ(read_utf8_file(write("empty.zem", "")), "");
  EXPECT_EQ(read_utf8_file(write("latin1.zem", "caf\xe9\n")), std::nullopt);
  EXPECT_EQ(read_utf8_file(write("surrogate.zem", "\xed\xa0\x80")), std::nullopt);
  EXPECT_EQ(read_utf8_file((dir_ / "missing.zem").string()), std::nullopt);
  EXPECT_EQ(read_utf8_file(dir_.string()), std::nullopt);
}

TEST(DiagnosticsLabel, PathTextOrPlaceholder) {
  EXPECT_EQ(diagnostics_label("dir/flow.zem"), "dir/flow.zem");
  EXPECT_EQ(diagnostics_label("名前.zem"), "名前.zem");
  EXPECT_EQ(diagnostics_label(std::filesystem::path("bad\xff.zem")), "<source>");
}

using RenderDiagnostics = ScratchFolder;

TEST_F(RenderDiagnostics, WritesReportsToStderrFromFilesAndKeptStdin) {
  const std::string path = write("flow.zem", "task main\n    loop\n");
  keep_stdin_text("in topic: text\n");
  keep_stdin_text("a later read is ignored\n");
  ASSERT_EQ(kept_stdin_text(), std::optional<std::string_view>("in topic: text\n"));

  const std::vector<Diagnostic> diagnostics = {
      {DiagnosticCode::UnboundedLoop, Severity::Error, "`loop` needs a `max` bound",
       span(2, 4, 2, 8), std::nullopt, {}},
      {DiagnosticCode::UppercaseIdentifier, Severity::Error, "`Topic` has an uppercase letter",
       span(1, 3, 1, 8), "<stdin>", {}},
  };
  ::testing::internal::CaptureStderr();
  render_diagnostics(path, diagnostics);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, path +
                     ":2:4: unbounded_loop: `loop` needs a `max` bound\n"
                     "  2 |     loop\n"
                     "    |     ^^^^\n"
                     "  cause: A `loop` or `until` has no `max`.\n"
                     "  help: Add an explicit positive `max` appropriate to the operation.\n"
                     "  docs: https://dravelin.dev/docs/error-reference#unbounded_loop\n"
                     "<stdin>:1:3: uppercase_identifier: `Topic` has an uppercase letter\n"
                     "  1 | in topic: text\n"
                     "    |    ^^^^^\n"
                     "  cause: An identifier contains an uppercase letter.\n"
                     "  help: Rename it using lowercase letters, digits, and underscores.\n"
                     "  docs: https://dravelin.dev/docs/error-reference#uppercase_identifier\n");
}

}  // namespace
}  // namespace dravelin::cli

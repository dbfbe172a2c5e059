// Shared pieces of the checker tests: parse, link and check a source text, and render findings as
// "line:column code: message" so that a whole expected list compares (and fails) readably.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "compiler/check.h"
#include "compiler/link.h"
#include "syntax/diagnostic.h"
#include "syntax/parse.h"
#include "temp_dir.h"

namespace dravelin::compiler::check_test {

namespace fs = std::filesystem;
using syntax::Diagnostic;
using syntax::DiagnosticCode;
using test_support::TempDir;

inline std::string render(const Diagnostic& d) {
  return std::to_string(d.span.start.line) + ":" + std::to_string(d.span.start.column) + " " +
         std::string(syntax::diagnostic_code_name(d.code)) + ": " + d.message;
}

inline std::vector<std::string> render_all(const std::vector<Diagnostic>& diagnostics) {
  std::vector<std::string> out;
  for (const Diagnostic& d : diagnostics) out.push_back(render(d));
  return out;
}

// Every module's findings, in link order, or the parse or link failure reported as a test failure.
struct Checked {
  std::vector<LinkedModule> modules;
  std::vector<std::vector<Diagnostic>> findings;  // one list per module
  const std::vector<Diagnostic>& root() const { return findings.front(); }
};

inline Checked check_text(const std::string& text, const std::optional<fs::path>& path = std::nullopt,
                          const ModuleSources& sources = {}) {
  Checked out;
  auto parsed = syntax::parse_program(text);
  if (!parsed.ok()) {
    ADD_FAILURE() << "fixture does not parse: " << syntax::debug_string(parsed.error());
    out.findings.emplace_back();
    return out;
  }
  auto linked = link_program(*parsed, path, sources);
  if (!linked.ok()) {
    ADD_FAILURE() << "fixture does not link: " << syntax::debug_string(linked.error());
    out.findings.emplace_back();
    return out;
  }
  out.modules = std::move(linked).value();
  for (const LinkedModule& module : out.modules) out.findings.push_back(check_program(module, out.modules));
  return out;
}

// Whatever raised it, a finding carries the severity its code always has.
inline void expect_code_severities(const std::vector<Diagnostic>& diagnostics) {
  for (const Diagnostic& d : diagnostics) {
    EXPECT_EQ(d.severity, syntax::diagnostic_code_severity(d.code)) << render(d);
  }
}

// A program and every finding expected for the root module, in order.
struct CheckCase {
  std::string name;
  std::string source;
  std::vector<std::string> expected;
};

inline void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

inline std::string case_name(const testing::TestParamInfo<CheckCase>& info) { return info.param.name; }

inline void expect_root_findings(const CheckCase& c) {
  Checked checked = check_text(c.source);
  EXPECT_EQ(render_all(checked.root()), c.expected) << c.source;
  expect_code_severities(checked.root());
  // The prelude is checked alongside every program and never finds anything.
  ASSERT_FALSE(checked.findings.empty());
  if (checked.findings.size() > 1) {
    EXPECT_TRUE(checked.findings.back().empty());
  }
}

}  // namespace dravelin::compiler::check_test

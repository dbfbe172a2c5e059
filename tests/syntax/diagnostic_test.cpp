#include "syntax/diagnostic.h"

#include <gtest/gtest.h>

#include "json/value.h"
#include "json/writer.h"

namespace dravelin::syntax {
namespace {

Span span(uint32_t l1, uint32_t c1, uint32_t o1, uint32_t l2, uint32_t c2, uint32_t o2) {
  return Span{Pos{l1, c1, o1}, Pos{l2, c2, o2}};
}

TEST(DiagnosticCodes, NamesSeveritiesAndRoundTrip) {
  struct Case {
    DiagnosticCode code;
    const char* name;
    Severity severity;
  };
  const Case cases[] = {
      {DiagnosticCode::Indent, "indent", Severity::Error},
      {DiagnosticCode::MachineUnreachableDone, "machine_unreachable_done", Severity::Warning},
      {DiagnosticCode::DetailIgnored, "detail_ignored", Severity::Warning},
      {DiagnosticCode::LogShadowed, "log_shadowed", Severity::Warning},
      {DiagnosticCode::Syntax, "syntax", Severity::Error},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(diagnostic_code_name(c.code), c.name);
    EXPECT_EQ(diagnostic_code_severity(c.code), c.severity) << c.name;
    EXPECT_EQ(diagnostic_code_from_name(c.name), c.code);
  }
  EXPECT_EQ(kDiagnosticCodeCount, 38);
  EXPECT_EQ(static_cast<int>(DiagnosticCode::Syntax), 37);
  int warnings = 0;
  for (int i = 0; i < kDiagnosticCodeCount; ++i)
    warnings += diagnostic_code_severity(static_cast<DiagnosticCode>(i)) == Severity::Warning;
  EXPECT_EQ(warnings, 6);
  EXPECT_FALSE(diagnostic_code_from_name("Syntax").has_value());
}

TEST(DiagnosticJson, MembersInKeyOrderAndOptionalOnesLeftOut) {
  Diagnostic bare = make_diagnostic(DiagnosticCode::Syntax, "expected `:`", span(1, 2, 2, 1, 3, 3));
  EXPECT_EQ(json::to_compact(diagnostic_to_json(bare)),
            R"({"code":"syntax","message":"expected `:`","severity":"error",)"
            R"("span":{"end":{"column":3,"line":1,"offset":3},"start":{"column":2,"line":1,"offset":2}}})");

  Diagnostic full = make_diagnostic(DiagnosticCode::DuplicateName, "dup", span(2, 0, 10, 2, 1, 11));
  full.file = "a.zem";
  full.related.push_back({"`x` was first declared here", span(1, 0, 0, 1, 1, 1), std::nullopt});
  full.related.push_back({"there", Span{}, "b.zem"});
  EXPECT_EQ(json::to_compact(diagnostic_to_json(full)),
            R"({"code":"duplicate_name","file":"a.zem","message":"dup","related":[)"
            R"({"message":"`x` was first declared here","span":{"end":{"column":1,"line":1,"offset":1},)"
            R"("start":{"column":0,"line":1,"offset":0}}},)"
            R"({"file":"b.zem","message":"there","span":{"end":{"column":0,"line":0,"offset":0},)"
            R"("start":{"column":0,"line":0,"offset":0}}}],"severity":"error",)"
            R"("span":{"end":{"column":1,"line":2,"offset":11},"start":{"column":0,"line":2,"offset":10}}})");

  Diagnostic warning = make_diagnostic(DiagnosticCode::DetailIgnored, "w", Span{});
  EXPECT_EQ(*diagnostic_to_json(warning).as_object().find("severity"), json::Value("warning"));
}

TEST(DiagnosticDebug, FieldsInDeclaredOrder) {
  Diagnostic d = make_diagnostic(DiagnosticCode::Syntax, "say \"hi\"", span(1, 0, 0, 1, 2, 2));
  d.related.push_back({"r", Span{}, "f.zem"});
  EXPECT_EQ(debug_string(d),
            "Diagnostic { code: Syntax, severity: Error, message: \"say \\\"hi\\\"\", span: Span { start: Pos { "
            "line: 1, column: 0, offset: 0 }, end: Pos { line: 1, column: 2, offset: 2 } }, file: None, related: "
            "[RelatedLocation { message: \"r\", span: Span { start: Pos { line: 0, column: 0, offset: 0 }, end: "
            "Pos { line: 0, column: 0, offset: 0 } }, file: Some(\"f.zem\") }] }");
}

}  // namespace
}  // namespace dravelin::syntax

// Runtime errors: the code table, the codes' JSON forms and reader refusals, and the text and debug forms
// of runtime and resume errors.
#include "runtime/runtime_error.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::runtime {
namespace {

json::Value parse_doc(std::string_view text) {
  auto parsed = json::parse(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? std::move(parsed).value() : json::Value();
}

TEST(RuntimeErrorCodes, TableInIndexOrder) {
  const std::vector<std::pair<std::string_view, std::string_view>> expected = {
      {"binding_missing", "BindingMissing"}, {"state_too_large", "StateTooLarge"},
      {"zem_unavailable", "ZemUnavailable"}, {"zem_rejected", "ZemRejected"},
      {"verb_missing", "VerbMissing"},       {"adapter_error", "AdapterError"},
      {"type_error", "TypeError"},           {"recursion_limit", "RecursionLimit"},
      {"replay_diverged", "ReplayDiverged"}, {"pick_too_many", "PickTooMany"},
      {"profile_missing", "ProfileMissing"},
  };
  ASSERT_EQ(expected.size(), kRuntimeErrorCodeCount);
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto code = static_cast<RuntimeErrorCode>(i);
    EXPECT_EQ(runtime_error_code_name(code), expected[i].first);
    EXPECT_EQ(runtime_error_code_variant(code), expected[i].second);
    EXPECT_EQ(runtime_error_code_from_name(expected[i].first), code);
  }
  EXPECT_EQ(runtime_error_code_from_name("TypeError"), std::nullopt);
}

TEST(RuntimeErrorCodes, JsonFormsReadBack) {
  for (size_t i = 0; i < kRuntimeErrorCodeCount; ++i) {
    const auto code = static_cast<RuntimeErrorCode>(i);
    const std::string name(runtime_error_code_name(code));
    EXPECT_EQ(json::to_compact(runtime_error_code_to_json(code)), "\"" + name + "\"");
    for (const std::string& text : {"\"" + name + "\"", "{\"" + name + "\":null}", "{\"" + name + "\":{}}"}) {
      auto read = read_runtime_error_code(parse_doc(text));
      ASSERT_TRUE(read.ok()) << text << ": " << read.error();
      EXPECT_EQ(*read, code) << text;
    }
  }
}

TEST(RuntimeErrorCodes, ReaderRefusals) {
  const std::string all_names =
      "`binding_missing`, `state_too_large`, `zem_unavailable`, `zem_rejected`, `verb_missing`, "
      "`adapter_error`, `type_error`, `recursion_limit`, `replay_diverged`, `pick_too_many`, `profile_missing`";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("TypeError")", "unknown variant `TypeError`, expected one of " + all_names},
      {R"({"nope":null})", "unknown variant `nope`, expected one of " + all_names},
      // The index is no name.
      {"4", "invalid type: integer `4`, expected string or map"},
      {"true", "invalid type: boolean `true`, expected string or map"},
      {"null", "invalid type: null, expected string or map"},
      {R"(["type_error"])", "invalid type: sequence, expected string or map"},
      {"{}", "invalid value: map, expected map with a single key"},
      {R"({"type_error":null,"verb_missing":null})", "invalid value: map, expected map with a single key"},
      // A code carries no data.
      {R"({"type_error":1})", "invalid type: integer `1`, expected unit"},
      {R"({"type_error":{"x":1}})", "invalid type: map, expected unit"},
  };
  for (const auto& [text, message] : cases) {
    auto read = read_runtime_error_code(parse_doc(text));
    ASSERT_FALSE(read.ok()) << text;
    EXPECT_EQ(read.error(), message) << text;
  }
}

TEST(RuntimeErrorText, TextAndDebugForms) {
  const RuntimeError diverged =
      make_runtime_error(RuntimeErrorCode::ReplayDiverged, "event 3 is a second start event");
  EXPECT_EQ(diverged.text(), "replay_diverged: event 3 is a second start event");
  EXPECT_FALSE(diverged.retryable);
  EXPECT_TRUE(diverged.span.is_zero());

  const RuntimeError unavailable = make_runtime_error(RuntimeErrorCode::ZemUnavailable, "say \"hi\"", true,
                                                      syntax::Span{{2, 4, 10}, {2, 9, 15}});
  EXPECT_EQ(debug_string(unavailable),
            "RuntimeError { code: ZemUnavailable, message: \"say \\\"hi\\\"\", retryable: true, span: Span { "
            "start: Pos { line: 2, column: 4, offset: 10 }, end: Pos { line: 2, column: 9, offset: 15 } } }");
}

TEST(RuntimeErrorText, ResumeErrors) {
  const RuntimeError failed = make_runtime_error(RuntimeErrorCode::AdapterError, "cannot write the recording");
  const std::vector<std::pair<ResumeError, std::string>> cases = {
      {ResumeError::not_paused(), "the run is not paused"},
      {ResumeError::ended(PauseKind::Done), "the run has ended with `done`"},
      {ResumeError::ended(PauseKind::Stopped), "the run has ended with `stopped`"},
      {ResumeError::wrong_payload(PauseKind::Budget, "expected `{ extend: { key: n } }`"),
       "a `budget` pause cannot be resumed with this payload: expected `{ extend: { key: n } }`"},
      {ResumeError::runtime(failed), "adapter_error: cannot write the recording"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.text(), text);

  EXPECT_EQ(debug_string(ResumeError::not_paused()), "NotPaused");
  EXPECT_EQ(debug_string(ResumeError::ended(PauseKind::Error)), "Ended(\"error\")");
  EXPECT_EQ(debug_string(ResumeError::wrong_payload(PauseKind::Confirm, "no answer")),
            "WrongPayload { pause: \"confirm\", reason: \"no answer\" }");
  EXPECT_EQ(debug_string(ResumeError::runtime(failed)), "Runtime(" + debug_string(failed) + ")");
}

TEST(RuntimeErrorText, PauseKindNames) {
  const std::vector<std::string_view> names = {"confirm", "escalate", "waiting", "budget",
                                               "error",   "stopped",  "done"};
  ASSERT_EQ(names.size(), kPauseKindCount);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(pause_kind_name(static_cast<PauseKind>(i)), names[i]);
    EXPECT_EQ(pause_kind_from_name(names[i]), static_cast<PauseKind>(i));
  }
  EXPECT_EQ(pause_kind_from_name("Done"), std::nullopt);
}

}  // namespace
}  // namespace dravelin::runtime

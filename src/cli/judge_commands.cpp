#include "cli/judge_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/error.h"
#include "cli/json_args.h"
#include "cli/line_input.h"
#include "cli/load.h"
#include "cli/log_line.h"
#include "cli/output.h"
#include "cli/run_command.h"
#include "cli/runtime_report.h"
#include "compiler/module_sources.h"
#include "json/reader.h"
#include "json/writer.h"
#include "record/event.h"
#include "runtime/value_json.h"
#include "syntax/utf8.h"
#include "zem/client.h"
#include "zem/profile.h"

namespace dravelin::cli {
namespace {

// What the judgment commands share before their first question: the program, its profile and the client.
struct Judging {
  ir::Ir ir;
  std::optional<std::string> label;  // the runtime label of the judgment's errors
  zem::Profile profile;
  std::unique_ptr<zem::ZemClient> client;
};

// On failure, the exit status (the errors already reported).
Result<Judging, int> prepare(const std::filesystem::path& file, const std::optional<std::string>& model,
                             const std::optional<std::filesystem::path>& profiles,
                             const std::optional<std::string>& state_text, json::Object* state) {
  auto ir = compile_with_diagnostics(file, {});
  if (!ir.ok()) return err(error_exit(ir.error()));
  if (state_text) {
    auto parsed = json::parse_json_object(*state_text);
    if (!parsed.ok()) return err(error_exit(CliError::of("--state is not a JSON object: " + parsed.error().text())));
    *state = std::move(parsed).value();
  }
  const std::string label = source_label(file);
  std::optional<std::string> profiles_path;
  if (profiles) profiles_path = profiles->string();
  auto profile = zem::resolve_profile(model, profiles_path);
  if (!profile.ok()) {
    render_runtime_error(label, profile.error());
    return err(error_exit(CliError::of("runtime failed")));
  }
  auto client = zem::ZemClient::create(*profile);
  if (!client.ok()) {
    render_runtime_error(label, client.error());
    return err(error_exit(CliError::of("runtime failed")));
  }
  std::optional<std::string> runtime_label = runtime_source_label(*ir, label);
  return Judging{std::move(ir).value(), std::move(runtime_label), std::move(profile).value(),
                 std::move(client).value()};
}

Result<run::JudgeOutcome, int> judge_once(Judging& judging, const std::string& name, const json::Object& state) {
  auto outcome = run::run_judgment(judging.ir, name, state, *judging.client, judging.profile);
  if (!outcome.ok()) {
    render_runtime_error(judging.label, outcome.error());
    return err(error_exit(CliError::of("runtime failed")));
  }
  return std::move(outcome).value();
}

// The answer of the question `id`, as the model service's record, or null.
json::Value answer_json(const std::vector<zem::ZemAnswer>& answers, std::string_view id) {
  for (const zem::ZemAnswer& answer : answers)
    if (answer.id() == id) return answer.to_json_value();
  return json::Value();
}

}  // namespace

bool value_matches(const runtime::Value& value, const json::Value& expected) {
  using runtime::ValueKind;
  if (value.kind() == ValueKind::Prob && expected.is_bool()) return (value.as_prob() >= 0.5) == expected.as_bool();
  if (value.kind() == ValueKind::Choice && expected.is_string()) return value.as_choice().label == expected.as_string();
  if (value.kind() == ValueKind::Level && expected.is_number()) {
    // Only a non-negative integer written without fraction names a level.
    return expected.is_uint() && expected.as_uint() == value.as_level().level;
  }
  if (value.kind() == ValueKind::Level && expected.is_string()) {
    const runtime::Level& level = value.as_level();
    return level.level < level.names.size() && level.names[level.level] == expected.as_string();
  }
  return runtime::to_plain_json(value) == expected;
}

void EvalReport::add_case(uint64_t line, const json::Object& expected, const run::JudgeOutcome& outcome) {
  for (const json::Member& member : expected) {  // sorted by name
    Tally& tally = tallies_[member.key];
    ++tally.total;
    const auto found = outcome.values.find(member.key);
    if (found != outcome.values.end() && value_matches(found->second, member.value)) {
      ++tally.correct;
      continue;
    }
    json::Object miss;
    miss.set("case", json::Value(line));
    miss.set("question", json::Value(member.key));
    miss.set("expected", member.value);
    miss.set("actual", found == outcome.values.end() ? json::Value() : runtime::to_plain_json(found->second));
    miss.set("answer", answer_json(outcome.answers, member.key));
    misses_.emplace_back(std::move(miss));
  }
}

json::Value EvalReport::to_json() const {
  json::Object questions;
  for (const auto& [name, tally] : tallies_) {
    json::Object entry;
    const double accuracy =
        tally.total == 0 ? 0.0 : static_cast<double>(tally.correct) / static_cast<double>(tally.total);
    entry.set("accuracy", json::Value(accuracy));
    entry.set("correct", json::Value(tally.correct));
    entry.set("total", json::Value(tally.total));
    questions.set(name, json::Value(std::move(entry)));
  }
  json::Object report;
  report.set("misses", json::Value(json::Array(misses_)));
  report.set("questions", json::Value(std::move(questions)));
  return json::Value(std::move(report));
}

int judge_command(const Judge& command) {
  json::Object state;
  auto judging = prepare(command.file, command.model, command.profiles, command.state, &state);
  if (!judging.ok()) return judging.error();
  auto outcome = judge_once(*judging, command.judgment, state);
  if (!outcome.ok()) return outcome.error();
  for (const runtime::JudgmentLogEntry& entry : outcome->logs) print_log_event(record::log_entry_to_event(entry));
  json::Object values;
  for (const auto& [name, value] : outcome->values) values.set(name, runtime::to_tagged_json(value));
  write_text(stdout, json::to_pretty(json::Value(std::move(values))) + "\n");
  return 0;
}

int eval_command(const Eval& command) {
  auto judging = prepare(command.file, command.model, command.profiles, std::nullopt, nullptr);
  if (!judging.ok()) return judging.error();

  const std::string shown = compiler::display_path(command.cases);
  auto cannot_read = [&](std::string cause) {
    return error_exit(CliError::of(std::move(cause)).wrapped("cannot read `" + shown + "`"));
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> cases(std::fopen(command.cases.c_str(), "rbe"), &std::fclose);
  if (!cases) return cannot_read(std::strerror(errno));
  std::setvbuf(cases.get(), nullptr, _IOFBF, 8192);

  EvalReport report;
  std::string line;
  for (uint64_t number = 1;; ++number) {
    auto read = read_line(cases.get(), line);
    if (!read.ok()) return cannot_read(std::move(read).error());
    if (*read == LineRead::End) break;
    const std::string place = shown + ":" + std::to_string(number) + ": ";
    if (*read == LineRead::TooLong) {
      return error_exit(CliError::of(place + "the line is longer than " + byte_size_text(kMaxInputLineBytes)));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!syntax::is_valid_utf8(line)) return error_exit(CliError::of(place + "stream did not contain valid UTF-8"));
    if (trim(line).empty()) continue;
    auto row = parse_eval_case(line);
    if (!row.ok()) return error_exit(CliError::of(place + row.error()));
    auto outcome = judge_once(*judging, command.judgment, row->state);
    if (!outcome.ok()) return outcome.error();
    report.add_case(number, row->expected, *outcome);
  }
  write_text(stdout, json::to_pretty(report.to_json()) + "\n");
  return 0;
}

}  // namespace dravelin::cli

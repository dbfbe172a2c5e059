#include "cli/run_command.h"

#include <csignal>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <variant>

#include "cli/adapters.h"
#include "cli/json_args.h"
#include "cli/load.h"
#include "cli/log_line.h"
#include "cli/output.h"
#include "cli/runtime_report.h"
#include "syntax/terminal_text.h"
#include "json/number_format.h"
#include "json/writer.h"
#include "record/sink.h"
#include "run/run.h"

namespace dravelin::cli {
namespace {

using record::Pause;
using record::PauseKind;
using record::Resume;

// What the loop does after an outcome has been printed: end with a status, resume the run with a payload and go
// on, or just go on. `unasked` ends the run because its question could not be shown.
struct Next {
  std::optional<int> status;
  bool resume = false;
  Resume payload;
  bool unasked = false;
};

Next end_with(int status) { return Next{status, false, Resume{}}; }
Next resume_with(Resume payload) { return Next{std::nullopt, true, std::move(payload)}; }
Next unasked() { return Next{kFailed, false, Resume{}, true}; }

// The next answer; an answer that was cut off is said so on stderr.
Result<std::string, CliError> read_answer(AnswerInput& input) {
  AnswerInput::Answer answer = TRY(input.next());
  if (answer.cut_off) {
    write_text(stderr, "dravelin: the answer is longer than " + byte_size_text(input.max_bytes()) +
                           "; no further input is read\n");
  }
  return std::move(answer.text);
}

Result<Next, CliError> confirm_prompt(const Pause::Confirm& confirm, AnswerInput& input) {
  // The question and its options are the program's texts: escaped, so they cannot pose as other lines.
  std::string prompt = syntax::terminal_text(confirm.message) + "\noptions: ";
  for (size_t i = 0; i < confirm.options.size(); ++i) {
    if (i > 0) prompt += ", ";
    syntax::append_for_terminal(prompt, confirm.options[i], syntax::Backslashes::Escaped);
  }
  if (!write_text(stderr, prompt + "\n")) return unasked();
  const std::string line = TRY(read_answer(input));
  return resume_with(Resume{Resume::Answer{std::string(trim(line)), std::nullopt}});
}

Result<Next, CliError> budget_prompt(const Pause::Budget& budget, AnswerInput& input) {
  if (!write_text(stderr, "budget `" + std::string(budget_key_display_name(budget.key)) + "` reached " +
                              json::format_plain_decimal(budget.limit) +
                              "; enter a new limit or leave blank to stop\n")) {
    return unasked();
  }
  const std::string line = TRY(read_answer(input));
  const std::string_view answer = trim(line);
  if (answer.empty()) return end_with(kHandedOver);
  auto limit = parse_budget_limit(answer);
  if (!limit.ok()) return err(CliError::of(std::move(limit).error()));
  Resume::Extend extend;
  extend.extend.emplace(budget.key, *limit);
  return resume_with(Resume{std::move(extend)});
}

Result<Next, CliError> retry_prompt(AnswerInput& input) {
  if (!write_text(stderr, "retry? [y/N]\n")) return unasked();
  const std::string line = TRY(read_answer(input));
  const std::string_view answer = trim(line);
  if (answer == "y" || answer == "yes") return resume_with(Resume{Resume::Retry{true}});
  return end_with(kFailed);
}

Result<Next, CliError> act_on(const Pause& outcome, AnswerInput& input) {
  switch (outcome.kind()) {
    case PauseKind::Confirm:
      return confirm_prompt(std::get<Pause::Confirm>(outcome.detail), input);
    case PauseKind::Escalate:
    case PauseKind::Stopped:
      return end_with(kHandedOver);
    case PauseKind::Waiting:
      return Next{};
    case PauseKind::Budget:
      return budget_prompt(std::get<Pause::Budget>(outcome.detail), input);
    case PauseKind::Error:
      if (!std::get<Pause::Error>(outcome.detail).retryable) return end_with(kFailed);
      return retry_prompt(input);
    case PauseKind::Done:
      break;
  }
  return end_with(kDone);
}

Result<record::RunOptions, CliError> run_options(const Run& command) {
  record::RunOptions options;
  if (command.input) {
    auto inputs = parse_value_object(*command.input);
    if (!inputs.ok()) return err(CliError::of("--input is not a JSON object: " + inputs.error()));
    options.inputs = std::move(inputs).value();
  }
  if (command.record) options.record = command.record->string();
  options.redact = command.redact;
  if (command.sample) options.sample = record::Sample{true};
  if (command.profiles) options.profiles = command.profiles->string();
  return options;
}

// The terminal has lost track of the run: an outcome or a question could not be written. Nothing more is asked; a
// run that has not ended is cancelled as a host cancels it, so that its recording still closes with its end event.
int cut_short(run::Run& run) {
  if (run.status() != run::RunStatus::Ended) (void)run.abort();
  return kFailed;
}

int drive(run::Run& run, const std::optional<std::string>& label) {
  AnswerInput input(stdin);
  for (;;) {
    auto outcome = run.next();
    if (!outcome.ok()) {
      const runtime::ResumeError& refusal = outcome.error();
      if (const auto* failed = std::get_if<runtime::ResumeError::Runtime>(&refusal.reason)) {
        render_runtime_error(label, failed->error);
      }
      return error_exit(CliError::of(refusal.text()));
    }
    render_pause_error(label, *outcome);
    if (!write_text(stdout, pause_to_pretty(*outcome) + "\n")) return cut_short(run);

    auto next = act_on(*outcome, input);
    if (!next.ok()) return error_exit(next.error());
    if (next->unasked) return cut_short(run);
    if (next->status) return *next->status;
    if (next->resume) {
      auto resumed = run.resume(std::move(next->payload));
      if (!resumed.ok()) {
        if (const auto* failed = std::get_if<runtime::ResumeError::Runtime>(&resumed.error().reason)) {
          render_runtime_error(label, failed->error);
        }
        return error_exit(CliError::of(resumed.error().text()));
      }
    }
  }
}

}  // namespace

std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\n\r\f\v";
  const size_t start = text.find_first_not_of(kSpace);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kSpace) - start + 1);
}

std::string_view budget_key_display_name(record::BudgetKey key) {
  switch (key) {
    case record::BudgetKey::Calls: return "Calls";
    case record::BudgetKey::Minutes: return "Minutes";
    case record::BudgetKey::Usd: return "Usd";
    case record::BudgetKey::Steps: return "Steps";
  }
  return "";
}

Result<double, std::string> parse_budget_limit(std::string_view text) {
  const std::string invalid = "invalid float literal";
  std::string_view digits = text;
  // One leading plus is a sign the standard parser does not take.
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) return err(invalid);
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || end != digits.data() + digits.size()) return err(invalid);
  // Out of range: an overflow is refused below; an underflow reads as the nearest number, as strtod gives it.
  if (ec == std::errc::result_out_of_range) value = std::strtod(std::string(digits).c_str(), nullptr);
  if (!std::isfinite(value)) return err(std::string("a budget limit must be a finite number"));
  return value;
}

Result<AnswerInput::Answer, CliError> AnswerInput::next() {
  Answer answer;
  if (ended_) return answer;
  auto read = read_line(stream_, answer.text, max_bytes_);
  if (!read.ok()) return err(CliError::of(std::move(read).error()));
  if (*read == LineRead::TooLong) {
    ended_ = true;
    answer.cut_off = true;
  }
  return answer;
}

std::string pause_to_pretty(const record::Pause& pause) {
  std::string out;
  json::Writer writer(out, json::Layout::Pretty);
  pause.write_json(writer);
  return out;
}

int run_command(const Run& command) {
  auto ir = compile_with_diagnostics(command.file, command.paths);
  if (!ir.ok()) return error_exit(ir.error());
  auto options = run_options(command);
  if (!options.ok()) return error_exit(options.error());
  // An adapter that has gone away must not take this process with it: its write fails and the run reports it.
  // The adapters themselves get the default action back when they start.
  std::signal(SIGPIPE, SIG_IGN);
  // An interrupted run takes its adapters with it, however they treat their input closing.
  end_adapters_on_termination_signals();
  auto adapters = setup_adapters(*ir, command.bindings, command.stubs);
  if (!adapters.ok()) return error_exit(adapters.error());
  for (const std::string& notice : adapters->notices) write_text(stderr, syntax::terminal_line(notice) + "\n");
  if (command.redact && command.record) {
    const std::string companion = record::companion_path(command.record->string());
    write_text(stderr, syntax::terminal_line("sensitive replay companion: " + companion) + "\n");
  }

  const std::optional<std::string> label = runtime_source_label(*ir, source_label(command.file));
  auto started = run::start_task_run(std::move(ir).value(), "main", std::move(options).value(),
                                     std::move(adapters->hosts));
  if (!started.ok()) {
    render_runtime_error(label, started.error());
    return error_exit(CliError::of("runtime failed"));
  }
  run::Run run = std::move(started).value();
  run.set_event_sink([](const record::RecordedEvent& line) -> Result<Unit, runtime::RuntimeError> {
    print_log_event(line.event);
    return Unit{};
  });
  return drive(run, label);
}

}  // namespace dravelin::cli

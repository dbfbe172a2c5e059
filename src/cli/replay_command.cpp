#include "cli/replay_command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "cli/error.h"
#include "cli/log_line.h"
#include "cli/output.h"
#include "cli/run_command.h"
#include "cli/runtime_report.h"
#include "ir/program.h"
#include "run/run.h"

namespace dravelin::cli {
namespace {

using record::PauseKind;

// Prints the recorded `log` events the run has passed since `printed`, and moves `printed` past them.
void print_passed_logs(const run::Run& run, uint64_t& printed) {
  const auto& journal = run.state().journal;
  const uint64_t bound = std::min<uint64_t>(run.recorded_count(), journal.cursor);
  for (; printed < bound; ++printed) {
    if (printed >= journal.events.size() || journal.events[printed].kind() != record::EventKind::Log) continue;
    if (const record::Event* recorded = run.recorded_event(printed)) print_log_event(*recorded);
  }
}

}  // namespace

int replay_command(const Replay& command) {
  record::RunOptions options;
  options.replay = command.recording.string();
  auto started = run::Run::create(ir::Ir::empty_named("replay"), "", std::move(options), {}, true);
  if (!started.ok()) {
    render_runtime_error(std::nullopt, started.error());
    return error_exit(CliError::of("replay could not start"));
  }
  run::Run run = std::move(started).value();
  const ir::Ir& program = run.state().ir();
  const std::optional<std::string> label =
      program.file ? runtime_source_label(program, *program.file) : std::optional<std::string>();

  uint64_t printed = 0;
  for (;;) {
    auto outcome = run.next();
    print_passed_logs(run, printed);
    if (!outcome.ok()) {
      const runtime::ResumeError& refusal = outcome.error();
      // A pause the recording does not resume ends the replay where the recorded run stopped.
      if (const auto* waiting = std::get_if<runtime::ResumeError::WrongPayload>(&refusal.reason)) {
        return waiting->pause == PauseKind::Escalate ? kHandedOver : kFailed;
      }
      if (const auto* failed = std::get_if<runtime::ResumeError::Runtime>(&refusal.reason)) {
        render_runtime_error(label, failed->error);
      }
      return error_exit(CliError::of(refusal.text()));
    }
    render_pause_error(label, *outcome);
    // Nothing is recorded by a replay: with its output gone it simply stops.
    if (!write_text(stdout, pause_to_pretty(*outcome) + "\n")) return kFailed;
    switch (outcome->kind()) {
      case PauseKind::Confirm:
      case PauseKind::Escalate:
      case PauseKind::Waiting:
      case PauseKind::Budget:
        break;
      case PauseKind::Error:
        if (!std::get<record::Pause::Error>(outcome->detail).retryable) return kFailed;
        break;
      case PauseKind::Stopped:
        return kHandedOver;
      case PauseKind::Done:
        return kDone;
    }
  }
}

}  // namespace dravelin::cli

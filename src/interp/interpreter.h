// The interpreter: one execution of a run's task, from its first statement to one outcome.
//
// Every execution starts afresh (new frames, scopes, counters and limits) while the journal serves the effects
// of the earlier executions, so a resumed run retraces its path, passes its recorded pauses with their recorded
// payloads and goes live where the journal ends. Whatever stops an execution (a pause for a person or a host,
// a budget limit, a runtime error, a host cancellation, the end of the task) becomes one `Pause`: every failure
// is an `error` outcome, never a failure of the call.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "interp/run_state.h"
#include "ir/program.h"
#include "record/event.h"
#include "record/pause.h"
#include "record/usage.h"
#include "runtime/eval.h"
#include "runtime/value.h"
#include "zem/profile.h"
#include "zem/service.h"

namespace dravelin::interp {

// How many def frames may stand at once, and likewise task and machine frames: a call that would go past it
// fails with `recursion_limit`.
inline constexpr size_t kRecursionLimit = 64;

struct TaskOutcome {
  // The handle of the agent the execution ended waiting on (a `waiting` outcome of the `wait` verb).
  std::optional<runtime::Handle> pending_wait;
  record::Pause pause;  // `done` for a task that ran to its end
  record::Usage usage;  // the run's totals
};

// One execution of `task` over `inputs`: resets the run for a new execution (cursor, request counter, pending
// pause), runs the task and returns its outcome.
TaskOutcome execute_task(RunState& run, std::string task, runtime::Record inputs);

// The refusal of a run whose start event (its program and profile, `task` and `inputs`) would be longer than a
// recording line may be: "a `start` event would be longer than the 67108864 bytes a recording line may hold".
// Run set-up asks before it creates a recording; an execution that meets such a start records nothing.
std::optional<RuntimeError> refuse_oversized_start(const RunState& run, const std::string& task,
                                                   const runtime::Record& inputs);

// The `log` lines of a judgment whose answers are known, evaluated outside any run: the results are bound in
// the innermost scope of `scopes` as the lines reach them (and stay bound), and the entries the lines produce
// are returned in order. A judgment asked inside a line goes to `service`. A failure, or a pause the lines
// raise, is returned as a runtime error.
Result<std::vector<runtime::JudgmentLogEntry>, RuntimeError> run_judgment(const ir::Ir& ir, const zem::Profile& profile,
                                                                          zem::ZemService& service,
                                                                          const ir::Judgment& judgment,
                                                                          runtime::Scopes& scopes,
                                                                          const runtime::Record& results);

// The entry a `log` event stands for; nothing for any other event.
std::optional<runtime::JudgmentLogEntry> log_entry_from_event(const record::Event& event);

}  // namespace dravelin::interp

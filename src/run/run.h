// Runs: a program's task set up with its options, hosts and recording, then driven by its host one outcome at
// a time.
//
// A run never keeps a suspended stack. Every `next` executes the task from its first statement with a fresh
// interpreter, while the run's journal serves every effect that already happened, so the execution retraces its
// path, passes each earlier pause with the resume recorded after it and goes live where the journal ends. A
// resume only writes a resume event into the journal; the following `next` acts on it.
//
// Set-up writes nothing to the recording and emits no event: the start event is recorded by the first
// execution, after the host has installed its event sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "interp/run_state.h"
#include "ir/program.h"
#include "record/capability.h"
#include "record/pause.h"
#include "record/recorded_event.h"
#include "record/resume.h"
#include "record/run_options.h"
#include "runtime/runtime_error.h"

namespace dravelin::run {

using runtime::ResumeError;
using runtime::RuntimeError;

enum class RunStatus : uint8_t {
  Idle,     // created, never executed
  Running,  // executing, or resumed and not yet moved forward
  Paused,   // the last execution ended at a pause that can be resumed
  Ended,    // the last execution ended the run (stopped, done, or an error that cannot be retried)
};

// Shared with hosts, which may set it from inside a capability call the run waits for; the effect driver takes
// it with an exchange, so one request stops the run once.
using AbortFlag = std::shared_ptr<std::atomic<bool>>;

// Sets the flag (release ordering).
void request_abort(const AbortFlag& flag);

class Run {
 public:
  // Creates a run without checking its bindings (`start_task_run` does): the run id, the resolved profile, the
  // execution metadata, the recording (created new, with no line in it yet), the abort flag and the seeded
  // random source. With `replay` set the run is built from that recording: its task (an empty `task` takes the
  // recorded one), run id, inputs (unless `options` give some), profile, sampling setting and, with
  // `from_recording`, its program; every recorded event becomes the journal and nothing may go live until a
  // new resume is recorded. `from_recording` without `replay` is refused.
  static Result<Run, RuntimeError> create(ir::Ir program, std::string task, record::RunOptions options,
                                          record::CapabilityHosts hosts, bool from_recording = false);

  Run(Run&&) noexcept;
  Run& operator=(Run&&) noexcept;
  ~Run();

  // The outcome of the next execution. An idle or resumed run executes; a paused run executes when the
  // journal holds a resume or an abort after its pause, or when it waits on an agent (an empty resume is
  // recorded first); any other paused run is refused, and so is an ended one.
  Result<record::Pause, ResumeError> next();
  // Checks the payload against the pause and records it; executes nothing.
  Result<Unit, ResumeError> resume(record::Resume payload);
  // Cancels the run: an executing run only gets its flag set; an idle or paused one executes again up to the
  // cancellation point, where it stops with "aborted by host" and ends.
  Result<Unit, ResumeError> abort();
  // Sends a message to the agent the run waits on (verb "send", the waited-on handle and the message as its
  // arguments) and records the call; the run stays paused. Refused unless the run waits on that capability,
  // and refused (`replay_diverged`) in a replay stopped at a pause that its recording goes on past.
  Result<Unit, ResumeError> inject(std::string_view capability, std::string_view message);
  // Replaces the event sink; events pushed before it was installed never reach it.
  void set_event_sink(interp::EventSink sink);
  AbortFlag abort_flag() const;

  // One execution from the task's start; every failure becomes its outcome.
  record::Pause execute();

  const std::string& id() const;
  const std::string& task() const;
  RunStatus status() const { return status_; }
  // The outcome the run stopped at; none while idle or running.
  const std::optional<record::Pause>& last_pause() const { return last_pause_; }
  // The handle of the agent the last execution ended waiting on.
  const std::optional<runtime::Handle>& waiting_handle() const { return waiting_handle_; }
  // The journal, the recorder and the rest of what executions work on.
  const interp::RunState& state() const { return *state_; }

  // The stamped events pushed since the last call, in order.
  std::vector<record::RecordedEvent> take_queued();
  // The number of events of the recording a replay was built from (0 for other runs).
  uint64_t recorded_count() const { return recorded_count_; }
  // The recorded event at `index` as the recording file holds it (a log's payloads possibly summarised), or
  // nullptr past the recording's end.
  const record::Event* recorded_event(uint64_t index) const;

  // How the run builds its model-service client at its first live request (the HTTPS client by default).
  void set_service_factory(interp::ServiceFactory factory);

 private:
  Run(std::unique_ptr<interp::RunState> state, std::string task, record::RunOptions options);

  // A resume or an abort recorded after the pause at which the run stopped.
  bool journal_continues_past_pause() const;

  // Boxed: the event sink and hosts may hold on to it across a move of the run.
  std::unique_ptr<interp::RunState> state_;
  std::string task_;
  record::RunOptions options_;
  RunStatus status_ = RunStatus::Idle;
  record::PauseKind last_kind_ = record::PauseKind::Done;
  std::optional<record::Pause> last_pause_;
  std::optional<runtime::Handle> waiting_handle_;
  uint64_t recorded_count_ = 0;
  std::map<uint64_t, record::Event> summarised_logs_;
};

// What the command line's `run` and the bridge's `task.start` call: refuses `record` with `replay`, a task the
// program does not declare, a declared capability without a host (live runs only) and a host whose manifest
// lacks a verb the program calls on it; then `Run::create`.
Result<Run, RuntimeError> start_task_run(ir::Ir program, std::string task, record::RunOptions options,
                                         record::CapabilityHosts hosts);

// "run_<pid>_<n>", n counting the runs created in this process from 1.
std::string next_run_id();

}  // namespace dravelin::run

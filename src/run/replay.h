// Replay set-up: a run built from a recording. Every line is read once, checked to form one recording of one
// run of the task, completed from the companion when its payloads are redacted, and made the run's journal.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "ir/program.h"
#include "record/event.h"
#include "record/run_options.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "zem/profile.h"

namespace dravelin::run {

struct ReplaySetup {
  std::string task;
  std::string run_id;  // the recording's
  runtime::Record inputs;
  ir::Ir program;
  zem::Profile profile;
  record::Sample sample;
  // The model whose profile a replay that goes live resolves locally for its model-service client.
  std::optional<std::string> model;
  std::vector<record::Event> events;  // the journal, every payload full
  // The log events whose payloads the recording holds as summaries, by position, as the file has them.
  std::map<uint64_t, record::Event> summarised_logs;
  uint64_t bytes = 0;  // the size of the recording: where a line written after it would start
  std::vector<uint64_t> line_offsets;  // where each event's line starts
};

// Reads and checks the recording that `options.replay` names. `program` and `task` are the caller's (an empty
// task takes the recorded one); with `from_recording` the recorded program replaces `program`. Every failure
// is `replay_diverged`, except a profile that cannot be resolved for a recording without metadata.
Result<ReplaySetup, runtime::RuntimeError> read_replay(const record::RunOptions& options, ir::Ir program,
                                                       const std::string& task, bool from_recording);

}  // namespace dravelin::run

// The state of one run that the interpreter and the effect driver work on. The run layer owns it (together with
// the run's status, options and last outcome) and lends it to every execution of the task.
//
// A run keeps no suspended stack: everything that happened lies in its journal, and every execution starts
// from the task's first statement while the driver serves the recorded effects again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "interp/journal.h"
#include "ir/program.h"
#include "record/capability.h"
#include "record/pause.h"
#include "record/recorded_event.h"
#include "record/run_options.h"
#include "record/sink.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"
#include "zem/profile.h"
#include "zem/service.h"

namespace dravelin::interp {

// Receives every event as it is pushed, stamped. An error fails the push; the event stays in the journal.
using EventSink = std::function<Result<Unit, RuntimeError>(const record::RecordedEvent&)>;
// Builds the run's model-service client at its first live request.
using ServiceFactory = std::function<Result<std::unique_ptr<zem::ZemService>, RuntimeError>(const zem::Profile&)>;
// The wall clock in milliseconds since the Unix epoch.
using Clock = std::function<uint64_t()>;

struct RunState {
  std::string run_id;
  // The program, the resolved profile and the sampling setting: what the run executes, and what the start
  // line of its recording carries.
  record::ExecutionMetadata metadata;
  std::unique_ptr<tokens::Tokenizer> tokenizer;  // the counter of the profile's tokenizer setting
  Journal journal;
  // The pause at which the current execution stops, parked by the driver or by an effect raised inside an
  // expression; the first one parked wins, and the task runner takes it as the outcome.
  std::optional<record::Pause> pending_pause;
  // Set by a host (possibly from another thread) to cancel the run; taken by the driver with an exchange.
  std::shared_ptr<std::atomic<bool>> abort_flag = std::make_shared<std::atomic<bool>>(false);
  record::CapabilityHosts hosts;
  std::unique_ptr<record::RecordingSink> recorder;  // the recording being written, when there is one
  EventSink event_sink;
  std::unique_ptr<zem::ZemService> service;  // empty until the first live request
  ServiceFactory make_service;               // how that request builds it
  Clock clock;                               // the system clock when empty

  const ir::Ir& ir() const { return metadata.ir; }
  const zem::Profile& profile() const { return metadata.profile; }
  bool sample() const { return metadata.sample.sampling(); }
  uint64_t now_ms() const;
};

// What a run is built from when it has no host, recording or options of its own (a judgment evaluated
// outside any run).
struct RunConfig {
  ir::Ir ir;
  zem::Profile profile;
  record::Sample sample;
  std::string run_id;
  std::optional<uint64_t> seed;  // the random state's seed; the clock and the process id when absent

  // A run over this configuration with the profile's tokenizer, a fresh abort flag, an empty journal and the
  // random state seeded from `seed`.
  RunState with_tokenizer() &&;
};

// The seed of a run without a fixed one: the wall clock in nanoseconds since the epoch (0 before it) XOR the
// process id shifted left by 32 bits.
uint64_t clock_seed();

// The state words of xoshiro256** for a seed: the first four outputs of SplitMix64 started at it.
zem::Xoshiro256StarStar::State seeded_random_state(uint64_t seed);

}  // namespace dravelin::interp

// Run set-up: the checks of a new run, its id, its profile, its recording and its random source.
#include <unistd.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "interp/capability_verbs.h"
#include "interp/interpreter.h"
#include "interp/run_state.h"
#include "record/sink.h"
#include "run/replay.h"
#include "run/run.h"
#include "zem/client.h"
#include "zem/profile.h"

namespace dravelin::run {
namespace {

using runtime::RuntimeErrorCode;

RuntimeError failure(RuntimeErrorCode code, std::string message, syntax::Span span = {}) {
  return runtime::make_runtime_error(code, std::move(message), false, span);
}

RuntimeError no_such_task(const ir::Ir& program, const std::string& task) {
  return failure(RuntimeErrorCode::TypeError, "`" + program.program + "` declares no task `" + task + "`");
}

// The span of the first declaration of `name` among the program's capabilities; all zero when there is none.
syntax::Span need_span(const ir::Ir& program, const std::string& name) {
  for (const ir::Need& need : program.needs)
    if (need.name == name) return need.span;
  return {};
}

// Compares every manifest a host declares with the verbs the program uses on that capability.
Result<Unit, RuntimeError> check_manifests(const ir::Ir& program, record::CapabilityHosts& hosts) {
  const interp::CapabilityVerbs used = interp::collect_capability_verbs(program);
  for (auto& [name, host] : hosts) {
    std::optional<std::map<std::string, record::ManifestVerb>> manifest = host->manifest();
    if (!manifest) continue;
    const auto verbs = used.find(name);
    if (verbs == used.end()) continue;
    std::string missing;
    for (const std::string& verb : verbs->second) {  // byte order
      if (manifest->count(verb) != 0) continue;
      missing += missing.empty() ? "`" : ", `";
      missing += verb + "`";
    }
    if (!missing.empty()) {
      return err(failure(RuntimeErrorCode::VerbMissing,
                         "the adapter bound to `" + name + "` does not declare " + missing, need_span(program, name)));
    }
  }
  return Unit{};
}

Result<std::unique_ptr<zem::ZemService>, RuntimeError> https_client(const zem::Profile& profile) {
  auto client = zem::ZemClient::create(profile);
  if (!client.ok()) return err(std::move(client).error());
  return std::unique_ptr<zem::ZemService>(std::move(client).value());
}

}  // namespace

std::string next_run_id() {
  static std::atomic<uint64_t> counter{0};
  const uint64_t n = counter.fetch_add(1, std::memory_order_relaxed) + 1;
  return "run_" + std::to_string(static_cast<long long>(getpid())) + "_" + std::to_string(n);
}

void request_abort(const AbortFlag& flag) { flag->store(true, std::memory_order_release); }

Result<Run, RuntimeError> start_task_run(ir::Ir program, std::string task, record::RunOptions options,
                                         record::CapabilityHosts hosts) {
  if (options.record && options.replay) {
    return err(failure(RuntimeErrorCode::TypeError, "the `record` and `replay` options are mutually exclusive"));
  }
  if (program.find_task(task) == nullptr) return err(no_such_task(program, task));
  if (!options.replay) {
    // A replayed run's effects come from its recording, so its capabilities need no host.
    for (const ir::Need& need : program.needs) {
      if (hosts.find(need.name) == hosts.end()) {
        return err(failure(RuntimeErrorCode::BindingMissing, "capability `" + need.name + "` was not bound",
                           need.span));
      }
    }
  }
  TRY(check_manifests(program, hosts));
  return Run::create(std::move(program), std::move(task), std::move(options), std::move(hosts), false);
}

Result<Run, RuntimeError> Run::create(ir::Ir program, std::string task, record::RunOptions options,
                                      record::CapabilityHosts hosts, bool from_recording) {
  std::string run_id = next_run_id();
  if (!options.replay && from_recording) {
    return err(failure(RuntimeErrorCode::ReplayDiverged,
                       "the recording start event lacks linked IR, resolved profile or sample metadata"));
  }

  std::optional<ReplaySetup> replay;
  zem::Profile profile;
  record::Sample sample;
  if (options.replay) {
    replay = TRY(read_replay(options, std::move(program), task, from_recording));
    program = std::move(replay->program);
    task = replay->task;
    run_id = replay->run_id;
    options.inputs = replay->inputs;
    options.model = replay->model;
    options.sample = replay->sample;
    profile = replay->profile;
    sample = replay->sample;
    // A recorded program comes from a file: one that lacks the recorded task is a corrupt recording.
    if (program.find_task(task) == nullptr) {
      return err(failure(RuntimeErrorCode::ReplayDiverged,
                         "`" + program.program + "` declares no task `" + task + "`"));
    }
  } else {
    // Checked here too, before anything is created: a run of a task that does not exist leaves no recording.
    if (program.find_task(task) == nullptr) return err(no_such_task(program, task));
    profile = TRY(zem::resolve_profile(options.model, options.profiles));
    sample = options.sample.value_or(record::Sample{});
  }

  const std::optional<uint64_t> seed = sample.seed();
  auto state = std::make_unique<interp::RunState>(
      interp::RunConfig{std::move(program), std::move(profile), sample, run_id, seed}.with_tokenizer());

  // A start the recording could not hold is refused before the recording is created (a replayed one was held).
  if (!replay) {
    if (auto refused = interp::refuse_oversized_start(*state, task, options.inputs)) return err(std::move(*refused));
  }
  if (options.record) {
    auto recorder = TRY(record::FileRecorder::create(*options.record, run_id, options.redact));
    recorder->with_token_counter(state->profile().tokenizer.tokenizer()).with_metadata(state->metadata);
    state->recorder = std::move(recorder);
  }
  state->hosts = std::move(hosts);
  state->make_service = https_client;
  uint64_t recorded_count = 0;
  std::map<uint64_t, record::Event> summarised_logs;
  if (replay) {
    interp::Journal& journal = state->journal;
    recorded_count = replay->events.size();
    journal.events = std::move(replay->events);
    journal.replaying = true;
    journal.next_seq = recorded_count;
    journal.byte_offset = replay->bytes;
    journal.line_offsets = std::move(replay->line_offsets);
    summarised_logs = std::move(replay->summarised_logs);
    // The profile came from a file: once the replay goes live, the key goes only to the endpoint of the profile
    // that this machine resolves for the recorded model, never to an endpoint the recording names.
    state->make_service = [model = options.model, profiles = options.profiles](
                              const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, RuntimeError> {
      const zem::Profile local = TRY(zem::resolve_profile(model, profiles));
      return https_client(local);
    };
  }
  Run run(std::move(state), std::move(task), std::move(options));
  run.recorded_count_ = recorded_count;
  run.summarised_logs_ = std::move(summarised_logs);
  return run;
}

}  // namespace dravelin::run

// The runs the bridge drives, by run id, and the five run operations on them.
//
// A run stays in the store while it can still go on. Once it has ended only its id and its final kind are
// kept: its program copy, journal, recording files and capability hosts are released, and every later
// operation on it is refused with "the run has ended with `<kind>`".
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"
#include "interp/run_state.h"
#include "record/capability.h"
#include "record/pause.h"
#include "record/resume.h"
#include "record/run_options.h"
#include "run/run.h"
#include "serve/core/failure.h"
#include "serve/core/programs.h"

namespace dravelin::serve::core {

// What the host of one binding shares with the run it serves. Both cells are empty when the host is made and
// are filled once, when the run exists and before it first executes.
class RunLink {
 public:
  void fill(std::string run_id, run::AbortFlag flag);
  // Empty before `fill`.
  std::string run_id() const;
  // Sets the run's abort flag; false before `fill`.
  bool request_abort() const;

 private:
  mutable std::mutex id_lock_;  // the "bridge run id lock"
  std::string run_id_;
  mutable std::mutex abort_lock_;  // the "bridge abort handle lock"
  run::AbortFlag abort_;
};

// What a host is made from.
struct BindingSpec {
  std::string name;
  record::NeedKind kind = record::NeedKind::Agent;
  std::optional<std::map<std::string, record::ManifestVerb>> manifest;
  // For a tool: the verbs whose declared signature returns a handle. Empty for other kinds.
  std::set<std::string> handle_verbs;
  std::shared_ptr<RunLink> link;
};

using HostMaker = std::function<std::unique_ptr<record::CapabilityHost>(BindingSpec spec)>;
// The event sink of a new run, which receives every event the run records from its start event on.
using SinkMaker = std::function<interp::EventSink(const std::string& run_id)>;

struct Binding {
  std::string name;
  std::string kind;  // compared with the declared kind's name
  std::optional<record::ToolManifest> manifest;
};

struct StartRequest {
  std::string program_id;
  std::string task;
  record::RunOptions options;
  std::vector<Binding> bindings;
  std::vector<std::string> paths;  // refused unless empty
};

class RunStore {
 public:
  // Creates a run of a loaded program with a host per binding and installs its event sink; nothing executes.
  // Returns the run id.
  Result<std::string, Failure> start(const ProgramStore& programs, StartRequest request, const HostMaker& make_host,
                                     const SinkMaker& make_sink);
  // Executes the run until it pauses or ends.
  Result<record::Pause, Failure> next(const std::string& id);
  // Checks and records the answer to the run's pause.
  Result<Unit, Failure> resume(const std::string& id, record::Resume payload);
  // Stops the run where it stands. An abort whose execution failed is answered with that failure.
  Result<Unit, Failure> abort(const std::string& id);
  // Sends a message to the agent the run waits on.
  Result<Unit, Failure> inject(const std::string& id, const std::string& capability, const std::string& message);

  // The live run under an id, or null (ended and unknown runs alike).
  run::Run* live_run(const std::string& id);
  bool has_ended(const std::string& id) const;

  // How runs build their model-service client (the HTTPS client when unset).
  void set_service_factory(interp::ServiceFactory factory) { service_factory_ = std::move(factory); }

 private:
  struct Ended {
    record::PauseKind kind;
  };
  using Entry = std::variant<run::Run, Ended>;

  Result<run::Run*, Failure> find(const std::string& id);
  // Empties the run's queue of emitted events (the sink has seen each) and, when it has ended, keeps only its
  // final kind.
  void settle(const std::string& id);

  std::map<std::string, Entry, std::less<>> runs_;
  interp::ServiceFactory service_factory_;
};

// The verbs of a tool need whose signature returns a handle, sorted, without repeats.
std::set<std::string> handle_verbs(const ir::Need& need);

}  // namespace dravelin::serve::core

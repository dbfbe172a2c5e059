#include "serve/core/runs.h"

#include <utility>

#include "record/capability.h"

namespace dravelin::serve::core {
namespace {

Err<Failure> invalid(std::string message) { return err(Failure{InvalidParams{std::move(message)}}); }

}  // namespace

void RunLink::fill(std::string run_id, run::AbortFlag flag) {
  {
    std::lock_guard<std::mutex> held(id_lock_);
    run_id_ = std::move(run_id);
  }
  std::lock_guard<std::mutex> held(abort_lock_);
  abort_ = std::move(flag);
}

std::string RunLink::run_id() const {
  std::lock_guard<std::mutex> held(id_lock_);
  return run_id_;
}

bool RunLink::request_abort() const {
  run::AbortFlag flag;
  {
    std::lock_guard<std::mutex> held(abort_lock_);
    flag = abort_;
  }
  if (!flag) return false;
  run::request_abort(flag);
  return true;
}

std::set<std::string> handle_verbs(const ir::Need& need) {
  std::set<std::string> verbs;
  if (need.kind != record::NeedKind::Tool) return verbs;
  for (const ir::ToolSignature& signature : need.signatures) {
    if (signature.returns == ir::ToolReturnType::Handle) verbs.insert(signature.name);
  }
  return verbs;
}

Result<std::string, Failure> RunStore::start(const ProgramStore& programs, StartRequest request,
                                             const HostMaker& make_host, const SinkMaker& make_sink) {
  if (!request.paths.empty()) {
    return invalid("`paths` belongs to program.load; task.start uses the already linked program");
  }
  const ir::Ir* program = TRY(programs.find(request.program_id));

  record::CapabilityHosts hosts;
  std::vector<std::shared_ptr<RunLink>> links;
  for (Binding& binding : request.bindings) {
    if (hosts.count(binding.name) != 0) return invalid("capability `" + binding.name + "` was bound more than once");
    const ir::Need* need = nullptr;
    for (const ir::Need& declared : program->needs) {
      if (declared.name == binding.name) {
        need = &declared;
        break;
      }
    }
    if (need == nullptr) return invalid("`" + binding.name + "` is not a declared capability");
    const std::string_view declared_kind = record::need_kind_name(need->kind);
    if (binding.kind != declared_kind) {
      return invalid("capability `" + binding.name + "` is `" + std::string(declared_kind) + "`, not `" +
                     binding.kind + "`");
    }
    auto link = std::make_shared<RunLink>();
    BindingSpec spec{binding.name, need->kind, std::nullopt, handle_verbs(*need), link};
    if (binding.manifest) spec.manifest = std::move(binding.manifest->verbs);
    hosts.emplace(binding.name, make_host(std::move(spec)));
    links.push_back(std::move(link));
  }

  auto started = run::start_task_run(*program, std::move(request.task), std::move(request.options), std::move(hosts));
  if (!started.ok()) return err(Failure{std::move(started).error()});
  run::Run created = std::move(started).value();
  std::string id = created.id();
  // A replayed run takes its recording's id: a second replay of one recording must not take over the first
  // run's entry.
  if (runs_.count(id) != 0) return invalid("a run with run_id `" + id + "` already exists");

  for (const auto& link : links) link->fill(id, created.abort_flag());
  if (service_factory_) created.set_service_factory(service_factory_);
  created.set_event_sink(make_sink(id));
  runs_.emplace(id, std::move(created));
  return id;
}

Result<run::Run*, Failure> RunStore::find(const std::string& id) {
  auto at = runs_.find(id);
  if (at == runs_.end()) return invalid("unknown run_id `" + id + "`");
  if (const auto* ended = std::get_if<Ended>(&at->second)) {
    return err(Failure{runtime::ResumeError::ended(ended->kind)});
  }
  return &std::get<run::Run>(at->second);
}

run::Run* RunStore::live_run(const std::string& id) {
  auto at = runs_.find(id);
  return at == runs_.end() ? nullptr : std::get_if<run::Run>(&at->second);
}

bool RunStore::has_ended(const std::string& id) const {
  auto at = runs_.find(id);
  return at != runs_.end() && std::holds_alternative<Ended>(at->second);
}

void RunStore::settle(const std::string& id) {
  auto at = runs_.find(id);
  if (at == runs_.end()) return;
  auto* live = std::get_if<run::Run>(&at->second);
  if (live == nullptr) return;
  (void)live->take_queued();
  if (live->status() != run::RunStatus::Ended || !live->last_pause()) return;
  const record::PauseKind kind = live->last_pause()->kind();
  // Dropping the run closes its recording and releases its hosts.
  at->second = Ended{kind};
}

Result<record::Pause, Failure> RunStore::next(const std::string& id) {
  run::Run* run = TRY(find(id));
  auto outcome = run->next();
  settle(id);
  if (!outcome.ok()) return err(Failure{std::move(outcome).error()});
  return std::move(outcome).value();
}

Result<Unit, Failure> RunStore::resume(const std::string& id, record::Resume payload) {
  run::Run* run = TRY(find(id));
  auto resumed = run->resume(std::move(payload));
  settle(id);
  if (!resumed.ok()) return err(Failure{std::move(resumed).error()});
  return Unit{};
}

Result<Unit, Failure> RunStore::abort(const std::string& id) {
  run::Run* run = TRY(find(id));
  auto aborted = run->abort();
  if (!aborted.ok()) {
    settle(id);
    return err(Failure{std::move(aborted).error()});
  }
  // The execution that carried the abort out ended in an error (the abort event could not be recorded, say):
  // the run did not stop as asked.
  std::optional<runtime::RuntimeError> failed;
  if (const auto& last = run->last_pause()) {
    if (const auto* error = std::get_if<record::Pause::Error>(&last->detail)) {
      failed = runtime::make_runtime_error(error->code, error->message, error->retryable, last->common.source);
    }
  }
  settle(id);
  if (failed) return err(Failure{std::move(*failed)});
  return Unit{};
}

Result<Unit, Failure> RunStore::inject(const std::string& id, const std::string& capability,
                                       const std::string& message) {
  run::Run* run = TRY(find(id));
  auto injected = run->inject(capability, message);
  settle(id);
  if (!injected.ok()) return err(Failure{std::move(injected).error()});
  return Unit{};
}

}  // namespace dravelin::serve::core

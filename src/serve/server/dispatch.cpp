#include "serve/server/dispatch.h"

#include <utility>

#include "base/overloaded.h"
#include "run/judge.h"
#include "serve/protocol/methods.h"
#include "serve/protocol/params.h"
#include "serve/protocol/results.h"
#include "serve/server/bridge_host.h"
#include "serve/server/event_sink.h"
#include "zem/client.h"

namespace dravelin::serve::server {
namespace {

using protocol::ErrorObject;
using Reply = Result<json::Value, ErrorObject>;

ErrorObject error_of(const core::Failure& failure) {
  return std::visit(Overloaded{
                        [](const core::InvalidParams& f) { return protocol::invalid_params_error(f.message); },
                        [](const core::CompileFailure& f) { return protocol::compile_error_object(f.diagnostics); },
                        [](const runtime::RuntimeError& f) { return protocol::runtime_error_object(f); },
                        [](const runtime::ResumeError& f) { return protocol::run_protocol_error(f); },
                    },
                    failure);
}

template <class P>
Result<P, ErrorObject> read_params(const json::Value& params) {
  auto read = P::read(params);
  if (!read.ok()) return err(protocol::unreadable_params_error(read.error()));
  return std::move(read).value();
}

#define DRAVELIN_CORE(expr)                                     \
  ({                                                            \
    auto core_result = (expr);                                  \
    if (!core_result.ok()) return err(error_of(core_result.error())); \
    std::move(core_result).value();                             \
  })

Reply program_load(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::ProgramLoadParams>(raw));
  auto [id, ir] = DRAVELIN_CORE(state.programs.load(core::LoadRequest{params.source, params.path, params.paths}));
  return protocol::ProgramLoadResult::describe(std::move(id), *ir).to_json_value();
}

Reply judgment_run(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::JudgmentRunParams>(raw));
  const ir::Ir* ir = DRAVELIN_CORE(state.programs.find(params.program_id));
  auto profile = zem::resolve_profile(params.model, params.profiles);
  if (!profile.ok()) return err(protocol::runtime_error_object(profile.error()));
  auto client = state.make_client ? state.make_client(*profile) : [&]() -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
    auto made = zem::ZemClient::create(*profile);
    if (!made.ok()) return err(std::move(made).error());
    return std::unique_ptr<zem::ZemService>(std::move(made).value());
  }();
  if (!client.ok()) return err(protocol::runtime_error_object(client.error()));
  auto outcome = run::run_judgment(*ir, params.name, params.state, **client, *profile);
  if (!outcome.ok()) return err(protocol::runtime_error_object(outcome.error()));
  return protocol::JudgmentRunResult{std::move(outcome->values), std::move(outcome->logs)}.to_json_value();
}

Reply task_start(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::TaskStartParams>(raw));
  core::StartRequest request;
  request.program_id = std::move(params.program_id);
  request.task = std::move(params.name);
  request.options.inputs = std::move(params.inputs);
  request.options.record = std::move(params.record);
  request.options.replay = std::move(params.replay);
  request.options.redact = params.redact.value_or(false);
  request.options.model = std::move(params.model);
  request.options.sample = std::move(params.sample);
  request.options.profiles = std::move(params.profiles);
  for (protocol::BindingParam& binding : params.bindings) {
    request.bindings.push_back(core::Binding{std::move(binding.name), std::move(binding.kind), std::move(binding.manifest)});
  }
  request.paths = std::move(params.paths);

  transport::SharedIo io = state.io;
  const auto grace = state.abort_grace;
  auto id = DRAVELIN_CORE(state.runs.start(
      state.programs, std::move(request),
      [&](core::BindingSpec spec) { return std::make_unique<BridgeHost>(std::move(spec), io, grace); },
      [&](const std::string& run_id) { return bridge_event_sink(io, run_id); }));
  return protocol::TaskStartResult{std::move(id)}.to_json_value();
}

Reply run_next(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::RunParams>(raw));
  record::Pause outcome = DRAVELIN_CORE(state.runs.next(params.run_id));
  return outcome.to_json_value();
}

Reply run_resume(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::RunResumeParams>(raw));
  DRAVELIN_CORE(state.runs.resume(params.run_id, std::move(params.payload)));
  return protocol::ok_result();
}

Reply run_abort(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::RunParams>(raw));
  DRAVELIN_CORE(state.runs.abort(params.run_id));
  return protocol::ok_result();
}

Reply run_inject(BridgeState& state, const json::Value& raw) {
  auto params = TRY(read_params<protocol::RunInjectParams>(raw));
  DRAVELIN_CORE(state.runs.inject(params.run_id, params.capability, params.message));
  return protocol::ok_result();
}

using Handler = Reply (*)(BridgeState&, const json::Value&);

// In the order of the method table.
constexpr Handler kHandlers[] = {program_load, judgment_run, task_start, run_next, run_resume, run_abort, run_inject};
static_assert(std::size(kHandlers) == protocol::kMethodCount);

}  // namespace

Result<json::Value, ErrorObject> dispatch_bridge_method(BridgeState& state, std::string_view method,
                                                        const json::Value& params) {
  const auto known = protocol::method_from_name(method);
  if (!known) return err(protocol::method_not_found(method));
  return kHandlers[static_cast<size_t>(*known)](state, params);
}

}  // namespace dravelin::serve::server

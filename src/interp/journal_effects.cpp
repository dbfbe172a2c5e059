// The effects that reach an outside party: model-service requests, capability calls, observations and
// generations. Live they are performed and recorded; otherwise they are served from the journal.
#include <chrono>
#include <string>
#include <utility>

#include "interp/journal.h"
#include "interp/journal_internal.h"
#include "interp/run_state.h"
#include "json/writer.h"
#include "record/capability.h"
#include "runtime/value_json.h"

namespace dravelin::interp::journal {

using record::EffectIdentity;
using record::EffectOperation;
using record::Event;
using runtime::RuntimeErrorCode;
using runtime::Value;

namespace {

std::string state_text(const json::Object& state) {
  std::string out;
  zem::write_state_json(state, out);
  return out;
}

std::string questions_text(const std::vector<zem::Question>& questions) {
  std::string out;
  for (const zem::Question& question : questions) {
    question.write_json(out);
    out += '\n';
  }
  return out;
}

bool states_match(const json::Object& recorded, const json::Object& program) {
  return recorded == program || state_text(recorded) == state_text(program);
}

bool questions_match(const std::vector<zem::Question>& recorded, const std::vector<zem::Question>& program) {
  return recorded == program || questions_text(recorded) == questions_text(program);
}

uint64_t elapsed_ms(std::chrono::steady_clock::time_point start) {
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

RuntimeError not_bound(std::string_view capability, const Span& span) {
  return runtime::make_runtime_error(RuntimeErrorCode::BindingMissing,
                                     "capability `" + std::string(capability) + "` was not bound", false, span);
}

// A failure's message is recorded (and returned) with at most this many bytes, so that the failure of an attempt
// whose identity fits in a recording line always fits there too.
constexpr size_t kMaxFailureMessageBytes = size_t{64} << 10;
// What such a message may take in a line: every byte escaped to six, and the quotes.
constexpr size_t kFailureMessageRoom = 6 * kMaxFailureMessageBytes + 2;

void cut_message(std::string& message) {
  if (message.size() <= kMaxFailureMessageBytes) return;
  size_t end = kMaxFailureMessageBytes;
  while (end > 0 && (static_cast<unsigned char>(message[end]) & 0xC0) == 0x80) --end;  // a whole character
  message.resize(end);
}

// Records the failure of a live attempt and returns it, with the attempt's span.
Err<RuntimeError> record_failure(RunState& run, EffectOperation operation, EffectIdentity identity, RuntimeError error,
                                 const Span& span) {
  cut_message(error.message);
  auto pushed = push(
      run, Event{Event::EffectError{operation, std::move(identity), error.code, error.message, error.retryable, span}});
  if (!pushed.ok()) return err(std::move(pushed).error());
  error.span = span;
  return err(std::move(error));
}

// An attempt whose failure could not be recorded (its identity is too large for a recording line) is not made.
// Checked before a live attempt, and before a served attempt that does not match its recording, which then
// stopped where the attempt was refused.
bool identity_oversized(const RunState& run, EffectOperation operation, const EffectIdentity& identity) {
  return oversized(run, Event{Event::EffectError{operation, identity, RuntimeErrorCode::AdapterError, "", false, {}}},
                   kFailureMessageRoom);
}

Err<RuntimeError> oversized_attempt(record::EventKind kind, const Span& span) {
  RuntimeError error = oversized_event_error(kind);
  error.span = span;
  return err(std::move(error));
}

// A reply the recording could not hold fails the attempt, and that failure is recorded in its place, so that the
// run executed again, or replayed, meets the same failure there.
RuntimeError oversized_reply(RuntimeErrorCode code, std::string what) {
  return runtime::make_runtime_error(code, what + " would not fit in a recording line of at most " +
                                               std::to_string(record::kMaxRecordingLineBytes) + " bytes");
}

record::CapabilityHost* host_of(RunState& run, std::string_view capability) {
  auto it = run.hosts.find(capability);
  return it == run.hosts.end() ? nullptr : it->second.get();
}

// A recorded failure of this very attempt, served again.
#define DRAVELIN_SERVE_RECORDED_FAILURE(run, operation, identity, span)                   \
  if (auto recorded = TRY(take_effect_error(run, operation, identity, span)); recorded) { \
    return err(std::move(*recorded));                                                     \
  }

}  // namespace

Result<zem::ZemResponse, RuntimeError> request(RunState& run, const zem::RequestGroup& group, bool sampled,
                                               const Span& span) {
  Journal& j = run.journal;
  const std::string id = std::string("r").append(std::to_string(++j.request_counter));
  const EffectIdentity identity{EffectIdentity::Request{id}};

  if (!j.live()) {
    const Event* at = j.at_cursor();
    const auto* asked = at != nullptr ? std::get_if<Event::Request>(&at->data) : nullptr;
    // A summarised state cannot show that the program asks about the same state.
    const bool same = asked != nullptr && asked->request_id == id && asked->state.is_full() &&
                      states_match(*asked->state.if_full(), group.state) &&
                      questions_match(asked->questions, group.questions);
    if (!same && oversized(run, Event{Event::Request{id, record::Recorded<json::Object>::full(group.state),
                                                    group.questions}})) {
      return oversized_attempt(record::EventKind::Request, span);
    }
    if (asked == nullptr) return diverged(run, "a Zem request", span);
    if (!same) return diverged(run, "the same Zem request", span);
    ++j.cursor;
    DRAVELIN_SERVE_RECORDED_FAILURE(run, EffectOperation::Request, identity, span);
    at = j.at_cursor();
    const auto* answered = at != nullptr ? std::get_if<Event::Answers>(&at->data) : nullptr;
    if (answered == nullptr) return diverged(run, "the answers to the request", span);
    if (answered->request_id != id) return diverged(run, "the answers to the same request", span);
    ++j.cursor;
    return zem::ZemResponse{answered->usage.usd, answered->usage.tokens, answered->answers, answered->latency_ms};
  }

  TRY(push(run, Event{Event::Request{id, record::Recorded<json::Object>::full(group.state), group.questions}}));
  if (!run.service) {
    auto built = run.make_service
                     ? run.make_service(run.profile())
                     : Result<std::unique_ptr<zem::ZemService>, RuntimeError>(err(runtime::make_runtime_error(
                           RuntimeErrorCode::ZemUnavailable, "this run has no model-service client")));
    if (!built.ok()) {
      RuntimeError error = std::move(built).error();
      TRY(push(run, Event{Event::EffectError{EffectOperation::Request, identity, error.code, error.message,
                                             error.retryable, span}}));
      return err(std::move(error));
    }
    run.service = std::move(*built);
  }
  auto asked = run.service->ask(group);
  if (!asked.ok())
    return record_failure(run, EffectOperation::Request, identity, zem::to_runtime_error(asked.error()), span);
  zem::ZemResponse response = std::move(*asked);
  Event answers{
      Event::Answers{id, response.answers, zem::ZemUsage{response.tokens, response.usd}, response.latency_ms, sampled}};
  if (oversized(run, answers)) {
    return record_failure(run, EffectOperation::Request, identity,
                          oversized_reply(RuntimeErrorCode::ZemRejected, "the answers to request `" + id + "`"), span);
  }
  TRY(push(run, std::move(answers)));
  return response;
}

Result<Value, RuntimeError> call(RunState& run, std::string_view capability, std::string_view verb,
                                 runtime::CallArguments args, const Span& span) {
  Journal& j = run.journal;
  Value args_value = record::call_arguments_to_value(args);
  const EffectIdentity identity{EffectIdentity::Call{std::string(capability), std::string(verb), args_value}};

  if (!j.live()) {
    DRAVELIN_SERVE_RECORDED_FAILURE(run, EffectOperation::Call, identity, span);
    const Event* at = j.at_cursor();
    const auto* called = at != nullptr ? std::get_if<Event::Call>(&at->data) : nullptr;
    const std::string name = std::string(capability) + "." + std::string(verb);
    const bool same = called != nullptr && called->capability == capability && called->verb == verb &&
                      values_match(called->args, args_value);
    if (!same && identity_oversized(run, EffectOperation::Call, identity)) {
      return oversized_attempt(record::EventKind::Call, span);
    }
    if (called == nullptr) return diverged(run, "the call `" + name + "`", span);
    if (!same) {
      return diverged(run,
                      "the call `" + name + "` with arguments " + runtime::debug_string(args_value) + ", not `" +
                          called->capability + "." + called->verb + "` with " + runtime::debug_string(called->args),
                      span);
    }
    const Value* result = called->result.if_full();
    if (result == nullptr) return diverged(run, "a full replayed capability result", span);
    ++j.cursor;
    return *result;
  }

  const auto started = std::chrono::steady_clock::now();
  record::CapabilityHost* host = host_of(run, capability);
  if (host == nullptr) return err(not_bound(capability, span));
  if (identity_oversized(run, EffectOperation::Call, identity)) return oversized_attempt(record::EventKind::Call, span);
  auto answered = host->call(verb, std::move(args));
  if (!answered.ok()) return record_failure(run, EffectOperation::Call, identity, std::move(answered).error(), span);
  Value result = std::move(*answered);
  Event called{Event::Call{std::string(capability), std::string(verb), std::move(args_value),
                           record::Recorded<Value>::full(result), elapsed_ms(started)}};
  if (oversized(run, called)) {
    return record_failure(run, EffectOperation::Call, identity,
                          oversized_reply(RuntimeErrorCode::AdapterError,
                                          "the reply of `" + std::string(capability) + "." + std::string(verb) + "`"),
                          span);
  }
  TRY(push(run, std::move(called)));
  return result;
}

Result<record::Observation, RuntimeError> observe(RunState& run, std::string_view capability,
                                                  const runtime::Handle& handle, const Span& span) {
  Journal& j = run.journal;
  Value handle_value = Value::handle(handle);
  const EffectIdentity identity{EffectIdentity::Observe{std::string(capability), handle_value}};

  if (!j.live()) {
    DRAVELIN_SERVE_RECORDED_FAILURE(run, EffectOperation::Observe, identity, span);
    const Event* at = j.at_cursor();
    const auto* observed = at != nullptr ? std::get_if<Event::Observe>(&at->data) : nullptr;
    if (observed == nullptr || observed->capability != capability || !values_match(observed->handle, handle_value)) {
      if (identity_oversized(run, EffectOperation::Observe, identity)) {
        return oversized_attempt(record::EventKind::Observe, span);
      }
      return diverged(run, "an observation of `" + std::string(capability) + "`", span);
    }
    const record::Observation* observation = observed->observation.if_full();
    if (observation == nullptr) return diverged(run, "a full replayed observation", span);
    ++j.cursor;
    return *observation;
  }

  record::CapabilityHost* host = host_of(run, capability);
  if (host == nullptr) return err(not_bound(capability, span));
  if (identity_oversized(run, EffectOperation::Observe, identity)) {
    return oversized_attempt(record::EventKind::Observe, span);
  }
  auto looked = host->observe(handle);
  if (!looked.ok()) return record_failure(run, EffectOperation::Observe, identity, std::move(looked).error(), span);
  record::Observation observation = std::move(*looked);
  Event observed{Event::Observe{std::string(capability), std::move(handle_value),
                                record::Recorded<record::Observation>::full(observation)}};
  if (oversized(run, observed)) {
    return record_failure(
        run, EffectOperation::Observe, identity,
        oversized_reply(RuntimeErrorCode::AdapterError, "the observation of `" + std::string(capability) + "`"), span);
  }
  TRY(push(run, std::move(observed)));
  return observation;
}

Result<Generation, RuntimeError> generate(RunState& run, std::string_view capability, std::string_view instruction,
                                          runtime::OptionalValue using_value, const Span& span) {
  Journal& j = run.journal;
  const EffectIdentity identity{
      EffectIdentity::Generate{std::string(capability), std::string(instruction), using_value}};

  if (!j.live()) {
    DRAVELIN_SERVE_RECORDED_FAILURE(run, EffectOperation::Generate, identity, span);
    const Event* at = j.at_cursor();
    const auto* generated = at != nullptr ? std::get_if<Event::Generate>(&at->data) : nullptr;
    const bool same_using = generated != nullptr && generated->using_value.has_value() == using_value.has_value() &&
                            (!using_value.has_value() || values_match(*generated->using_value, *using_value));
    if (generated == nullptr || generated->capability != capability || generated->instruction != instruction ||
        !same_using) {
      if (identity_oversized(run, EffectOperation::Generate, identity)) {
        return oversized_attempt(record::EventKind::Generate, span);
      }
      return diverged(run, "a generation by `" + std::string(capability) + "`", span);
    }
    ++j.cursor;
    return Generation{generated->output, generated->usage.usd, generated->usage.tokens};
  }

  runtime::CallArguments args;
  args.positional.push_back(Value::text(std::string(instruction)));
  if (using_value.has_value()) args.named.emplace("using", *using_value);
  record::CapabilityHost* host = host_of(run, capability);
  if (host == nullptr) return err(not_bound(capability, span));
  if (identity_oversized(run, EffectOperation::Generate, identity)) {
    return oversized_attempt(record::EventKind::Generate, span);
  }
  auto answered = host->call("write", std::move(args));
  if (!answered.ok()) {
    return record_failure(run, EffectOperation::Generate, identity, std::move(answered).error(), span);
  }
  std::string output = answered->to_text();
  std::string counted(instruction);
  if (using_value.has_value()) using_value->append_text(counted);
  counted += output;
  const uint64_t tokens = run.tokenizer->count(counted);
  Event generated{Event::Generate{std::string(capability), std::string(instruction), std::move(using_value), output,
                                  zem::ZemUsage{tokens, std::nullopt}}};
  if (oversized(run, generated)) {
    return record_failure(
        run, EffectOperation::Generate, identity,
        oversized_reply(RuntimeErrorCode::AdapterError, "the text written by `" + std::string(capability) + "`"), span);
  }
  TRY(push(run, std::move(generated)));
  return Generation{std::move(output), std::nullopt, tokens};
}

}  // namespace dravelin::interp::journal

#include "lsp/server/server_loop.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "compiler/module_sources.h"
#include "lsp/core/diagnostics.h"
#include "lsp/core/uri.h"
#include "lsp/protocol/read.h"
#include "lsp/protocol/write.h"
#include "lsp/server/options.h"
#include "lsp/server/requests.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;
using transport::Connection;
using transport::Message;
using transport::Notification;
using transport::Request;

// How long the server waits for `exit` once it has answered `shutdown`.
constexpr std::chrono::seconds kExitWait{30};

const Notification* as_notification(const Message& message, std::string_view method) {
  const auto* note = std::get_if<Notification>(&message);
  return note != nullptr && note->method == method ? note : nullptr;
}

// ---- handshake ----

// Waits for `initialize`. Other requests are refused as not yet initialized; notifications but `exit` are
// dropped.
Result<Request, std::string> await_initialize(Connection& connection) {
  for (;;) {
    std::optional<Message> message = connection.receive();
    if (!message) return err(std::string("disconnected channel"));
    if (auto* request = std::get_if<Request>(&*message)) {
      if (request->method == "initialize") return std::move(*request);
      connection.send(transport::make_error(request->id, transport::error_code::kServerNotInitialized,
                                            "expected initialize request, got " + transport::render_message(*message)));
      continue;
    }
    if (std::holds_alternative<Notification>(*message) && !as_notification(*message, "exit")) continue;
    return err("expected initialize request, got " + transport::render_message(*message));
  }
}

Result<Unit, std::string> await_initialized(Connection& connection) {
  std::optional<Message> message = connection.receive();
  if (!message) return err(std::string("disconnected channel"));
  if (as_notification(*message, "initialized")) return Unit{};
  return err("expected initialized notification, got: " + transport::render_message(*message));
}

std::vector<fs::path> workspace_roots(const protocol::InitializeParams& params) {
  std::vector<fs::path> roots;
  if (params.workspace_folders) {
    for (const std::string& uri : *params.workspace_folders)
      if (std::optional<fs::path> path = uri_to_path(uri)) roots.push_back(std::move(*path));
  } else if (params.root_uri) {
    if (std::optional<fs::path> path = uri_to_path(*params.root_uri)) roots.push_back(std::move(*path));
  }
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  return roots;
}

struct ServerState {
  World world;
  PatchedAnalyses patched;
  std::string error_reference;
  Connection& connection;
  std::set<std::string> to_publish;  // recomputed and published after the batch
  std::set<std::string> changed;     // whose open dependents are published after the batch too
};

Result<std::unique_ptr<ServerState>, std::string> handshake(Connection& connection) {
  Request initialize = TRY(await_initialize(connection));
  auto params = protocol::read_initialize_params(initialize.params);
  if (!params.ok()) {
    // The client is told why before the server ends: it would otherwise wait for an answer that never comes.
    connection.send(transport::make_error(initialize.id, transport::error_code::kInvalidParams, params.error()));
    return err(std::move(params).error());
  }
  const PositionEncoding encoding = negotiate_position_encoding(params->position_encodings);
  std::vector<fs::path> roots = workspace_roots(*params);
  Options options = read_options(params->initialization_options);
  compiler::ModuleSources sources = compiler::ModuleSources::from_env();
  std::vector<fs::path> search;
  for (const std::string& path : options.paths) {
    if (path.starts_with('/')) {
      search.emplace_back(path);
    } else {
      search.push_back((roots.empty() ? fs::path() : roots.front()) / path);
    }
  }
  sources.roots.insert(sources.roots.begin(), search.begin(), search.end());

  if (!connection.send(transport::make_result(initialize.id, protocol::initialize_result(encoding))))
    return err(std::string("cannot send the initialize result: the output is closed"));
  TRY(await_initialized(connection));
  return std::make_unique<ServerState>(
      ServerState{World(encoding, std::move(roots), std::move(sources)), {}, std::move(options.error_reference),
                  connection, {}, {}});
}

// ---- shutdown ----

// After `shutdown` only `exit` is expected: requests are refused, other notifications and responses dropped.
Result<Unit, std::string> await_exit(Connection& connection) {
  const auto deadline = std::chrono::steady_clock::now() + kExitWait;
  for (;;) {
    bool timed_out = false;
    std::optional<Message> message = connection.receive_until(deadline, timed_out);
    if (timed_out) return err(std::string("timed out waiting for exit notification"));
    if (!message) return err(std::string("channel disconnected waiting for exit notification"));
    if (as_notification(*message, "exit")) return Unit{};
    if (const auto* request = std::get_if<Request>(&*message)) {
      connection.send(transport::make_error(request->id, transport::error_code::kInvalidRequest,
                                            "the server is shutting down: only the `exit` notification is expected"));
    }
    connection.release(std::move(*message));
  }
}

// ---- messages ----

enum class Flow { Continue, Exit };

void handle_notification(ServerState& state, const Notification& note) {
  const std::string& method = note.method;
  if (method == "textDocument/didOpen") {
    auto params = protocol::read_did_open_params(note.params);
    if (!params.ok()) return;
    state.to_publish.insert(params->uri);
    state.changed.insert(params->uri);
    state.world.did_open(std::move(params->uri), std::move(params->text), params->version);
  } else if (method == "textDocument/didChange") {
    auto params = protocol::read_did_change_params(note.params);
    if (!params.ok()) return;
    state.world.did_change(params->uri, params->changes, params->version);
    state.to_publish.insert(params->uri);
    state.changed.insert(params->uri);
  } else if (method == "textDocument/didClose") {
    auto params = protocol::read_document_params(note.params, "DidCloseTextDocumentParams");
    if (!params.ok()) return;
    for (std::string& dependent : state.world.dependents(params->uri)) state.to_publish.insert(std::move(dependent));
    state.world.did_close(params->uri);
    state.to_publish.erase(params->uri);
    state.changed.erase(params->uri);
    // A closed document's findings leave the editor at once; a failed send changes nothing worth reporting.
    state.connection.send(Notification{"textDocument/publishDiagnostics",
                                       protocol::publish_diagnostics_params(params->uri, {}, std::nullopt)});
  } else if (method == "textDocument/didSave" || method == "workspace/didChangeWatchedFiles") {
    state.world.files_changed();
    for (std::string& uri : state.world.open_uris()) state.to_publish.insert(std::move(uri));
  }
}

Result<Flow, std::string> handle_message(ServerState& state, const Message& message) {
  if (const auto* request = std::get_if<Request>(&message)) {
    if (request->method == "shutdown") {
      if (!state.connection.send(transport::make_result(request->id, json::Value())))
        return err(std::string("cannot send a response: the output is closed"));
      TRY(await_exit(state.connection));
      return Flow::Exit;
    }
    if (!state.connection.send(handle_request(state.world, state.patched, *request)))
      return err(std::string("cannot send a response: the output is closed"));
    return Flow::Continue;
  }
  if (const auto* note = std::get_if<Notification>(&message)) {
    // The protocol's exit status for a client that leaves without asking for shutdown first.
    if (note->method == "exit") return err(std::string("received the exit notification before a shutdown request"));
    handle_notification(state, *note);
  }
  return Flow::Continue;
}

// Publishes the documents the batches so far left to publish, in URI order, the open dependents of the changed
// ones first added to them. A message that arrives meanwhile ends the publishing after the document in hand:
// it is handed back to be handled at once, and the documents not yet published stay for the next call, which
// computes them on the World as that message left it: each document's last publication is the one publishing
// everything after that message would have sent, and a request waits for one document at most.
Result<Unit, std::string> publish(ServerState& state, std::optional<Message>& arrived) {
  std::vector<std::string> changed;
  for (const std::string& uri : std::exchange(state.changed, {}))
    if (is_uri(uri)) changed.push_back(uri);
  // One pass over the imports of all the open documents, however many changed.
  for (std::string& dependent : state.world.dependents(changed)) state.to_publish.insert(std::move(dependent));
  bool listening = true;
  while (!state.to_publish.empty()) {
    const std::string uri = std::move(state.to_publish.extract(state.to_publish.begin()).value());
    if (!is_uri(uri)) continue;
    AnalysisPtr analysis = state.world.analysis(uri);
    if (!analysis) continue;
    std::vector<LspDiagnostic> diagnostics = compute_diagnostics(state.world, analysis, state.error_reference);
    json::Value params = protocol::publish_diagnostics_params(uri, diagnostics, state.world.version(uri));
    if (!state.connection.send(Notification{"textDocument/publishDiagnostics", std::move(params)}))
      return err(std::string("cannot publish diagnostics: the output is closed"));
    if (!listening || state.to_publish.empty()) continue;
    Message next;
    switch (state.connection.try_receive(next)) {
      case transport::Received::Message: arrived = std::move(next); return Unit{};
      case transport::Received::Disconnected: listening = false; break;
      case transport::Received::Empty: break;
    }
  }
  return Unit{};
}

}  // namespace

Result<Unit, std::string> server_main_loop(Connection& connection) {
  std::unique_ptr<ServerState> state = TRY(handshake(connection));
  std::optional<Message> arrived;  // taken while publishing, handled before anything else
  for (;;) {
    std::optional<Message> message = std::exchange(arrived, std::nullopt);
    const bool pending = !state->to_publish.empty() || !state->changed.empty();
    if (!message && !pending) {
      message = connection.receive();
      if (!message) return Unit{};
    }
    // Every message already waiting joins the batch: a burst of changes costs one analysis per document.
    while (message) {
      const Flow flow = TRY(handle_message(*state, *message));
      if (flow == Flow::Exit) return Unit{};
      connection.release(std::move(*message));
      message.reset();
      Message next;
      if (connection.try_receive(next) == transport::Received::Message) message = std::move(next);
    }
    TRY(publish(*state, arrived));
  }
}

}  // namespace dravelin::lsp

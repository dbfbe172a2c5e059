#include "cli/adapters.h"

#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "cli/adapter_hosts.h"
#include "cli/output.h"
#include "syntax/terminal_text.h"

namespace dravelin::cli {
namespace {

std::string quoted(std::string_view name) { return std::string("`").append(name) + "`"; }

// The stubs' lines carry the program's values (as JSON): escaped, each stays one line.
void print_to_stderr(std::string_view line) {
  std::string text = syntax::terminal_line(line);
  text += '\n';
  write_text(stderr, text);
}

// By name, in byte order: a command, or none for a stub.
using Requests = std::map<std::string, std::optional<std::string>>;

Result<Unit, CliError> request(Requests& requests, std::string name, std::optional<std::string> command) {
  if (requests.contains(name)) return err(CliError::of("capability " + quoted(name) + " was bound more than once"));
  requests.emplace(std::move(name), std::move(command));
  return Unit{};
}

Result<Requests, CliError> gather_requests(const ir::Ir& program, const std::vector<std::string>& binds,
                                           const std::vector<std::string>& stubs) {
  Requests requests;
  for (const std::string& bind : binds) {
    const size_t equals = bind.find('=');
    if (equals == std::string::npos) return err(CliError::of("--bind must be NAME=COMMAND, got " + quoted(bind)));
    std::string name = bind.substr(0, equals);
    std::string command = bind.substr(equals + 1);
    if (name.empty() || command.empty()) return err(CliError::of("--bind must have a non-empty NAME and COMMAND"));
    TRY(request(requests, std::move(name), std::move(command)));
  }
  for (const std::string& stub : stubs) TRY(request(requests, stub, std::nullopt));
  for (const auto& [name, command] : requests) {
    bool declared = false;
    for (const ir::Need& need : program.needs) declared = declared || need.name == name;
    if (!declared) return err(CliError::of(quoted(name) + " is not a declared capability"));
  }
  return requests;
}

}  // namespace

Result<AdapterSetup, CliError> setup_adapters(const ir::Ir& program, const std::vector<std::string>& binds,
                                              const std::vector<std::string>& stubs, AdapterOptions options) {
  Requests requests = TRY(gather_requests(program, binds, stubs));
  LineSink stub_output = options.stub_output ? std::move(options.stub_output) : LineSink(print_to_stderr);
  AdapterSetup setup;
  std::shared_ptr<AdapterFleet> fleet;
  for (const ir::Need& need : program.needs) {
    const auto found = requests.find(need.name);
    if (found == requests.end()) continue;
    const std::optional<std::string> command = std::move(found->second);
    requests.erase(found);
    if (!command) {
      setup.notices.push_back("[stub] " + quoted(need.name) + " is using the built-in " +
                              std::string(record::need_kind_display_name(need.kind)) + " demonstration adapter");
      setup.hosts.emplace(need.name, std::make_unique<StubHost>(need.name, need.kind, stub_output));
      continue;
    }
    Result<std::unique_ptr<AdapterProcess>, std::string> started = AdapterProcess::start(*command);
    // Returning drops the hosts made so far, and with them their adapters.
    if (!started) return err(CliError::of("cannot start adapter " + quoted(need.name) + ": " + started.error()));
    if (!fleet) fleet = std::make_shared<AdapterFleet>();
    AdapterProcess& process = fleet->add(std::move(started).value());
    setup.hosts.emplace(need.name, std::make_unique<ProcessAdapterHost>(need.name, need.kind, fleet, process));
  }
  return setup;
}

}  // namespace dravelin::cli

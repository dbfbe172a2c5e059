// Holds the capability hosts of a program the way a terminal run does and calls them as its input asks: a
// stand-in for the run in the tests of how adapters end when the program ends or is interrupted.
//
//   adapter_driver FILE [--bind NAME=COMMAND]... [--stub NAME]...
//
// Input lines, one output line each:
//   call NAME VERB [ARGS]   ARGS a JSON object {"positional": [...], "named": {...}} of tagged values;
//                           prints the answer's tagged JSON, or "error " and the message
//   pid NAME                prints the pid of the adapter bound to NAME
// At the end of its input it drops the hosts and prints "children:" and the pids of the children it still has
// (zombies included), then ends with status 0. Set-up errors end it through the common error exit.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/adapter_hosts.h"
#include "cli/adapters.h"
#include "cli/error.h"
#include "cli/load.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace {

using namespace dravelin;

std::string children() {
  std::string out;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == getpid()) out += " " + name;
  }
  return out;
}

Result<runtime::CallArguments, std::string> read_arguments(const std::string& text) {
  runtime::CallArguments args;
  if (text.empty()) return args;
  auto json = json::parse_json_value(text);
  if (!json) return err(json.error().text());
  if (const json::Value* positional = json->find("positional")) {
    for (const json::Value& item : positional->as_array())
      args.positional.push_back(TRY(runtime::from_tagged_json(item)));
  }
  if (const json::Value* named = json->find("named")) {
    for (const json::Member& member : named->as_object()) {
      args.named.insert_or_assign(member.key, TRY(runtime::from_tagged_json(member.value)));
    }
  }
  return args;
}

std::string answer(record::CapabilityHosts& hosts, const std::string& line) {
  std::istringstream words(line);
  std::string command;
  std::string name;
  words >> command >> name;
  const auto found = hosts.find(name);
  if (found == hosts.end()) return "error no host `" + name + "`";
  if (command == "pid") {
    auto* adapter = dynamic_cast<cli::ProcessAdapterHost*>(found->second.get());
    return adapter == nullptr ? "error not an adapter" : std::to_string(adapter->process().pid());
  }
  if (command != "call") return "error unknown command `" + command + "`";
  std::string verb;
  words >> verb;
  std::string rest;
  std::getline(words, rest);
  auto args = read_arguments(rest.empty() ? rest : rest.substr(1));
  if (!args) return "error " + args.error();
  auto value = found->second->call(verb, std::move(args).value());
  if (!value) return "error " + value.error().message;
  return json::to_compact(runtime::to_tagged_json(value.value()));
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  cli::end_adapters_on_termination_signals();
  if (argc < 2)
    return cli::error_exit(cli::CliError::of("usage: adapter_driver FILE [--bind NAME=COMMAND]... [--stub NAME]..."));
  std::vector<std::string> binds;
  std::vector<std::string> stubs;
  for (int i = 2; i + 1 < argc; i += 2) {
    (std::string(argv[i]) == "--bind" ? binds : stubs).emplace_back(argv[i + 1]);
  }
  auto compiled = cli::load_program(argv[1], {});
  if (!compiled) return cli::error_exit(compiled.error());
  if (!compiled->ir) return cli::error_exit(cli::CliError::of("compile failed"));
  std::optional<cli::AdapterSetup> setup;
  {
    auto made = cli::setup_adapters(*compiled->ir, binds, stubs);
    if (!made) return cli::error_exit(made.error());
    setup.emplace(std::move(made).value());
  }
  for (const std::string& notice : setup->notices) std::cerr << notice << "\n" << std::flush;
  for (std::string line; std::getline(std::cin, line);) std::cout << answer(setup->hosts, line) << "\n" << std::flush;
  setup.reset();
  std::cout << "children:" << children() << "\n" << std::flush;
  return 0;
}

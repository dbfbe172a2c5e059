// The capability hosts of a terminal run: `--bind NAME=COMMAND` starts `sh -c COMMAND` as a persistent
// subprocess spoken to in JSON lines, `--stub NAME` answers with a built-in demonstration host.
//
// The hosts of one set-up end together when the last of them is dropped: every adapter's input is closed at
// once, they get about a second, jointly, to finish, and then each adapter's whole process group is killed and
// its `sh` waited for.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "cli/error.h"
#include "ir/nodes.h"
#include "record/capability.h"

namespace dravelin::cli {

// Takes one line of text, without its line end.
using LineSink = std::function<void(std::string_view line)>;

struct AdapterOptions {
  // Where the stubs print the calls they answer ("[stub:NAME] VERB ARGS"); stderr when empty.
  LineSink stub_output;
};

struct AdapterSetup {
  record::CapabilityHosts hosts;
  // The lines to print on stderr before the run starts ("[stub] `NAME` is using ..."), in declaration order.
  std::vector<std::string> notices;
};

// Builds a host for every declared capability that `binds` (NAME=COMMAND) or `stubs` (NAME) name; a
// declared capability that neither names stays unbound (run set-up reports it). Refusals carry their texts
// ("--bind must be NAME=COMMAND, got `x`", "capability `a` was bound more than once", "`z` is not a declared
// capability", "cannot start adapter `a`: ..."); nothing started by a refused set-up stays running.
Result<AdapterSetup, CliError> setup_adapters(const ir::Ir& program, const std::vector<std::string>& binds,
                                              const std::vector<std::string>& stubs, AdapterOptions options = {});

// Kills the process group of every adapter still alive and waits for each adapter's `sh`. Safe to call from a
// signal handler.
void kill_adapters_from_signal_handler() noexcept;

// Makes SIGINT, SIGTERM and SIGHUP kill every adapter (as above) before they end the process as they would
// have. Only signals at their default action are taken: an ignored one stays ignored, and a handler installed
// before is kept (it should call kill_adapters_from_signal_handler itself).
void end_adapters_on_termination_signals();

}  // namespace dravelin::cli

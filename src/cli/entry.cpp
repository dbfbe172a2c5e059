#include "cli/entry.h"

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/overloaded.h"
#include "cli/command.h"
#include "cli/compile_commands.h"
#include "cli/error.h"
#include "cli/judge_commands.h"
#include "cli/output.h"
#include "cli/replay_command.h"
#include "cli/run_command.h"
#include "cli/setup.h"
#include "syntax/terminal_text.h"
#include "lsp/server.h"
#include "serve/serve.h"

namespace dravelin::cli {
namespace {

int run_lsp() {
  auto served = lsp::run_language_server();
  if (!served.ok()) return error_exit(CliError::of(std::move(served).error()));
  return 0;
}

int run_serve() {
  auto served = serve::serve_stdio();
  if (!served.ok()) return error_exit(CliError::of(std::move(served).error()));
  return 0;
}

int dispatch(const Cli& cli) {
  return std::visit(Overloaded{
                        [](const Compile& c) { return run_compile(c); },
                        [](const Check& c) { return run_check(c); },
                        [](const Judge& c) { return judge_command(c); },
                        [](const Eval& c) { return eval_command(c); },
                        [](const Run& c) { return run_command(c); },
                        [](const Replay& c) { return replay_command(c); },
                        [](const Serve&) { return run_serve(); },
                        [](const Setup& c) { return run_setup(c); },
                        [](const Lsp&) { return run_lsp(); },
                    },
                    cli.command);
}

}  // namespace

int error_exit(const CliError& error) {
  // Messages quote paths, arguments and what a run, an adapter or the model service said: escaped, the error
  // stays one line.
  std::string line = "dravelin: ";
  for (size_t i = 0; i < error.messages.size(); ++i) {
    if (i > 0) line += ": ";
    syntax::append_for_terminal(line, error.messages[i], syntax::Backslashes::Kept);
  }
  line += "\n";
  write_text(stderr, line);
  return 1;
}

int run_main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ParseOutcome outcome = parse_cli(std::move(args));
  if (const ParseExit* exit = std::get_if<ParseExit>(&outcome)) {
    write_text(stdout, exit->out);
    write_text(stderr, exit->err);
    return finish_output(exit->status);
  }
  return finish_output(dispatch(std::get<Cli>(outcome)));
}

}  // namespace dravelin::cli

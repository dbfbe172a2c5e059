#include "cli/entry.h"

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "cli/command.h"

namespace dravelin::cli {
namespace {

template <class... Arms>
struct Overloaded : Arms... {
  using Arms::operator()...;
};
template <class... Arms>
Overloaded(Arms...) -> Overloaded<Arms...>;

void write_all(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// The one way a command ends in failure: "dravelin: " and the messages from the outermost cause in.
int error_exit(const std::vector<std::string>& messages) {
  std::string line = "dravelin: ";
  for (size_t i = 0; i < messages.size(); ++i) {
    if (i > 0) line += ": ";
    line += messages[i];
  }
  line += "\n";
  write_all(stderr, line);
  return 1;
}

int not_available(const char* subcommand) {
  return error_exit({std::string("`") + subcommand + "` is not available yet"});
}

int dispatch(const Cli& cli) {
  return std::visit(Overloaded{
                        [](const Compile&) { return not_available("compile"); },
                        [](const Check&) { return not_available("check"); },
                        [](const Judge&) { return not_available("judge"); },
                        [](const Eval&) { return not_available("eval"); },
                        [](const Run&) { return not_available("run"); },
                        [](const Replay&) { return not_available("replay"); },
                        [](const Serve&) { return not_available("serve"); },
                        [](const Setup&) { return not_available("setup"); },
                        [](const Lsp&) { return not_available("lsp"); },
                    },
                    cli.command);
}

}  // namespace

int run_main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ParseOutcome outcome = parse_cli(std::move(args));
  if (const ParseExit* exit = std::get_if<ParseExit>(&outcome)) {
    write_all(stdout, exit->out);
    write_all(stderr, exit->err);
    return exit->status;
  }
  return dispatch(std::get<Cli>(outcome));
}

}  // namespace dravelin::cli

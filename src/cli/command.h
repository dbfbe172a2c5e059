// The parsed command line of `dravelin`: one record per subcommand, and the parse that builds it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace dravelin::cli {

// The coding agents `setup` can install the skill for, in the order the help page lists them.
enum class SkillAgent { codex, claude_code };

struct Compile {
  std::filesystem::path file;  // "-" reads the program from stdin
  friend bool operator==(const Compile&, const Compile&) = default;
};

struct Check {
  std::filesystem::path file;
  std::optional<std::filesystem::path> tools;
  friend bool operator==(const Check&, const Check&) = default;
};

struct Judge {
  std::filesystem::path file;
  std::string judgment;
  std::string state;
  std::optional<std::string> model;
  std::optional<std::filesystem::path> profiles;
  friend bool operator==(const Judge&, const Judge&) = default;
};

struct Eval {
  std::filesystem::path file;
  std::string judgment;
  std::filesystem::path cases;
  std::optional<std::string> model;
  std::optional<std::filesystem::path> profiles;
  friend bool operator==(const Eval&, const Eval&) = default;
};

struct Run {
  std::filesystem::path file;
  std::optional<std::string> input;
  std::optional<std::filesystem::path> record;
  bool redact = false;
  bool sample = false;
  std::optional<std::filesystem::path> profiles;
  std::vector<std::filesystem::path> paths;
  std::vector<std::string> bindings;  // NAME=COMMAND, not split here
  std::vector<std::string> stubs;
  friend bool operator==(const Run&, const Run&) = default;
};

struct Replay {
  std::filesystem::path recording;
  friend bool operator==(const Replay&, const Replay&) = default;
};

struct Serve {
  friend bool operator==(const Serve&, const Serve&) = default;
};

struct Setup {
  std::vector<SkillAgent> agents;  // as given, duplicates included; never empty
  bool global = false;
  bool copy = false;
  std::optional<std::filesystem::path> project;
  friend bool operator==(const Setup&, const Setup&) = default;
};

struct Lsp {
  friend bool operator==(const Lsp&, const Lsp&) = default;
};

using Command = std::variant<Compile, Check, Judge, Eval, Run, Replay, Serve, Setup, Lsp>;

struct Cli {
  Command command;
  friend bool operator==(const Cli&, const Cli&) = default;
};

// What the process does instead of running a command: help, version or a usage error. The texts are
// complete, ready to be written to stdout and stderr as they are.
struct ParseExit {
  int status = 0;
  std::string out;
  std::string err;
};

using ParseOutcome = std::variant<Cli, ParseExit>;

// Parses the process arguments, `argv[0]` included (its file name is the program name shown in usage
// lines). Never throws for any input.
ParseOutcome parse_cli(std::vector<std::string> argv);

}  // namespace dravelin::cli

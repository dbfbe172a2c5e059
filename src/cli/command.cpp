#include "cli/command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "syntax/utf8.h"

namespace dravelin::cli {
namespace {

constexpr const char* kProgram = "dravelin";
constexpr const char* kVersion = "0.1.2";
constexpr int kUsageStatus = 2;

struct AgentName {
  SkillAgent agent;
  const char* name;
  const char* help;
};

constexpr std::array<AgentName, 2> kAgents{{
    {SkillAgent::codex, "codex", "Codex discovers project Skills under `.agents/skills`"},
    {SkillAgent::claude_code, "claude-code", "Claude Code discovers Skills under `.claude/skills`"},
}};

std::optional<SkillAgent> agent_named(std::string_view name) {
  for (const AgentName& a : kAgents)
    if (name == a.name) return a.agent;
  return std::nullopt;
}

bool valid_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, at);
    // A well-formed U+FFFD takes three bytes; a one-byte one is the decoder's mark for a bad byte.
    if (c.code == syntax::kReplacementChar && c.length == 1) return false;
    at += c.length;
  }
  return true;
}

CLI::Validator utf8_text() {
  // No description: it would be appended to the value name in the help page.
  return CLI::Validator(
      [](std::string& value) -> std::string {
        return valid_utf8(value) ? std::string{} : std::string{"the value is not valid UTF-8"};
      },
      "", "UTF-8");
}

CLI::Validator agent_value() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        if (agent_named(value)) return {};
        std::string names;
        for (const AgentName& a : kAgents) names += std::string(names.empty() ? "" : ", ") + a.name;
        return "invalid value '" + value + "' (possible values: " + names + ")";
      },
      "", "AGENT");
}

// The help text of an enumerated option, followed by one line per possible value with its own help.
std::string with_value_help(std::string help) {
  size_t width = 0;
  for (const AgentName& a : kAgents) width = std::max(width, std::string_view(a.name).size());
  help += "\nPossible values:";
  for (const AgentName& a : kAgents) {
    help += "\n  ";
    help += a.name;
    help.append(width - std::string_view(a.name).size() + 2, ' ');
    help += a.help;
  }
  return help;
}

enum class Kind { path, text };

// Given a plain string, CLI11's two-argument add_option would bind it as the option's result variable;
// the overload with a callback is the one that takes the string as the description.
CLI::Option* value_option(CLI::App& app, const std::string& name, const std::string& help) {
  return app.add_option(name, CLI::callback_t{}, help, false);
}

CLI::Option* positional(CLI::App& app, const std::string& name, const std::string& help, Kind kind) {
  CLI::Option* opt = value_option(app, name, help)->required()->type_name("");
  if (kind == Kind::text) opt->check(utf8_text());
  return opt;
}

CLI::Option* single(CLI::App& app, const std::string& name, const std::string& value_name,
                    const std::string& help, Kind kind) {
  CLI::Option* opt = value_option(app, name, help)->type_name(value_name);
  if (kind == Kind::text) opt->check(utf8_text());
  return opt;
}

CLI::Option* repeated(CLI::App& app, const std::string& name, const std::string& value_name,
                      const std::string& help, Kind kind) {
  return single(app, name, value_name, help, kind)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

CLI::Option* flag(CLI::App& app, const std::string& name, const std::string& help) {
  // CLI11 lets a repeated flag count or take the last; here a second occurrence is refused.
  return app.add_flag(name, help)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

const std::string kJudgeFooter =
    "Reads VELTRANE_API_KEY. Model profiles come from the bundle, DRAVELIN_PROFILES, or --profiles.";
const std::string kProfilesHelp = "A profiles file to layer over the bundled ones (spec section 10.6)";
const std::string kModelHelp = "A Zem model id, which also selects the model profile";

std::unique_ptr<CLI::App> build_cli_command(const std::string& program) {
  auto root = std::make_unique<CLI::App>("The dravelin command-line tool", program);
  // Every option refuses a second occurrence unless it says otherwise; subcommands inherit this.
  root->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  root->set_version_flag("-V,--version", std::string(kProgram) + " " + kVersion);
  root->require_subcommand(1);

  {
    CLI::App* c =
        root->add_subcommand("compile", "Emit the IR as JSON to stdout, or the compile errors to stderr");
    positional(*c, "FILE", "The `.zem` file to compile", Kind::path);
  }
  {
    CLI::App* c = root->add_subcommand("check", "Compile and report warnings and errors without emitting IR");
    positional(*c, "FILE", "The `.zem` file to check", Kind::path);
    single(*c, "--tools", "manifest.json",
           "A tool adapter manifest to check every tool verb against, the same comparison `task.start` makes "
           "at bind time (spec section 9.4)",
           Kind::path);
  }
  {
    CLI::App* c = root->add_subcommand("judge", "Run one judgment against a state and print the answers");
    positional(*c, "FILE", "The `.zem` file the judgment lives in", Kind::path);
    positional(*c, "JUDGMENT", "Which judgment", Kind::text);
    single(*c, "--state", "STATE", "The state, as JSON", Kind::text)->required();
    single(*c, "--model", "MODEL", kModelHelp, Kind::text);
    single(*c, "--profiles", "PROFILES", kProfilesHelp, Kind::path);
    c->footer(kJudgeFooter);
  }
  {
    CLI::App* c =
        root->add_subcommand("eval", "Run a judgment over `{ state, expected }` rows and report accuracy");
    positional(*c, "FILE", "The `.zem` file the judgment lives in", Kind::path);
    positional(*c, "JUDGMENT", "Which judgment", Kind::text);
    single(*c, "--cases", "CASES", "A JSONL file of `{ state, expected }` rows", Kind::path)->required();
    single(*c, "--model", "MODEL", kModelHelp, Kind::text);
    single(*c, "--profiles", "PROFILES", "A profiles file to layer over bundled and environment profiles",
           Kind::path);
  }
  {
    CLI::App* c = root->add_subcommand("run", "Run `main`, answering pauses on the terminal");
    positional(*c, "FILE", "The `.zem` file to run", Kind::path);
    single(*c, "--input", "INPUT", "The inputs, as JSON", Kind::text);
    single(*c, "--record", "RECORD", "A new path to create for the recording; existing files are refused",
           Kind::path);
    flag(*c, "--redact", "Store a hash and a token count instead of payloads");
    flag(*c, "--sample",
         "Draw labels and levels from Zem's distribution instead of taking the argmax (spec section 6.11)");
    single(*c, "--profiles", "PROFILES", kProfilesHelp, Kind::path);
    repeated(*c, "--path", "DIR",
             "A module search root for `use` paths that are not relative. Repeat for more than one (spec "
             "section 3.9)",
             Kind::path);
    repeated(*c, "--bind", "NAME=COMMAND",
             "Bind a capability to a persistent JSONL subprocess (NAME=COMMAND)", Kind::text);
    repeated(*c, "--stub", "NAME", "Bind a declared capability to a visible built-in demonstration stub",
             Kind::text);
  }
  {
    CLI::App* c = root->add_subcommand("replay", "Replay a recording with no model calls");
    positional(*c, "RECORDING", "The recording to replay", Kind::path);
  }
  root->add_subcommand("serve", "The JSON-RPC stdio server the SDKs use");
  {
    CLI::App* c =
        root->add_subcommand("setup", "Install the bundled coding-agent Skill offline (spec section 11.6)");
    repeated(*c, "--agent", "AGENTS", with_value_help("Agent to install for; repeat for multiple agents"),
             Kind::text)
        ->check(agent_value())
        ->required();
    CLI::Option* global = flag(*c, "--global", "Install into the current user's home instead of a project");
    flag(*c, "--copy", "Make independent copies instead of links at agent paths");
    single(*c, "--project", "PROJECT", "Existing project directory (defaults to the current directory)",
           Kind::path)
        ->excludes(global);
  }
  root->add_subcommand("lsp", "The language server for editors, speaking LSP over stdio");
  {
    CLI::App* c = root->add_subcommand("help", "Print this message or the help of the given subcommand");
    value_option(*c, "SUBCOMMAND", "The subcommand whose help to show")->type_name("");
  }
  return root;
}

// "dravelin run": the words that select `app`, as its usage line and help hint name it.
std::string command_path(const CLI::App& app) {
  if (app.get_parent() == nullptr) return app.get_name();
  return command_path(*app.get_parent()) + " " + app.get_name();
}

std::string help_page(const CLI::App& app) {
  return app.get_formatter()->make_help(&app, command_path(app), CLI::AppFormatMode::Normal);
}

ParseExit usage_error(const CLI::App& app, const std::string& message) {
  const std::string path = command_path(app);
  std::string text = "error: " + message + "\n\n";
  const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
  text += formatter ? formatter->make_usage(&app, path) : CLI::Formatter{}.make_usage(&app, path);
  text += "\nFor more information, try '" + path + " --help'.\n";
  return ParseExit{kUsageStatus, "", std::move(text)};
}

// The innermost subcommand the parser entered; errors and help requests belong to it.
const CLI::App& innermost(const CLI::App& root) {
  const CLI::App* app = &root;
  while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
  return *app;
}

const CLI::App* subcommand_named(const CLI::App& root, const std::string& name) {
  for (const CLI::App* sub : root.get_subcommands([](const CLI::App*) { return true; }))
    if (sub->get_name() == name) return sub;
  return nullptr;
}

bool is_long_option(const std::string& word) {
  // The same test CLI11 applies: "--" and a character that can begin an option name.
  return word.size() > 2 && word.compare(0, 2, "--") == 0 &&
         std::string_view("-! \n").find(word[2]) == std::string_view::npos;
}

// Readies the words for CLI11, applying the rules it cannot be told to apply:
// - a word in subcommand position that names no subcommand is refused by name (CLI11 would only say
//   that a subcommand is required);
// - a flag given a value with "=" is refused (CLI11 reads `--redact=true` as the flag itself);
// - `--option=value` becomes `--option` `value`, so that an empty joined value stays an empty value
//   (CLI11 would take the next word instead).
// The walk follows how CLI11 takes an option's value: the next word, whatever it looks like.
Result<std::vector<std::string>, ParseExit> prepare_words(const CLI::App& root,
                                                          const std::vector<std::string>& words) {
  std::vector<std::string> ready;
  ready.reserve(words.size() + 4);
  const CLI::App* app = &root;
  size_t i = 0;
  for (; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--") break;  // every word after it is a value
    if (is_long_option(word)) {
      const size_t eq = word.find('=');
      const std::string name = word.substr(0, eq);
      const CLI::Option* opt = app->get_option_no_throw(name);
      if (opt == nullptr) {  // CLI11 reports unknown options
        ready.push_back(word);
      } else if (opt->get_items_expected_max() == 0) {
        if (eq != std::string::npos) return err(usage_error(*app, "the flag " + name + " takes no value"));
        ready.push_back(word);
      } else {
        ready.push_back(name);
        if (eq != std::string::npos) {
          ready.push_back(word.substr(eq + 1));
        } else if (i + 1 < words.size()) {
          ready.push_back(words[++i]);
        }
      }
      continue;
    }
    ready.push_back(word);
    if (word.size() > 1 && word[0] == '-') continue;  // short options are all flags
    if (app == &root) {
      app = subcommand_named(root, word);
      if (app == nullptr) return err(usage_error(root, "unrecognized subcommand '" + word + "'"));
    }
  }
  ready.insert(ready.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
  return ready;
}

// Reads a parsed subcommand's values back. A required value that is absent can only come from a fault
// in the definition; it is reported as the usage error it would have been.
class Reader {
 public:
  explicit Reader(const CLI::App& app) : app_(app) {}

  std::string required(const std::string& name, const char* field) {
    const std::vector<std::string>* values = results(name);
    if (values == nullptr || values->empty()) {
      if (!missing_) missing_ = field;
      return {};
    }
    return values->front();
  }

  std::optional<std::string> optional(const std::string& name) const {
    const std::vector<std::string>* values = results(name);
    if (values == nullptr || values->empty()) return std::nullopt;
    return values->front();
  }

  std::optional<std::filesystem::path> optional_path(const std::string& name) const {
    auto value = optional(name);
    if (!value) return std::nullopt;
    return std::filesystem::path(*value);
  }

  std::vector<std::string> list(const std::string& name) const {
    const std::vector<std::string>* values = results(name);
    return values == nullptr ? std::vector<std::string>{} : *values;
  }

  bool flag(const std::string& name) const {
    const CLI::Option* opt = app_.get_option_no_throw(name);
    return opt != nullptr && opt->count() > 0;
  }

  void require_nonempty(bool present, const char* field) {
    if (!present && !missing_) missing_ = field;
  }

  const std::optional<std::string>& missing() const { return missing_; }

 private:
  const std::vector<std::string>* results(const std::string& name) const {
    const CLI::Option* opt = app_.get_option_no_throw(name);
    return opt == nullptr ? nullptr : &opt->results();
  }

  const CLI::App& app_;
  std::optional<std::string> missing_;
};

std::vector<std::filesystem::path> to_paths(const std::vector<std::string>& values) {
  return {values.begin(), values.end()};
}

Command read_command(const std::string& name, Reader& r) {
  if (name == "compile") return Compile{r.required("FILE", "file")};
  if (name == "check") return Check{r.required("FILE", "file"), r.optional_path("--tools")};
  if (name == "judge") {
    return Judge{r.required("FILE", "file"), r.required("JUDGMENT", "judgment"),
                 r.required("--state", "state"), r.optional("--model"), r.optional_path("--profiles")};
  }
  if (name == "eval") {
    return Eval{r.required("FILE", "file"), r.required("JUDGMENT", "judgment"),
                r.required("--cases", "cases"), r.optional("--model"), r.optional_path("--profiles")};
  }
  if (name == "run") {
    Run run;
    run.file = r.required("FILE", "file");
    run.input = r.optional("--input");
    run.record = r.optional_path("--record");
    run.redact = r.flag("--redact");
    run.sample = r.flag("--sample");
    run.profiles = r.optional_path("--profiles");
    run.paths = to_paths(r.list("--path"));
    run.bindings = r.list("--bind");
    run.stubs = r.list("--stub");
    return run;
  }
  if (name == "replay") return Replay{r.required("RECORDING", "recording")};
  if (name == "serve") return Serve{};
  if (name == "setup") {
    Setup setup;
    for (const std::string& value : r.list("--agent"))
      if (auto agent = agent_named(value)) setup.agents.push_back(*agent);
    r.require_nonempty(!setup.agents.empty(), "agents");
    setup.global = r.flag("--global");
    setup.copy = r.flag("--copy");
    setup.project = r.optional_path("--project");
    return setup;
  }
  return Lsp{};
}

ParseOutcome parse_with(CLI::App& root, const std::vector<std::string>& words) {
  if (words.empty()) return ParseExit{kUsageStatus, "", help_page(root)};
  auto ready = prepare_words(root, words);
  if (!ready) return std::move(ready).error();

  try {
    std::vector<std::string> reversed(ready->rbegin(), ready->rend());
    root.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return ParseExit{0, help_page(innermost(root)), ""};
  } catch (const CLI::CallForVersion& e) {
    return ParseExit{0, std::string(e.what()) + "\n", ""};
  } catch (const CLI::Error& e) {
    return usage_error(innermost(root), e.what());
  }

  const CLI::App& sub = innermost(root);
  if (&sub == &root) return usage_error(root, "a subcommand is required");
  if (sub.get_name() == "help") {
    const CLI::Option* topic = sub.get_option_no_throw("SUBCOMMAND");
    if (topic == nullptr || topic->count() == 0) return ParseExit{0, help_page(root), ""};
    const std::string& name = topic->results().front();
    const CLI::App* target = subcommand_named(root, name);
    if (target == nullptr) return usage_error(sub, "unrecognized subcommand '" + name + "'");
    return ParseExit{0, help_page(*target), ""};
  }

  Reader reader(sub);
  Command command = read_command(sub.get_name(), reader);
  if (reader.missing()) {
    return usage_error(sub, "the following required argument was not provided: " + *reader.missing());
  }
  return Cli{std::move(command)};
}

std::string program_name(const std::vector<std::string>& argv) {
  if (argv.empty()) return kProgram;
  const std::string& first = argv.front();
  const size_t slash = first.find_last_of('/');
  std::string base = slash == std::string::npos ? first : first.substr(slash + 1);
  return base.empty() ? std::string(kProgram) : base;
}

}  // namespace

ParseOutcome parse_cli(std::vector<std::string> argv) {
  try {
    std::unique_ptr<CLI::App> root = build_cli_command(program_name(argv));
    std::vector<std::string> words;
    if (!argv.empty())
      words.assign(std::make_move_iterator(argv.begin() + 1), std::make_move_iterator(argv.end()));
    return parse_with(*root, words);
  } catch (const std::exception& e) {
    // Only a fault in the definition itself gets here; it must still not escape as an exception.
    return ParseExit{1, "", std::string(kProgram) + ": " + e.what() + "\n"};
  }
}

}  // namespace dravelin::cli

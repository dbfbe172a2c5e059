#include "cli/command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravelin::cli {
namespace {

ParseOutcome parse(std::vector<std::string> words, std::string program = "dravelin") {
  words.insert(words.begin(), std::move(program));
  return parse_cli(std::move(words));
}

ParseExit exit_of(const ParseOutcome& outcome) {
  if (const ParseExit* exit = std::get_if<ParseExit>(&outcome)) return *exit;
  ADD_FAILURE() << "the parse was accepted";
  return {};
}

std::string help_of(std::vector<std::string> words) {
  ParseExit exit = exit_of(parse(std::move(words)));
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
  return exit.out;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

// ---- accepted command lines ----

struct Accepted {
  std::vector<std::string> words;
  Command expected;
};

Run run_of(std::string file) {
  Run run;
  run.file = std::move(file);
  return run;
}

std::vector<Accepted> accepted_cases() {
  std::vector<Accepted> cases;
  cases.push_back({{"compile", "-"}, Compile{"-"}});
  cases.push_back({{"check", "a.zem"}, Check{"a.zem", std::nullopt}});
  cases.push_back({{"check", "a.zem", "--tools", "m.json"}, Check{"a.zem", "m.json"}});
  cases.push_back({{"check", "--tools=m.json", "a.zem"}, Check{"a.zem", "m.json"}});
  cases.push_back({{"judge", "a.zem", "tone", "--state", "{\"x\": 1}"},
                   Judge{"a.zem", "tone", "{\"x\": 1}", std::nullopt, std::nullopt}});
  cases.push_back({{"judge", "--model", "zem-2", "a.zem", "--profiles=p.json", "tone", "--state={}"},
                   Judge{"a.zem", "tone", "{}", "zem-2", "p.json"}});
  cases.push_back({{"eval", "a.zem", "tone", "--cases", "c.jsonl"},
                   Eval{"a.zem", "tone", "c.jsonl", std::nullopt, std::nullopt}});
  cases.push_back({{"replay", "r.jsonl"}, Replay{"r.jsonl"}});
  cases.push_back({{"serve"}, Serve{}});
  cases.push_back({{"lsp"}, Lsp{}});
  {
    Run run = run_of("a.zem");
    run.paths = {"a", "b", "a"};
    cases.push_back({{"run", "--path", "a", "a.zem", "--path=b", "--path", "a"}, run});
  }
  {
    Run run = run_of("-");
    run.input = "{}";
    run.record = "out.jsonl";
    run.redact = true;
    run.sample = true;
    run.profiles = "p.json";
    run.bindings = {"coder=./agent --fast", "reviewer=x=y"};
    run.stubs = {"reviewer", "reviewer"};
    cases.push_back({{"run", "--redact", "--bind", "coder=./agent --fast", "--stub", "reviewer", "-",
                      "--input", "{}", "--record=out.jsonl", "--sample", "--bind=reviewer=x=y", "--profiles",
                      "p.json", "--stub", "reviewer"},
                     run});
  }
  {
    // A value is the next word whatever it looks like, so this flag-with-value is only a value.
    Run run = run_of("a.zem");
    run.input = "--redact=yes";
    cases.push_back({{"run", "a.zem", "--input", "--redact=yes"}, run});
  }
  {
    // An empty joined value is an empty value, not a licence to take the next word.
    Run run = run_of("a.zem");
    run.input = "";
    cases.push_back({{"run", "--input=", "a.zem"}, run});
  }
  {
    // Value lists keep a bracketed word whole.
    Run run = run_of("a.zem");
    run.paths = {"[a,b]"};
    cases.push_back({{"run", "a.zem", "--path", "[a,b]"}, run});
  }
  cases.push_back({{"compile", "--", "--odd.zem"}, Compile{"--odd.zem"}});
  // A subcommand's name in a value position is a value.
  cases.push_back({{"compile", "help"}, Compile{"help"}});
  cases.push_back({{"replay", "run"}, Replay{"run"}});
  // Path values are taken byte for byte, valid UTF-8 or not.
  cases.push_back({{"compile", "caf\xe9.zem"}, Compile{"caf\xe9.zem"}});
  cases.push_back({{"judge", "\xff.zem", "tone", "--state", "{}", "--profiles", "\xfe"},
                   Judge{"\xff.zem", "tone", "{}", std::nullopt, "\xfe"}});
  cases.push_back({{"judge", "a.zem", "t\xc3\xa9", "--state", "\xef\xbf\xbd"},
                   Judge{"a.zem", "t\xc3\xa9", "\xef\xbf\xbd", std::nullopt, std::nullopt}});
  cases.push_back({{"setup", "--agent", "codex", "--agent", "codex"},
                   Setup{{SkillAgent::codex, SkillAgent::codex}, false, false, std::nullopt}});
  cases.push_back({{"setup", "--copy", "--agent=claude-code", "--project", "proj", "--agent", "codex"},
                   Setup{{SkillAgent::claude_code, SkillAgent::codex}, false, true, "proj"}});
  cases.push_back({{"setup", "--global", "--agent", "claude-code"},
                   Setup{{SkillAgent::claude_code}, true, false, std::nullopt}});
  return cases;
}

TEST(ParseCli, AcceptedCommandLinesYieldTheirRecord) {
  for (const Accepted& c : accepted_cases()) {
    SCOPED_TRACE(joined(c.words));
    ParseOutcome outcome = parse(c.words);
    const Cli* cli = std::get_if<Cli>(&outcome);
    if (cli == nullptr) {
      ADD_FAILURE() << "refused: " << std::get<ParseExit>(outcome).err;
      continue;
    }
    EXPECT_EQ(cli->command, c.expected);
  }
}

// ---- usage errors ----

struct Refused {
  std::vector<std::string> words;
  std::string usage;                  // the usage line the error must carry
  std::vector<std::string> mentions;  // texts the message must contain
};

std::vector<Refused> refused_cases() {
  return {
      {{"frobnicate", "a.zem"}, "Usage: dravelin [OPTIONS] SUBCOMMAND", {"frobnicate"}},
      {{"Compile", "a.zem"}, "Usage: dravelin [OPTIONS] SUBCOMMAND", {"Compile"}},
      {{"run", "a.zem", "--version"}, "Usage: dravelin run [OPTIONS] FILE", {"--version"}},
      {{"compile", "-V", "a.zem"}, "Usage: dravelin compile [OPTIONS] FILE", {"-V"}},
      {{"run", "--model", "m", "a.zem"}, "Usage: dravelin run [OPTIONS] FILE", {"--model"}},
      {{"judge", "a.zem", "tone"}, "Usage: dravelin judge [OPTIONS] FILE JUDGMENT", {"--state"}},
      {{"eval", "a.zem", "tone"}, "Usage: dravelin eval [OPTIONS] FILE JUDGMENT", {"--cases"}},
      {{"compile"}, "Usage: dravelin compile [OPTIONS] FILE", {"FILE"}},
      {{"judge", "a.zem", "--state", "{}"}, "Usage: dravelin judge [OPTIONS] FILE JUDGMENT", {"JUDGMENT"}},
      {{"setup"}, "Usage: dravelin setup [OPTIONS]", {"--agent"}},
      {{"setup", "--global", "--copy"}, "Usage: dravelin setup [OPTIONS]", {"--agent"}},
      {{"setup", "--agent", "codex,claude-code"}, "Usage: dravelin setup [OPTIONS]", {"codex, claude-code"}},
      {{"setup", "--agent", "Codex"}, "Usage: dravelin setup [OPTIONS]", {"codex, claude-code"}},
      {{"setup", "--agent", "codex", "--global", "--project", "p"},
       "Usage: dravelin setup [OPTIONS]",
       {"--global", "--project"}},
      {{"run", "--redact", "a.zem", "--redact"}, "Usage: dravelin run [OPTIONS] FILE", {"--redact"}},
      {{"run", "--record", "a", "--record", "b", "a.zem"},
       "Usage: dravelin run [OPTIONS] FILE",
       {"--record"}},
      {{"check", "a.zem", "--tools", "m", "--tools=m"}, "Usage: dravelin check [OPTIONS] FILE", {"--tools"}},
      {{"setup", "--agent", "codex", "--copy", "--copy"}, "Usage: dravelin setup [OPTIONS]", {"--copy"}},
      {{"run", "--redact=yes", "a.zem"}, "Usage: dravelin run [OPTIONS] FILE", {"--redact"}},
      {{"run", "--sample=true", "a.zem"}, "Usage: dravelin run [OPTIONS] FILE", {"--sample"}},
      {{"setup", "--agent", "codex", "--global="}, "Usage: dravelin setup [OPTIONS]", {"--global"}},
      {{"judge", "a.zem", "\xff", "--state", "{}"},
       "Usage: dravelin judge [OPTIONS] FILE JUDGMENT",
       {"JUDGMENT"}},
      {{"judge", "a.zem", "tone", "--state", "{\"a\": \"\xc0\xaf\"}"},
       "Usage: dravelin judge [OPTIONS] FILE JUDGMENT",
       {"--state", "UTF-8"}},
      {{"run", "a.zem", "--bind", "x=\xed\xa0\x80"},
       "Usage: dravelin run [OPTIONS] FILE",
       {"--bind", "UTF-8"}},
      {{"compile", "a.zem", "b.zem"}, "Usage: dravelin compile [OPTIONS] FILE", {"b.zem"}},
      {{"serve", "x"}, "Usage: dravelin serve", {"x"}},
      {{"run", "a.zem", "--input"}, "Usage: dravelin run [OPTIONS] FILE", {"--input"}},
      {{"help", "frobnicate"}, "Usage: dravelin help", {"frobnicate"}},
  };
}

TEST(ParseCli, UsageErrorsEndWithStatusTwoOnStderr) {
  for (const Refused& c : refused_cases()) {
    SCOPED_TRACE(joined(c.words));
    ParseExit exit = exit_of(parse(c.words));
    EXPECT_EQ(exit.status, 2);
    EXPECT_EQ(exit.out, "");
    EXPECT_NE(exit.err.find(c.usage), std::string::npos) << exit.err;
    EXPECT_NE(exit.err.find("--help"), std::string::npos) << exit.err;
    for (const std::string& text : c.mentions) EXPECT_NE(exit.err.find(text), std::string::npos) << exit.err;
  }
}

TEST(ParseCli, NoArgumentsShowsTheRootHelpAsAUsageError) {
  ParseExit exit = exit_of(parse({}));
  EXPECT_EQ(exit.status, 2);
  EXPECT_EQ(exit.out, "");
  EXPECT_EQ(exit.err, help_of({"--help"}));
  // Even with no program name at all.
  EXPECT_EQ(exit_of(parse_cli({})).status, 2);
}

// ---- help and version ----

TEST(ParseCli, VersionOnTheRootOnly) {
  for (const char* word : {"--version", "-V"}) {
    ParseExit exit = exit_of(parse({word}));
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.out, "dravelin 0.1.2\n");
    EXPECT_EQ(exit.err, "");
  }
  // The version names the program, not the file it was started as.
  EXPECT_EQ(exit_of(parse({"-V"}, "/opt/bin/dz")).out, "dravelin 0.1.2\n");
}

TEST(ParseCli, EveryWayOfAskingForHelpGivesTheSamePage) {
  const std::string root = help_of({"--help"});
  EXPECT_EQ(help_of({"-h"}), root);
  EXPECT_EQ(help_of({"help"}), root);
  for (const std::string sub :
       {"compile", "check", "judge", "eval", "run", "replay", "serve", "setup", "lsp"}) {
    SCOPED_TRACE(sub);
    const std::string page = help_of({sub, "--help"});
    EXPECT_NE(page.find("Usage: dravelin " + sub), std::string::npos) << page;
    EXPECT_EQ(help_of({sub, "-h"}), page);
    EXPECT_EQ(help_of({"help", sub}), page);
    EXPECT_NE(page, root);
  }
  // Help wins over a missing required argument.
  EXPECT_EQ(help_of({"judge", "-h"}), help_of({"judge", "--help"}));
}

TEST(ParseCli, UsageLinesNameTheProgramByItsFileName) {
  ParseExit exit = exit_of(parse({"frobnicate"}, "/usr/local/bin/dz"));
  EXPECT_NE(exit.err.find("Usage: dz [OPTIONS] SUBCOMMAND"), std::string::npos) << exit.err;
  ParseExit help = exit_of(parse({"run", "--help"}, "./tools/dz"));
  EXPECT_NE(help.out.find("Usage: dz run [OPTIONS] FILE"), std::string::npos) << help.out;
}

TEST(ParseCli, RootHelpListsTheSubcommandsInOrder) {
  const std::string page = help_of({"--help"});
  EXPECT_EQ(page.rfind("The dravelin command-line tool\n", 0), 0u) << page;
  const std::vector<std::pair<std::string, std::string>> subcommands = {
      {"compile", "Emit the IR as JSON to stdout, or the compile errors to stderr"},
      {"check", "Compile and report warnings and errors without emitting IR"},
      {"judge", "Run one judgment against a state and print the answers"},
      {"eval", "Run a judgment over `{ state, expected }` rows and report accuracy"},
      {"run", "Run `main`, answering pauses on the terminal"},
      {"replay", "Replay a recording with no model calls"},
      {"serve", "The JSON-RPC stdio server the SDKs use"},
      {"setup", "Install the bundled coding-agent Skill offline (spec section 11.6)"},
      {"lsp", "The language server for editors, speaking LSP over stdio"},
  };
  size_t at = 0;
  for (const auto& [name, help] : subcommands) {
    const size_t found = page.find("  " + name + " ", at);
    ASSERT_NE(found, std::string::npos) << name << "\n" << page;
    const size_t end = page.find('\n', found);
    EXPECT_NE(page.substr(found, end - found).find(help), std::string::npos) << name;
    at = end;
  }
  EXPECT_NE(page.find("-V,--version"), std::string::npos);
}

struct HelpPage {
  std::string sub;
  std::vector<std::string> texts;
};

TEST(ParseCli, SubcommandHelpPagesCarryTheProgramsTexts) {
  const std::string kBundled = "A profiles file to layer over the bundled ones (spec section 10.6)";
  const std::string kModel = "A Zem model id, which also selects the model profile";
  const std::vector<HelpPage> pages = {
      {"compile",
       {"Emit the IR as JSON to stdout, or the compile errors to stderr\n", "FILE",
        "The `.zem` file to compile"}},
      {"check",
       {"Compile and report warnings and errors without emitting IR\n", "The `.zem` file to check",
        "--tools manifest.json",
        "A tool adapter manifest to check every tool verb against, the same comparison `task.start` makes at "
        "bind time (spec section 9.4)"}},
      {"judge",
       {"Run one judgment against a state and print the answers\n", "The `.zem` file the judgment lives in",
        "JUDGMENT", "Which judgment", "--state STATE", "The state, as JSON", "--model MODEL", kModel,
        "--profiles PROFILES", kBundled,
        "\nReads VELTRANE_API_KEY. Model profiles come from the bundle, DRAVELIN_PROFILES, or "
        "--profiles.\n"}},
      {"eval",
       {"Run a judgment over `{ state, expected }` rows and report accuracy\n",
        "The `.zem` file the judgment lives in", "Which judgment", "--cases CASES",
        "A JSONL file of `{ state, expected }` rows", "--model MODEL", kModel, "--profiles PROFILES",
        "A profiles file to layer over bundled and environment profiles"}},
      {"run",
       {"Run `main`, answering pauses on the terminal\n", "The `.zem` file to run", "--input INPUT",
        "The inputs, as JSON", "--record RECORD",
        "A new path to create for the recording; existing files are refused", "--redact",
        "Store a hash and a token count instead of payloads", "--sample",
        "Draw labels and levels from Zem's distribution instead of taking the argmax (spec section 6.11)",
        "--profiles PROFILES", kBundled, "--path DIR",
        "A module search root for `use` paths that are not relative. Repeat for more than one (spec section "
        "3.9)",
        "--bind NAME=COMMAND", "Bind a capability to a persistent JSONL subprocess (NAME=COMMAND)",
        "--stub NAME", "Bind a declared capability to a visible built-in demonstration stub"}},
      {"replay", {"Replay a recording with no model calls\n", "RECORDING", "The recording to replay"}},
      {"serve", {"The JSON-RPC stdio server the SDKs use\n"}},
      {"setup",
       {"Install the bundled coding-agent Skill offline (spec section 11.6)\n", "--agent AGENTS",
        "Agent to install for; repeat for multiple agents", "--global",
        "Install into the current user's home instead of a project", "--copy",
        "Make independent copies instead of links at agent paths", "--project PROJECT",
        "Existing project directory (defaults to the current directory)"}},
      {"lsp", {"The language server for editors, speaking LSP over stdio\n"}},
  };
  for (const HelpPage& p : pages) {
    SCOPED_TRACE(p.sub);
    const std::string page = help_of({p.sub, "--help"});
    // The one-line help is the whole description: it opens the page.
    EXPECT_EQ(page.rfind(p.texts.front(), 0), 0u) << page;
    for (const std::string& text : p.texts)
      EXPECT_NE(page.find(text), std::string::npos) << text << "\n" << page;
    if (p.sub != "judge") {
      EXPECT_EQ(page.find("VELTRANE_API_KEY"), std::string::npos);
    }
  }
  // The judge's closing paragraph comes after the options.
  const std::string judge = help_of({"judge", "--help"});
  EXPECT_LT(judge.find("--profiles PROFILES"), judge.find("Reads VELTRANE_API_KEY."));
}

TEST(ParseCli, SetupHelpListsEachAgentWithItsHelpLine) {
  const std::string page = help_of({"setup", "--help"});
  auto line_of = [&](const std::string& value) {
    const size_t start = page.find("  " + value + " ");
    if (start == std::string::npos) return std::string{};
    return page.substr(start, page.find('\n', start) - start);
  };
  EXPECT_NE(line_of("codex").find("Codex discovers project Skills under `.agents/skills`"), std::string::npos)
      << page;
  EXPECT_NE(line_of("claude-code").find("Claude Code discovers Skills under `.claude/skills`"),
            std::string::npos)
      << page;
  EXPECT_LT(page.find("  codex "), page.find("  claude-code "));
}

}  // namespace
}  // namespace dravelin::cli

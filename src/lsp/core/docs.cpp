#include "lsp/core/docs.h"

#include <algorithm>
#include <array>

namespace dravelin::lsp {
namespace {

struct KeywordRow {
  std::string_view keys[3];  // unused places stay empty
  DocEntry entry;
};

// The reserved words and the contextual words, in the order of their first key; keys that share a row share
// one entry.
const KeywordRow kKeywords[] = {
    {{"program"},
     {"program <name>", "Names the program; hosts load it by this name. A source file holds exactly one program.",
      "3.1"}},
    {{"use"},
     {"use \"<path>\" as <alias> with <mapping>",
      "Imports another `.zem` file as a module. Its exported units are reached as `<alias>.<name>`; every `needs` of "
      "the library must be mapped in `with`.",
      "3.9"}},
    {{"in"},
     {"in <name>: <shape>",
      "At the top level, declares an immutable input the host supplies when a task starts. In `for x in xs` it "
      "separates the loop variable, and in `spawn in <handle>` it is a named argument.",
      "3.2"}},
    {{"out"},
     {"out <name>",
      "Declares an output. A task assigns it, and the run's `done` pause carries every declared output; one never "
      "assigned is `none`.",
      "3.3"}},
    {{"needs"},
     {"needs <name>: agent | person | llm | tool",
      "Declares a capability the host binds. Its kind fixes which verbs the compiler accepts; capability names cannot "
      "be reassigned.",
      "3.4"}},
    {{"judgment"},
     {"judgment <name>(<param>, ...):",
      "A named block of judgment assignments over its parameters, which are the state Zem sees. It compiles to exactly "
      "one request and cannot call capabilities or loop.",
      "6.7"}},
    {{"task"},
     {"task <name>(<param>, ...) budget ... thresholds ...:",
      "A block that can observe, judge, gate and act. `main` is the entry point and takes no parameters; other tasks "
      "are called like functions under the caller's remaining budget.",
      "7"}},
    {{"def"},
     {"def <name>(<param>, <param> = <default>, ...):",
      "A helper without capability calls, gates or pauses. It may judge, and it may recurse up to the runtime's depth "
      "limit.",
      "8"}},
    {{"machine"},
     {"machine <name>(<param>, ...) budget ... thresholds ...:",
      "A state machine. At every step Zem picks one of exactly the enabled events, plus `stay`; guards and actions are "
      "code.",
      "7.8"}},
    {{"return"},
     {"return <expr>?",
      "Leaves the current def or task. A caller receives the value; a host-started task reports its `out` values "
      "instead.",
      "5.6"}},
    {{"feels"},
     {"<subject> feels \"<condition>\"",
      "Asks a yes/no question. Returns a `prob`: the probability the condition holds. Near 0.5 means unsure, not "
      "\"somewhat\".",
      "6.2"}},
    {{"pick"},
     {"<subject> pick:\n  <label> \"<description>\"\n  ...\n  other",
      "Asks Zem to choose one labelled description. Two to eight labels, exactly one bare `other` or `none`. Returns a "
      "`choice`; test it with `c is <label>`.",
      "6.3"}},
    {{"rate"},
     {"<subject> rate:\n  [<name>] \"<situation>\"\n  ...",
      "Places the subject on a spectrum of two to ten standalone situations, low to high. Returns a `level`; named "
      "levels allow `l is <name>`.",
      "6.4"}},
    {{"each"},
     {"each <list> feels | pick | rate ...",
      "Asks the same question once per element, in one request, and returns the answers in order.", "6.5"}},
    {{"other"},
     {"other", "The escape label of a `pick`, written bare. Zem chooses it when no other description fits.", "6.3"}},
    {{"among"},
     {"<list> pick among \"<question>\":",
      "Chooses one element of a runtime list. Returns a `choice` with `index` and `item`. Cannot be combined with "
      "`each`.",
      "6.4a"}},
    {{"on"},
     {"on <event> \"<description>\" -> <state> [when <expr>] [risky]",
      "Declares a machine event enabled in the enclosing state. In `focus <text> on \"<purpose>\"` it names the "
      "purpose.",
      "7.8"}},
    {{"shape"},
     {"<name> = shape [strict]:\n  <field> <expr>, max <tokens>",
      "Builds a record whose fields are token-capped. An overflow keeps the head (or `tail`) and warns; `shape strict` "
      "makes it an error pause.",
      "7.2"}},
    {{"focus"},
     {"focus <text> on \"<purpose>\", max <tokens>",
      "Reduces a text to the parts relevant to a purpose, using Zem recursively until it fits. In a detail block, "
      "`focus` says what to look at within the subject.",
      "7.3"}},
    {{"trail"},
     {"trail <n>",
      "The last n step records of the enclosing task, oldest first. The runtime writes them from its own calls, so no "
      "agent can steer them.",
      "7.5"}},
    {{"max"},
     {"max <n>",
      "A bound: the iteration cap of `loop` and `until`, a token cap in `shape` and `focus`, or the step limit of a "
      "machine call. As a function, `max(xs)` is the largest number.",
      "5.5"}},
    {{"state"},
     {"state <name>: | state <name> done",
      "Declares a machine state and the events enabled in it. A `done` state is terminal.", "7.8"}},
    {{"when"},
     {"on ... -> <state> when <expr>",
      "A code guard. A false guard removes the event from what Zem sees; a guarded entry into a terminal state is what "
      "makes a machine's result `verified`.",
      "7.8"}},
    {{"stay"},
     {"stay",
      "The label every machine Choice carries after the enabled events: nothing in the observation calls for a "
      "transition yet.",
      "7.8"}},
    {{"initial"}, {"initial <state>", "The machine's first state. Without it, the first state declared.", "7.8"}},
    {{"until"},
     {"until <cond>, max <n>: | until verify(<cond>), max <n>:",
      "Runs the body until the condition is true, at most n times. The condition is checked before each iteration and "
      "once after the last.",
      "5.5"}},
    {{"loop"},
     {"loop max <n>:", "A loop with a fixed upper bound and no condition. There is no unbounded loop.", "5.5"}},
    {{"for"},
     {"for <name>[, <name>] in <list>:",
      "Iterates a list. Also the loop of a comprehension: `[x for x in xs if cond]`.", "5.5"}},
    {{"if", "elif", "else"},
     {"if <cond>: ... elif <cond>: ... else: ...",
      "A conditional. `cond` is an ordinary expression; an inline judgment is an assignment, not a condition.", "5.4"}},
    {{"and", "or", "not"},
     {"<a> and <b> | <a> or <b> | not <a>", "Boolean operators, lowest precedence: `or`, then `and`, then `not`.",
      "5.1"}},
    {{"is"}, {"<choice> is <label>", "Compares a `choice` or a named `level` against a bare label.", "4.3"}},
    {{"continue", "break"},
     {"continue | break", "Loop control, as in Python. Outside a loop it is `loop_control_outside`.", "5.5"}},
    {{"stop"},
     {"stop \"<reason>\"",
      "Ends the run with a terminal `stopped` pause. As a gate arm, the verdict when confidence is below "
      "`stop_confidence`; on a handle, `.stop` stops the agent.",
      "5.6"}},
    {{"escalate"},
     {"escalate \"<reason>\"", "Ends the run with an `escalate` pause the host may resume. Also a gate verdict.",
      "5.6"}},
    {{"gate"},
     {"gate risk <prob>, confidence <number>, done <prob>?:\n  proceed -> ...\n  confirm -> ...\n  escalate -> ...\n  "
      "stop -> ...",
      "Turns judgments into a verdict using the task's thresholds, then runs that verdict's arm. `risk` and "
      "`confidence` are required.",
      "7.6"}},
    {{"proceed"}, {"proceed -> <statements>", "The gate verdict when no threshold is crossed.", "7.6"}},
    {{"confirm"}, {"confirm -> <statements>", "The gate verdict when `risk >= risk_confirm`.", "7.6"}},
    {{"budget"},
     {"budget calls <n>, minutes <n>, usd <n>, steps <n>",
      "A task's or machine's limits. Exceeding one pauses with `budget`. `calls` defaults to 50; a callee never widens "
      "its caller's remainder.",
      "7.1"}},
    {{"true", "false"}, {"true | false", "The two `bool` values.", "4"}},
    {{"none"},
     {"none", "The absent value. In a `pick`, the bare escape label; in `pick among`, allows choosing nothing.", "4"}},
    {{"log"},
     {"log <level> <expr> { <field>, <field>: <expr>, ... }",
      "Records one line in the run's recording at a level (`debug`, `info`, `warn`, `error`) and evaluates to the "
      "expression's value unchanged. It never reaches Zem, never counts against a budget and never changes control "
      "flow.",
      "5.8"}},
    {{"verify"},
     {"until verify(<cond>), max <n>:",
      "Marks the condition whose satisfaction the task reports: `done.verified` is true only if it held at the end. "
      "Once per task, directly in the task body.",
      "7.4"}},
    {{"goal"}, {"goal \"<text>\"", "The machine's goal, sent to Zem on every step.", "7.8"}},
    {{"observe"},
     {"observe:\n  <field> <expr>, max <tokens>",
      "Evaluated before every machine step, exactly as `shape`, and bound to `obs` in guards and actions. On an agent "
      "handle, `.observe` returns an observation record.",
      "7.8"}},
    {{"risky"}, {"on ... -> <state> risky", "The machine's gate sees `risk` 1 for this event instead of 0.", "7.8"}},
    {{"done"},
     {"state <name> done | gate ..., done <prob>",
      "Marks a terminal machine state. In a `gate`, the optional probability that the goal is done.", "7.8"}},
    {{"with"},
     {"use ... with <inner>[: <outer>], ...",
      "Binds a library's `needs` to this program's capabilities. Nothing is bound implicitly, and kinds must match.",
      "3.9"}},
    {{"as"},
     {"use \"<path>\" as <alias>", "Names the module a `use` imports. An alias cannot be a reserved word.", "3.9"}},
    {{"sample"},
     {"sample true | false",
      "Draw the label or level from Zem's distribution instead of taking the argmax. `feels` is never sampled.",
      "6.11"}},
    {{"using"},
     {"<llm>.write \"<instruction>\" using <value>",
      "Forwards a value to the `llm` adapter alongside the instruction, as the named `using` argument.", "9.3"}},
    {{"prompt"}, {"<agent>.spawn in <handle>?, prompt <text>", "The prompt a spawned agent starts with.", "9.1"}},
    {{"above", "below"},
     {"count(<probs>, above <p>) | count(<probs>, below <p>)",
      "The strict threshold `count` compares each prob against.", "5.7"}},
    {{"by"},
     {"top(<items>, by <probs>, n <k>) | pick among ...: by <field>",
      "Which probs rank the items, or which field of each record Zem reads as the option's description.", "5.7"}},
    {{"thresholds"},
     {"thresholds risk_confirm <p>, min_confidence <p>, stop_confidence <p>, done <p>",
      "The thresholds every gate in the task reads. It is the only place policy thresholds live.", "7.6"}},
    {{"strict"}, {"shape strict:", "Makes a field overflow an `error` pause instead of a truncation.", "7.2"}},
    {{"tail"},
     {"<field> <expr>, max <tokens>, tail",
      "Keeps the last tokens of an overflowing `shape` field instead of the first. As a function, `tail(text, n)` is "
      "the last n characters.",
      "7.2"}},
};

struct NamedEntry {
  std::string_view key;
  DocEntry entry;
};

const NamedEntry kBuiltinsDocs[] = {
    {"len", {"len(x)", "Length of a list or text.", "5.7"}},
    {"max", {"max(xs)", "The largest of a list of numbers. An empty list gives `none`.", "5.7"}},
    {"min", {"min(xs)", "The smallest of a list of numbers. An empty list gives `none`.", "5.7"}},
    {"sum", {"sum(xs)", "Sum of a list of numbers.", "5.7"}},
    {"top", {"top(items, by probs, n k)", "The `k` items whose paired prob is highest, in descending order.", "5.7"}},
    {"now", {"now()", "Current time as ISO text. Recorded and replayed.", "5.7"}},
    {"zip", {"zip(xs, ys)", "A list of two-element lists pairing `xs` and `ys`, as long as the shorter.", "5.7"}},
    {"join", {"join(texts, sep)", "Concatenate texts with a separator. The default separator is a newline.", "5.7"}},
    {"head", {"head(text, n)", "The first `n` characters.", "5.7"}},
    {"tail", {"tail(text, n)", "The last `n` characters.", "5.7"}},
    {"hash", {"hash(x)", "A stable short hash of a value's text form.", "5.7"}},
    {"keys", {"keys(r)", "A record's keys as a list.", "5.7"}},
    {"text", {"text(x)", "Conversion to text.", "5.7"}},
    {"bool", {"bool(x)", "Conversion to a bool.", "5.7"}},
    {"count",
     {"count(probs, above p)", "Number of entries in a list of probs strictly above `p`. Also `below p`.", "5.7"}},
    {"split", {"split(text, sep)", "Split text on a separator into a list.", "5.7"}},
    {"lines", {"lines(text)", "Split on newlines.", "5.7"}},
    {"chunk", {"chunk(text, tokens n)", "Split text into pieces of at most `n` tokens on line boundaries.", "5.7"}},
    {"items", {"items(r)", "A record's entries as a list of pairs.", "5.7"}},
    {"tokens", {"tokens(x)", "The runtime's token estimate for a value's text form.", "5.7"}},
    {"random",
     {"random()", "A uniform number in [0, 1). The draw is recorded, and replay returns that exact value.", "5.7"}},
    {"values", {"values(r)", "A record's values as a list.", "5.7"}},
    {"number", {"number(x)", "Conversion to a number.", "5.7"}},
};

constexpr DocEntry kSpawn{"spawn in <handle>?, prompt <text>, ...",
                          "Starts an agent and returns its `handle`. Adapter-specific named arguments after `prompt` "
                          "pass through unchecked.",
                          "9.1"};

const NamedEntry kHandleMethodsDocs[] = {
    {"observe",
     {"<handle>.observe",
      "Returns an observation record: `status`, `last_message`, `tail`, `exit_code`, and whatever the "
      "adapter adds. `tail` and `last_message` are agent-written; shape before judging them.",
      "9.1"}},
    {"send", {"<handle>.send <text>", "Sends the agent a message.", "9.1"}},
    {"spawn", kSpawn},
    {"stop", {"<handle>.stop", "Stops the agent.", "9.1"}},
    {"wait",
     {"<handle>.wait idle, minutes <n>",
      "Waits for the agent to go idle and returns an observation record; pauses with `waiting`.", "9.1"}},
};

const NamedEntry kPersonVerbsDocs[] = {
    {"ask", {"ask <text>, options [<text>...]?", "Pauses with `confirm` and returns a `pause_result`.", "9.2"}},
    {"notify", {"notify <text>", "Sends without pausing.", "9.2"}},
    {"take_over", {"take_over", "Pauses with `escalate`.", "9.2"}},
};

constexpr DocEntry kLlmWrite{"write \"<instruction>\" using <value>?",
                             "Generates text. `using` is forwarded to the adapter as is; each `write` counts one call "
                             "against the task budget.",
                             "9.3"};

constexpr DocEntry kToolVerb{"<tool>.<verb> ...",
                             "A verb forwarded to the host adapter. Checked against a signature block if the `needs` "
                             "declares one, against the adapter's manifest at `task.start`, and otherwise at the call "
                             "(`verb_missing`).",
                             "9.4"};

const NamedEntry kLogLevelsDocs[] = {
    {"debug",
     {kLogLevelSignature, "The lowest `log` level: detail for whoever is debugging the program.", kLogLevelSection}},
    {"info", {kLogLevelSignature, "A `log` level for ordinary progress.", kLogLevelSection}},
    {"warn", {kLogLevelSignature, "A `log` level for something unexpected that the run survives.", kLogLevelSection}},
    {"error", {kLogLevelSignature, "The highest `log` level.", kLogLevelSection}},
};

// By NeedKind: agent, person, llm, tool.
const NamedEntry kCapabilityKindsDocs[] = {
    {"agent",
     {"agent",
      "Something that runs a task in the world over time and can be observed. Verbs: `spawn`, `observe`, "
      "`send`, `wait`, `stop`.",
      "9.1"}},
    {"person", {"person", "A human in the loop. Verbs: `ask`, `notify`, `take_over`.", "9.2"}},
    {"llm", {"llm", "A text generation model. Verb: `write`.", "9.3"}},
    {"tool",
     {"tool",
      "Anything else. Verbs are forwarded to the host adapter; a signature block makes the compiler check "
      "them.",
      "9.4"}},
};

constexpr std::array<std::string_view, 23> kBuiltinOrder = {
    "len",   "count", "max", "min",    "sum", "top",  "join",   "split", "lines", "head",   "tail", "tokens",
    "chunk", "hash",  "now", "random", "zip", "keys", "values", "items", "text",  "number", "bool"};

template <size_t N>
std::optional<DocEntry> find(const NamedEntry (&table)[N], std::string_view key) {
  for (const NamedEntry& row : table)
    if (row.key == key) return row.entry;
  return std::nullopt;
}

}  // namespace

std::optional<DocEntry> keyword_doc(std::string_view word) {
  for (const KeywordRow& row : kKeywords)
    for (std::string_view key : row.keys)
      if (!key.empty() && key == word) return row.entry;
  return std::nullopt;
}

std::optional<DocEntry> builtin_doc(std::string_view function) { return find(kBuiltinsDocs, function); }

std::optional<DocEntry> handle_method_doc(std::string_view method) { return find(kHandleMethodsDocs, method); }

std::optional<DocEntry> capability_verb_doc(syntax::NeedKind kind, std::string_view verb) {
  switch (kind) {
    case syntax::NeedKind::Agent:
      if (verb == "spawn") return kSpawn;
      return handle_method_doc(verb);
    case syntax::NeedKind::Person: return find(kPersonVerbsDocs, verb);
    case syntax::NeedKind::Llm:
      if (verb == "write") return kLlmWrite;
      return std::nullopt;
    case syntax::NeedKind::Tool: return kToolVerb;
  }
  return std::nullopt;
}

std::optional<std::string_view> log_level_doc(std::string_view level) {
  if (auto entry = find(kLogLevelsDocs, level)) return entry->documentation;
  return std::nullopt;
}

std::optional<DocEntry> capability_kind_doc(std::string_view kind) { return find(kCapabilityKindsDocs, kind); }

DocEntry capability_kind_doc(syntax::NeedKind kind) { return kCapabilityKindsDocs[static_cast<size_t>(kind)].entry; }

std::span<const std::string_view> builtin_functions() { return kBuiltinOrder; }

bool is_builtin_function(std::string_view name) {
  return std::find(kBuiltinOrder.begin(), kBuiltinOrder.end(), name) != kBuiltinOrder.end();
}

std::string hover_block(std::string_view signature, std::string_view documentation, std::string_view section) {
  std::string out = "```dravelin\n";
  out += signature;
  out += "\n```\n";
  out += documentation;
  out += "\n\n*Spec section ";
  out += section;
  out += ".*";
  return out;
}

std::string hover_block(const DocEntry& entry) {
  return hover_block(entry.signature, entry.documentation, entry.spec_section);
}

std::string completion_documentation(const DocEntry& entry) {
  return std::string(entry.documentation) + " " + section_note(entry.spec_section);
}

std::string section_note(std::string_view section) { return "*Spec section " + std::string(section) + ".*"; }

}  // namespace dravelin::lsp

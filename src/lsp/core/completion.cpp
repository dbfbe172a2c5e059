#include "lsp/core/completion.h"

#include <algorithm>
#include <set>
#include <utility>

#include "lsp/core/docs.h"
#include "lsp/core/text.h"
#include "syntax/utf8.h"

namespace dravelin::lsp {
namespace {

using Kind = CompletionItemKind;

constexpr std::string_view kDeclarationKeywords[] = {"program",  "use",  "in",  "out",    "needs",
                                                     "judgment", "task", "def", "machine"};
constexpr std::string_view kStatementKeywords[] = {
    "if",    "elif",     "else",     "for",   "in",    "loop",    "until",   "max",  "return",
    "stop",  "escalate", "continue", "break", "gate",  "proceed", "confirm", "and",  "or",
    "not",   "is",       "true",     "false", "none",  "each",    "feels",   "pick", "rate",
    "among", "other",    "shape",    "focus", "trail", "on",      "verify",  "log"};
constexpr std::string_view kAgentVerbs[] = {"spawn", "observe", "send", "wait", "stop"};
constexpr std::string_view kPersonVerbs[] = {"ask", "notify", "take_over"};
constexpr std::string_view kLlmVerbs[] = {"write"};
constexpr std::string_view kHandleMethods[] = {"observe", "send", "wait", "stop"};
constexpr std::string_view kLogLevels[] = {"debug", "info", "warn", "error"};
constexpr std::string_view kCapabilityKinds[] = {"agent", "person", "llm", "tool"};

struct FieldSet {
  std::string_view kind_word;
  std::string_view section;
  std::vector<std::string_view> fields;
};

const FieldSet kPickAmongResult{"choice", "6.4a", {"label", "confidence", "probabilities", "index", "item"}};
const FieldSet kPickResult{"choice", "6.3", {"label", "confidence", "probabilities"}};
const FieldSet kRateResult{"level", "6.4", {"level", "score", "normalized", "confidence", "probabilities"}};
const FieldSet kMachineResult{"machine result", "7.8", {"state", "steps", "done", "verified", "events"}};
const FieldSet kObservation{"observation", "9.1", {"status", "last_message", "tail", "exit_code"}};

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_ascii_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::vector<CompletionItem> field_items(const FieldSet& set) {
  std::vector<CompletionItem> out;
  for (std::string_view field : set.fields)
    out.push_back(CompletionItem{std::string(field), Kind::Field, std::string(set.kind_word) + " field",
                                 section_note(set.section), std::nullopt, std::nullopt});
  return out;
}

CompletionItem keyword_item(std::string_view word) {
  CompletionItem item{std::string(word), Kind::Keyword,           std::nullopt,
                      std::nullopt,      std::string("9").append(word), std::nullopt};
  if (auto entry = keyword_doc(word)) {
    item.detail = std::string(entry->signature);
    item.documentation = completion_documentation(*entry);
  }
  return item;
}

CompletionItem symbol_item(const DeclaredSymbol& symbol, Kind kind) {
  return CompletionItem{symbol.name, kind, symbol.detail, std::nullopt, std::nullopt, std::nullopt};
}

CompletionItem unit_item(const DeclaredSymbol& symbol) {
  return symbol_item(symbol,
                     static_cast<UnitKind>(symbol.sub_kind) == UnitKind::Machine ? Kind::Class : Kind::Function);
}

std::optional<CompletionItem> documented_item(std::string_view label, const std::optional<DocEntry>& entry) {
  if (!entry) return std::nullopt;
  return CompletionItem{
      std::string(label), Kind::Method, std::string(entry->signature), std::string(entry->documentation),
      std::nullopt,       std::nullopt};
}

CompletionItem log_level_item(std::string_view level) {
  std::optional<std::string> doc;
  if (auto text = log_level_doc(level)) doc = std::string(*text);
  return CompletionItem{std::string(level), Kind::EnumMember, std::string(kLogLevelSignature), doc,
                        std::nullopt,       std::nullopt};
}

// The pieces of a text split at white space and at the characters "(=[,{:"; the last one, where an empty last
// piece (after a final separator) is passed over once.
std::optional<std::string_view> last_piece(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::vector<std::string_view> pieces;
  size_t begin = 0;
  for (size_t i = 0; i < text.size();) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, i);
    const bool separator =
        is_white_space(c.code) ||
        (c.code < 0x80 && std::string_view("(=[,{:").find(static_cast<char>(c.code)) != std::string_view::npos);
    if (separator) {
      pieces.push_back(text.substr(begin, i - begin));
      begin = i + c.length;
    }
    i += c.length;
  }
  pieces.push_back(text.substr(begin));
  if (pieces.back().empty() && pieces.size() > 1) pieces.pop_back();
  return pieces.back();
}

// The items of one request, where a label met again is left out.
class ItemList {
 public:
  void add(CompletionItem item) {
    if (item.label == "_" || !labels_.insert(item.label).second) return;
    items_.push_back(std::move(item));
  }
  std::vector<CompletionItem> take() { return std::move(items_); }

 private:
  std::set<std::string> labels_;
  std::vector<CompletionItem> items_;
};

struct Context {
  World& world;
  AnalysisPtr working;
  const UnitScope* scope = nullptr;
};

const NameBinding* find_binding(const Context& c, std::string_view name, bool with_program_names) {
  if (c.scope != nullptr)
    if (auto found = c.scope->bindings.find(name); found != c.scope->bindings.end()) return &found->second;
  if (with_program_names)
    if (auto found = c.working->index->program_names.find(name); found != c.working->index->program_names.end())
      return &found->second;
  return nullptr;
}

std::optional<ResolvedSymbol> resolve_unit(Context& c, const std::vector<std::string>& path) {
  std::optional<ResolvedSymbol> unit = c.world.defining_document(c.working, ref::Unit{path});
  if (!unit || unit->declared().kind != DeclKind::Unit) return std::nullopt;
  return unit;
}

// The verbs written after `<name>.` anywhere in the text, in the order first met.
std::vector<std::string> verbs_in_text(std::string_view text, std::string_view name) {
  std::vector<std::string> out;
  const std::string needle = std::string(name) + ".";
  for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) {
    if (at > 0 && is_word_byte(text[at - 1])) continue;
    size_t end = at + needle.size();
    while (end < text.size() && is_word_byte(text[end])) ++end;
    if (end == at + needle.size()) continue;
    std::string verb(text.substr(at + needle.size(), end - at - needle.size()));
    if (std::find(out.begin(), out.end(), verb) == out.end()) out.push_back(std::move(verb));
  }
  return out;
}

std::vector<CompletionItem> after_dot(Context& c, const std::vector<std::string>& segments) {
  if (!c.working->index) return {};
  const SymbolIndex& index = *c.working->index;
  const size_t n = segments.size();
  std::vector<CompletionItem> out;
  if (const NameBinding* binding = find_binding(c, segments[0], true)) {
    if (const auto* result = std::get_if<shape::UnitResult>(&binding->shape)) {
      std::optional<ResolvedSymbol> unit = resolve_unit(c, result->unit);
      if (!unit) return {};
      const SymbolIndex& unit_index = *unit->analysis->index;
      const auto kind = static_cast<UnitKind>(unit->declared().sub_kind);
      if (n == 1 && kind == UnitKind::Machine) return field_items(kMachineResult);
      if (n == 1 && kind == UnitKind::Judgment) {
        for (SymbolId child : unit_index.children(unit->symbol))
          if (unit_index.symbols[child].kind == DeclKind::JudgmentResult)
            out.push_back(symbol_item(unit_index.symbols[child], Kind::Field));
        return out;
      }
      if (n == 2 && kind == UnitKind::Judgment) {
        if (auto child = unit_index.child_named(unit->symbol, segments[1]))
          return field_set_of_detail(unit_index.symbols[*child].detail);
      }
      return {};
    }
    if (const auto* record = std::get_if<shape::Record>(&binding->shape)) {
      if (n == 1)
        for (SymbolId field : record->fields) out.push_back(symbol_item(index.symbols[field], Kind::Field));
      return out;
    }
    if (const auto* record = std::get_if<shape::InputRecord>(&binding->shape)) {
      if (n == 1)
        for (SymbolId field : record->fields) out.push_back(symbol_item(index.symbols[field], Kind::Field));
      return out;
    }
    if (std::holds_alternative<shape::AgentHandle>(binding->shape)) {
      if (n == 1) {
        for (std::string_view method : kHandleMethods)
          if (auto item = documented_item(method, handle_method_doc(method))) out.push_back(std::move(*item));
        return out;
      }
      if (n == 2 && segments[1] == "observe") return field_items(kObservation);
      return {};
    }
    // A choice, or nothing known: a named result or variable may still say which verb produced it.
    if (n == 1 && binding->symbol) return field_set_of_detail(index.symbols[*binding->symbol].detail);
    return {};
  }
  if (n == 1) {
    if (auto found = index.capability_names.find(segments[0]); found != index.capability_names.end()) {
      const DeclaredSymbol& capability = index.symbols[found->second];
      if (capability.kind != DeclKind::Capability) return {};
      std::vector<SymbolId> verbs = index.children(found->second);
      if (!verbs.empty()) {
        for (SymbolId verb : verbs) out.push_back(symbol_item(index.symbols[verb], Kind::Method));
        return out;
      }
      const auto kind = static_cast<syntax::NeedKind>(capability.sub_kind);
      auto verb_items = [&](std::span<const std::string_view> names) {
        for (std::string_view verb : names)
          if (auto item = documented_item(verb, capability_verb_doc(kind, verb))) out.push_back(std::move(*item));
      };
      switch (kind) {
        case syntax::NeedKind::Agent: verb_items(kAgentVerbs); break;
        case syntax::NeedKind::Person: verb_items(kPersonVerbs); break;
        case syntax::NeedKind::Llm: verb_items(kLlmVerbs); break;
        case syntax::NeedKind::Tool:
          for (std::string& verb : verbs_in_text(c.working->text, segments[0]))
            out.push_back(
                CompletionItem{verb, Kind::Method, segments[0] + "." + verb, std::nullopt, std::nullopt, std::nullopt});
          break;
      }
      return out;
    }
  }
  AnalysisPtr module = c.world.resolve_module(c.working, segments);
  if (!module || !module->index) return {};
  for (const auto& [name, id] : module->index->unit_names)
    if (!name.starts_with('_')) out.push_back(unit_item(module->index->symbols[id]));
  for (const ImportAlias& import : module->index->imports)
    out.push_back(CompletionItem{import.alias, Kind::Module, module->index->symbols[import.symbol].detail, std::nullopt,
                                 std::nullopt, std::nullopt});
  return out;
}

std::vector<CompletionItem> labels_after_is(Context& c, std::string_view receiver_text) {
  if (!c.working->index) return {};
  const SymbolIndex& index = *c.working->index;
  const std::vector<std::string> segments = receiver_path(receiver_text);
  std::vector<CompletionItem> out;
  if (const NameBinding* binding = find_binding(c, segments[0], false)) {
    if (const auto* result = std::get_if<shape::UnitResult>(&binding->shape); result && segments.size() == 2) {
      if (std::optional<ResolvedSymbol> unit = resolve_unit(c, result->unit)) {
        const SymbolIndex& unit_index = *unit->analysis->index;
        if (auto child = unit_index.child_named(unit->symbol, segments[1])) {
          for (SymbolId label : unit_index.labels_of(*child))
            out.push_back(symbol_item(unit_index.symbols[label], Kind::EnumMember));
          return out;
        }
      }
    }
    if (const auto* choice = std::get_if<shape::Choice>(&binding->shape); choice && segments.size() == 1) {
      for (SymbolId label : choice->labels) out.push_back(symbol_item(index.symbols[label], Kind::EnumMember));
      return out;
    }
  }
  std::set<std::string_view> seen;
  for (SymbolId label : index.labels())
    if (seen.insert(index.symbols[label].name).second)
      out.push_back(symbol_item(index.symbols[label], Kind::EnumMember));
  return out;
}

// The states of the machine whose header is the last `machine` line above the cursor's line.
std::vector<CompletionItem> machine_states(std::string_view text, size_t line_start) {
  size_t header;
  const size_t found = line_start == 0 ? std::string_view::npos : text.rfind("\nmachine ", line_start - 1);
  if (found != std::string_view::npos) {
    header = found + 1;
  } else if (text.starts_with("machine ")) {
    header = 0;
  } else {
    return {};
  }
  std::vector<CompletionItem> out;
  std::set<std::string, std::less<>> seen;
  size_t at = text.find('\n', header);
  while (at != std::string_view::npos) {
    const size_t begin = at + 1;
    at = text.find('\n', begin);
    std::string_view line = text.substr(begin, at == std::string_view::npos ? std::string_view::npos : at - begin);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (!is_ascii_space(line.front())) break;
    while (!line.empty() && is_ascii_space(line.front())) line.remove_prefix(1);
    if (!line.starts_with("state ")) continue;
    line.remove_prefix(6);
    size_t end = 0;
    while (end < line.size() && is_word_byte(line[end])) ++end;
    if (end == 0 || !seen.insert(std::string(line.substr(0, end))).second) continue;
    out.push_back(CompletionItem{std::string(line.substr(0, end)), Kind::EnumMember,
                                 "state " + std::string(line.substr(0, end)), std::nullopt, std::nullopt,
                                 std::nullopt});
  }
  return out;
}

std::vector<CompletionItem> general_items(Context& c) {
  ItemList items;
  if (c.scope != nullptr) {
    for (const auto& [name, binding] : c.scope->bindings) {
      std::optional<std::string> detail;
      if (binding.symbol) detail = c.working->index->symbols[*binding.symbol].detail;
      items.add(CompletionItem{name, Kind::Variable, detail, std::nullopt, "0" + name, std::nullopt});
    }
  }
  if (c.working->index) {
    const SymbolIndex& index = *c.working->index;
    for (const auto& [name, binding] : index.program_names) {
      std::optional<std::string> detail;
      if (binding.symbol) detail = index.symbols[*binding.symbol].detail;
      items.add(CompletionItem{name, Kind::Constant, detail, std::nullopt, std::nullopt, std::nullopt});
    }
    for (const auto& [name, id] : index.capability_names) items.add(symbol_item(index.symbols[id], Kind::Interface));
    for (const auto& [name, id] : index.unit_names) items.add(unit_item(index.symbols[id]));
    for (const ImportAlias& import : index.imports)
      items.add(CompletionItem{import.alias, Kind::Module, index.symbols[import.symbol].detail, std::nullopt,
                               std::nullopt, std::nullopt});
  }
  if (const AnalysisPtr& prelude = c.world.prelude(); prelude && prelude->index) {
    for (const auto& [name, id] : prelude->index->unit_names) {
      if (name.starts_with('_')) continue;
      CompletionItem item = unit_item(prelude->index->symbols[id]);
      item.label_description = "std";
      items.add(std::move(item));
    }
  }
  items.add(CompletionItem{"std", Kind::Module, "the prelude", std::nullopt, std::nullopt, std::nullopt});
  for (std::string_view function : builtin_functions()) {
    CompletionItem item{std::string(function), Kind::Function, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    if (auto entry = builtin_doc(function)) {
      item.detail = std::string(entry->signature);
      item.documentation = std::string(entry->documentation);
    }
    items.add(std::move(item));
  }
  for (std::string_view word : kStatementKeywords) items.add(keyword_item(word));
  return items.take();
}

}  // namespace

AnalysisPtr PatchedAnalyses::analyze(const Analysis& original, std::string patched_text) {
  const PositionEncoding encoding = original.line_index.encoding();
  if (last_ && last_->uri == original.uri && last_->path == original.path && last_->line_index.encoding() == encoding &&
      last_->text == patched_text)
    return last_;
  last_ = analyze_document(original.uri, original.path, std::move(patched_text), encoding);
  ++built_;
  return last_;
}

std::vector<CompletionItem> field_set_of_detail(std::string_view detail) {
  if (detail.find(" pick among ") != std::string_view::npos) return field_items(kPickAmongResult);
  if (detail.find(" pick") != std::string_view::npos) return field_items(kPickResult);
  if (detail.find(" rate") != std::string_view::npos) return field_items(kRateResult);
  return {};
}

std::vector<std::string> receiver_path(std::string_view text) {
  size_t begin = text.size();
  while (begin > 0 && (is_word_byte(text[begin - 1]) || text[begin - 1] == '.')) --begin;
  std::vector<std::string> out;
  std::string_view run = text.substr(begin);
  for (;;) {
    const size_t dot = run.find('.');
    out.emplace_back(run.substr(0, dot));
    if (dot == std::string_view::npos) break;
    run.remove_prefix(dot + 1);
  }
  return out;
}

std::vector<CompletionItem> complete(World& world, const AnalysisPtr& analysis, size_t offset,
                                     PatchedAnalyses& patched) {
  const std::string_view text = analysis->text;
  // 1. The cursor's line up to the cursor, the word being typed and what comes before it.
  const size_t cursor = std::min(offset, text.size());
  const size_t feed = cursor == 0 ? std::string_view::npos : text.rfind('\n', cursor - 1);
  const size_t line_start = feed == std::string_view::npos ? 0 : feed + 1;
  const std::string_view line = text.substr(line_start, cursor - line_start);
  size_t word_start = line.size();
  while (word_start > 0 && is_word_byte(line[word_start - 1])) --word_start;
  const std::string_view prefix = line.substr(0, word_start);

  // 2. At the start of a line only a declaration can begin.
  if (prefix.empty()) {
    std::vector<CompletionItem> out;
    for (std::string_view word : kDeclarationKeywords) out.push_back(keyword_item(word));
    return out;
  }

  // 3. A line that did not parse is replaced by one that does, so that the rest of the document is known.
  Context c{world, analysis};
  const bool blanked = std::any_of(analysis->parse.blanked.begin(), analysis->parse.blanked.end(),
                                   [&](const ByteRange& r) { return r.start <= cursor && cursor <= r.end; });
  if (!analysis->index || blanked) {
    size_t line_end = text.find('\n', cursor);
    if (line_end == std::string_view::npos) line_end = text.size();
    size_t indent = 0;
    while (line_start + indent < line_end && (text[line_start + indent] == ' ' || text[line_start + indent] == '\t'))
      ++indent;
    std::string patched_text;
    patched_text.reserve(text.size() + 8);
    patched_text.append(text.substr(0, line_start + indent));
    patched_text.append("_ = none");
    patched_text.append(text.substr(line_end));
    c.working = patched.analyze(*analysis, std::move(patched_text));
  }
  const std::string_view working_text = c.working->text;

  // 4. The unit the cursor's line belongs to.
  if (c.working->index) {
    size_t indent = 0;
    while (indent < line.size() && is_ascii_space(line[indent])) ++indent;
    const size_t first = std::min(line_start + indent, working_text.size());
    for (const UnitScope& scope : c.working->index->scopes) {
      if (scope.span.start.offset <= first && first <= scope.span.end.offset) {
        c.scope = &scope;
        break;
      }
    }
  }

  // 5. After a dot: the members of what stands before it, and nothing else.
  if (word_start > 0 && line[word_start - 1] == '.') return after_dot(c, receiver_path(line.substr(0, word_start - 1)));

  const std::string_view trimmed = trim_end_white_space(prefix);
  const std::optional<std::string_view> piece = last_piece(trimmed);

  // 7. The level of a `log`, unless a unit named `log` makes it an ordinary name.
  if (word_start > 0 && line[word_start - 1] == ' ' && piece == "log" &&
      (!c.working->index || c.working->index->unit_names.find("log") == c.working->index->unit_names.end())) {
    std::vector<CompletionItem> out;
    for (std::string_view level : kLogLevels) out.push_back(log_level_item(level));
    return out;
  }

  // 8. The labels an `is` can test.
  if (trimmed.size() >= 3 && trimmed.ends_with(" is")) return labels_after_is(c, trimmed.substr(0, trimmed.size() - 3));

  // 9. The target state of a machine event.
  std::string_view statement = trimmed;
  while (!statement.empty() && is_ascii_space(statement.front())) statement.remove_prefix(1);
  if (statement.starts_with("on ") && trimmed.ends_with("->")) return machine_states(working_text, line_start);

  // 10. The kind of a capability.
  if (trimmed.size() >= 6 && trimmed.starts_with("needs ") && trimmed.ends_with(':')) {
    std::vector<CompletionItem> out;
    for (std::string_view kind : kCapabilityKinds) {
      const DocEntry entry = *capability_kind_doc(kind);
      out.push_back(CompletionItem{std::string(kind), Kind::Enum, std::nullopt, std::string(entry.documentation),
                                   std::nullopt, std::nullopt});
    }
    return out;
  }

  // 11. Everything a name can be.
  return general_items(c);
}

}  // namespace dravelin::lsp

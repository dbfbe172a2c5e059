// Hover: a declared name's summary with its kind, where it is declared, its doc comment and what it holds; or
// the documentation of a built-in function, a verb, a log level, a capability kind or a reserved word.
#include <utility>

#include "base/overloaded.h"
#include "lsp/core/docs.h"
#include "lsp/core/navigate.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

struct KindText {
  std::string_view noun;
  std::string_view section;
};

KindText kind_text(const DeclaredSymbol& symbol) {
  switch (symbol.kind) {
    case DeclKind::Program: return {"program", "3.1"};
    case DeclKind::Module: return {"module", "3.9"};
    case DeclKind::Input:
    case DeclKind::InputField: return {"input", "3.2"};
    case DeclKind::Output: return {"output", "3.3"};
    case DeclKind::Capability: return {"capability", "3.4"};
    case DeclKind::ToolVerb: return {"tool verb", "9.4"};
    case DeclKind::Unit:
      switch (static_cast<UnitKind>(symbol.sub_kind)) {
        case UnitKind::Judgment: return {"judgment", "6.7"};
        case UnitKind::Task: return {"task", "7"};
        case UnitKind::Def: return {"def", "8"};
        case UnitKind::Machine: return {"machine", "7.8"};
      }
      break;
    case DeclKind::Parameter: return {"parameter", "3.6"};
    case DeclKind::JudgmentResult: return {"judgment result", "6.7"};
    case DeclKind::Variable: return {"variable", "5.3"};
    case DeclKind::ShapedField: return {"shaped field", "7.2"};
    case DeclKind::MachineState: return {"machine state", "7.8"};
    case DeclKind::MachineEvent: return {"machine event", "7.8"};
    case DeclKind::Label: return {"label", "6.3"};
  }
  return {"input", "3.2"};
}

bool is_prelude(const Analysis& analysis) { return analysis.uri == kPreludeUri; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// "- `<detail>`" for each child of the given kind, in source order.
std::string child_lines(const SymbolIndex& index, SymbolId parent, DeclKind kind) {
  std::string out;
  for (SymbolId child : index.children(parent))
    if (index.symbols[child].kind == kind) out += "- `" + index.symbols[child].detail + "`\n";
  return out;
}

std::string kind_extras(World& world, const Analysis& declaring, SymbolId id) {
  const SymbolIndex& index = *declaring.index;
  const DeclaredSymbol& symbol = index.symbols[id];
  std::string out;
  switch (symbol.kind) {
    case DeclKind::Module:
      for (const ImportAlias& import : index.imports) {
        if (import.symbol != id) continue;
        if (!import.path) break;
        AnalysisPtr module = world.resolve_import(declaring, *import.path);
        if (module && module->path) out += "\nResolves to `" + module->path->string() + "`.\n";
        break;
      }
      break;
    case DeclKind::Capability: {
      const auto kind = static_cast<syntax::NeedKind>(symbol.sub_kind);
      out.append("\n").append(capability_kind_doc(kind).documentation).append("\n");
      const std::string verbs = child_lines(index, id, DeclKind::ToolVerb);
      if (!verbs.empty()) {
        out += "\nDeclared verbs:\n" + verbs;
      } else if (kind == syntax::NeedKind::Tool) {
        out +=
            "\nAn open tool: no signature block, so verbs are checked at bind time or at the call (spec section "
            "9.4).\n";
      }
      break;
    }
    case DeclKind::Unit:
      switch (static_cast<UnitKind>(symbol.sub_kind)) {
        case UnitKind::Judgment:
          if (std::string results = child_lines(index, id, DeclKind::JudgmentResult); !results.empty())
            out += "\nReturns a record of:\n" + results;
          break;
        case UnitKind::Machine:
          out += "\nStates:\n" + child_lines(index, id, DeclKind::MachineState);
          out += "\nA call returns `{ state, steps, done, verified, events }` (spec section 7.8).\n";
          break;
        case UnitKind::Task:
        case UnitKind::Def:
          // The prelude cannot be opened in an editor, so its source is shown instead.
          if (is_prelude(declaring) && symbol.span.end.offset >= symbol.span.start.offset &&
              symbol.span.end.offset <= declaring.text.size()) {
            out += "\n```dravelin\n";
            out += std::string_view(declaring.text)
                       .substr(symbol.span.start.offset, symbol.span.end.offset - symbol.span.start.offset);
            out += "\n```\n";
          }
          break;
      }
      break;
    case DeclKind::JudgmentResult:
      if (std::string labels = child_lines(index, id, DeclKind::Label); !labels.empty()) out += "\nLabels:\n" + labels;
      break;
    default: break;
  }
  return out;
}

std::string declaration_hover(World& world, const Analysis& current, const ResolvedSymbol& resolved) {
  const Analysis& declaring = *resolved.analysis;
  const DeclaredSymbol& symbol = resolved.declared();
  std::string out = "```dravelin\n" + symbol.detail + "\n```\n";
  std::string where;
  if (is_prelude(declaring)) {
    where = " in the prelude `std`";
  } else if (document_key(declaring) != document_key(current)) {
    where = " in `" + (declaring.path ? declaring.path->string() : declaring.uri) + "`";
  }
  const KindText kind = kind_text(symbol);
  out.append("*").append(kind.noun).append("*").append(where);
  out.append(" \u2014 spec section ").append(kind.section).append("\n");
  if (std::string comment = doc_comment(declaring.text, symbol.span.start.offset); !comment.empty())
    out += "\n" + comment + "\n";
  out += kind_extras(world, declaring, resolved.symbol);
  return out;
}

bool contains(const syntax::Span& span, size_t offset) {
  return span.start.offset <= offset && offset <= span.end.offset;
}

std::optional<Hover> hover_at(const Analysis& analysis, const syntax::Span& span, std::string markdown) {
  return Hover{std::move(markdown), analysis.line_index.range(analysis.text, span)};
}

bool is_capability_kind(std::string_view word) {
  return word == "agent" || word == "person" || word == "llm" || word == "tool";
}

}  // namespace

std::string doc_comment(std::string_view text, size_t declaration_start) {
  // The start of the line after the last line feed before `at`, or 0.
  auto line_begin = [&](size_t at) -> size_t {
    if (at == 0) return 0;
    const size_t feed = text.rfind('\n', at - 1);
    return feed == std::string_view::npos ? 0 : feed + 1;
  };
  std::vector<std::string_view> lines;  // nearest first
  size_t begin = line_begin(std::min(declaration_start, text.size()));
  while (begin > 0) {
    const size_t end = begin - 1;  // the line feed that ends the line above
    begin = line_begin(end);
    std::string_view line = text.substr(begin, end - begin);
    if (line.ends_with('\r')) line.remove_suffix(1);
    while (!line.empty() && is_space(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() != '#') break;
    line.remove_prefix(1);
    if (line.starts_with(' ')) line.remove_prefix(1);
    lines.push_back(line);
  }
  std::string out;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!out.empty()) out += '\n';
    out += *it;
  }
  return out;
}

std::optional<Hover> hover(World& world, const AnalysisPtr& analysis, size_t offset) {
  const Analysis& a = *analysis;
  // 1. The name under the cursor.
  if (a.index) {
    if (const Occurrence* occurrence = occurrence_at(*a.index, offset)) {
      std::optional<std::string> text =
          std::visit(Overloaded{
                         [](const ref::CapabilityVerb& verb) -> std::optional<std::string> {
                           if (auto entry = capability_verb_doc(verb.kind, verb.verb)) return hover_block(*entry);
                           return std::nullopt;
                         },
                         [](const ref::HandleMethod& method) -> std::optional<std::string> {
                           if (auto entry = handle_method_doc(method.method)) return hover_block(*entry);
                           return std::nullopt;
                         },
                         [](const ref::Builtin& builtin) -> std::optional<std::string> {
                           if (auto entry = builtin_doc(builtin.function)) return hover_block(*entry);
                           return std::nullopt;
                         },
                         [&](const auto&) -> std::optional<std::string> {
                           if (auto resolved = world.defining_document(analysis, occurrence->target))
                             return declaration_hover(world, a, *resolved);
                           return std::nullopt;
                         },
                     },
                     occurrence->target);
      if (text) return hover_at(a, occurrence->span, std::move(*text));
    }
  }
  // 2. The words of a `log` expression.
  if (a.index) {
    for (const LogSpan& log : a.index->log_spans) {
      if (contains(log.log, offset)) {
        if (auto entry = keyword_doc("log")) return hover_at(a, log.log, hover_block(*entry));
      }
      if (contains(log.level, offset)) {
        const std::string_view level =
            std::string_view(a.text).substr(log.level.start.offset, log.level.end.offset - log.level.start.offset);
        if (auto doc = log_level_doc(level))
          return hover_at(a, log.level, hover_block(kLogLevelSignature, *doc, kLogLevelSection));
      }
    }
  }
  // 3. The token under the cursor. Layout tokens have no word, and an indent or a dedent shares its end with
  // the first word of its line, so they are passed over rather than hiding that word.
  const std::vector<syntax::Token>& tokens = a.parse.lex.tokens;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const syntax::Token& token = tokens[i];
    if (token.is_newline() || token.is_indent() || token.is_dedent() || token.is_eof()) continue;
    if (!contains(token.span, offset)) continue;
    std::string_view word;
    if (const auto* ident = std::get_if<syntax::tok::Ident>(&token.kind)) {
      word = ident->text;
    } else if (const auto* keyword = std::get_if<syntax::tok::Keyword>(&token.kind)) {
      word = syntax::keyword_text(keyword->keyword);
    } else {
      return std::nullopt;
    }
    if (is_capability_kind(word) && i >= 3 && tokens[i - 3].is_keyword(syntax::Keyword::Needs)) {
      const DocEntry entry = *capability_kind_doc(word);
      return hover_at(a, token.span, hover_block(entry));
    }
    if (token.is_ident() && a.index) {
      const Occurrence* occurrence = occurrence_at(*a.index, token.span.start.offset);
      if (occurrence != nullptr && !std::holds_alternative<ref::Unresolved>(occurrence->target)) return std::nullopt;
    }
    if (auto entry = keyword_doc(word)) return hover_at(a, token.span, hover_block(*entry));
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace dravelin::lsp

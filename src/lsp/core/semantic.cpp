#include "lsp/core/semantic.h"

#include <algorithm>
#include <array>

#include "syntax/lexer.h"

namespace dravelin::lsp {
namespace {

using Type = SemanticTokenType;
using Modifier = SemanticTokenModifier;
namespace tok = syntax::tok;

// Interpolations inside interpolations are lexed and classified one level each. The parser refuses programs
// nested deeper than this, but highlighting lexes whatever text it is given, so it stops here too: a deeper
// interpolation stays part of its string.
constexpr uint32_t kMaxInterpolationDepth = 100;

// Words the lexer reads as names that are coloured as keywords where they are not names.
constexpr std::array<std::string_view, 16> kContextualWords = {
    "as",    "by",    "log",   "with",   "done",   "goal",   "tail",    "using",
    "above", "below", "risky", "prompt", "sample", "strict", "observe", "thresholds"};

bool is_contextual_word(std::string_view word) {
  return std::find(kContextualWords.begin(), kContextualWords.end(), word) != kContextualWords.end();
}

bool is_return_type(std::string_view word) {
  return word == "text" || word == "bool" || word == "list" || word == "number" || word == "record" || word == "handle";
}

// Brackets, commas, colons and dots are left uncoloured.
bool is_operator(syntax::Symbol symbol) {
  using S = syntax::Symbol;
  switch (symbol) {
    case S::LParen:
    case S::RParen:
    case S::LBracket:
    case S::RBracket:
    case S::LBrace:
    case S::RBrace:
    case S::Comma:
    case S::Colon:
    case S::Dot: return false;
    default: return true;
  }
}

uint32_t bit(Modifier modifier) { return modifier_bit(modifier); }

struct RoleClass {
  Type type;
  uint32_t modifiers;
};

RoleClass role_class(OccurrenceRole role) {
  switch (role) {
    case OccurrenceRole::JudgmentRef:
    case OccurrenceRole::TaskRef:
    case OccurrenceRole::DefRef:
    case OccurrenceRole::MachineRef: return {Type::Function, 0};
    case OccurrenceRole::PreludeUnit:
    case OccurrenceRole::BuiltinFunction: return {Type::Function, bit(Modifier::DefaultLibrary)};
    case OccurrenceRole::Capability: return {Type::Interface, bit(Modifier::Readonly)};
    case OccurrenceRole::Module: return {Type::Namespace, 0};
    case OccurrenceRole::Parameter: return {Type::Parameter, 0};
    case OccurrenceRole::Variable: return {Type::Variable, 0};
    case OccurrenceRole::Input: return {Type::Variable, bit(Modifier::Readonly)};
    case OccurrenceRole::Output: return {Type::Variable, 0};
    case OccurrenceRole::Field: return {Type::Property, 0};
    case OccurrenceRole::Verb: return {Type::Method, 0};
    case OccurrenceRole::Label:
    case OccurrenceRole::MachineState: return {Type::EnumMember, 0};
    case OccurrenceRole::MachineEvent: return {Type::Event, 0};
    case OccurrenceRole::TypeName: return {Type::Type, 0};
  }
  return {Type::Variable, 0};
}

class Classifier {
 public:
  Classifier(const SymbolIndex* index, std::vector<ClassifiedToken>& out) : index_(index), out_(out) {
    if (index_ == nullptr) return;
    for (const LogSpan& log : index_->log_spans) {
      log_words_.push_back(log.log.start.offset);
      log_levels_.push_back(log.level.start.offset);
    }
    std::sort(log_words_.begin(), log_words_.end());
    std::sort(log_levels_.begin(), log_levels_.end());
  }

  void classify(const std::vector<syntax::Token>& tokens, uint32_t base, uint32_t depth) {
    for (size_t i = 0; i < tokens.size(); ++i) {
      const syntax::Token& token = tokens[i];
      const uint32_t start = token.span.start.offset + base;
      const uint32_t end = token.span.end.offset + base;
      if (std::holds_alternative<tok::Number>(token.kind)) {
        add(start, end, Type::Number, 0);
      } else if (const auto* symbol = std::get_if<tok::Symbol>(&token.kind)) {
        if (is_operator(symbol->symbol)) add(start, end, Type::Operator, 0);
      } else if (const auto* text = std::get_if<tok::Text>(&token.kind)) {
        classify_text(*text, start, end, base, depth);
      } else if (const auto* keyword = std::get_if<tok::Keyword>(&token.kind)) {
        if (occurrence_of(start, end) != nullptr) {
          classify_name(tokens, i, syntax::keyword_text(keyword->keyword), start, end);
        } else {
          add(start, end, Type::Keyword, keyword_modifiers(keyword->keyword));
        }
      } else if (const auto* ident = std::get_if<tok::Ident>(&token.kind)) {
        classify_name(tokens, i, ident->text, start, end);
      }
    }
  }

 private:
  void add(uint32_t start, uint32_t end, Type type, uint32_t modifiers) {
    out_.push_back(ClassifiedToken{start, end, type, modifiers});
  }

  static uint32_t keyword_modifiers(syntax::Keyword keyword) {
    using K = syntax::Keyword;
    switch (keyword) {
      case K::Judgment:
      case K::Task:
      case K::Def:
      case K::Machine: return bit(Modifier::UnitKind);
      case K::Feels:
      case K::Pick:
      case K::Rate:
      case K::Each:
      case K::Among: return bit(Modifier::JudgmentVerb);
      default: return 0;
    }
  }

  // The braces of an interpolation belong to the string around it; its source is classified as code.
  void classify_text(const tok::Text& text, uint32_t start, uint32_t end, uint32_t base, uint32_t depth) {
    uint32_t at = start;
    if (depth < kMaxInterpolationDepth) {
      for (const syntax::TokenTextPart& part : text.parts) {
        const auto* interpolation = std::get_if<syntax::TextInterpolationPart>(&part);
        if (interpolation == nullptr) continue;
        const uint32_t source_start = interpolation->span.start.offset + base;
        add(at, source_start, Type::String, 0);
        const syntax::LexOutput inner = syntax::Lexer::scan(interpolation->source);
        classify(inner.tokens, source_start, depth + 1);
        at = source_start + static_cast<uint32_t>(interpolation->source.size());
      }
    }
    add(at, end, Type::String, 0);
  }

  // The first occurrence with exactly these offsets.
  const Occurrence* occurrence_of(uint32_t start, uint32_t end) const {
    if (index_ == nullptr) return nullptr;
    const auto& all = index_->occurrences;
    auto it = std::lower_bound(all.begin(), all.end(), start,
                               [](const Occurrence& o, uint32_t offset) { return o.span.start.offset < offset; });
    for (; it != all.end() && it->span.start.offset == start; ++it)
      if (it->span.end.offset == end) return &*it;
    return nullptr;
  }

  static bool holds(const std::vector<uint32_t>& sorted, uint32_t offset) {
    return std::binary_search(sorted.begin(), sorted.end(), offset);
  }

  void classify_name(const std::vector<syntax::Token>& tokens, size_t i, std::string_view text, uint32_t start,
                     uint32_t end) {
    if (index_ != nullptr) {
      if (holds(log_words_, start)) return add(start, end, Type::Keyword, 0);
      if (holds(log_levels_, start)) return add(start, end, Type::EnumMember, bit(Modifier::DefaultLibrary));
    }
    if (const Occurrence* o = occurrence_of(start, end)) {
      RoleClass c = role_class(o->role);
      const bool unresolved = std::holds_alternative<ref::Unresolved>(o->target);
      if (o->role == OccurrenceRole::Parameter && unresolved && is_contextual_word(text)) c.type = Type::Keyword;
      if (o->role == OccurrenceRole::Variable && unresolved && text == "idle")
        c = {Type::EnumMember, bit(Modifier::DefaultLibrary)};
      if (o->is_declaration) c.modifiers |= bit(Modifier::Declaration);
      return add(start, end, c.type, c.modifiers);
    }
    auto before = [&](size_t back) -> const syntax::Token* { return i >= back ? &tokens[i - back] : nullptr; };
    const syntax::Token* previous = before(1);
    if (i >= 3 && previous->is_symbol(syntax::Symbol::Colon) && before(2)->is_ident() &&
        before(3)->is_keyword(syntax::Keyword::Needs))
      return add(start, end, Type::Type, 0);
    if (previous != nullptr && previous->is_symbol(syntax::Symbol::Dot)) return add(start, end, Type::Property, 0);
    if (previous != nullptr && previous->is_symbol(syntax::Symbol::Arrow) && is_return_type(text))
      return add(start, end, Type::Type, 0);
    if (text != "log" && is_contextual_word(text)) return add(start, end, Type::Keyword, 0);
    add(start, end, Type::Variable, 0);
  }

  const SymbolIndex* index_;
  std::vector<ClassifiedToken>& out_;
  std::vector<uint32_t> log_words_;   // start offsets, sorted
  std::vector<uint32_t> log_levels_;  // start offsets, sorted
};

}  // namespace

std::vector<ClassifiedToken> classify_document(std::string_view text, const SymbolIndex* index) {
  return classify_document(syntax::Lexer::scan(text), index);
}

std::vector<ClassifiedToken> classify_document(const syntax::LexOutput& lexed, const SymbolIndex* index) {
  std::vector<ClassifiedToken> out;
  out.reserve(lexed.tokens.size() + lexed.comments.size());
  for (const syntax::Span& comment : lexed.comments)
    out.push_back(ClassifiedToken{comment.start.offset, comment.end.offset, Type::Comment, 0});
  Classifier(index, out).classify(lexed.tokens, 0, 0);
  std::stable_sort(out.begin(), out.end(), [](const ClassifiedToken& a, const ClassifiedToken& b) {
    return a.start != b.start ? a.start < b.start : a.end < b.end;
  });
  std::vector<ClassifiedToken> kept;
  kept.reserve(out.size());
  uint32_t last_end = 0;
  for (const ClassifiedToken& token : out) {
    if (token.start >= token.end || token.start < last_end) continue;
    kept.push_back(token);
    last_end = token.end;
  }
  return kept;
}

std::vector<uint32_t> encode_semantic_tokens(std::string_view text, const LineIndex& line_index,
                                             const std::vector<ClassifiedToken>& tokens) {
  std::vector<uint32_t> data;
  data.reserve(tokens.size() * 5);
  uint32_t previous_line = 0;
  uint32_t previous_start = 0;
  LineIndex::Cursor cursor(line_index, text);  // the tokens are sorted and do not overlap
  for (const ClassifiedToken& token : tokens) {
    size_t start = token.start;
    while (start < token.end) {
      const size_t line = line_index.line_of(start);
      const bool last_line = line + 1 >= line_index.line_count();
      const size_t end = last_line ? token.end : std::min<size_t>(token.end, line_index.line_start(line + 1) - 1);
      if (start < end) {
        const Position from = cursor.position(start);
        const Position to = cursor.position(end);
        data.push_back(from.line - previous_line);
        data.push_back(from.line == previous_line ? from.character - previous_start : from.character);
        data.push_back(to.character - from.character);
        data.push_back(static_cast<uint32_t>(token.type));
        data.push_back(token.modifiers);
        previous_line = from.line;
        previous_start = from.character;
      }
      if (last_line) break;
      start = line_index.line_start(line + 1);
    }
  }
  return data;
}

}  // namespace dravelin::lsp

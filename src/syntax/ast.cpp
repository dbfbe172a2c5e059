// The tree operations that the parsers and the compiler share.
#include "syntax/ast.h"

#include <algorithm>
#include <array>
#include <utility>

#include "syntax/utf8.h"

namespace dravelin::syntax::ast {

Span span(const Expr& expr) {
  return std::visit(
      [](const auto& node) -> Span {
        if constexpr (std::is_same_v<std::decay_t<decltype(node)>, Expr::Judge>) {
          return node.judge->span;
        } else {
          return node.span;
        }
      },
      expr.node);
}

const std::string& unit_name(const Unit& unit) {
  return std::visit([](const auto& u) -> const std::string& { return u.name; }, unit.node);
}

const std::vector<Expr>* interpolation_exprs(const TextLit& text, bool log_shadowed) {
  if (text.interpolations_log_shadowed != log_shadowed) return nullptr;
  std::size_t count = 0;
  for (const TokenTextPart& part : text.parts) count += std::holds_alternative<TextInterpolationPart>(part) ? 1 : 0;
  return text.interpolations.size() == count ? &text.interpolations : nullptr;
}

Program::Program() = default;
Program::Program(const Program&) = default;
Program::Program(Program&&) noexcept = default;
Program& Program::operator=(const Program&) = default;
Program& Program::operator=(Program&&) noexcept = default;
Program::~Program() = default;
bool operator==(const Program&, const Program&) = default;

bool Program::has_unit(std::string_view name) const {
  return std::any_of(units.begin(), units.end(), [&](const Unit& u) { return unit_name(u) == name; });
}

namespace {

// The Field and Index steps from the innermost target outward, and the Name at the root, or nothing when the
// chain ends in any other expression. Walks the chain without recursion.
struct PathChain {
  const Expr::Name* root = nullptr;
  std::vector<const Expr*> steps;  // each a Field or an Index, innermost first
};

std::optional<PathChain> path_chain(const Expr& expr) {
  PathChain chain;
  const Expr* cur = &expr;
  for (;;) {
    if (const auto* field = std::get_if<Expr::Field>(&cur->node)) {
      chain.steps.push_back(cur);
      cur = &*field->target;
    } else if (const auto* index = std::get_if<Expr::Index>(&cur->node)) {
      chain.steps.push_back(cur);
      cur = &*index->target;
    } else if (const auto* name = std::get_if<Expr::Name>(&cur->node)) {
      chain.root = name;
      std::reverse(chain.steps.begin(), chain.steps.end());
      return chain;
    } else {
      return std::nullopt;
    }
  }
}

}  // namespace

std::optional<Subject> subject_from_expr(const Expr& expr) {
  auto chain = path_chain(expr);
  if (!chain) return std::nullopt;
  Subject subject{chain->root->name, chain->root->span, {}, span(expr)};
  subject.path.reserve(chain->steps.size());
  for (const Expr* step : chain->steps) {
    if (const auto* field = std::get_if<Expr::Field>(&step->node)) {
      subject.path.push_back(SubjectStep{SubjectStep::Field{field->name, field->name_span}});
    } else {
      subject.path.push_back(SubjectStep{SubjectStep::Index{*std::get<Expr::Index>(step->node).index}});
    }
  }
  return subject;
}

std::optional<AssignTarget> assign_target_from_expr(const Expr& expr) {
  auto chain = path_chain(expr);
  if (!chain) return std::nullopt;
  AssignTarget target{chain->root->name, chain->root->span, {}, span(expr)};
  for (const Expr* step : chain->steps) {
    const auto* field = std::get_if<Expr::Field>(&step->node);
    if (!field) return std::nullopt;
    target.path.push_back(Ident{field->name, field->name_span});
  }
  return target;
}

std::optional<Detail> detail_or_none(Detail detail) {
  if (detail.span.is_zero()) return std::nullopt;
  return detail;
}

namespace {

// The Unicode White_Space property.
bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Splits at runs of Unicode white space, dropping it (so leading and trailing white space go too).
std::vector<std::string_view> split_words(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  std::size_t word_start = std::string_view::npos;
  while (i < s.size()) {
    std::size_t at = i;
    Utf8Char c = decode_utf8(s, i);
    i += c.length;
    if (is_unicode_space(c.code)) {
      if (word_start != std::string_view::npos) words.push_back(s.substr(word_start, at - word_start));
      word_start = std::string_view::npos;
    } else if (word_start == std::string_view::npos) {
      word_start = at;
    }
  }
  if (word_start != std::string_view::npos) words.push_back(s.substr(word_start));
  return words;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal float as the standard float reader takes it: an optional sign, then inf, infinity or nan, or digits
// with an optional fraction (`5`, `5.`, `5.25`, `.5`) and an optional exponent. `s` is already lower case.
bool reads_as_number(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::string_view rest = s.substr(i);
  if (rest == "inf" || rest == "infinity" || rest == "nan") return true;
  std::size_t int_digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++int_digits;
  std::size_t frac_digits = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++frac_digits;
  }
  if (int_digits == 0 && frac_digits == 0) return false;
  if (i < s.size() && s[i] == 'e') {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

constexpr std::array<std::string_view, 22> kDegreeWords = {
    "low",     "mid",     "high",    "mild",     "none",     "some",          "many",          "medium",
    "lowest",  "middle",  "severe",  "highest",  "minimal",  "maximal",       "minimum",       "maximum",
    "extreme", "very low", "moderate", "very high", "extremely low", "extremely high",
};

}  // namespace

bool is_bare_degree(std::string_view text) {
  // Trimming and splitting happen together: the words of the text, without the white space around them.
  std::vector<std::string_view> words = split_words(text);
  // Trailing `.` and `!` go from the end of the trimmed text; stripping stops at white space, so only the last
  // word loses them (and disappears when it held nothing else).
  if (!words.empty()) {
    std::string_view& last = words.back();
    while (!last.empty() && (last.back() == '.' || last.back() == '!')) last.remove_suffix(1);
    if (last.empty()) words.pop_back();
  }
  std::string normalised;
  for (std::string_view w : words) {
    if (!normalised.empty()) normalised += ' ';
    normalised += w;
  }
  // Lower-casing ASCII letters is enough: no letter outside ASCII lower-cases to one of the letters that the
  // degree words and the number words are made of.
  for (char& c : normalised) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (normalised.empty()) return false;

  std::string_view number = normalised;
  while (!number.empty() && number.back() == '%') number.remove_suffix(1);
  if (reads_as_number(number)) return true;
  return std::find(kDegreeWords.begin(), kDegreeWords.end(), normalised) != kDegreeWords.end();
}

}  // namespace dravelin::syntax::ast

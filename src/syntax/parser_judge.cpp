// Judgment questions: `feels`, `pick:`, `rate:`, `pick among` and the `each` prefix, with their detail keys.
#include <string>

#include "syntax/parser.h"

namespace dravelin::syntax {

using ast::Expr;

namespace {

constexpr std::string_view kDetailKeys =
    "a detail key (`focus`, `note`, `compare`, `yes`, `no`, `examples`, `what`, `not_for` or `sample`)";

// Fails at the end of the file where a block's closing Dedent belongs. The lexer always closes its blocks, but a
// token list handed in by a caller (the language server's pieces) need not.
Result<::dravelin::Unit, Diagnostic> refuse_end_of_file(const Parser& p) {
  if (p.current().is_eof()) return err(p.expect_failure("the end of the block"));
  return ::dravelin::Unit{};
}

// The `:` that opens one of a question's blocks. The block holds a level of nesting while it is read; the limit
// is checked standing on the `:`, so that is where a too deep block is reported.
struct BlockOpening {
  NestingGuard level;
  Span colon;
};

Result<BlockOpening, Diagnostic> open_block(Parser& p) {
  if (!p.current().is_symbol(Symbol::Colon)) return err(p.expect_failure("`:`"));
  NestingGuard level = TRY(p.enter());
  Span colon = p.advance();
  return BlockOpening{std::move(level), colon};
}

// The `[ ... ]` value of `compare`, `yes`, `no` and `examples`. Only a list literal is meaningful there: the
// items are shown to the model one by one.
Result<Expr, Diagnostic> parse_list_detail(Parser& p, std::string_view key) {
  if (!p.current().is_symbol(Symbol::LBracket)) {
    return err(p.expect_failure(std::string("a `[...]` list after `").append(key) + "`"));
  }
  Expr value = TRY(parse_or(p));
  if (!std::holds_alternative<Expr::List>(value.node)) {
    return err(Parser::error(DiagnosticCode::Syntax,
                             std::string("`").append(key) + "` takes a list literal (spec section 6.8)",
                             ast::span(value)));
  }
  return value;
}

Result<bool, Diagnostic> parse_sample_flag(Parser& p) {
  if (p.current().is_keyword(Keyword::True) || p.current().is_keyword(Keyword::False)) {
    bool value = p.current().is_keyword(Keyword::True);
    p.advance();
    return value;
  }
  return err(p.expect_failure("`true` or `false` after `sample`"));
}

// Fills one slot, refusing a key that the same detail already holds.
template <class T>
Result<::dravelin::Unit, Diagnostic> fill_slot(std::optional<T>& slot, T value, const ast::Ident& key) {
  if (slot.has_value()) {
    return err(Parser::error(DiagnosticCode::DuplicateName,
                             "the detail key `" + key.name + "` is given twice (spec section 12)", key.span));
  }
  slot = std::move(value);
  return ::dravelin::Unit{};
}

// One `KEY VALUE` line into `detail`, its line end included. Answers the end of the line's last token before
// the line end, where a detail's span stops.
Result<Pos, Diagnostic> parse_detail_line(Parser& p, ast::Detail& detail) {
  ast::Ident key;
  if (const auto* ident = std::get_if<tok::Ident>(&p.current().kind)) {
    key = ast::Ident{ident->text, p.current_span()};
  } else if (p.current().is_keyword(Keyword::Focus)) {
    key = ast::Ident{"focus", p.current_span()};
  } else {
    return err(p.expect_failure(kDetailKeys));
  }
  p.advance();

  const std::string& k = key.name;
  if (k == "focus" || k == "note" || k == "what" || k == "not_for") {
    Expr text = TRY(parse_text_expr(p, "the `" + k + "` text"));
    std::optional<Expr>& slot = k == "focus" ? detail.focus
                                : k == "note" ? detail.note
                                : k == "what" ? detail.what
                                              : detail.not_for;
    TRY(fill_slot(slot, std::move(text), key));
  } else if (k == "compare" || k == "yes" || k == "no" || k == "examples") {
    Expr list = TRY(parse_list_detail(p, k));
    std::optional<Expr>& slot = k == "compare" ? detail.compare
                                : k == "yes"   ? detail.yes
                                : k == "no"    ? detail.no
                                               : detail.examples;
    TRY(fill_slot(slot, std::move(list), key));
  } else if (k == "sample") {
    bool flag = TRY(parse_sample_flag(p));
    TRY(fill_slot(detail.sample, flag, key));
  } else {
    return err(Parser::error(DiagnosticCode::Syntax,
                             "expected " + std::string(kDetailKeys) + ", found `" + k + "`", key.span));
  }
  Pos end = p.last_end();
  TRY(p.expect_newline());
  return end;
}

// `:` and an indented block of detail lines. The detail spans from the `:` to the last line's value.
Result<ast::Detail, Diagnostic> parse_detail_block(Parser& p) {
  BlockOpening opening = TRY(open_block(p));
  TRY(p.expect_block_start("of detail keys after `:`"));
  ast::Detail detail;
  detail.span = opening.colon;
  for (;;) {
    TRY(refuse_end_of_file(p));
    if (p.current().is_dedent()) break;
    detail.span.end = TRY(parse_detail_line(p, detail));
  }
  p.advance();
  return detail;
}

// Inside `pick:` and `rate:` blocks any identifier may open a label or a level, so only three line shapes are
// read as details of the whole judgment; `note "..."` or `sample "often"` stay labels. Answers whether the line
// was taken; a line that is not taken is left untouched.
Result<bool, Diagnostic> parse_block_detail_line(Parser& p, ast::Detail& detail) {
  const Token& first = p.current();
  const Token& second = p.peek(1);
  bool taken = first.is_keyword(Keyword::Focus) ||
               (first.is_ident("sample") &&
                (second.is_keyword(Keyword::True) || second.is_keyword(Keyword::False))) ||
               (first.is_ident("compare") && second.is_symbol(Symbol::LBracket));
  if (!taken) return false;
  Pos line_start = first.span.start;
  if (detail.span.is_zero()) detail.span = Span{line_start, line_start};
  detail.span.end = TRY(parse_detail_line(p, detail));
  return true;
}

Result<ast::PickLabel, Diagnostic> parse_pick_label(Parser& p) {
  const Token& first = p.current();
  if (first.is_keyword(Keyword::Other) || first.is_keyword(Keyword::None)) {
    std::string word(keyword_text(std::get<tok::Keyword>(first.kind).keyword));
    Span name_span = p.advance();
    if (!p.current().is_newline()) {
      return err(p.expect_failure("the end of the line (the escape label `" + word +
                                  "` is written bare, spec section 6.3)"));
    }
    p.advance();
    return ast::PickLabel{std::move(word), name_span, true, std::nullopt, std::nullopt, name_span};
  }
  const auto* ident = std::get_if<tok::Ident>(&first.kind);
  if (!ident) return err(p.expect_failure("a label (an identifier, or the bare escape `other` or `none`)"));
  ast::PickLabel label;
  label.name = ident->text;
  label.name_span = p.advance();
  if (p.current().is_text()) {
    label.description = TRY(parse_text_expr(p, "the label's description text"));
  } else if (p.current().is_symbol(Symbol::Colon)) {
    label.detail = TRY(parse_detail_block(p));
  }
  label.span = Span{label.name_span.start, p.last_end()};
  // A detail block has already taken the label's line end along with its own closing Dedent.
  if (!label.detail) TRY(p.expect_newline());
  return label;
}

Result<ast::RateLevel, Diagnostic> parse_rate_level(Parser& p) {
  Pos start = p.current_span().start;
  std::optional<ast::Ident> name;
  if (const auto* ident = std::get_if<tok::Ident>(&p.current().kind)) {
    name = ast::Ident{ident->text, p.current_span()};
    p.advance();
  }
  Expr situation = TRY(parse_text_expr(p, "a level's situation text"));
  Span span{start, p.last_end()};
  TRY(p.expect_newline());
  return ast::RateLevel{std::move(name), std::move(situation), span};
}

// The labels of `pick:`; the current token is the `:`.
Result<ast::JudgeVerb, Diagnostic> parse_pick_block(Parser& p, Pos start, std::optional<ast::Detail>& detail_out) {
  BlockOpening opening = TRY(open_block(p));
  TRY(p.expect_block_start("of labels after `pick:`"));
  ast::Detail detail;
  std::vector<ast::PickLabel> labels;
  for (;;) {
    TRY(refuse_end_of_file(p));
    if (p.current().is_dedent()) break;
    if (TRY(parse_block_detail_line(p, detail))) continue;
    labels.push_back(TRY(parse_pick_label(p)));
  }
  p.advance();

  Span header{start, opening.colon.end};
  std::size_t escapes = 0;
  for (const auto& label : labels) escapes += label.escape ? 1 : 0;
  if (escapes != 1) {
    return err(Parser::error(DiagnosticCode::PickNoOther,
                             "a `pick` needs exactly one bare `other` or `none` label as its escape option; found " +
                                 std::to_string(escapes) + " (spec section 6.3)",
                             header));
  }
  if (labels.size() < 2 || labels.size() > 8) {
    return err(Parser::error(DiagnosticCode::PickArity,
                             "a `pick` has two to eight labels including the escape; found " +
                                 std::to_string(labels.size()) + " (spec section 6.3)",
                             header));
  }
  detail_out = ast::detail_or_none(std::move(detail));
  return ast::JudgeVerb{ast::JudgeVerb::Pick{std::move(labels)}};
}

// The text that a level's situation says, when it is one literal run (or nothing at all); a situation with an
// interpolation depends on the state and is not judged by its wording.
std::optional<std::string> plain_situation(const Expr& situation) {
  const auto& parts = std::get<Expr::Text>(situation.node).text.parts;
  if (parts.empty()) return std::string();
  if (parts.size() != 1) return std::nullopt;
  const auto* literal = std::get_if<TextLiteralPart>(&parts.front());
  if (!literal) return std::nullopt;
  return literal->text;
}

// The levels of `rate:`; the current token is the `:`.
Result<ast::JudgeVerb, Diagnostic> parse_rate_block(Parser& p, Pos start, std::optional<ast::Detail>& detail_out) {
  BlockOpening opening = TRY(open_block(p));
  TRY(p.expect_block_start("of levels after `rate:`"));
  ast::Detail detail;
  std::vector<ast::RateLevel> levels;
  for (;;) {
    TRY(refuse_end_of_file(p));
    if (p.current().is_dedent()) break;
    if (TRY(parse_block_detail_line(p, detail))) continue;
    levels.push_back(TRY(parse_rate_level(p)));
  }
  p.advance();

  if (levels.size() < 2 || levels.size() > 10) {
    return err(Parser::error(
        DiagnosticCode::RateArity,
        "a `rate` has two to ten levels; found " + std::to_string(levels.size()) + " (spec section 6.4)",
        Span{start, opening.colon.end}));
  }
  for (const auto& lvl : levels) {
    auto text = plain_situation(lvl.situation);
    if (text && ast::is_bare_degree(*text)) {
      return err(Parser::error(DiagnosticCode::RateBareDegree,
                               "level \"" + *text +
                                   "\" is only a number or a degree word; describe the situation that stands "
                                   "alone (spec section 6.4)",
                               lvl.span));
    }
  }
  detail_out = ast::detail_or_none(std::move(detail));
  return ast::JudgeVerb{ast::JudgeVerb::Rate{std::move(levels)}};
}

// `pick among TEXT`, optionally with a block of `by FIELD` and `none`; `among` is consumed.
Result<ast::JudgeVerb, Diagnostic> parse_pick_among(Parser& p) {
  ast::JudgeVerb::PickAmong among{TRY(parse_text_expr(p, "the question text after `pick among`")), std::nullopt,
                                  false};
  if (!p.current().is_symbol(Symbol::Colon)) return ast::JudgeVerb{std::move(among)};
  BlockOpening opening = TRY(open_block(p));
  TRY(p.expect_block_start("after `pick among ...:`"));
  if (p.at_word("by")) {
    p.advance();
    among.by = TRY(p.expect_ident("the description field's name after `by`"));
    TRY(p.expect_newline());
  }
  if (p.current().is_keyword(Keyword::None)) {
    p.advance();
    among.allow_none = true;
    TRY(p.expect_newline());
  }
  TRY(refuse_end_of_file(p));
  if (!p.current().is_dedent()) {
    return err(
        p.expect_failure("`by <field>` or `none`, in that order (a `pick among` block holds nothing else)"));
  }
  p.advance();
  return ast::JudgeVerb{std::move(among)};
}

}  // namespace

Result<ast::Judge, Diagnostic> parse_judgment_expr(Parser& p) {
  Pos start = p.current_span().start;
  bool each = false;
  if (p.current().is_keyword(Keyword::Each)) {
    p.advance();
    each = true;
  }
  Expr subject = TRY(parse_or(p));
  return parse_judgment(p, each, std::move(subject), start);
}

Result<ast::Judge, Diagnostic> parse_judgment(Parser& p, bool each, Expr subject_expr, Pos start) {
  // Only a variable or a path into one tells the runtime which part of the state to send with the question.
  std::optional<ast::Subject> subject = ast::subject_from_expr(subject_expr);
  if (!subject) {
    return err(Parser::error(
        DiagnosticCode::SubjectNotPath,
        "a judgment subject must be a variable or a field path; compute first, then judge (spec section 6.1)",
        ast::span(subject_expr)));
  }

  const Token& verb = p.current();
  std::optional<ast::JudgeVerb> parsed;
  std::optional<ast::Detail> detail;
  if (verb.is_keyword(Keyword::Feels)) {
    p.advance();
    Expr condition = TRY(parse_text_expr(p, "the condition text after `feels`"));
    if (p.current().is_symbol(Symbol::Colon)) detail = TRY(parse_detail_block(p));
    parsed = ast::JudgeVerb{ast::JudgeVerb::Feels{std::move(condition)}};
  } else if (verb.is_keyword(Keyword::Pick)) {
    p.advance();
    if (p.current().is_keyword(Keyword::Among)) {
      p.advance();
      parsed = TRY(parse_pick_among(p));
    } else {
      parsed = TRY(parse_pick_block(p, start, detail));
    }
  } else if (verb.is_keyword(Keyword::Rate)) {
    p.advance();
    parsed = TRY(parse_rate_block(p, start, detail));
  } else {
    return err(p.expect_failure("a judgment verb (`feels`, `pick` or `rate`)"));
  }

  return ast::Judge{each, std::move(*subject), std::move(*parsed), std::move(detail), Span{start, p.last_end()}};
}

}  // namespace dravelin::syntax

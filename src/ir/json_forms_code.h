// The JSON forms of expressions, statements and their parts. Every `Expr` and `Stmt` variant ends with `span`.
#pragma once

#include <string_view>
#include <tuple>

#include "ir/json_form.h"

namespace dravelin::ir::json_form {

template <>
struct UnionForm<Expr> {
  static constexpr std::string_view expecting = "internally tagged enum Expr";
};
template <>
struct UnionForm<Stmt> {
  static constexpr std::string_view expecting = "internally tagged enum Stmt";
};
template <>
struct UnionForm<TextPart> {
  static constexpr std::string_view expecting = "internally tagged enum TextPart";
};

// ---- `Expr` variants ----

template <>
struct Form<Expr::Number> {
  static constexpr std::string_view expecting = "struct variant Expr::Number";
  static constexpr auto fields = std::tuple{
      always("value", &Expr::Number::value),
      always("span", &Expr::Number::span),
  };
};

template <>
struct Form<Expr::Text> {
  static constexpr std::string_view expecting = "struct variant Expr::Text";
  static constexpr auto fields = std::tuple{
      always("parts", &Expr::Text::parts),
      always("span", &Expr::Text::span),
  };
};

template <>
struct Form<Expr::Bool> {
  static constexpr std::string_view expecting = "struct variant Expr::Bool";
  static constexpr auto fields = std::tuple{
      always("value", &Expr::Bool::value),
      always("span", &Expr::Bool::span),
  };
};

template <>
struct Form<Expr::None> {
  static constexpr std::string_view expecting = "struct variant Expr::None";
  static constexpr auto fields = std::tuple{
      always("span", &Expr::None::span),
  };
};

template <>
struct Form<Expr::Name> {
  static constexpr std::string_view expecting = "struct variant Expr::Name";
  static constexpr auto fields = std::tuple{
      always("name", &Expr::Name::name),
      always("span", &Expr::Name::span),
  };
};

template <>
struct Form<Expr::List> {
  static constexpr std::string_view expecting = "struct variant Expr::List";
  static constexpr auto fields = std::tuple{
      always("items", &Expr::List::items),
      always("span", &Expr::List::span),
  };
};

template <>
struct Form<Expr::Record> {
  static constexpr std::string_view expecting = "struct variant Expr::Record";
  static constexpr auto fields = std::tuple{
      always("fields", &Expr::Record::fields),
      always("span", &Expr::Record::span),
  };
};

template <>
struct Form<Expr::Field> {
  static constexpr std::string_view expecting = "struct variant Expr::Field";
  static constexpr auto fields = std::tuple{
      always("target", &Expr::Field::target),
      always("name", &Expr::Field::name),
      always("span", &Expr::Field::span),
  };
};

template <>
struct Form<Expr::Index> {
  static constexpr std::string_view expecting = "struct variant Expr::Index";
  static constexpr auto fields = std::tuple{
      always("target", &Expr::Index::target),
      always("index", &Expr::Index::index),
      always("span", &Expr::Index::span),
  };
};

template <>
struct Form<Expr::Call> {
  static constexpr std::string_view expecting = "struct variant Expr::Call";
  static constexpr auto fields = std::tuple{
      always("callee", &Expr::Call::callee),
      always("args", &Expr::Call::args),
      always("form", &Expr::Call::form),
      always("span", &Expr::Call::span),
  };
};

template <>
struct Form<Expr::Unary> {
  static constexpr std::string_view expecting = "struct variant Expr::Unary";
  static constexpr auto fields = std::tuple{
      always("op", &Expr::Unary::op),
      always("operand", &Expr::Unary::operand),
      always("span", &Expr::Unary::span),
  };
};

template <>
struct Form<Expr::Binary> {
  static constexpr std::string_view expecting = "struct variant Expr::Binary";
  static constexpr auto fields = std::tuple{
      always("op", &Expr::Binary::op),
      always("left", &Expr::Binary::left),
      always("right", &Expr::Binary::right),
      always("span", &Expr::Binary::span),
  };
};

template <>
struct Form<Expr::Is> {
  static constexpr std::string_view expecting = "struct variant Expr::Is";
  static constexpr auto fields = std::tuple{
      always("target", &Expr::Is::target),
      always("label", &Expr::Is::label),
      always("span", &Expr::Is::span),
  };
};

template <>
struct Form<Expr::Comprehension> {
  static constexpr std::string_view expecting = "struct variant Expr::Comprehension";
  static constexpr auto fields = std::tuple{
      always("expr", &Expr::Comprehension::expr),
      always("names", &Expr::Comprehension::names),
      always("iterable", &Expr::Comprehension::iterable),
      when_present("test", &Expr::Comprehension::test),
      always("span", &Expr::Comprehension::span),
  };
};

template <>
struct Form<Expr::Focus> {
  static constexpr std::string_view expecting = "struct variant Expr::Focus";
  static constexpr auto fields = std::tuple{
      always("text", &Expr::Focus::text),
      always("on", &Expr::Focus::on),
      always("max", &Expr::Focus::max),
      always("span", &Expr::Focus::span),
  };
};

template <>
struct Form<Expr::Trail> {
  static constexpr std::string_view expecting = "struct variant Expr::Trail";
  static constexpr auto fields = std::tuple{
      always("count", &Expr::Trail::count),
      always("span", &Expr::Trail::span),
  };
};

// The question's own entries, its span included, stand in the expression's object: no nested object, no
// second span.
template <>
struct Form<Expr::Judge> {
  static constexpr auto inline_record = &Expr::Judge::judge;
};

template <>
struct Form<Expr::Log> {
  static constexpr std::string_view expecting = "struct variant Expr::Log";
  static constexpr auto fields = std::tuple{
      always("level", &Expr::Log::level),
      always("value", &Expr::Log::value),
      when_nonempty("fields", &Expr::Log::fields),
      always("span", &Expr::Log::span),
  };
};

// ---- `TextPart` variants (no span) ----

template <>
struct Form<TextPart::Literal> {
  static constexpr std::string_view expecting = "struct variant TextPart::Literal";
  static constexpr auto fields = std::tuple{
      always("value", &TextPart::Literal::value),
  };
};

template <>
struct Form<TextPart::Interpolation> {
  static constexpr std::string_view expecting = "struct variant TextPart::Interpolation";
  static constexpr auto fields = std::tuple{
      always("expr", &TextPart::Interpolation::expr),
  };
};

template <>
struct Form<Arg> {
  static constexpr std::string_view expecting = "struct Arg";
  static constexpr auto fields = std::tuple{
      when_present("name", &Arg::name),
      always("value", &Arg::value),
  };
};

template <>
struct Form<RecordField> {
  static constexpr std::string_view expecting = "struct RecordField";
  static constexpr auto fields = std::tuple{
      always("name", &RecordField::name),
      always("value", &RecordField::value),
  };
};

// ---- `Stmt` variants ----

template <>
struct Form<Stmt::Assign> {
  static constexpr std::string_view expecting = "struct variant Stmt::Assign";
  static constexpr auto fields = std::tuple{
      always("root", &Stmt::Assign::root),
      always("path", &Stmt::Assign::path),
      always("value", &Stmt::Assign::value),
      always("span", &Stmt::Assign::span),
  };
};

template <>
struct Form<Stmt::Expr> {
  static constexpr std::string_view expecting = "struct variant Stmt::Expr";
  static constexpr auto fields = std::tuple{
      always("expr", &Stmt::Expr::expr),
      always("span", &Stmt::Expr::span),
  };
};

// An `else` that holds nothing still differs from no `else`: a present empty list is written as `[]`.
template <>
struct Form<Stmt::If> {
  static constexpr std::string_view expecting = "struct variant Stmt::If";
  static constexpr auto fields = std::tuple{
      always("branches", &Stmt::If::branches),
      when_present("otherwise", &Stmt::If::otherwise),
      always("span", &Stmt::If::span),
  };
};

template <>
struct Form<Stmt::For> {
  static constexpr std::string_view expecting = "struct variant Stmt::For";
  static constexpr auto fields = std::tuple{
      always("names", &Stmt::For::names),
      always("iterable", &Stmt::For::iterable),
      always("body", &Stmt::For::body),
      always("span", &Stmt::For::span),
  };
};

template <>
struct Form<Stmt::Loop> {
  static constexpr std::string_view expecting = "struct variant Stmt::Loop";
  static constexpr auto fields = std::tuple{
      always("max", &Stmt::Loop::max),
      always("body", &Stmt::Loop::body),
      always("span", &Stmt::Loop::span),
  };
};

template <>
struct Form<Stmt::Until> {
  static constexpr std::string_view expecting = "struct variant Stmt::Until";
  static constexpr auto fields = std::tuple{
      always("test", &Stmt::Until::test),
      always("verify", &Stmt::Until::verify),
      always("max", &Stmt::Until::max),
      always("body", &Stmt::Until::body),
      always("span", &Stmt::Until::span),
  };
};

template <>
struct Form<Stmt::Gate> {
  static constexpr std::string_view expecting = "struct variant Stmt::Gate";
  static constexpr auto fields = std::tuple{
      when_present("risk", &Stmt::Gate::risk),
      when_present("confidence", &Stmt::Gate::confidence),
      when_present("done", &Stmt::Gate::done),
      always("arms", &Stmt::Gate::arms),
      always("span", &Stmt::Gate::span),
  };
};

template <>
struct Form<Stmt::Shape> {
  static constexpr std::string_view expecting = "struct variant Stmt::Shape";
  static constexpr auto fields = std::tuple{
      always("target", &Stmt::Shape::target),
      always("strict", &Stmt::Shape::strict),
      always("fields", &Stmt::Shape::fields),
      always("span", &Stmt::Shape::span),
  };
};

template <>
struct Form<Stmt::Return> {
  static constexpr std::string_view expecting = "struct variant Stmt::Return";
  static constexpr auto fields = std::tuple{
      when_present("value", &Stmt::Return::value),
      always("span", &Stmt::Return::span),
  };
};

template <>
struct Form<Stmt::Continue> {
  static constexpr std::string_view expecting = "struct variant Stmt::Continue";
  static constexpr auto fields = std::tuple{
      always("span", &Stmt::Continue::span),
  };
};

template <>
struct Form<Stmt::Break> {
  static constexpr std::string_view expecting = "struct variant Stmt::Break";
  static constexpr auto fields = std::tuple{
      always("span", &Stmt::Break::span),
  };
};

template <>
struct Form<Stmt::Stop> {
  static constexpr std::string_view expecting = "struct variant Stmt::Stop";
  static constexpr auto fields = std::tuple{
      always("reason", &Stmt::Stop::reason),
      always("span", &Stmt::Stop::span),
  };
};

template <>
struct Form<Stmt::Escalate> {
  static constexpr std::string_view expecting = "struct variant Stmt::Escalate";
  static constexpr auto fields = std::tuple{
      always("reason", &Stmt::Escalate::reason),
      always("span", &Stmt::Escalate::span),
  };
};

template <>
struct Form<Branch> {
  static constexpr std::string_view expecting = "struct Branch";
  static constexpr auto fields = std::tuple{
      always("test", &Branch::test),
      always("body", &Branch::body),
      always("span", &Branch::span),
  };
};

template <>
struct Form<GateArm> {
  static constexpr std::string_view expecting = "struct GateArm";
  static constexpr auto fields = std::tuple{
      always("verdict", &GateArm::verdict),
      always("body", &GateArm::body),
      always("span", &GateArm::span),
  };
};

}  // namespace dravelin::ir::json_form

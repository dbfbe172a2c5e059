// The JSON forms of judgments, questions and shapes.
#pragma once

#include <string_view>
#include <tuple>

#include "ir/json_form.h"

namespace dravelin::ir::json_form {

template <>
struct UnionForm<SubjectStep> {
  static constexpr std::string_view expecting = "internally tagged enum SubjectStep";
};
template <>
struct UnionForm<JudgeVerb> {
  static constexpr std::string_view expecting = "internally tagged enum JudgeVerb";
};
template <>
struct UnionForm<Shape> {
  static constexpr std::string_view expecting = "internally tagged enum Shape";
};
template <>
struct UnionForm<ShapePolicy> {
  static constexpr std::string_view expecting = "internally tagged enum ShapePolicy";
};

template <>
struct Form<Judgment> {
  static constexpr std::string_view expecting = "struct Judgment";
  static constexpr auto fields = std::tuple{
      always("name", &Judgment::name),
      always("params", &Judgment::params),
      always("results", &Judgment::results),
      when_nonempty("logs", &Judgment::logs),
      always("shape_hash", &Judgment::shape_hash),
      always("span", &Judgment::span),
  };
};

template <>
struct Form<JudgmentResult> {
  static constexpr std::string_view expecting = "struct JudgmentResult";
  static constexpr auto fields = std::tuple{
      always("name", &JudgmentResult::name),
      always("question", &JudgmentResult::question),
      always("span", &JudgmentResult::span),
  };
};

template <>
struct Form<JudgmentLog> {
  static constexpr std::string_view expecting = "struct JudgmentLog";
  static constexpr auto fields = std::tuple{
      always("after", &JudgmentLog::after),
      always("log", &JudgmentLog::log),
      always("span", &JudgmentLog::span),
  };
};

template <>
struct Form<Judge> {
  static constexpr std::string_view expecting = "struct Judge";
  static constexpr auto fields = std::tuple{
      always("each", &Judge::each),
      always("subject", &Judge::subject),
      always("verb", &Judge::verb),
      when_present("detail", &Judge::detail),
      always("request_group", &Judge::request_group),
      always("span", &Judge::span),
  };
};

template <>
struct Form<Subject> {
  static constexpr std::string_view expecting = "struct Subject";
  static constexpr auto fields = std::tuple{
      always("root", &Subject::root),
      always("path", &Subject::path),
      always("state_path", &Subject::state_path),
      always("span", &Subject::span),
  };
};

template <>
struct Form<SubjectStep::Field> {
  static constexpr std::string_view expecting = "struct variant SubjectStep::Field";
  static constexpr auto fields = std::tuple{
      always("name", &SubjectStep::Field::name),
  };
};

template <>
struct Form<SubjectStep::Index> {
  static constexpr std::string_view expecting = "struct variant SubjectStep::Index";
  static constexpr auto fields = std::tuple{
      always("index", &SubjectStep::Index::index),
  };
};

template <>
struct Form<JudgeVerb::Feels> {
  static constexpr std::string_view expecting = "struct variant JudgeVerb::Feels";
  static constexpr auto fields = std::tuple{
      always("condition", &JudgeVerb::Feels::condition),
  };
};

template <>
struct Form<JudgeVerb::Pick> {
  static constexpr std::string_view expecting = "struct variant JudgeVerb::Pick";
  static constexpr auto fields = std::tuple{
      always("labels", &JudgeVerb::Pick::labels),
  };
};

template <>
struct Form<JudgeVerb::Rate> {
  static constexpr std::string_view expecting = "struct variant JudgeVerb::Rate";
  static constexpr auto fields = std::tuple{
      always("levels", &JudgeVerb::Rate::levels),
  };
};

template <>
struct Form<JudgeVerb::PickAmong> {
  static constexpr std::string_view expecting = "struct variant JudgeVerb::PickAmong";
  static constexpr auto fields = std::tuple{
      always("question", &JudgeVerb::PickAmong::question),
      when_present("by", &JudgeVerb::PickAmong::by),
      always("allow_none", &JudgeVerb::PickAmong::allow_none),
  };
};

template <>
struct Form<PickLabel> {
  static constexpr std::string_view expecting = "struct PickLabel";
  static constexpr auto fields = std::tuple{
      always("name", &PickLabel::name),
      always("escape", &PickLabel::escape),
      when_present("description", &PickLabel::description),
      when_present("what", &PickLabel::what),
      when_present("not_for", &PickLabel::not_for),
      when_present("examples", &PickLabel::examples),
      always("span", &PickLabel::span),
  };
};

template <>
struct Form<RateLevel> {
  static constexpr std::string_view expecting = "struct RateLevel";
  static constexpr auto fields = std::tuple{
      when_present("name", &RateLevel::name),
      always("situation", &RateLevel::situation),
      always("span", &RateLevel::span),
  };
};

// `sample` has three states: no key, `true`, and a `false` that is written.
template <>
struct Form<Detail> {
  static constexpr std::string_view expecting = "struct Detail";
  static constexpr auto fields = std::tuple{
      when_present("focus", &Detail::focus),
      when_present("note", &Detail::note),
      when_present("compare", &Detail::compare),
      when_present("yes", &Detail::yes),
      when_present("no", &Detail::no),
      when_present("sample", &Detail::sample),
  };
};

template <>
struct Form<Shape::Type> {
  static constexpr std::string_view expecting = "struct variant Shape::Type";
  static constexpr auto fields = std::tuple{
      always("name", &Shape::Type::name),
  };
};

// The field list of a record shape is written even when empty.
template <>
struct Form<Shape::Record> {
  static constexpr std::string_view expecting = "struct variant Shape::Record";
  static constexpr auto fields = std::tuple{
      always("fields", &Shape::Record::fields),
  };
};

template <>
struct Form<FieldShape> {
  static constexpr std::string_view expecting = "struct FieldShape";
  static constexpr auto fields = std::tuple{
      always("name", &FieldShape::name),
      when_present("shape", &FieldShape::shape),
  };
};

template <>
struct Form<ShapeField> {
  static constexpr std::string_view expecting = "struct ShapeField";
  static constexpr auto fields = std::tuple{
      always("name", &ShapeField::name),
      always("value", &ShapeField::value),
      when_present("max", &ShapeField::max),
      always("policy", &ShapeField::policy),
      always("span", &ShapeField::span),
  };
};

// Head and tail are the tag alone.
template <>
struct Form<ShapePolicy::Head> {
  static constexpr std::string_view expecting = "struct variant ShapePolicy::Head";
  static constexpr auto fields = std::tuple{};
};

template <>
struct Form<ShapePolicy::Tail> {
  static constexpr std::string_view expecting = "struct variant ShapePolicy::Tail";
  static constexpr auto fields = std::tuple{};
};

template <>
struct Form<ShapePolicy::Focus> {
  static constexpr std::string_view expecting = "struct variant ShapePolicy::Focus";
  static constexpr auto fields = std::tuple{
      always("on", &ShapePolicy::Focus::on),
  };
};

}  // namespace dravelin::ir::json_form

// The request body of a group.
#include <utility>

#include "json/writer.h"
#include "zem/wire.h"

namespace dravelin::zem {

namespace {

json::Value texts_array(const std::vector<std::string>& texts) {
  json::Array out;
  out.reserve(texts.size());
  for (const std::string& text : texts) out.emplace_back(text);
  return json::Value(std::move(out));
}

json::Value examples_object(const std::vector<std::string>& examples) {
  json::Object out;
  out.set("examples", texts_array(examples));
  return json::Value(std::move(out));
}

json::Value payload(std::string_view type, std::string_view question_text, std::string_view path,
                    const std::optional<Instruction>& instruction, std::optional<json::Value> criteria) {
  json::Object out;
  if (criteria) out.set("criteria", std::move(*criteria));
  out.set("instructions", question_instructions(question_text, path, instruction));
  out.set("type", json::Value(type));
  return json::Value(std::move(out));
}

std::string inserted(std::string_view before, std::string_view path, std::string_view after) {
  std::string out;
  out.reserve(before.size() + path.size() + after.size());
  out.append(before).append(path).append(after);
  return out;
}

}  // namespace

json::Value question_instructions(std::string_view question_text, std::string_view path,
                                  const std::optional<Instruction>& instruction) {
  json::Object out;
  out.set("question", json::Value(question_text));
  out.set("inspect", json::Value(path));
  if (instruction) {
    if (instruction->focus) out.set("focus", json::Value(*instruction->focus));
    if (instruction->note) out.set("note", json::Value(*instruction->note));
    if (!instruction->compare.empty()) out.set("compare", texts_array(instruction->compare));
  }
  return json::Value(std::move(out));
}

json::Value label_criterion(const ChoiceLabel& label) {
  if (!label.what && !label.not_for && label.examples.empty()) {
    return json::Value(label.description ? *label.description : std::string("none of the other options fits"));
  }
  json::Object out;
  if (label.what) {
    out.set("what", json::Value(*label.what));
  } else if (label.description) {
    out.set("what", json::Value(*label.description));
  }
  if (label.not_for) out.set("not_for", json::Value(*label.not_for));
  if (!label.examples.empty()) out.set("examples", texts_array(label.examples));
  return json::Value(std::move(out));
}

json::Value question_payload(const Question& question) {
  if (const auto* noul = std::get_if<Question::Noul>(&question.data)) {
    std::optional<json::Value> criteria;
    const auto& instruction = noul->instruction;
    if (instruction && (!instruction->yes.empty() || !instruction->no.empty())) {
      json::Object sides;
      if (!instruction->yes.empty()) sides.set("true", examples_object(instruction->yes));
      if (!instruction->no.empty()) sides.set("false", examples_object(instruction->no));
      criteria = json::Value(std::move(sides));
    }
    std::string text = inserted("Is it the case that `", noul->path, "` ");
    text.append(noul->condition).append("?");
    return payload("noul", text, noul->path, instruction, std::move(criteria));
  }
  if (const auto* choice = std::get_if<Question::Choice>(&question.data)) {
    json::Object criteria;
    for (const ChoiceLabel& label : choice->labels) criteria.set(label.name, label_criterion(label));
    const std::string text =
        choice->question ? *choice->question : inserted("Which option describes `", choice->path, "`?");
    return payload("choice", text, choice->path, choice->instruction, json::Value(std::move(criteria)));
  }
  const auto& score = std::get<Question::Score>(question.data);
  json::Array situations;
  situations.reserve(score.levels.size());
  for (const ScoreLevel& level : score.levels) situations.emplace_back(level.situation);
  return payload("score", inserted("Which level describes `", score.path, "`?"), score.path, score.instruction,
                 json::Value(std::move(situations)));
}

json::Value build_request_body(const RequestGroup& group) {
  json::Object questions;
  for (const Question& question : group.questions) questions.set(question.id(), question_payload(question));
  json::Object body;
  body.set("model", json::Value(group.model));
  body.set("questions", json::Value(std::move(questions)));
  body.set("state", state_to_json_value(group.state));
  return json::Value(std::move(body));
}

std::string write_request_body(const RequestGroup& group) { return json::to_compact(build_request_body(group)); }

}  // namespace dravelin::zem

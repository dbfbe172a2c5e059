// The model service's reply to one request group: answers that fit the questions asked, or a message.
#include <algorithm>

#include "fuzz_target.h"
#include "json/reader.h"
#include "syntax/utf8.h"
#include "zem/wire.h"

using namespace dravelin;

namespace {

// One question of every kind, two of them sharing a path, so that answers are matched by id and kind.
const zem::RequestGroup& asked_group() {
  static const zem::RequestGroup group = [] {
    zem::RequestGroup g;
    g.model = "zem-1.13.0";
    g.questions.push_back(zem::Question::Noul{"urgent", "ticket.body", "sounds urgent", std::nullopt});
    g.questions.push_back(zem::Question::Choice{
        "kind", "ticket", std::nullopt,
        {zem::ChoiceLabel::make("bug", "a defect"), zem::ChoiceLabel::make("other", std::nullopt)}, std::nullopt});
    g.questions.push_back(zem::Question::Score{
        "tone", "ticket.body", {{std::string("low"), "calm"}, {std::nullopt, "tense"}, {std::string("high"), "angry"}},
        std::nullopt});
    return g;
  }();
  return group;
}

}  // namespace

DRAVELIN_FUZZ_TARGET(zem_reply) {
  const zem::RequestGroup& group = asked_group();
  // An error reply's body is shown to the user whatever it holds.
  const std::string shown = zem::http_error_message(502, zem::decode_utf8_lossy(bytes));
  if (!syntax::is_valid_utf8(shown)) return fuzz::broken("an error reply's message is not UTF-8");

  auto reply = json::parse_json_value(bytes);
  if (!reply.ok()) return fuzz::holds();
  (void)zem::ZemAnswer::from_content(*reply);
  auto parsed = zem::parse_response(*reply, group);
  if (!parsed.ok()) {
    if (parsed.error().empty()) return fuzz::broken("a refused reply has an empty message");
    return fuzz::holds();
  }
  if (parsed->answers.size() != group.questions.size()) return fuzz::broken("not one answer per question");
  for (size_t i = 0; i < group.questions.size(); ++i) {
    const zem::Question& question = group.questions[i];
    const zem::ZemAnswer& answer = parsed->answers[i];
    if (answer.id() != question.id()) return fuzz::broken("an answer stands in another question's place");
    if (static_cast<int>(answer.kind()) != static_cast<int>(question.kind()))
      return fuzz::broken("an answer's kind is not its question's");
    if (const auto* score = std::get_if<zem::ZemAnswer::Score>(&answer.data)) {
      const auto& levels = std::get<zem::Question::Score>(question.data).levels;
      if (score->level >= levels.size()) return fuzz::broken("a score answer names a level the question lacks");
    }
    if (const auto* choice = std::get_if<zem::ZemAnswer::Choice>(&answer.data)) {
      const auto& labels = std::get<zem::Question::Choice>(question.data).labels;
      const bool known = std::any_of(labels.begin(), labels.end(),
                                     [&](const zem::ChoiceLabel& l) { return l.name == choice->label; });
      if (!known) return fuzz::broken("a choice answer names a label the question lacks");
    }
  }
  return fuzz::holds();
}

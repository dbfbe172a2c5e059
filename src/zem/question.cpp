#include "zem/question.h"

#include <array>
#include <utility>

#include "json/record_read.h"

namespace dravelin::zem {

Question::Question(const Question&) = default;
Question::Question(Question&&) noexcept = default;
Question& Question::operator=(const Question&) = default;
Question& Question::operator=(Question&&) noexcept = default;
Question::~Question() = default;
bool operator==(const Question&, const Question&) = default;

namespace rr = json::record_read;

namespace {

template <class Out>
void opt_string(Out& out, std::string_view key, const std::optional<std::string>& text) {
  if (text) out.field_string(key, *text);
}

template <class Out>
void nonempty_list(Out& out, std::string_view key, const std::vector<std::string>& texts) {
  if (!texts.empty()) out.field_string_list(key, texts);
}

template <class Out>
void write_instruction(const Instruction& value, Out& out) {
  out.begin_object();
  opt_string(out, "focus", value.focus);
  opt_string(out, "note", value.note);
  nonempty_list(out, "compare", value.compare);
  nonempty_list(out, "yes", value.yes);
  nonempty_list(out, "no", value.no);
  out.end_object();
}

template <class Out>
void write_label(const ChoiceLabel& value, Out& out) {
  out.begin_object();
  out.field_string("name", value.name);
  opt_string(out, "description", value.description);
  opt_string(out, "what", value.what);
  opt_string(out, "not_for", value.not_for);
  nonempty_list(out, "examples", value.examples);
  out.end_object();
}

template <class Out>
void write_level(const ScoreLevel& value, Out& out) {
  out.begin_object();
  opt_string(out, "name", value.name);
  out.field_string("situation", value.situation);
  out.end_object();
}

template <class Out>
void opt_instruction(Out& out, const std::optional<Instruction>& instruction) {
  if (!instruction) return;
  out.key("instruction");
  write_instruction(*instruction, out);
}

template <class Out>
void write_question(const Question& question, Out& out) {
  out.begin_tagged_object("type", Question::kind_name(question.kind()));
  if (const auto* noul = std::get_if<Question::Noul>(&question.data)) {
    out.field_string("id", noul->id);
    out.field_string("path", noul->path);
    out.field_string("condition", noul->condition);
    opt_instruction(out, noul->instruction);
  } else if (const auto* choice = std::get_if<Question::Choice>(&question.data)) {
    out.field_string("id", choice->id);
    out.field_string("path", choice->path);
    opt_string(out, "question", choice->question);
    out.key("labels").begin_array();
    for (const ChoiceLabel& label : choice->labels) write_label(label, out);
    out.end_array();
    opt_instruction(out, choice->instruction);
  } else {
    const auto& score = std::get<Question::Score>(question.data);
    out.field_string("id", score.id);
    out.field_string("path", score.path);
    out.key("levels").begin_array();
    for (const ScoreLevel& level : score.levels) write_level(level, out);
    out.end_array();
    opt_instruction(out, score.instruction);
  }
  out.end_object();
}

template <class T, class WriteFn>
void write_compact(const T& value, std::string& out, WriteFn write) {
  json::Writer writer(out);
  write(value, writer);
}

template <class T, class WriteFn>
json::Value build_value(const T& value, WriteFn write) {
  json::ValueBuilder builder;
  write(value, builder);
  return builder.take();
}

// Absent and null optional instructions read alike.
rr::ReadResult<std::optional<Instruction>> read_opt_instruction(const json::Value& value) {
  if (value.is_null()) return std::optional<Instruction>();
  Instruction instruction = TRY(Instruction::visit_map(value));
  return std::optional<Instruction>(std::move(instruction));
}

constexpr rr::Field kInstructionFields[] = {
    {"focus", false}, {"note", false}, {"compare", false}, {"yes", false}, {"no", false}};
constexpr rr::Field kLabelFields[] = {
    {"name", true}, {"description", false}, {"what", false}, {"not_for", false}, {"examples", false}};
constexpr rr::Field kLevelFields[] = {{"name", false}, {"situation", true}};
constexpr rr::Field kNoulQuestionFields[] = {{"id", true}, {"path", true}, {"condition", true}, {"instruction", false}};
constexpr rr::Field kChoiceQuestionFields[] = {
    {"id", true}, {"path", true}, {"question", false}, {"labels", true}, {"instruction", false}};
constexpr rr::Field kScoreQuestionFields[] = {{"id", true}, {"path", true}, {"levels", true}, {"instruction", false}};

constexpr std::array<std::string_view, 3> kQuestionTags = {"noul", "choice", "score"};

rr::ReadResult<Question> read_noul_question(const json::Value& value) {
  Question::Noul noul;
  TRY(rr::read_record(
      value, {"struct variant Question::Noul", kNoulQuestionFields},
      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
        switch (field) {
          case 0: noul.id = TRY(rr::read_string(v)); break;
          case 1: noul.path = TRY(rr::read_string(v)); break;
          case 2: noul.condition = TRY(rr::read_string(v)); break;
          default: noul.instruction = TRY(read_opt_instruction(v)); break;
        }
        return Unit{};
      },
      1));
  return Question(std::move(noul));
}

rr::ReadResult<Question> read_choice_question(const json::Value& value) {
  Question::Choice choice;
  TRY(rr::read_record(
      value, {"struct variant Question::Choice", kChoiceQuestionFields},
      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
        switch (field) {
          case 0: choice.id = TRY(rr::read_string(v)); break;
          case 1: choice.path = TRY(rr::read_string(v)); break;
          case 2: choice.question = TRY(rr::read_opt_string(v)); break;
          case 3: choice.labels = TRY(rr::read_list<ChoiceLabel>(v, ChoiceLabel::visit_map)); break;
          default: choice.instruction = TRY(read_opt_instruction(v)); break;
        }
        return Unit{};
      },
      1));
  return Question(std::move(choice));
}

rr::ReadResult<Question> read_score_question(const json::Value& value) {
  Question::Score score;
  TRY(rr::read_record(
      value, {"struct variant Question::Score", kScoreQuestionFields},
      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
        switch (field) {
          case 0: score.id = TRY(rr::read_string(v)); break;
          case 1: score.path = TRY(rr::read_string(v)); break;
          case 2: score.levels = TRY(rr::read_list<ScoreLevel>(v, ScoreLevel::visit_map)); break;
          default: score.instruction = TRY(read_opt_instruction(v)); break;
        }
        return Unit{};
      },
      1));
  return Question(std::move(score));
}

}  // namespace

// ---- Instruction ----

bool Instruction::empty() const {
  return !focus && !note && compare.empty() && yes.empty() && no.empty();
}

void Instruction::write_json(std::string& out) const { write_compact(*this, out, write_instruction<json::Writer>); }
void Instruction::write_json(json::Writer& out) const { write_instruction(*this, out); }
json::Value Instruction::to_json_value() const { return build_value(*this, write_instruction<json::ValueBuilder>); }

Result<Instruction, std::string> Instruction::visit_map(const json::Value& value) {
  Instruction out;
  TRY(rr::read_record(value, {"struct Instruction", kInstructionFields},
                      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
                        switch (field) {
                          case 0: out.focus = TRY(rr::read_opt_string(v)); break;
                          case 1: out.note = TRY(rr::read_opt_string(v)); break;
                          case 2: out.compare = TRY(rr::read_string_list(v)); break;
                          case 3: out.yes = TRY(rr::read_string_list(v)); break;
                          default: out.no = TRY(rr::read_string_list(v)); break;
                        }
                        return Unit{};
                      }));
  return out;
}

// ---- ChoiceLabel ----

ChoiceLabel ChoiceLabel::make(std::string name, std::optional<std::string> description) {
  ChoiceLabel label;
  label.name = std::move(name);
  label.description = std::move(description);
  return label;
}

void ChoiceLabel::write_json(std::string& out) const { write_compact(*this, out, write_label<json::Writer>); }
void ChoiceLabel::write_json(json::Writer& out) const { write_label(*this, out); }
json::Value ChoiceLabel::to_json_value() const { return build_value(*this, write_label<json::ValueBuilder>); }

Result<ChoiceLabel, std::string> ChoiceLabel::visit_map(const json::Value& value) {
  ChoiceLabel out;
  TRY(rr::read_record(value, {"struct ChoiceLabel", kLabelFields},
                      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
                        switch (field) {
                          case 0: out.name = TRY(rr::read_string(v)); break;
                          case 1: out.description = TRY(rr::read_opt_string(v)); break;
                          case 2: out.what = TRY(rr::read_opt_string(v)); break;
                          case 3: out.not_for = TRY(rr::read_opt_string(v)); break;
                          default: out.examples = TRY(rr::read_string_list(v)); break;
                        }
                        return Unit{};
                      }));
  return out;
}

// ---- ScoreLevel ----

void ScoreLevel::write_json(std::string& out) const { write_compact(*this, out, write_level<json::Writer>); }
void ScoreLevel::write_json(json::Writer& out) const { write_level(*this, out); }
json::Value ScoreLevel::to_json_value() const { return build_value(*this, write_level<json::ValueBuilder>); }

Result<ScoreLevel, std::string> ScoreLevel::visit_map(const json::Value& value) {
  ScoreLevel out;
  TRY(rr::read_record(value, {"struct ScoreLevel", kLevelFields},
                      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
                        if (field == 0) {
                          out.name = TRY(rr::read_opt_string(v));
                        } else {
                          out.situation = TRY(rr::read_string(v));
                        }
                        return Unit{};
                      }));
  return out;
}

// ---- Question ----

std::string_view Question::kind_name(Kind kind) { return kQuestionTags[static_cast<size_t>(kind)]; }

const std::string& Question::id() const {
  return std::visit([](const auto& q) -> const std::string& { return q.id; }, data);
}

const std::string& Question::path() const {
  return std::visit([](const auto& q) -> const std::string& { return q.path; }, data);
}

const std::optional<Instruction>& Question::instruction() const {
  return std::visit([](const auto& q) -> const std::optional<Instruction>& { return q.instruction; }, data);
}

void Question::write_json(std::string& out) const { write_compact(*this, out, write_question<json::Writer>); }
void Question::write_json(json::Writer& out) const { write_question(*this, out); }
json::Value Question::to_json_value() const { return build_value(*this, write_question<json::ValueBuilder>); }

Result<Question, std::string> Question::from_content(const json::Value& value) {
  const size_t variant = TRY(rr::read_tag(value, "type", kQuestionTags, "internally tagged enum Question"));
  switch (static_cast<Kind>(variant)) {
    case Kind::Noul: return read_noul_question(value);
    case Kind::Choice: return read_choice_question(value);
    case Kind::Score: break;
  }
  return read_score_question(value);
}

bool Question::slice_eq(const std::vector<Question>& a, const std::vector<Question>& b) { return a == b; }

}  // namespace dravelin::zem

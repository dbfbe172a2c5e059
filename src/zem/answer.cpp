#include "zem/answer.h"

#include <array>
#include <utility>

#include "json/record_read.h"

namespace dravelin::zem {

ZemAnswer::ZemAnswer(const ZemAnswer&) = default;
ZemAnswer::ZemAnswer(ZemAnswer&&) noexcept = default;
ZemAnswer& ZemAnswer::operator=(const ZemAnswer&) = default;
ZemAnswer& ZemAnswer::operator=(ZemAnswer&&) noexcept = default;
ZemAnswer::~ZemAnswer() = default;
bool operator==(const ZemAnswer&, const ZemAnswer&) = default;

namespace rr = json::record_read;

namespace {

constexpr std::array<std::string_view, 3> kAnswerTags = {"noul", "choice", "score"};

template <class Out>
void write_probabilities(Out& out, const Probabilities& probabilities) {
  out.key("probabilities").begin_object();
  for (const auto& [key, probability] : probabilities) out.field_f64(key, probability);
  out.end_object();
}

template <class Out>
void write_answer(const ZemAnswer& answer, Out& out) {
  out.begin_tagged_object("type", ZemAnswer::kind_name(answer.kind()));
  if (const auto* noul = std::get_if<ZemAnswer::Noul>(&answer.data)) {
    out.field_string("id", noul->id);
    out.field_f64("prob", noul->prob);
  } else if (const auto* choice = std::get_if<ZemAnswer::Choice>(&answer.data)) {
    out.field_string("id", choice->id);
    out.field_string("label", choice->label);
    out.field_f64("confidence", choice->confidence);
    write_probabilities(out, choice->probabilities);
  } else {
    const auto& score = std::get<ZemAnswer::Score>(answer.data);
    out.field_string("id", score.id);
    out.field_u32("level", score.level);
    out.field_f64("score", score.score);
    out.field_f64("confidence", score.confidence);
    write_probabilities(out, score.probabilities);
  }
  out.end_object();
}

template <class Out>
void write_usage(const ZemUsage& usage, Out& out) {
  out.begin_object();
  out.field_u64("tokens", usage.tokens);
  if (usage.usd) out.field_f64("usd", *usage.usd);
  out.end_object();
}

constexpr rr::Field kNoulFields[] = {{"id", true}, {"prob", true}};
constexpr rr::Field kChoiceFields[] = {
    {"id", true}, {"label", true}, {"confidence", true}, {"probabilities", true}};
constexpr rr::Field kScoreFields[] = {
    {"id", true}, {"level", true}, {"score", true}, {"confidence", true}, {"probabilities", true}};
constexpr rr::Field kUsageFields[] = {{"tokens", true}, {"usd", false}};

rr::ReadResult<ZemAnswer> read_noul(const json::Value& value) {
  ZemAnswer::Noul noul;
  TRY(rr::read_record(
      value, {"struct variant ZemAnswer::Noul", kNoulFields},
      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
        if (field == 0) {
          noul.id = TRY(rr::read_string(v));
        } else {
          noul.prob = TRY(rr::read_f64(v));
        }
        return Unit{};
      },
      1));
  return ZemAnswer(std::move(noul));
}

rr::ReadResult<ZemAnswer> read_choice(const json::Value& value) {
  ZemAnswer::Choice choice;
  TRY(rr::read_record(
      value, {"struct variant ZemAnswer::Choice", kChoiceFields},
      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
        switch (field) {
          case 0: choice.id = TRY(rr::read_string(v)); break;
          case 1: choice.label = TRY(rr::read_string(v)); break;
          case 2: choice.confidence = TRY(rr::read_f64(v)); break;
          default: choice.probabilities = TRY(rr::read_f64_map(v)); break;
        }
        return Unit{};
      },
      1));
  return ZemAnswer(std::move(choice));
}

rr::ReadResult<ZemAnswer> read_score(const json::Value& value) {
  ZemAnswer::Score score;
  TRY(rr::read_record(
      value, {"struct variant ZemAnswer::Score", kScoreFields},
      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
        switch (field) {
          case 0: score.id = TRY(rr::read_string(v)); break;
          case 1: score.level = TRY(rr::read_u32(v)); break;
          case 2: score.score = TRY(rr::read_f64(v)); break;
          case 3: score.confidence = TRY(rr::read_f64(v)); break;
          default: score.probabilities = TRY(rr::read_f64_map(v)); break;
        }
        return Unit{};
      },
      1));
  return ZemAnswer(std::move(score));
}

}  // namespace

// ---- ZemAnswer ----

std::string_view ZemAnswer::kind_name(Kind kind) { return kAnswerTags[static_cast<size_t>(kind)]; }

const std::string& ZemAnswer::id() const {
  return std::visit([](const auto& a) -> const std::string& { return a.id; }, data);
}

void ZemAnswer::write_json(std::string& out) const {
  json::Writer writer(out);
  write_answer(*this, writer);
}

void ZemAnswer::write_json(json::Writer& out) const { write_answer(*this, out); }

json::Value ZemAnswer::to_json_value() const {
  json::ValueBuilder builder;
  write_answer(*this, builder);
  return builder.take();
}

Result<ZemAnswer, std::string> ZemAnswer::from_content(const json::Value& value) {
  const size_t variant = TRY(rr::read_tag(value, "type", kAnswerTags, "internally tagged enum ZemAnswer"));
  switch (static_cast<Kind>(variant)) {
    case Kind::Noul: return read_noul(value);
    case Kind::Choice: return read_choice(value);
    case Kind::Score: break;
  }
  return read_score(value);
}

bool ZemAnswer::slice_eq(const std::vector<ZemAnswer>& a, const std::vector<ZemAnswer>& b) { return a == b; }

// ---- ZemUsage ----

void ZemUsage::write_json(std::string& out) const {
  json::Writer writer(out);
  write_usage(*this, writer);
}

void ZemUsage::write_json(json::Writer& out) const { write_usage(*this, out); }

json::Value ZemUsage::to_json_value() const {
  json::ValueBuilder builder;
  write_usage(*this, builder);
  return builder.take();
}

Result<ZemUsage, std::string> ZemUsage::visit_map(const json::Value& value) {
  ZemUsage out;
  TRY(rr::read_record(value, {"struct ZemUsage", kUsageFields},
                      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
                        if (field == 0) {
                          out.tokens = TRY(rr::read_u64(v));
                        } else {
                          out.usd = TRY(rr::read_opt_f64(v));
                        }
                        return Unit{};
                      }));
  return out;
}

}  // namespace dravelin::zem

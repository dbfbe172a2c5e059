#include "serve/protocol/results.h"

#include <utility>

#include "ir/write_json.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace dravelin::serve::protocol {
namespace {

json::Value strings(const std::vector<std::string>& texts) {
  json::Array out;
  out.reserve(texts.size());
  for (const std::string& text : texts) out.emplace_back(text);
  return json::Value(std::move(out));
}

template <class T>
json::Value list(const std::vector<T>& items) {
  json::Array out;
  out.reserve(items.size());
  for (const T& item : items) out.push_back(item.to_json_value());
  return json::Value(std::move(out));
}

}  // namespace

InputInfo InputInfo::from_input(const ir::Input& input) { return InputInfo{input.name, input.shape}; }

json::Value InputInfo::to_json_value() const {
  json::ValueBuilder shape_value;
  ir::write_json(shape, shape_value);
  json::Object out;
  out.set("name", json::Value(name));
  out.set("shape", shape_value.take());
  return json::Value(std::move(out));
}

NeedInfo NeedInfo::from_need(const ir::Need& need) { return NeedInfo{need.name, need.kind}; }

json::Value NeedInfo::to_json_value() const {
  json::Object out;
  out.set("kind", json::Value(record::need_kind_name(kind)));
  out.set("name", json::Value(name));
  return json::Value(std::move(out));
}

json::Value LevelInfo::to_json_value() const {
  json::Object out;
  out.set("index", json::Value(index));
  if (name) out.set("name", json::Value(*name));
  return json::Value(std::move(out));
}

ResultInfo ResultInfo::from_result(const ir::JudgmentResult& result) {
  ResultInfo info{result.name, result.question.each, Feels{}};
  std::visit(
      [&](const auto& verb) {
        using V = std::decay_t<decltype(verb)>;
        if constexpr (std::is_same_v<V, ir::JudgeVerb::Pick>) {
          Pick pick;
          for (const ir::PickLabel& label : verb.labels) pick.labels.push_back(label.name);
          info.verb = std::move(pick);
        } else if constexpr (std::is_same_v<V, ir::JudgeVerb::Rate>) {
          Rate rate;
          for (size_t i = 0; i < verb.levels.size(); ++i) rate.levels.push_back(LevelInfo{i, verb.levels[i].name});
          info.verb = std::move(rate);
        } else if constexpr (std::is_same_v<V, ir::JudgeVerb::PickAmong>) {
          info.verb = PickAmong{verb.allow_none};
        }
      },
      result.question.verb.node);
  return info;
}

json::Value ResultInfo::to_json_value() const {
  json::Object out;
  out.set("each", json::Value(each));
  out.set("name", json::Value(name));
  std::visit(
      [&](const auto& v) {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, Feels>) {
          out.set("verb", json::Value("feels"));
        } else if constexpr (std::is_same_v<V, Pick>) {
          out.set("verb", json::Value("pick"));
          out.set("labels", strings(v.labels));
        } else if constexpr (std::is_same_v<V, Rate>) {
          out.set("verb", json::Value("rate"));
          out.set("levels", list(v.levels));
        } else {
          out.set("verb", json::Value("pick_among"));
          out.set("allow_none", json::Value(v.allow_none));
        }
      },
      verb);
  return json::Value(std::move(out));
}

JudgmentInfo JudgmentInfo::from_judgment(const ir::Judgment& judgment) {
  JudgmentInfo info{judgment.name, judgment.params, {}, judgment.shape_hash};
  for (const ir::JudgmentResult& result : judgment.results) info.results.push_back(ResultInfo::from_result(result));
  return info;
}

json::Value JudgmentInfo::to_json_value() const {
  json::Object out;
  out.set("name", json::Value(name));
  out.set("params", strings(params));
  out.set("results", list(results));
  out.set("shape_hash", json::Value(shape_hash));
  return json::Value(std::move(out));
}

ProgramLoadResult ProgramLoadResult::describe(std::string program_id, const ir::Ir& ir) {
  ProgramLoadResult result{std::move(program_id), ir.program, {}, {}, {}};
  for (const ir::Input& input : ir.inputs) result.inputs.push_back(InputInfo::from_input(input));
  for (const ir::Need& need : ir.needs) result.needs.push_back(NeedInfo::from_need(need));
  for (const ir::Judgment& judgment : ir.judgments) result.judgments.push_back(JudgmentInfo::from_judgment(judgment));
  return result;
}

json::Value ProgramLoadResult::to_json_value() const {
  json::Object out;
  out.set("inputs", list(inputs));
  out.set("judgments", list(judgments));
  out.set("name", json::Value(name));
  out.set("needs", list(needs));
  out.set("program_id", json::Value(program_id));
  return json::Value(std::move(out));
}

json::Value JudgmentRunResult::to_json_value() const {
  json::Object out;
  out.set("answers", runtime::tagged_members_to_json(answers));
  if (!logs.empty()) {
    json::Array entries;
    for (const record::LogEntry& entry : logs) entries.push_back(record::log_entry_to_json_value(entry));
    out.set("logs", json::Value(std::move(entries)));
  }
  return json::Value(std::move(out));
}

json::Value TaskStartResult::to_json_value() const {
  json::Object out;
  out.set("run_id", json::Value(run_id));
  return json::Value(std::move(out));
}

json::Value ok_result() {
  json::Object out;
  out.set("ok", json::Value(true));
  return json::Value(std::move(out));
}

json::Value CapabilityCallParams::to_json_value() const {
  json::Object out;
  out.set("args", record::call_arguments_to_json(args));
  out.set("capability", json::Value(capability));
  out.set("run_id", json::Value(run_id));
  out.set("verb", json::Value(verb));
  return json::Value(std::move(out));
}

json::Value CapabilityObserveParams::to_json_value() const {
  json::Object out;
  out.set("capability", json::Value(capability));
  out.set("handle", record::handle_to_host_json(handle));
  out.set("run_id", json::Value(run_id));
  return json::Value(std::move(out));
}

json::Value event_params(std::string_view run_id, const record::RecordedEvent& event) {
  json::Object out;
  out.set("event", event.to_json_value());
  out.set("run_id", json::Value(run_id));
  return json::Value(std::move(out));
}

}  // namespace dravelin::serve::protocol

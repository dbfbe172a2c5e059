// The JSON forms of the document root, spans and positions, and the declarations, tasks, functions and machines.
// Keys stand in declared order: the order the writers write and the order of a record's array form.
#pragma once

#include <string_view>
#include <tuple>

#include "ir/json_form.h"

namespace dravelin::ir::json_form {

template <>
struct Form<Ir> {
  static constexpr std::string_view expecting = "struct Ir";
  static constexpr auto fields = std::tuple{
      always("ir_version", &Ir::ir_version),
      always("program", &Ir::program),
      always("inputs", &Ir::inputs),
      always("outputs", &Ir::outputs),
      always("needs", &Ir::needs),
      when_nonempty("modules", &Ir::modules),
      always("judgments", &Ir::judgments),
      always("tasks", &Ir::tasks),
      when_nonempty("machines", &Ir::machines),
      always("defs", &Ir::defs),
      when_present("file", &Ir::file),
      always("span", &Ir::span),
  };
};

template <>
struct Form<Span> {
  static constexpr std::string_view expecting = "struct Span";
  static constexpr auto fields = std::tuple{
      always("start", &Span::start),
      always("end", &Span::end),
  };
};

template <>
struct Form<Pos> {
  static constexpr std::string_view expecting = "struct Pos";
  static constexpr auto fields = std::tuple{
      always("line", &Pos::line),
      always("column", &Pos::column),
      always("offset", &Pos::offset),
  };
};

template <>
struct Form<Input> {
  static constexpr std::string_view expecting = "struct Input";
  static constexpr auto fields = std::tuple{
      always("name", &Input::name),
      always("shape", &Input::shape),
      always("span", &Input::span),
  };
};

template <>
struct Form<Output> {
  static constexpr std::string_view expecting = "struct Output";
  static constexpr auto fields = std::tuple{
      always("name", &Output::name),
      always("span", &Output::span),
  };
};

template <>
struct Form<Need> {
  static constexpr std::string_view expecting = "struct Need";
  static constexpr auto fields = std::tuple{
      always("name", &Need::name),
      always("kind", &Need::kind),
      when_nonempty("signatures", &Need::signatures),
      always("span", &Need::span),
  };
};

template <>
struct Form<ToolSignature> {
  static constexpr std::string_view expecting = "struct ToolSignature";
  static constexpr auto fields = std::tuple{
      always("name", &ToolSignature::name),
      when_nonempty("params", &ToolSignature::params),
      always("returns", &ToolSignature::returns),
      always("span", &ToolSignature::span),
  };
};

template <>
struct Form<Module> {
  static constexpr std::string_view expecting = "struct Module";
  static constexpr auto fields = std::tuple{
      always("alias", &Module::alias),
      always("program", &Module::program),
      when_present("path", &Module::path),
      when_nonempty("mapping", &Module::mapping),
      always("span", &Module::span),
  };
};

template <>
struct Form<NeedMapping> {
  static constexpr std::string_view expecting = "struct NeedMapping";
  static constexpr auto fields = std::tuple{
      always("inner", &NeedMapping::inner),
      always("outer", &NeedMapping::outer),
      always("kind", &NeedMapping::kind),
  };
};

// A task without parameters has no `params` key, while a function always has one: the two records differ here.
template <>
struct Form<Task> {
  static constexpr std::string_view expecting = "struct Task";
  static constexpr auto fields = std::tuple{
      always("name", &Task::name),
      when_nonempty("params", &Task::params),
      always("budget", &Task::budget),
      always("thresholds", &Task::thresholds),
      always("body", &Task::body),
      always("span", &Task::span),
  };
};

template <>
struct Form<Def> {
  static constexpr std::string_view expecting = "struct Def";
  static constexpr auto fields = std::tuple{
      always("name", &Def::name),
      always("params", &Def::params),
      always("body", &Def::body),
      always("span", &Def::span),
  };
};

template <>
struct Form<DefParam> {
  static constexpr std::string_view expecting = "struct DefParam";
  static constexpr auto fields = std::tuple{
      always("name", &DefParam::name),
      when_present("default", &DefParam::default_value),
  };
};

template <>
struct Form<Budget> {
  static constexpr std::string_view expecting = "struct Budget";
  static constexpr auto fields = std::tuple{
      when_present("calls", &Budget::calls),
      when_present("minutes", &Budget::minutes),
      when_present("usd", &Budget::usd),
      when_present("steps", &Budget::steps),
  };
};

template <>
struct Form<Thresholds> {
  static constexpr std::string_view expecting = "struct Thresholds";
  static constexpr auto fields = std::tuple{
      when_present("risk_confirm", &Thresholds::risk_confirm),
      when_present("min_confidence", &Thresholds::min_confidence),
      when_present("stop_confidence", &Thresholds::stop_confidence),
      when_present("done", &Thresholds::done),
      when_nonempty("other", &Thresholds::other),
  };
};

template <>
struct Form<NamedNumber> {
  static constexpr std::string_view expecting = "struct NamedNumber";
  static constexpr auto fields = std::tuple{
      always("name", &NamedNumber::name),
      always("value", &NamedNumber::value),
  };
};

template <>
struct Form<Machine> {
  static constexpr std::string_view expecting = "struct Machine";
  static constexpr auto fields = std::tuple{
      always("name", &Machine::name),
      when_nonempty("params", &Machine::params),
      always("budget", &Machine::budget),
      always("thresholds", &Machine::thresholds),
      when_present("goal", &Machine::goal),
      always("initial", &Machine::initial),
      when_nonempty("observe", &Machine::observe),
      always("states", &Machine::states),
      always("shape_hash", &Machine::shape_hash),
      always("span", &Machine::span),
  };
};

template <>
struct Form<MachineState> {
  static constexpr std::string_view expecting = "struct MachineState";
  static constexpr auto fields = std::tuple{
      always("name", &MachineState::name),
      always("done", &MachineState::done),
      when_nonempty("transitions", &MachineState::transitions),
      always("span", &MachineState::span),
  };
};

template <>
struct Form<Transition> {
  static constexpr std::string_view expecting = "struct Transition";
  static constexpr auto fields = std::tuple{
      always("event", &Transition::event),
      always("description", &Transition::description),
      always("target", &Transition::target),
      when_present("when", &Transition::when),
      always("risky", &Transition::risky),
      when_nonempty("body", &Transition::body),
      always("span", &Transition::span),
  };
};

}  // namespace dravelin::ir::json_form

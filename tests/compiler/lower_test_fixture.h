// Small programs parsed, linked and lowered, for the lowering tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/link.h"
#include "compiler/lower.h"
#include "syntax/parse.h"

namespace dravelin::compiler::lower_test {

namespace ast = syntax::ast;

// Libraries live under a search root that exists only in the overlay, so `use "x.zem" as a` finds them
// without touching the disk.
inline const std::filesystem::path kVirtualRoot = "/virtual-lowering-root";

inline ast::Program parse_or_fail(const std::string& text) {
  auto parsed = syntax::parse_program(text);
  if (!parsed.ok()) {
    ADD_FAILURE() << "fixture does not parse: " << syntax::debug_string(parsed.error());
    return {};
  }
  return std::move(parsed).value();
}

// A root program and its libraries (file name to text), linked.
inline std::vector<LinkedModule> link_text(const std::string& text,
                                           const std::map<std::string, std::string>& libraries = {}) {
  ModuleSources sources;
  sources.roots.push_back(kVirtualRoot);
  for (const auto& [name, library] : libraries) sources.overlay[kVirtualRoot / name] = library;
  auto linked = link_program(parse_or_fail(text), std::nullopt, sources);
  if (!linked.ok()) {
    ADD_FAILURE() << "fixture does not link: " << syntax::debug_string(linked.error());
    return {};
  }
  return std::move(linked).value();
}

inline const LinkedModule& module_named(const std::vector<LinkedModule>& modules, std::string_view alias) {
  for (const LinkedModule& module : modules) {
    if (module.alias == alias) return module;
  }
  ADD_FAILURE() << "no module with alias `" << alias << "`";
  static const LinkedModule empty;
  return empty;
}

// The root module of `text` lowered.
inline LoweredModule lower_root(const std::string& text, const std::map<std::string, std::string>& libraries = {}) {
  std::vector<LinkedModule> modules = link_text(text, libraries);
  if (modules.empty()) return {};
  return lower_program(modules.front(), modules);
}

template <class Unit>
const Unit& unit_named(const std::vector<Unit>& units, std::string_view name) {
  for (const Unit& unit : units) {
    if (unit.name == name) return unit;
  }
  ADD_FAILURE() << "no unit `" << name << "`";
  static const Unit empty{};
  return empty;
}

// The source text a span covers.
inline std::string spanned(std::string_view text, const syntax::Span& span) {
  if (span.end.offset < span.start.offset || span.end.offset > text.size()) return "<bad span>";
  return std::string(text.substr(span.start.offset, span.end.offset - span.start.offset));
}

// The position of a byte offset: line from 1, column in characters from 0.
inline syntax::Pos pos_at(std::string_view text, size_t offset) {
  syntax::Pos pos{1, 0, static_cast<uint32_t>(offset)};
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++pos.line;
      pos.column = 0;
    } else if ((c & 0xC0) != 0x80) {
      ++pos.column;
    }
  }
  return pos;
}

// The span of the `nth` occurrence (from 0) of `needle` in `text`, for IR values built by hand.
inline syntax::Span span_of(std::string_view text, std::string_view needle, size_t nth = 0) {
  size_t at = text.find(needle);
  for (size_t i = 0; i < nth && at != std::string_view::npos; ++i) at = text.find(needle, at + 1);
  if (at == std::string_view::npos) {
    ADD_FAILURE() << "`" << needle << "` does not occur " << nth + 1 << " times";
    return {};
  }
  return syntax::Span{pos_at(text, at), pos_at(text, at + needle.size())};
}

// The value of the `index`-th statement of a body when it is an assignment.
inline const ir::Expr& assigned(const std::vector<ir::Stmt>& body, size_t index) {
  static const ir::Expr none{ir::Expr::None{}};
  if (index >= body.size()) {
    ADD_FAILURE() << "the body has no statement " << index;
    return none;
  }
  const auto* assign = std::get_if<ir::Stmt::Assign>(&body[index].node);
  if (assign == nullptr) {
    ADD_FAILURE() << "statement " << index << " is not an assignment";
    return none;
  }
  return assign->value;
}

// The question of an assignment whose value is a judgment.
inline const ir::Judge& judged(const std::vector<ir::Stmt>& body, size_t index) {
  static const ir::Judge none{};
  const auto* judge = std::get_if<ir::Expr::Judge>(&assigned(body, index).node);
  if (judge == nullptr) {
    ADD_FAILURE() << "statement " << index << " does not assign a judgment";
    return none;
  }
  return *judge->judge;
}

}  // namespace dravelin::compiler::lower_test

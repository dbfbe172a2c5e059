// The language's own vocabulary explained: reserved and contextual words, built-in functions, capability
// verbs, agent handle methods, log levels and capability kinds. Static tables; hover shows an entry in a
// fenced block, completion puts its signature in an item's detail.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "syntax/unit_enums.h"

namespace dravelin::lsp {

struct DocEntry {
  std::string_view signature;      // may span lines
  std::string_view documentation;  // Markdown
  std::string_view spec_section;
};

// Every lookup matches the whole key exactly, byte for byte.
std::optional<DocEntry> keyword_doc(std::string_view word);
std::optional<DocEntry> builtin_doc(std::string_view function);
std::optional<DocEntry> handle_method_doc(std::string_view method);
// Agent: `spawn`, else the handle method of that name; person and llm: their verbs; tool: one entry for any
// verb.
std::optional<DocEntry> capability_verb_doc(syntax::NeedKind kind, std::string_view verb);
std::optional<std::string_view> log_level_doc(std::string_view level);
std::optional<DocEntry> capability_kind_doc(std::string_view kind);
DocEntry capability_kind_doc(syntax::NeedKind kind);

inline constexpr std::string_view kLogLevelSignature = "log debug | info | warn | error <expr>";
inline constexpr std::string_view kLogLevelSection = "5.8";

// The 23 built-in functions, in the order completion offers them.
std::span<const std::string_view> builtin_functions();
bool is_builtin_function(std::string_view name);

// "```dravelin\n<signature>\n```\n<documentation>\n\n*Spec section <section>.*"
std::string hover_block(std::string_view signature, std::string_view documentation, std::string_view section);
std::string hover_block(const DocEntry& entry);
// "<documentation> *Spec section <section>.*"
std::string completion_documentation(const DocEntry& entry);
// "*Spec section <section>.*"
std::string section_note(std::string_view section);

}  // namespace dravelin::lsp

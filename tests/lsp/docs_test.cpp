// The documentation tables: which keys share an entry, which have none, and the three renderings.
#include "lsp/core/docs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/token.h"

namespace dravelin::lsp {
namespace {

std::string section_of(const std::optional<DocEntry>& entry) {
  return entry ? std::string(entry->spec_section) : "none";
}

bool same(const std::optional<DocEntry>& a, const std::optional<DocEntry>& b) {
  return a && b && a->signature == b->signature && a->documentation == b->documentation;
}

TEST(Docs, KeywordEntriesSharedByTheirKeys) {
  const std::vector<std::vector<std::string_view>> groups = {
      {"if", "elif", "else"}, {"and", "or", "not"}, {"continue", "break"}, {"true", "false"}, {"above", "below"}};
  for (const auto& group : groups)
    for (std::string_view key : group) EXPECT_TRUE(same(keyword_doc(key), keyword_doc(group[0]))) << key;
  EXPECT_FALSE(same(keyword_doc("if"), keyword_doc("and")));
}

TEST(Docs, EveryReservedWordHasAKeywordEntryAndOtherWordsNone) {
  for (size_t k = 0; k <= static_cast<size_t>(syntax::Keyword::None); ++k) {
    std::string_view word = syntax::keyword_text(static_cast<syntax::Keyword>(k));
    EXPECT_TRUE(keyword_doc(word)) << word;
  }
  for (std::string_view word : {"tool", "agent", "person", "llm", "risk", "confidence", "Program", " if", ""})
    EXPECT_FALSE(keyword_doc(word)) << word;
}

TEST(Docs, AWordCanBeAKeywordAndAFunction) {
  EXPECT_EQ(section_of(keyword_doc("max")), "5.5");
  EXPECT_EQ(section_of(builtin_doc("max")), "5.7");
  EXPECT_EQ(section_of(keyword_doc("tail")), "7.2");
  EXPECT_EQ(section_of(builtin_doc("tail")), "5.7");
  for (std::string_view function : builtin_functions()) EXPECT_EQ(section_of(builtin_doc(function)), "5.7");
  EXPECT_EQ(builtin_functions().size(), 23u);
}

TEST(Docs, VerbsByCapabilityKind) {
  using syntax::NeedKind;
  EXPECT_TRUE(same(capability_verb_doc(NeedKind::Tool, "anything"), capability_verb_doc(NeedKind::Tool, "")));
  EXPECT_EQ(capability_verb_doc(NeedKind::Tool, "x")->signature, "<tool>.<verb> ...");
  EXPECT_FALSE(capability_verb_doc(NeedKind::Person, "write"));
  EXPECT_FALSE(capability_verb_doc(NeedKind::Llm, "ask"));
  EXPECT_TRUE(same(capability_verb_doc(NeedKind::Agent, "send"), handle_method_doc("send")));
  EXPECT_TRUE(same(capability_verb_doc(NeedKind::Agent, "spawn"), handle_method_doc("spawn")));
  EXPECT_FALSE(handle_method_doc(".observe"));
  EXPECT_EQ(section_of(capability_verb_doc(NeedKind::Person, "take_over")), "9.2");
  EXPECT_EQ(capability_kind_doc(NeedKind::Llm).documentation, capability_kind_doc("llm")->documentation);
  EXPECT_EQ(log_level_doc("debug"), "The lowest `log` level: detail for whoever is debugging the program.");
  EXPECT_FALSE(log_level_doc("trace"));
}

TEST(Docs, Renderings) {
  EXPECT_EQ(hover_block(*keyword_doc("budget")),
            "```dravelin\nbudget calls <n>, minutes <n>, usd <n>, steps <n>\n```\nA task's or machine's limits. "
            "Exceeding one pauses with `budget`. `calls` defaults to 50; a callee never widens its caller's "
            "remainder.\n\n*Spec section 7.1.*");
  EXPECT_EQ(completion_documentation(*keyword_doc("true")), "The two `bool` values. *Spec section 4.*");
  EXPECT_EQ(section_note("6.4a"), "*Spec section 6.4a.*");
  EXPECT_EQ(keyword_doc("rate")->signature, "<subject> rate:\n  [<name>] \"<situation>\"\n  ...");
}

}  // namespace
}  // namespace dravelin::lsp

// The legend of semantic highlighting: the token types (by index) and the modifiers (by bit), announced once
// in the server's capabilities. "unitKind" and "judgmentVerb" are modifiers of this language's own.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

namespace dravelin::lsp {

#define DRAVELIN_SEMANTIC_TOKEN_TYPES(X)                                                                    \
  X(Keyword, "keyword") X(Comment, "comment") X(String, "string") X(Number, "number")                      \
  X(Operator, "operator") X(Function, "function") X(Method, "method") X(Namespace, "namespace")            \
  X(Interface, "interface") X(Parameter, "parameter") X(Variable, "variable") X(Property, "property")      \
  X(EnumMember, "enumMember") X(Event, "event") X(Type, "type")

#define DRAVELIN_SEMANTIC_TOKEN_MODIFIERS(X)                                                          \
  X(Declaration, "declaration") X(Readonly, "readonly") X(DefaultLibrary, "defaultLibrary")          \
  X(UnitKind, "unitKind") X(JudgmentVerb, "judgmentVerb")

enum class SemanticTokenType : uint32_t {
#define X(member, name) member,
  DRAVELIN_SEMANTIC_TOKEN_TYPES(X)
#undef X
};

inline constexpr std::string_view kSemanticTokenTypeNames[] = {
#define X(member, name) name,
    DRAVELIN_SEMANTIC_TOKEN_TYPES(X)
#undef X
};

// A modifier's bit is 1 << its position in the legend.
enum class SemanticTokenModifier : uint32_t {
#define X(member, name) member,
  DRAVELIN_SEMANTIC_TOKEN_MODIFIERS(X)
#undef X
};

inline constexpr std::string_view kSemanticTokenModifierNames[] = {
#define X(member, name) name,
    DRAVELIN_SEMANTIC_TOKEN_MODIFIERS(X)
#undef X
};

constexpr uint32_t modifier_bit(SemanticTokenModifier modifier) { return 1u << static_cast<uint32_t>(modifier); }

}  // namespace dravelin::lsp

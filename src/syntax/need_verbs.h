// The verbs of each capability kind: one table for the compiler, which refuses any other verb on a capability
// of that kind, and for the run, which holds the hosts to them.
#pragma once

#include <span>
#include <string_view>

#include "syntax/unit_enums.h"

namespace dravelin::syntax {

inline constexpr std::string_view kAgentVerbs[] = {"spawn", "observe", "send", "wait", "stop"};
inline constexpr std::string_view kPersonVerbs[] = {"ask", "notify", "take_over"};
inline constexpr std::string_view kLlmVerbs[] = {"write"};

// The verbs of a kind, in the order the kind lists them. Empty for a tool: its signature block or its host
// names its verbs.
constexpr std::span<const std::string_view> need_kind_verbs(NeedKind kind) {
  switch (kind) {
    case NeedKind::Agent: return kAgentVerbs;
    case NeedKind::Person: return kPersonVerbs;
    case NeedKind::Llm: return kLlmVerbs;
    case NeedKind::Tool: break;
  }
  return {};
}

}  // namespace dravelin::syntax

// The seven ways an execution of a run's task can end, in their fixed order. The name of a kind is its
// JSON form and the word that messages use for it ("a `budget` pause ...", "ended with `done`").
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace dravelin::runtime {

enum class PauseKind : uint8_t { Confirm, Escalate, Waiting, Budget, Error, Stopped, Done };

inline constexpr std::string_view kPauseKindNames[] = {"confirm", "escalate", "waiting", "budget",
                                                       "error",   "stopped",  "done"};
inline constexpr size_t kPauseKindCount = std::size(kPauseKindNames);

constexpr std::string_view pause_kind_name(PauseKind kind) { return kPauseKindNames[static_cast<size_t>(kind)]; }

// The kind with exactly this name, if any.
constexpr std::optional<PauseKind> pause_kind_from_name(std::string_view name) {
  for (size_t i = 0; i < kPauseKindCount; ++i) {
    if (kPauseKindNames[i] == name) return static_cast<PauseKind>(i);
  }
  return std::nullopt;
}

}  // namespace dravelin::runtime

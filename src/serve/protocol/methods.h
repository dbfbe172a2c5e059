// The bridge's methods: one table, from which the method list, its order and the names come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "json/value.h"

namespace dravelin::serve::protocol {

#define DRAVELIN_BRIDGE_METHODS(X)  \
  X(ProgramLoad, "program.load")    \
  X(JudgmentRun, "judgment.run")    \
  X(TaskStart, "task.start")        \
  X(RunNext, "run.next")            \
  X(RunResume, "run.resume")        \
  X(RunAbort, "run.abort")          \
  X(RunInject, "run.inject")

enum class Method : uint8_t {
#define DRAVELIN_X(variant, name) variant,
  DRAVELIN_BRIDGE_METHODS(DRAVELIN_X)
#undef DRAVELIN_X
};

inline constexpr std::string_view kMethodNames[] = {
#define DRAVELIN_X(variant, name) name,
    DRAVELIN_BRIDGE_METHODS(DRAVELIN_X)
#undef DRAVELIN_X
};
inline constexpr size_t kMethodCount = std::size(kMethodNames);

inline std::string_view method_name(Method method) { return kMethodNames[static_cast<size_t>(method)]; }

// Exact, case-sensitive byte comparison.
std::optional<Method> method_from_name(std::string_view name);

// The seven names as a JSON array, in table order (the `known` list of "method not found").
json::Value method_names_to_json_value();

// The methods the bridge sends to the SDK host, and its notification.
inline constexpr std::string_view kCapabilityCall = "capability.call";
inline constexpr std::string_view kCapabilityObserve = "capability.observe";
inline constexpr std::string_view kEventNotification = "event";

}  // namespace dravelin::serve::protocol

// Small programs that several command-line suites run through the binary.
#pragma once

namespace dravelin::testing {

// Compiles with no finding.
inline constexpr const char* kClean = "program hello\n\ntask main:\n  return\n";

// A warning only: the machine's `stuck` state can never reach a terminal state.
inline constexpr const char* kWarningsOnly =
    "program w\n\n"
    "machine m():\n"
    "  initial start\n"
    "  state start:\n"
    "    on go \"always\" -> stuck\n"
    "    on finish \"done\" -> end\n"
    "  state stuck:\n"
    "    on spin \"again\" -> stuck\n"
    "  state end done\n";

// Asks for confirmation once, between two log lines.
inline constexpr const char* kGate = R"(program gated
out after

task main thresholds risk_confirm 0.5:
  log info "before the gate"
  gate risk 0.9, confidence 0.9:
    proceed -> log debug "no confirmation needed"
  log info "after the gate"
  after = "confirmed"
)";

}  // namespace dravelin::testing

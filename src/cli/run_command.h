// `dravelin run`: the terminal run host. Every outcome of the run is printed as pretty JSON on stdout, `log`
// lines and prompts go to stderr, and the answers to a run's pauses are read from stdin.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "cli/command.h"
#include "cli/error.h"
#include "cli/line_input.h"
#include "record/pause.h"
#include "record/usage.h"

namespace dravelin::cli {

// Returns the process exit status: 0 done; 3 escalated, stopped, or a budget prompt left blank; 1 an error
// outcome that is not retried, and every error exit.
int run_command(const Run& command);

// The pause as pretty JSON, keys in their declared order (no line end).
std::string pause_to_pretty(const record::Pause& pause);

// "Calls", "Minutes", "Usd", "Steps": how the budget prompt names a key.
std::string_view budget_key_display_name(record::BudgetKey key);

// A new budget limit typed at the prompt (already trimmed): a decimal number ("12", "2.5", "1e3", "+4").
// Anything else is "invalid float literal"; infinities and NaN are refused too, because a limit must stay a
// number that a recording can hold.
Result<double, std::string> parse_budget_limit(std::string_view text);

// The answers typed at the prompts, a line each, without the line end; end of input reads as an empty answer.
// An answer longer than the limit ends the input there, as if stdin had closed: the rest of a line that may
// never end cannot be skipped, so it and every later answer read as empty.
class AnswerInput {
 public:
  struct Answer {
    std::string text;
    bool cut_off = false;  // this answer was too long and ended the input
  };

  explicit AnswerInput(std::FILE* stream, size_t max_bytes = kMaxInputLineBytes)
      : stream_(stream), max_bytes_(max_bytes) {}

  // The error is the operating system's text.
  Result<Answer, CliError> next();
  size_t max_bytes() const { return max_bytes_; }

 private:
  std::FILE* stream_;
  size_t max_bytes_;
  bool ended_ = false;
};

// The text without white space at either end.
std::string_view trim(std::string_view text);

// The exit statuses of `run` and `replay`: the run finished, failed, or paused with its state handed over.
inline constexpr int kDone = 0;
inline constexpr int kFailed = 1;
inline constexpr int kHandedOver = 3;

}  // namespace dravelin::cli

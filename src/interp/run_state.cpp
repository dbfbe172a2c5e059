#include "interp/run_state.h"

#include <unistd.h>

#include <chrono>
#include <utility>

#include "record/timestamp.h"

namespace dravelin::interp {

uint64_t RunState::now_ms() const { return clock ? clock() : record::system_clock_ms(); }

uint64_t clock_seed() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  // Widened before the shift: a process id is 32 bits at most, so nothing is lost and nothing overflows.
  const uint64_t pid = static_cast<uint64_t>(static_cast<uint32_t>(getpid()));
  return (ns > 0 ? static_cast<uint64_t>(ns) : 0) ^ (pid << 32);
}

zem::Xoshiro256StarStar::State seeded_random_state(uint64_t seed) {
  return zem::Xoshiro256StarStar::from_seed(seed).state();
}

RunState RunConfig::with_tokenizer() && {
  RunState run;
  run.run_id = std::move(run_id);
  run.tokenizer = profile.tokenizer.tokenizer();
  run.metadata = record::ExecutionMetadata{std::move(ir), std::move(profile), std::move(sample)};
  run.journal.random = seeded_random_state(seed ? *seed : clock_seed());
  return run;
}

}  // namespace dravelin::interp

// run_bench [EFFECTS] [DIR]: a recorded run that makes EFFECTS effects (clock readings and `log` lines, half each)
// and then pauses for a confirm; the confirm is answered and the re-execution that follows, which serves every
// earlier effect from the journal, is timed against `jq -c . RECORDING >/dev/null` on the same recording.
// Prints both figures, the recording's size and the process's peak memory. The recording is written under DIR
// (the system's temporary directory by default) and removed at the end.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "compiler/compile.h"
#include "compiler/module_sources.h"
#include "run/run.h"
#include "syntax/parse.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peak_rss_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string program_text(long effects) {
  return "program effects\nout n\n\ntask main thresholds risk_confirm 0.5:\n  n = 0\n  loop max " +
         std::to_string(effects / 2) +
         ":\n    t = now()\n    log info \"tick\" {t, n}\n    n = n + 1\n"
         "  gate risk 0.9, confidence 0.9:\n    proceed -> n = n + 1\n  n = n + 1\n";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dravelin;
  const long effects = argc > 1 ? std::atol(argv[1]) : 10000;
  const std::filesystem::path dir = argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  const std::string recording = (dir / ("run_bench_" + std::to_string(getpid()) + ".jsonl")).string();

  auto parsed = syntax::parse_program(program_text(effects));
  if (!parsed.ok()) return std::fprintf(stderr, "the benchmark program does not parse\n"), 1;
  auto compiled = compiler::compile_source(std::move(parsed).value(), std::nullopt, compiler::ModuleSources{});
  if (!compiled.ok()) return std::fprintf(stderr, "the benchmark program does not compile\n"), 1;

  record::RunOptions options;
  options.record = recording;
  auto started = run::start_task_run(std::move(compiled).value().ir, "main", options, {});
  if (!started.ok()) return std::fprintf(stderr, "run start failed: %s\n", started.error().message.c_str()), 1;
  run::Run run = std::move(started).value();

  auto live_start = Clock::now();
  auto first = run.next();
  const double live_ms = ms_since(live_start);
  if (!first.ok() || first->kind() != record::PauseKind::Confirm) {
    return std::fprintf(stderr, "the live execution did not stop at the confirm\n"), 1;
  }
  const size_t journaled = run.state().journal.events.size();
  if (!run.resume(record::Resume{record::Resume::Answer{"yes", std::nullopt}}).ok()) {
    return std::fprintf(stderr, "the resume was refused\n"), 1;
  }
  auto replay_start = Clock::now();
  auto second = run.next();
  const double replay_ms = ms_since(replay_start);
  if (!second.ok() || second->kind() != record::PauseKind::Done) {
    return std::fprintf(stderr, "the re-execution did not finish\n"), 1;
  }
  const uint64_t bytes = std::filesystem::file_size(recording);

  const std::string jq = "jq -c . " + recording + " >/dev/null";
  auto jq_start = Clock::now();
  const int jq_status = std::system(jq.c_str());
  const double jq_ms = ms_since(jq_start);
  std::filesystem::remove(recording);
  if (jq_status != 0) return std::fprintf(stderr, "jq failed on the recording\n"), 1;

  std::printf("effects %ld, journal events before the resume %zu, recording %llu bytes\n", effects, journaled,
              static_cast<unsigned long long>(bytes));
  std::printf("live execution to the pause   %9.1f ms\n", live_ms);
  std::printf("re-execution after the resume %9.1f ms\n", replay_ms);
  std::printf("jq -c . RECORDING >/dev/null  %9.1f ms\n", jq_ms);
  std::printf("ratio re-execution / jq       %9.2f\n", replay_ms / jq_ms);
  std::printf("peak memory (this process)    %9ld KiB\n", peak_rss_kb());
  return 0;
}

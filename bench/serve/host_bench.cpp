// The bridge's capability host alone, over this process's stdin and stdout: N `capability.call` round trips
// made exactly as a run makes them (request written under the stdio lock, reply read and turned into a value),
// without the interpreter around them. Prints "round_trips N seconds S" on stderr at the end.
//
//   host_bench N
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "serve/core/runs.h"
#include "serve/server/bridge_host.h"
#include "serve/transport/line_io.h"

using namespace dravelin;

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 10000;
  auto io = std::make_shared<serve::transport::BridgeIo>(STDIN_FILENO, STDOUT_FILENO);
  auto link = std::make_shared<serve::core::RunLink>();
  link->fill("run_bench_1", std::make_shared<std::atomic<bool>>(false));
  serve::server::BridgeHost host(serve::core::BindingSpec{"files", record::NeedKind::Tool, std::nullopt, {}, link},
                                 io, std::chrono::milliseconds(5000));
  const auto started = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    runtime::CallArguments args;
    args.positional.push_back(runtime::Value::number(static_cast<double>(i)));
    auto value = host.call("read", std::move(args));
    if (!value.ok()) {
      std::fprintf(stderr, "call %ld failed: %s\n", i, value.error().message.c_str());
      return 1;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "round_trips %ld seconds %.6f\n", count, seconds);
  return 0;
}

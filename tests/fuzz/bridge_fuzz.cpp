// A session with the SDK bridge: the bytes are everything the SDK host writes (requests, and the replies to the
// bridge's own capability requests), served by the bridge's loop with no model service. Every line the bridge
// writes back is one JSON-RPC object.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>

#include "fuzz_target.h"
#include "json/reader.h"
#include "runtime/runtime_error.h"
#include "serve/server/dispatch.h"
#include "serve/server/server_loop.h"
#include "serve/transport/line_io.h"
#include "zem/service.h"

using namespace dravelin;

namespace {

// An in-memory file: the bridge reads and writes it like its stdio, without a pipe that could fill.
int memory_file(const char* name) { return ::memfd_create(name, MFD_CLOEXEC); }

std::string contents(int fd) {
  std::string out;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[8192];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  return out;
}

}  // namespace

DRAVELIN_FUZZ_TARGET(bridge) {
  const int in = memory_file("bridge-in");
  const int out = memory_file("bridge-out");
  if (in < 0 || out < 0) return fuzz::broken("no in-memory file");
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(in, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return fuzz::broken("the input could not be written");
    done += static_cast<size_t>(n);
  }
  ::lseek(in, 0, SEEK_SET);

  fuzz::Verdict verdict = fuzz::holds();
  {
    serve::server::BridgeState state;
    state.io = std::make_shared<serve::transport::BridgeIo>(in, out);
    state.abort_grace = std::chrono::milliseconds(0);
    state.make_client = [](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
      return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::ZemUnavailable, "no model service here", true));
    };
    auto served = serve::server::run_server_loop(state);
    if (!served.ok()) verdict = fuzz::broken("the bridge failed on its own stdio: " + served.error().message);
  }
  const std::string written = contents(out);
  ::close(in);
  ::close(out);
  if (verdict) return verdict;

  size_t start = 0;
  while (start < written.size()) {
    const size_t end = written.find('\n', start);
    if (end == std::string::npos) return fuzz::broken("the bridge wrote a line without its end");
    auto line = json::parse_json_value(std::string_view(written).substr(start, end - start));
    if (!line.ok()) return fuzz::broken("the bridge wrote a line that is not JSON");
    const json::Value* version = line->find("jsonrpc");
    if (version == nullptr || !(*version == json::Value("2.0"))) return fuzz::broken("the bridge wrote a line that is no JSON-RPC message");
    start = end + 1;
  }
  return fuzz::holds();
}

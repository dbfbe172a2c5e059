#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "cli/adapter_registry.h"
#include "cli/adapters.h"

namespace dravelin::cli {
namespace {

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Fixed slots of atomics: a signal handler may read them at any moment, and nothing here allocates.
constexpr size_t kRegistrySlots = 256;
std::array<std::atomic<pid_t>, kRegistrySlots> g_live_adapters{};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void on_termination_signal(int sig) {
  kill_adapters_from_signal_handler();
  // SA_RESETHAND put the default action back on entry; the signal raised again is held until the handler
  // returns, and then ends the process as it would have without the handler.
  raise(sig);
}

}  // namespace

void register_adapter(pid_t pid) {
  for (std::atomic<pid_t>& slot : g_live_adapters) {
    pid_t expected = 0;
    if (slot.compare_exchange_strong(expected, pid)) return;
  }
  // Full: this adapter still ends with its host, only an interruption would miss it.
}

void unregister_adapter(pid_t pid) {
  for (std::atomic<pid_t>& slot : g_live_adapters) {
    pid_t expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

TerminationSignalsHeld::TerminationSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int sig : kTerminationSignals) sigaddset(&held, sig);
  pthread_sigmask(SIG_BLOCK, &held, &old_);
}

TerminationSignalsHeld::~TerminationSignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

void kill_adapters_from_signal_handler() noexcept {
  const int saved = errno;
  for (std::atomic<pid_t>& slot : g_live_adapters) {
    if (const pid_t pid = slot.load(); pid > 0) killpg(pid, SIGKILL);
  }
  for (std::atomic<pid_t>& slot : g_live_adapters) {
    if (const pid_t pid = slot.exchange(0); pid > 0) {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  errno = saved;
}

void end_adapters_on_termination_signals() {
  for (int sig : kTerminationSignals) {
    struct sigaction old {};
    // An ignored signal stays ignored, and a handler of someone else's is left to call
    // kill_adapters_from_signal_handler itself.
    if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(sig, &action, nullptr);
  }
}

}  // namespace dravelin::cli

// The adapters alive in this process, where a signal handler can find them (adapters.h has the handler's
// side: kill_adapters_from_signal_handler).
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace dravelin::cli {

// An adapter's `sh`, by pid (also its process group id). Unregister before reaping it.
void register_adapter(pid_t pid);
void unregister_adapter(pid_t pid);

// Holds SIGINT, SIGTERM and SIGHUP back while an adapter starts, so that a handler never misses one that
// exists but is not registered yet.
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld();
  ~TerminationSignalsHeld();
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t old_;
};

}  // namespace dravelin::cli

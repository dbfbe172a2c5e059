// `dravelin replay RECORDING`: runs a recorded run again from its recording, with no model-service request and
// no adapter. Every outcome is printed as pretty JSON on stdout and the recorded `log` lines on stderr, at the
// points where the run passes them; each pause is passed by the resume the recording holds, never by asking.
#pragma once

#include "cli/command.h"

namespace dravelin::cli {

// The process exit status: 0 done; 3 stopped, or ended at an escalation the recording does not resume; 1 an
// error outcome that is not retried, any other pause the recording does not resume, and every error exit.
int replay_command(const Replay& command);

}  // namespace dravelin::cli

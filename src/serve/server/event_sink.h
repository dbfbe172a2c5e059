// The event sink the bridge installs on each run: every event the run records goes out at once as an `event`
// notification, built from the run's in-memory event, so payloads are whole even where the recording file
// holds redaction summaries.
#pragma once

#include <string>

#include "interp/run_state.h"
#include "serve/transport/line_io.h"

namespace dravelin::serve::server {

// A failed write is an `adapter_error` with the I/O error's text, returned to the run.
interp::EventSink bridge_event_sink(transport::SharedIo io, std::string run_id);

}  // namespace dravelin::serve::server

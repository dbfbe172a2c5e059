#include "serve/server/event_sink.h"

#include <utility>

#include "serve/protocol/envelope.h"
#include "serve/protocol/errors.h"
#include "serve/protocol/methods.h"
#include "serve/protocol/results.h"

namespace dravelin::serve::server {

interp::EventSink bridge_event_sink(transport::SharedIo io, std::string run_id) {
  return [io = std::move(io), run_id = std::move(run_id)](
             const record::RecordedEvent& event) -> Result<Unit, runtime::RuntimeError> {
    const std::string line =
        protocol::notification_line(protocol::kEventNotification, protocol::event_params(run_id, event));
    auto written = io->hold().write_line(line);
    if (!written.ok()) return err(protocol::host_io_failure(std::move(written).error().message));
    return Unit{};
  };
}

}  // namespace dravelin::serve::server

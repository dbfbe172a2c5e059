// The model service as the rest of the system sees it: one operation, `ask`, that sends one request group and
// returns its answers, or an error that says whether asking again may help.
//
// `ZemClient` (client.h) is the implementation that speaks HTTPS; tests and other layers may stand in their
// own. One call is one exchange: nothing here retries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "zem/answer.h"
#include "runtime/runtime_error.h"
#include "zem/size.h"

namespace dravelin::zem {

// A successful exchange.
struct ZemResponse {
  std::optional<double> usd;  // the cost of the request; always set by the HTTPS client
  uint64_t tokens = 0;        // the reply's own count, else the client's count of the request body
  std::vector<ZemAnswer> answers;  // one per question, in the group's question order
  uint64_t latency_ms = 0;                  // the exchange alone, in whole milliseconds

  friend bool operator==(const ZemResponse&, const ZemResponse&) = default;
};

struct ZemError {
  enum class Kind : uint8_t {
    Unavailable,  // no usable answer came back: worth retrying
    Rejected,     // the service refused the request: asking again will not help
  };
  Kind kind = Kind::Unavailable;
  std::string message;

  friend bool operator==(const ZemError&, const ZemError&) = default;
};

// `zem_unavailable` (retryable) for Unavailable, `zem_rejected` (not retryable) for Rejected; the message is
// kept and the span left empty.
runtime::RuntimeError to_runtime_error(const ZemError& error);

class ZemService {
 public:
  virtual ~ZemService() = default;
  // Blocks until the exchange is over.
  virtual Result<ZemResponse, ZemError> ask(const RequestGroup& group) = 0;
};

}  // namespace dravelin::zem

// The HTTPS client of the model service: one POST per request group, on one connection kept for the
// client's life.
//
// Each request carries exactly two headers of its own, "Authorization: Bearer <key>" and "Content-Type:
// application/json" (beside the ones HTTP itself needs: Host, Content-Length); redirects are not followed.
// Certificates are checked against the system roots, or against SSL_CERT_FILE and SSL_CERT_DIR when those are
// set; there is no insecure fallback. Proxies come from HTTPS_PROXY, ALL_PROXY and NO_PROXY (and their lower-
// case forms). The key never travels in clear: a plain http:// endpoint is used only for a loopback host, and
// never through a proxy.
//
// Statuses: 429 and 500 and above are `Unavailable`, the rest of 400 to 499 `Rejected`; a reply below 400
// must be JSON with an answer for every question, else `Unavailable`. Nothing is retried here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"
#include "zem/profile.h"
#include "zem/service.h"

namespace dravelin::zem {

inline constexpr std::string_view kApiKeyVariable = "VELTRANE_API_KEY";

struct ClientSettings {
  // One deadline for the whole exchange, from connecting until the reply body has been read.
  std::chrono::milliseconds deadline{120'000};
  // A reply body past this many bytes is not read on: the exchange is `Unavailable`.
  size_t max_reply_bytes = size_t{64} << 20;
};

// The key from VELTRANE_API_KEY (an empty value is an empty key). Unset or not UTF-8: "VELTRANE_API_KEY is
// not set"; a key holding a control character, which would end its header line, is refused too. Both are
// `zem_rejected`, not retryable.
Result<std::string, RuntimeError> read_api_key();

// Why an endpoint may not be sent the key, or nothing: a plain http:// URL whose host is not loopback
// (localhost, 127.0.0.0/8, ::1). Other faults of the URL are left to the exchange itself.
std::optional<std::string> endpoint_refusal(std::string_view endpoint);

class ZemClient final : public ZemService {
 public:
  // Reads the key first (its error is returned unchanged, before anything else is built); a transfer handle
  // that cannot be made is `zem_unavailable`, retryable.
  static Result<std::unique_ptr<ZemClient>, RuntimeError> create(const Profile& profile,
                                                                 ClientSettings settings = {});
  ~ZemClient() override;
  ZemClient(const ZemClient&) = delete;
  ZemClient& operator=(const ZemClient&) = delete;

  // One exchange; blocks the calling thread until it is over. A failure leaves the client usable.
  Result<ZemResponse, ZemError> ask(const RequestGroup& group) override;

 private:
  struct Transfer;
  // The raw exchange: the body POSTed to the endpoint, the status and the reply decoded as UTF-8 (invalid
  // sequences replaced), or the transfer's own description of what failed.
  struct Exchange {
    bool failed = false;
    uint16_t status = 0;
    std::string text;
  };
  Exchange send(std::string_view body);

  ZemClient(std::string endpoint, std::string key, double price_per_million_input_usd,
            std::unique_ptr<tokens::Tokenizer> tokenizer, ClientSettings settings, std::unique_ptr<Transfer> transfer);

  std::string endpoint_;
  std::string key_;
  double price_per_million_input_usd_;
  std::unique_ptr<tokens::Tokenizer> tokenizer_;
  ClientSettings settings_;
  std::optional<std::string> refusal_;  // set when the endpoint may not be sent the key
  std::unique_ptr<Transfer> transfer_;  // the curl handle and its header list, kept for connection reuse
};

}  // namespace dravelin::zem

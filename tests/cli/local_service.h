// The local model service as the built binary reaches it in end-to-end tests: a profiles file whose default model
// points at the server, the server's certificate trusted, a key set, and nothing of the machine's own
// environment (profiles, module roots, proxies) in the way.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/zem_server.h"

namespace dravelin::testing {

// A profiles file's text: the bundled default model (zem-latest aliases it) served at `endpoint`.
inline std::string local_profiles(const std::string& endpoint, int total_tokens = 100000) {
  return R"([{"model": "zem-1.13.0", "endpoint": ")" + endpoint + R"(", "total_tokens": )" +
         std::to_string(total_tokens) + R"(, "state_plus_question_tokens": )" + std::to_string(total_tokens / 2) +
         R"(, "max_questions_per_request": 16)" +
         R"(, "max_criteria_per_question": 8, "tokenizer": "chars4", "price_per_million_input_usd": 1.0,
         "price_per_million_output_usd": 2.0}])";
}

// Sets what a child process needs to talk to `server`, restoring everything at the end.
inline void use_local_service(ScopedEnv& env, const ZemServer& server) {
  env.set("SSL_CERT_FILE", server.cert_file())
      .unset("SSL_CERT_DIR")
      .set("VELTRANE_API_KEY", "test-key")
      .unset("DRAVELIN_PROFILES")
      .unset("DRAVELIN_PATH");
  for (const char* proxy : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy", "HTTP_PROXY", "http_proxy"}) {
    env.unset(proxy);
  }
}

// A suite of command-line tests that share one local model service, started before the suite's first test and
// stopped after its last. Each test gets the service's environment, a scratch directory and a profiles file
// pointing at the service (`profiles_`); a suite whose `SetUp` does more calls this one's first. `Suite` may
// script the service with `static std::string service_script()`.
template <class Suite>
class LocalServiceSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ZemServerOptions options;
    if constexpr (requires { Suite::service_script(); }) options.script = Suite::service_script();
    auto started = ZemServer::start(options);
    ASSERT_TRUE(started.ok()) << started.error();
    server_ = std::move(started).value().release();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(server_, nullptr);
    use_local_service(env_, *server_);
    profiles_ = dir_.write("profiles.json", local_profiles(server_->url()));
  }

  static inline ZemServer* server_ = nullptr;
  ScopedEnv env_;
  ScratchDir dir_;
  std::string profiles_;
};

}  // namespace dravelin::testing

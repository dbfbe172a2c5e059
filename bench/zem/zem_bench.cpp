// zem_bench [--requests N] [--rounds R] [--curl PATH]
//
// Sends N sequential requests of one typical request group (5 questions, a state of about 2 KB) through the
// HTTPS client to the local model service (tests/support/zem_server.py) over one kept-alive connection, and
// has curl POST the same body N times in one invocation (which keeps its connection too) against the same
// server, in the same run. Each side is timed R times, alternating; the best and median totals are printed.
// Also times building the request body and reading a reply into answers, in process.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "json/reader.h"
#include "support/zem_server.h"
#include "zem/answers.h"
#include "zem/client.h"
#include "zem/wire.h"

extern char** environ;

namespace {

using namespace dravelin;
using Clock = std::chrono::steady_clock;

zem::RequestGroup typical_group() {
  zem::RequestGroup group;
  group.model = "zem-1.13.0";
  zem::Instruction instruction;
  instruction.focus = "the customer's own words";
  instruction.yes = {"nothing works since the update", "we are losing orders"};
  instruction.no = {"just a question about billing"};
  group.questions = {
      zem::Question::Noul{"urgent", "ticket.body", "sounds urgent", instruction},
      zem::Question::Noul{"angry", "ticket.body", "is written in anger", std::nullopt},
      zem::Question::Choice{"kind", "ticket", std::nullopt,
                            {zem::ChoiceLabel::make("bug", "something is broken"),
                             zem::ChoiceLabel::make("question", "asks how to do something"),
                             zem::ChoiceLabel::make("billing", "about money"),
                             zem::ChoiceLabel::make("other", std::nullopt)},
                            std::nullopt},
      zem::Question::Choice{"team", "ticket", "Which team should take it?",
                            {zem::ChoiceLabel::make("web", "the site"), zem::ChoiceLabel::make("api", "the API"),
                             zem::ChoiceLabel::make("ops", "servers")},
                            std::nullopt},
      zem::Question::Score{"severity", "ticket.body",
                           {{"low", "cosmetic"}, {"mid", "some users blocked"}, {"high", "outage for everyone"}},
                           std::nullopt},
  };
  std::string body;
  while (body.size() < 1800) body += "The checkout page returns an error after the last deploy; customers cannot pay. ";
  group.state.set("ticket", json::Object{{"body", body}, {"title", "checkout broken"}, {"id", 4711}});
  return group;
}

// How the typical group's answers become values, as request assembly would give them.
std::vector<zem::AnswerSpec> typical_specs() {
  using K = zem::AnswerKind;
  return {
      {"urgent", false, 1, K{K::Prob{}}, false},
      {"angry", false, 1, K{K::Prob{}}, false},
      {"kind", false, 1, K{K::Choice{{"bug", "question", "billing", "other"}}}, false},
      {"team", false, 1, K{K::Choice{{"web", "api", "ops"}}}, false},
      {"severity", false, 1, K{K::Level{{"low", "mid", "high"}, 3}}, false},
  };
}

// A reply like the service's for the typical group.
std::string typical_reply() {
  return R"({"answers":{"angry":{"noul":0.31},"kind":{"choice":"bug","probabilities":{"billing":0.05,)"
         R"("bug":0.81,"other":0.04,"question":0.1}},"severity":{"score":2,"probabilities":{"0":0.05,"1":0.25,)"
         R"("2":0.7}},"team":{"choice":"web","probabilities":{"api":0.2,"ops":0.1,"web":0.7},"confidence":0.55},)"
         R"("urgent":{"noul":0.92}},"usage":{"input_tokens":612,"output_tokens":25}})";
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program to its end; its wall-clock time in seconds, or a negative number when it failed.
double timed_run(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double elapsed = seconds_since(start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

size_t connections_since(const testing::ZemServer& server, size_t first_request) {
  std::set<uint64_t> seen;
  const std::vector<json::Value> requests = server.requests();
  for (size_t i = first_request; i < requests.size(); ++i) seen.insert(*requests[i].find("connection")->to_u64());
  return seen.size();
}

struct Stats {
  double best = 0;
  double median = 0;
};

Stats stats(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2]};
}

template <class F>
double per_call_us(int calls, F&& f) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < calls; ++i) f();
  return seconds_since(start) * 1e6 / calls;
}

}  // namespace

int main(int argc, char** argv) {
  int requests = 1000;
  int rounds = 3;
  std::string curl = "curl";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--requests") {
      requests = std::atoi(argv[i + 1]);
    } else if (flag == "--rounds") {
      rounds = std::atoi(argv[i + 1]);
    } else if (flag == "--curl") {
      curl = argv[i + 1];
    } else {
      std::fprintf(stderr, "usage: zem_bench [--requests N] [--rounds R] [--curl PATH]\n");
      return 2;
    }
  }
  if (requests <= 0 || rounds <= 0) return 2;

  auto started = testing::ZemServer::start();
  if (!started.ok()) {
    std::fprintf(stderr, "%s\n", started.error().c_str());
    return 1;
  }
  const testing::ZemServer& server = **started;
  testing::ScopedEnv env;
  for (const char* name : {"SSL_CERT_DIR", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) env.unset(name);
  env.set("SSL_CERT_FILE", server.cert_file()).set(std::string(zem::kApiKeyVariable), "bench-key");

  const zem::RequestGroup group = typical_group();
  const std::string body = zem::write_request_body(group);

  // curl gets the same body and the same two headers, and sheds the ones it would add of its own. Options
  // after "next" start afresh, so every request repeats its own.
  const std::string body_file = server.dir().write("body.json", body);
  std::string block = "url = \"" + server.url() + "\"\n";
  block += "data-binary = \"@" + body_file + "\"\n";
  block += "cacert = \"" + server.cert_file() + "\"\n";
  block += "output = \"/dev/null\"\nfail\n";
  for (const char* header : {"Authorization: Bearer bench-key", "Content-Type: application/json", "Accept:",
                             "User-Agent:", "Expect:"}) {
    block += "header = \"" + std::string(header) + "\"\n";
  }
  std::string config;
  for (int i = 0; i < requests; ++i) config += (i == 0 ? "" : "next\n") + block;
  const std::string config_file = server.dir().write("curl.config", config);
  const std::vector<std::string> curl_command = {curl, "--silent", "--show-error", "--config", config_file};

  zem::Profile profile = zem::bundled_profiles().at("zem-1.13.0");
  profile.endpoint = server.url();

  std::vector<double> client_times;
  std::vector<double> curl_times;
  size_t client_connections = 0;
  size_t curl_connections = 0;
  for (int round = 0; round < rounds; ++round) {
    auto client = zem::ZemClient::create(profile);
    if (!client.ok()) {
      std::fprintf(stderr, "%s\n", client.error().text().c_str());
      return 1;
    }
    size_t first = server.requests().size();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < requests; ++i) {
      auto response = (*client)->ask(group);
      if (!response.ok() || response->answers.size() != group.questions.size()) {
        std::fprintf(stderr, "request %d failed: %s\n", i, response.ok() ? "answers" : response.error().message.c_str());
        return 1;
      }
    }
    client_times.push_back(seconds_since(start));
    client_connections = std::max(client_connections, connections_since(server, first));

    first = server.requests().size();
    const double curl_time = timed_run(curl_command);
    if (curl_time < 0) {
      std::fprintf(stderr, "%s failed\n", curl.c_str());
      return 1;
    }
    curl_times.push_back(curl_time);
    curl_connections = std::max(curl_connections, connections_since(server, first));
  }

  const Stats client_stats = stats(client_times);
  const Stats curl_stats = stats(curl_times);
  std::printf("%d sequential requests, body %zu bytes, %d rounds\n", requests, body.size(), rounds);
  std::printf("%-14s best %.3f s  median %.3f s  (%.0f us/request, %zu connection(s))\n", "ZemClient",
              client_stats.best, client_stats.median, client_stats.median * 1e6 / requests, client_connections);
  std::printf("%-14s best %.3f s  median %.3f s  (%.0f us/request, %zu connection(s))\n", "curl",
              curl_stats.best, curl_stats.median, curl_stats.median * 1e6 / requests, curl_connections);
  std::printf("client / curl  %.2f (median)\n", client_stats.median / curl_stats.median);

  const int calls = 20000;
  size_t sink = 0;
  const double build_us = per_call_us(calls, [&] { sink += zem::write_request_body(group).size(); });
  const std::string reply = typical_reply();
  const std::vector<zem::AnswerSpec> specs = typical_specs();
  const zem::RandomSource no_draws = [] { return Result<double, runtime::RuntimeError>(0.0); };
  const double read_us = per_call_us(calls, [&] {
    auto parsed = json::parse_json_value(reply);
    auto answers = zem::parse_response(*parsed, group);
    auto values = zem::answers_to_values(specs, answers->answers, false, no_draws);
    sink += values->values.size();
  });
  std::printf("build request body  %.2f us\n", build_us);
  std::printf("reply to values     %.2f us  (JSON text to answers to prob, choice and level values)\n", read_us);
  return sink == 0 ? 1 : 0;
}

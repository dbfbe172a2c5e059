// `dravelin run` end to end with state machines and token caps: a machine asks the local model service for
// each step and records its `machine_step` events; a capped shape field is cut and its warning recorded.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/local_service.h"
#include "cli/run_program.h"
#include "json/reader.h"
#include "json/writer.h"
#include "support/zem_server.h"

namespace dravelin::cli {
namespace {

using testing::Finished;
using testing::run_program;
using testing::ScopedEnv;
using testing::ScratchDir;
using testing::ZemServer;
using testing::ZemServerOptions;

constexpr const char* kRelease = R"(program deploy
in version: text
out result

machine release(version) budget steps 5:
  goal "the version is live"
  initial building
  observe:
    target version, max 20
  state building:
    on built "the build finished without errors" -> testing:
      log info "built" {version}
  state testing:
    on passed "every check is green" -> live
    on failed "a check failed" -> building
  state live done

task main:
  result = release(version, max 5)
)";

constexpr const char* kShaped = R"(program shaped
in text: text
out page

task main:
  page = shape:
    title "a title"
    body text, max 5, tail
)";

// The recording's lines as JSON objects.
std::vector<json::Value> read_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<json::Value> lines;
  for (std::string line; std::getline(in, line);) {
    auto parsed = json::parse_json_value(line);
    EXPECT_TRUE(parsed.ok()) << line;
    if (parsed.ok()) lines.push_back(std::move(parsed).value());
  }
  return lines;
}

std::vector<const json::Object*> events_named(const std::vector<json::Value>& lines, const std::string& name) {
  std::vector<const json::Object*> found;
  for (const json::Value& line : lines) {
    if (line.as_object().find("event")->as_string() == name) found.push_back(&line.as_object());
  }
  return found;
}

std::string compact(const json::Value& value) { return json::to_compact(value); }

class RunMachines : public ::testing::Test {
 protected:
  // The service answers the machine's questions with `built`, then `passed`.
  void start_service(const std::string& script) {
    ZemServerOptions options;
    options.script = script;
    auto started = ZemServer::start(options);
    ASSERT_TRUE(started.ok()) << started.error();
    server_ = std::move(started).value();
    testing::use_local_service(env_, *server_);
    profiles_ = dir_.write("profiles.json", testing::local_profiles(server_->url()));
  }

  Finished run(const char* program, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"run", dir_.write("program.zem", program), "--record", recording()};
    if (!profiles_.empty()) args.insert(args.end(), {"--profiles", profiles_});
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program("dravelin", args);
  }

  std::string recording() const { return (dir_.path() / "run.jsonl").string(); }

  std::unique_ptr<ZemServer> server_;
  ScopedEnv env_;
  ScratchDir dir_;
  std::string profiles_;
};

TEST_F(RunMachines, AMachineRunsItsStepsAgainstTheServiceAndRecordsThem) {
  start_service(
      R"([{"answers": {"event": {"choice": "built", "probabilities": {"built": 0.9, "stay": 0.1}}}},)"
      R"( {"answers": {"event": {"choice": "passed", "probabilities": {"failed": 0.2, "passed": 0.7, "stay": 0.1}}}}])");
  const Finished done = run(kRelease, {"--input", R"({"version": "1.4.2"})"});
  ASSERT_EQ(done.status, 0) << done.err << done.out;
  EXPECT_NE(done.out.find("\"state\": \"live\""), std::string::npos) << done.out;
  EXPECT_NE(done.err.find("built"), std::string::npos) << done.err;

  const std::vector<json::Value> lines = read_lines(recording());
  const auto steps = events_named(lines, "machine_step");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0]->find("machine")->as_string(), "release");
  EXPECT_EQ(steps[0]->find("state")->as_string(), "building");
  EXPECT_EQ(compact(*steps[0]->find("enabled")), R"(["built","stay"])");
  EXPECT_EQ(steps[0]->find("chosen")->as_string(), "built");
  EXPECT_EQ(steps[0]->find("to")->as_string(), "testing");
  EXPECT_EQ(compact(*steps[1]->find("enabled")), R"(["passed","failed","stay"])");
  EXPECT_EQ(steps[1]->find("chosen")->as_string(), "passed");
  EXPECT_EQ(steps[1]->find("to")->as_string(), "live");
  const auto end = events_named(lines, "end");
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0]->find("usage")->as_object().find("steps")->as_uint(), 2u);

  // What the service was asked: one choice question per step, about the machine's observation.
  const std::vector<json::Value> asked = server_->requests();
  ASSERT_EQ(asked.size(), 2u);
  auto body = json::parse_json_value(asked[0].as_object().find("body")->as_string());
  ASSERT_TRUE(body.ok());
  const std::string text = compact(*body);
  EXPECT_NE(text.find(R"("obs":{"target":"1.4.2"})"), std::string::npos) << text;
  EXPECT_NE(text.find("the build finished without errors"), std::string::npos) << text;
}

TEST_F(RunMachines, AShapeFieldOverItsCapIsCutWithAWarning) {
  // Nothing is asked of the service; the profile only sets the token counting.
  profiles_ = dir_.write("profiles.json", testing::local_profiles("https://zem.invalid/v1/judge"));
  const Finished done = run(kShaped, {"--input", R"({"text": "the beginning, the middle and the end"})"});
  ASSERT_EQ(done.status, 0) << done.err << done.out;
  EXPECT_NE(done.out.find(R"("body": "e middle and the end")"), std::string::npos) << done.out;

  const std::vector<json::Value> lines = read_lines(recording());
  const auto warnings = events_named(lines, "warning");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0]->find("code")->as_string(), "truncated");
  EXPECT_EQ(warnings[0]->find("message")->as_string(),
            "shape field `body` was cut from 10 tokens to its cap of 5 (tail)");
}

}  // namespace
}  // namespace dravelin::cli

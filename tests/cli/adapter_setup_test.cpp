// Building the hosts of a run from --bind and --stub.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/adapter_hosts.h"
#include "cli/adapter_support.h"
#include "cli/adapters.h"
#include "runtime/value_json.h"

namespace {

using dravelin::cli::AdapterOptions;
using dravelin::cli::ProcessAdapterHost;
using dravelin::cli::setup_adapters;
using dravelin::cli::StubHost;
using dravelin::syntax::NeedKind;
using dravelin::testing::program_with_needs;
using dravelin::testing::ps_children;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Refusal {
  std::string name;
  std::vector<std::string> binds;
  std::vector<std::string> stubs;
  std::string message;
};
void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }

class SetupRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(SetupRefusals, NameTheFaultAndStartNothing) {
  const auto program = program_with_needs({{"a", NeedKind::Tool}, {"b", NeedKind::Agent}});
  // A command that would outlive the test if set-up started it before refusing.
  std::vector<std::string> binds = GetParam().binds;
  binds.insert(binds.begin(), "b=exec sleep 30");
  auto setup = setup_adapters(program, binds, GetParam().stubs);
  ASSERT_FALSE(setup.ok());
  EXPECT_THAT(setup.error().messages, ElementsAre(GetParam().message));
  EXPECT_THAT(ps_children(getpid()), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, SetupRefusals,
    ::testing::Values(Refusal{"BindWithoutEquals", {"abc"}, {}, "--bind must be NAME=COMMAND, got `abc`"},
                      Refusal{"BindWithEmptyName", {"=x"}, {}, "--bind must have a non-empty NAME and COMMAND"},
                      Refusal{"BindWithEmptyCommand", {"a="}, {}, "--bind must have a non-empty NAME and COMMAND"},
                      Refusal{"BoundTwice", {"a=cat", "a=cat"}, {}, "capability `a` was bound more than once"},
                      Refusal{"BoundThenStubbed", {"a=cat"}, {"a"}, "capability `a` was bound more than once"},
                      Refusal{"StubbedTwice", {}, {"a", "a"}, "capability `a` was bound more than once"},
                      Refusal{"FirstUndeclaredNameInByteOrder",
                              {"zeta=cat", "alpha=cat"},
                              {},
                              "`alpha` is not a declared capability"},
                      Refusal{"CapitalsSortFirst", {}, {"alpha", "Zeta"}, "`Zeta` is not a declared capability"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(Setup, AProgramWithoutNeedsRefusesEveryName) {
  auto setup = setup_adapters(program_with_needs({}), {}, {"scout"});
  ASSERT_FALSE(setup.ok());
  EXPECT_THAT(setup.error().messages, ElementsAre("`scout` is not a declared capability"));
}

TEST(Setup, StubsAnnounceThemselvesInDeclarationOrderAndUnboundNeedsGetNoHost) {
  const auto program = program_with_needs({{"scout", NeedKind::Agent},
                                           {"boss", NeedKind::Person},
                                           {"pen", NeedKind::Llm},
                                           {"shell", NeedKind::Tool},
                                           {"spare", NeedKind::Tool}});
  auto setup = setup_adapters(program, {"shell=cat"}, {"pen", "boss", "scout"});
  ASSERT_TRUE(setup.ok()) << setup.error().messages.front();
  EXPECT_THAT(setup->notices, ElementsAre("[stub] `scout` is using the built-in Agent demonstration adapter",
                                          "[stub] `boss` is using the built-in Person demonstration adapter",
                                          "[stub] `pen` is using the built-in Llm demonstration adapter"));
  std::vector<std::string> names;
  for (const auto& [name, host] : setup->hosts) names.push_back(name);
  EXPECT_THAT(names, ElementsAre("boss", "pen", "scout", "shell"));
  EXPECT_EQ(setup->hosts.at("scout")->kind(), NeedKind::Agent);
  EXPECT_EQ(setup->hosts.at("shell")->kind(), NeedKind::Tool);
  EXPECT_NE(dynamic_cast<StubHost*>(setup->hosts.at("boss").get()), nullptr);
  EXPECT_NE(dynamic_cast<ProcessAdapterHost*>(setup->hosts.at("shell").get()), nullptr);
  for (const auto& [name, host] : setup->hosts) EXPECT_EQ(host->manifest(), std::nullopt) << name;
}

TEST(Setup, EverythingAfterTheFirstEqualsSignIsTheCommand) {
  const auto program = program_with_needs({{"t", NeedKind::Tool}});
  auto setup = setup_adapters(program, {R"(t=read -r l; v=b=c; printf '{"result":"%s"}\n' "$v")"}, {});
  ASSERT_TRUE(setup.ok());
  auto answer = setup->hosts.at("t")->call("run", {});
  ASSERT_TRUE(answer.ok()) << answer.error();
  EXPECT_EQ(answer.value(), dravelin::runtime::Value::text("b=c"));
}

TEST(Setup, AnAdapterThatCannotStartEndsTheOnesStartedBeforeIt) {
  const auto program = program_with_needs({{"first", NeedKind::Tool}, {"second", NeedKind::Tool}});
  // Room for the descriptors of one adapter and not of two: every gap below the highest descriptor in use
  // is filled first, so that new descriptors are counted from just above it.
  int highest = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    highest = std::max(highest, std::stoi(entry.path().filename().string()));
  }
  std::vector<int> fillers;
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  while (fd >= 0 && fd <= highest) {
    fillers.push_back(fd);
    fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  ASSERT_GE(fd, 0);
  const int lowest_free = fd;  // and every descriptor above it
  close(fd);
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(lowest_free + 5);
  setrlimit(RLIMIT_NOFILE, &tight);
  auto setup = setup_adapters(program, {"first=cat", "second=cat"}, {});
  setrlimit(RLIMIT_NOFILE, &old);
  for (int filler : fillers) close(filler);
  ASSERT_FALSE(setup.ok());
  EXPECT_THAT(setup.error().messages, ElementsAre("cannot start adapter `second`: Too many open files"));
  EXPECT_THAT(ps_children(getpid()), IsEmpty());
}

}  // namespace

// A fuzz target: one function from arbitrary bytes to a verdict, written once and built two ways.
//
// Built by clang with -fsanitize=fuzzer (`make fuzz`, DRAVELIN_LIBFUZZER defined), each target file is a
// libFuzzer program of its own: a broken invariant aborts, as a crash or a sanitizer report does. Built by the
// ordinary compiler, every target registers itself by name, and the regression test replays the committed
// corpora through the same function.
//
//   DRAVELIN_FUZZ_TARGET(json) {
//     auto value = json::parse(bytes);
//     if (value.ok() && !json::parse(json::to_compact(*value)).ok()) return broken("compact output reads back");
//     return holds();
//   }
//
// A target must be deterministic and keep no state between inputs that changes what it does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace dravelin::fuzz {

// An invariant that the input broke, beyond crashes and sanitizer reports, which need no words.
struct Finding {
  std::string what;
};
using Verdict = std::optional<Finding>;

inline Verdict holds() { return std::nullopt; }
inline Verdict broken(std::string what) { return Finding{std::move(what)}; }

using TargetFunction = Verdict (*)(std::string_view bytes);

// The targets of this program by name (the ordinary build holds all of them).
inline std::map<std::string, TargetFunction, std::less<>>& registered_targets() {
  static std::map<std::string, TargetFunction, std::less<>> targets;
  return targets;
}

inline bool register_target(const char* name, TargetFunction function) {
  registered_targets().emplace(name, function);
  return true;
}

// libFuzzer's view of a verdict: a broken invariant is a crash, with its words on stderr.
inline void enforce(const char* name, const Verdict& verdict) {
  if (!verdict) return;
  std::fprintf(stderr, "fuzz target `%s`: %s\n", name, verdict->what.c_str());
  std::abort();
}

}  // namespace dravelin::fuzz

#if defined(DRAVELIN_LIBFUZZER)
#define DRAVELIN_FUZZ_ENTRY(name)                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {              \
    ::dravelin::fuzz::enforce(#name,                                                       \
                              name##_fuzz_target({reinterpret_cast<const char*>(data), size})); \
    return 0;                                                                             \
  }
#else
#define DRAVELIN_FUZZ_ENTRY(name) \
  [[maybe_unused]] static const bool name##_fuzz_registered = ::dravelin::fuzz::register_target(#name, name##_fuzz_target);
#endif

#define DRAVELIN_FUZZ_TARGET(name)                                                    \
  static ::dravelin::fuzz::Verdict name##_fuzz_target(std::string_view bytes);       \
  DRAVELIN_FUZZ_ENTRY(name)                                                           \
  static ::dravelin::fuzz::Verdict name##_fuzz_target(std::string_view bytes)

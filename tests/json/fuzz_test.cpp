// The fuzz entry over random, garbled and deeply nested inputs (run under the sanitizer build by `make test`).
#include "json/fuzz.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace dravelin::json {
namespace {

const std::vector<std::string>& seeds() {
  static const std::vector<std::string> s = {
      R"({"ts":"2024-01-01T00:00:00.000Z","run_id":"run_1_1","seq":0,"event":"start","inputs":{}})",
      R"([1,-2,3.5e-7,1e300,-0,0.0,true,false,null,"a\"b\\c\u00e9\ud83d\ude00"])",
      R"({"a":{"b":{"c":[{"d":[[[]]]}]}},"a":1,"":"","\u0000":0})",
      "{\n  \"pretty\": [\n    1,\n    2\n  ]\n}",
      R"(18446744073709551616)",
      "\"caf\xc3\xa9 \xe2\x82\xac\"",
      "[\"\\ud800\\udc00\", \"\\u20ac\", 123456789012345678901234567890]",
  };
  return s;
}

std::string mutate(std::string s, std::mt19937& rng) {
  static const char kInteresting[] = "{}[]\",:\\/-+.eE0123456789tfnul \t\r\n\x00\x01\x7f\x80\xbf\xc3\xed\xf0\xff";
  std::uniform_int_distribution<int> ops(0, 5);
  const int rounds = 1 + static_cast<int>(rng() % 6);
  for (int r = 0; r < rounds; ++r) {
    const size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
    const char c = kInteresting[rng() % (sizeof kInteresting - 1)];
    switch (ops(rng)) {
      case 0: s.insert(s.begin() + static_cast<long>(pos), c); break;
      case 1: if (pos < s.size()) s.erase(pos, 1 + rng() % 3); break;
      case 2: if (pos < s.size()) s[pos] = c; break;
      case 3: s = s.substr(0, pos); break;  // truncation
      case 4: if (pos < s.size()) s.insert(pos, s.substr(pos, rng() % 8)); break;  // duplication
      case 5: if (pos < s.size()) s[pos] = static_cast<char>(rng()); break;
    }
  }
  return s;
}

TEST(Fuzz, SeedsHold) {
  for (const std::string& s : seeds()) EXPECT_TRUE(fuzz_one_input(s)) << s;
}

TEST(Fuzz, RandomBytes) {
  std::mt19937 rng(20240601);
  for (int i = 0; i < 300; ++i) {
    std::string s(rng() % 64, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    ASSERT_TRUE(fuzz_one_input(s)) << testing::PrintToString(s);
  }
}

TEST(Fuzz, GarbledSeeds) {
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const std::string& seed = seeds()[rng() % seeds().size()];
    const std::string s = mutate(seed, rng);
    ASSERT_TRUE(fuzz_one_input(s)) << testing::PrintToString(s);
  }
}

TEST(Fuzz, StructuredRandomDocuments) {
  // Random well-formed documents from a tiny grammar: all must be accepted and round trip.
  std::mt19937 rng(99);
  std::function<void(std::string&, int)> gen = [&](std::string& out, int depth) {
    const int pick = static_cast<int>(rng() % (depth > 6 ? 5 : 7));
    switch (pick) {
      case 0: out += "null"; break;
      case 1: out += (rng() & 1) ? "true" : "false"; break;
      case 2: out += std::to_string(static_cast<int64_t>(rng()) - (1LL << 31)); break;
      case 3: out += std::to_string(static_cast<double>(rng()) / 977.0); break;
      case 4: out += "\"s" + std::to_string(rng() % 50) + "\\n\\u00e9\""; break;
      case 5: {
        out += '[';
        const int n = static_cast<int>(rng() % 4);
        for (int i = 0; i < n; ++i) {
          if (i) out += ", ";
          gen(out, depth + 1);
        }
        out += ']';
        break;
      }
      default: {
        out += '{';
        const int n = static_cast<int>(rng() % 4);
        for (int i = 0; i < n; ++i) {
          if (i) out += ',';
          out += "\"k" + std::to_string(rng() % 3) + "\": ";
          gen(out, depth + 1);
        }
        out += '}';
      }
    }
  };
  for (int i = 0; i < 500; ++i) {
    std::string s;
    gen(s, 0);
    ASSERT_TRUE(fuzz_one_input(s)) << s;
  }
}

TEST(Fuzz, DeepAndLongInputs) {
  EXPECT_TRUE(fuzz_one_input(std::string(200000, '[')));
  EXPECT_TRUE(fuzz_one_input(std::string(200000, '{')));
  EXPECT_TRUE(fuzz_one_input(std::string(127, '[') + std::string(127, ']')));
  EXPECT_TRUE(fuzz_one_input(std::string(128, '[') + std::string(128, ']')));
  EXPECT_TRUE(fuzz_one_input("\"" + std::string(100000, 'a') + "\""));
  EXPECT_TRUE(fuzz_one_input(std::string(5000, '9')));
  EXPECT_TRUE(fuzz_one_input("1e" + std::string(5000, '9')));
  EXPECT_TRUE(fuzz_one_input("0." + std::string(5000, '0') + "1"));
  EXPECT_TRUE(fuzz_one_input("-0." + std::string(400, '0') + "1e400"));
  EXPECT_TRUE(fuzz_one_input(std::string(5000, '1') + "e-5000"));
  std::string many = "[";
  for (int i = 0; i < 10000; ++i) many += "{\"k\":[1.5,\"x\"]},";
  many += "0]";
  EXPECT_TRUE(fuzz_one_input(many));
}

}  // namespace
}  // namespace dravelin::json

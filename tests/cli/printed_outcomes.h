// Reading back what `dravelin run` prints on stdout: its outcomes as pretty JSON objects one after the other.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/value.h"

namespace dravelin::testing {

// The outcomes a run printed; anything else on stdout fails the test.
inline std::vector<json::Value> outcomes(const std::string& out) {
  std::vector<json::Value> values;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find("\n}\n", start);
    if (end == std::string::npos) break;
    auto parsed = json::parse_json_value(std::string_view(out).substr(start, end + 2 - start));
    EXPECT_TRUE(parsed.ok()) << out.substr(start, end + 2 - start);
    if (parsed.ok()) values.push_back(std::move(parsed).value());
    start = end + 3;
  }
  EXPECT_EQ(start, out.size()) << "stdout holds only pretty outcomes: " << out;
  return values;
}

}  // namespace dravelin::testing

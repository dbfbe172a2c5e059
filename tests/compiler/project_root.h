// For tests that read the tree's own programs and golden files: they run with the project's root as the
// working directory, so the paths written into the IR are the same on every machine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace dravelin::testing {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class AtProjectRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(DRAVELIN_SOURCE_DIR).parent_path());
  }
  void TearDown() override { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

}  // namespace dravelin::testing

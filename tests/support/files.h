// Reading a whole file in tests, declared once so that test files can be compiled together.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace dravelin::test_files {

// The file's bytes; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace dravelin::test_files

// A fresh directory per test, with a writer for the files a test puts in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace dravelin::compiler::test_support {

// Made under the system's temporary directory and removed, with everything in it, at the end of the scope.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dravelin-test-XXXXXX").string();
    path_ = std::filesystem::path(mkdtemp(pattern.data()));
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `text` as the file `relative` below the directory, making the folders on the way; returns its path.
  std::filesystem::path write(const std::string& relative, const std::string& text) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace dravelin::compiler::test_support

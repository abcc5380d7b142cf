// SPDX-License-Identifier: MIT
#pragma once
// A fresh folder for the running test, removed when the test ends; and reading a
// whole file back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_path.h"

namespace pellora::testing_support {

class TestFolder {
 public:
  // A folder named after the process and the running test, emptied first.
  explicit TestFolder(const std::string& prefix) : path_(TempPathForCurrentTest(prefix, "")) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TestFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace pellora::testing_support

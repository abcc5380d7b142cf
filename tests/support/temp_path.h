// SPDX-License-Identifier: MIT
#pragma once
// Temporary paths for tests. Test binaries run in parallel (several CTest jobs,
// several build trees on one machine), so every path lies in a folder of the
// process's own, `pellora-<pid>` in the temporary folder, which is removed with
// all it holds when the process exits: a test that leaves files behind leaves
// nothing in the temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace pellora::testing_support {

class ProcessTempFolder {
 public:
  ProcessTempFolder()
      : owner_(::getpid()), path_(::testing::TempDir() + "pellora-" + std::to_string(owner_) + "/") {
    std::error_code ignored;
    std::filesystem::create_directories(path_, ignored);
  }
  // Only the process that made the folder removes it, not a forked child that exits.
  ~ProcessTempFolder() {
    std::error_code ignored;
    if (::getpid() == owner_) std::filesystem::remove_all(path_, ignored);
  }
  ProcessTempFolder(const ProcessTempFolder&) = delete;
  ProcessTempFolder& operator=(const ProcessTempFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  pid_t owner_;
  std::string path_;
};

inline std::string UniqueTempPath(const std::string& name) {
  static const ProcessTempFolder folder;
  return folder.Path() + name;
}

// A path named after the running test (a parameterised test's "/" becomes "_").
inline std::string TempPathForCurrentTest(const std::string& prefix, const std::string& suffix) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name)
    if (c == '/') c = '_';
  return UniqueTempPath(prefix + name + suffix);
}

}  // namespace pellora::testing_support

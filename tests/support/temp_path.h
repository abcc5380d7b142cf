#pragma once
// Temporary paths for tests. Test binaries run in parallel (several CTest jobs,
// several build trees on one machine), so every path carries the process id.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace pellora::testing_support {

inline std::string UniqueTempPath(const std::string& name) {
  return ::testing::TempDir() + "pellora-" + std::to_string(::getpid()) + "-" + name;
}

// A path named after the running test (a parameterised test's "/" becomes "_").
inline std::string TempPathForCurrentTest(const std::string& prefix, const std::string& suffix) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name)
    if (c == '/') c = '_';
  return UniqueTempPath(prefix + name + suffix);
}

}  // namespace pellora::testing_support

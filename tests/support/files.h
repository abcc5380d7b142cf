// SPDX-License-Identifier: MIT
#pragma once
// Whole-file reads and writes for tests.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pellora::testing_support {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace pellora::testing_support

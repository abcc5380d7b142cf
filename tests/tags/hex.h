// SPDX-License-Identifier: MIT
#pragma once
// Bytes written in tests as hex pairs ("FF 00 E0") or mixed with text.
#include <string>
#include <string_view>

namespace pellora::tags::testing {

inline std::string Hex(std::string_view pairs) {
  std::string out;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i] == ' ') continue;
    out.push_back(char(std::stoi(std::string(pairs.substr(i, 2)), nullptr, 16)));
    ++i;
  }
  return out;
}

}  // namespace pellora::tags::testing

// SPDX-License-Identifier: MIT
#pragma once
// Reading back a recording in a test: its bytes, and where its audio starts.
#include <string>

#include "tests/support/files.h"

namespace pellora::testing_support {

// The size of the ID3v2 tag at the front of `file` (header included); 0 without one.
inline std::size_t Id3v2Size(const std::string& file) {
  if (file.size() < 10 || file.compare(0, 3, "ID3") != 0) return 0;
  std::size_t size = 0;
  for (int i = 6; i < 10; ++i) size = size << 7 | (static_cast<unsigned char>(file[i]) & 0x7F);
  return 10 + size;
}

}  // namespace pellora::testing_support

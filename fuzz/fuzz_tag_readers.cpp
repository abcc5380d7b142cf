// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as the content of a file, to the tag store's scan: the
// ID3v2 reader at the start, the ID3v1 and Lyrics3 readers at the end.
#include <cstddef>
#include <cstdint>

#include "fuzz/memory_file.h"
#include "tags/id3.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static pellora::fuzz::MemoryFile file("fuzz_tag_readers");
  file.Replace(data, size);
  pellora::tags::clsID3 id3;
  id3.FileName(file.Path());
  return 0;
}

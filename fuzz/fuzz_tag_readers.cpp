// Feeds arbitrary bytes, as the content of a file, to the tag store's scan: the
// ID3v2 reader at the start, the ID3v1 and Lyrics3 readers at the end.
//
// The bytes live in one anonymous in-memory file, opened by path as any user's
// file would be.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tags/id3.h"

namespace {

int MemoryFile() {
  static const int fd = [] {
    const int created = ::memfd_create("fuzz_tag_readers", 0);
    if (created < 0) std::abort();
    return created;
  }();
  return fd;
}

void Replace(int fd, const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(fd, 0) != 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = MemoryFile();
  Replace(fd, data, size);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  pellora::tags::clsID3 id3;
  id3.FileName(std::u16string(path.begin(), path.end()));
  return 0;
}

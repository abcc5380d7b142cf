// SPDX-License-Identifier: MIT
#pragma once
// An anonymous in-memory file that a fuzz target refills with each input and
// hands to the code under test by path, as any user's file would be.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace pellora::fuzz {

class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : fd_(::memfd_create(name, 0)) {
    if (fd_ < 0) std::abort();
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() { ::close(fd_); }

  // Makes `data` the whole content of the file.
  void Replace(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0) std::abort();
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }

  int Descriptor() const { return fd_; }

  // The file's path as the tag store takes it.
  std::u16string Path() const {
    const std::string path = "/proc/self/fd/" + std::to_string(fd_);
    return std::u16string(path.begin(), path.end());
  }

 private:
  int fd_;
};

}  // namespace pellora::fuzz

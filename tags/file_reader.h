// SPDX-License-Identifier: MIT
#pragma once
// Positioned, bounds-checked reading of the file the tag store scans. Every read
// of the readers and the scan goes through here, so no size taken from the file
// can cause a read past its end or an allocation larger than the file.
#include <cstdint>
#include <optional>
#include <string>

#include "hosting/file.h"

namespace pellora::tags {

class FileReader {
 public:
  // Reads from `file`, which must outlive the reader; its length is taken once.
  explicit FileReader(const hosting::File& file);
  // The same, with the length the caller already knows (from its own fstat).
  FileReader(const hosting::File& file, std::int64_t length) : file_(file), length_(length > 0 ? length : 0) {}

  // Length of the file in bytes (0 when it cannot be determined).
  std::int64_t Length() const { return length_; }

  // Up to `count` bytes at `offset`: fewer where the file ends, none when `offset`
  // lies outside the file or `count` is not positive.
  std::string ReadUpTo(std::int64_t offset, std::int64_t count) const;

  // Exactly `count` bytes at `offset`, or no result when the range is not wholly
  // inside the file.
  std::optional<std::string> ReadExactly(std::int64_t offset, std::int64_t count) const;

  // Reads the bytes at [offset, offset + count) of the file at once and answers
  // later reads that lie wholly inside them from memory, so that the many small
  // reads of a scan near the start and the end of a file cost one read each.
  // Holds at most two such blocks; a third replaces the older one.
  void Prefetch(std::int64_t offset, std::int64_t count);

  // True once any read of the file failed (as opposed to ending early): callers
  // that change the file must not take a failing device for a short file.
  bool Failed() const { return failed_; }

 private:
  struct Block {
    std::int64_t offset = 0;
    std::string bytes;
  };
  // The bytes of a prefetched block that hold [offset, offset + count), if any.
  const Block* BlockHolding(std::int64_t offset, std::int64_t count) const;
  std::string ReadFromFile(std::int64_t offset, std::int64_t count) const;

  const hosting::File& file_;
  std::int64_t length_ = 0;
  Block blocks_[2];
  int older_block_ = 0;
  mutable bool failed_ = false;
};

}  // namespace pellora::tags

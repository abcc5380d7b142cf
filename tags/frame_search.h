// SPDX-License-Identifier: MIT
#pragma once
// The search for the first MPEG audio frame in the audio range of a file.
//
// A candidate is a 0xFF byte followed by three header bytes inside the range. It
// is accepted when the header has its sync bits and is plausible (IsPlausible).
// A candidate without sync bits lets the search go on at the next byte; a rejected
// plausible-looking one skips its three header bytes too, though never past the
// end of the 20,480-byte piece of the range (counted from its start) it lies in.
// These pieces are only the unit that defines where a skip ends: the search takes
// the file in windows of any length and gives the same result for every split.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "tags/mpeg_header.h"

namespace pellora::tags::mpeg {

inline constexpr std::int64_t kSearchPiece = 20480;

struct FrameCandidate {
  std::int64_t sync = 0;  // 0-based file offset of the 0xFF byte
  HeaderBytes header{};   // the three bytes after it
};

class FrameSearch {
 public:
  // Searches the 0-based file offsets [start, end).
  FrameSearch(std::int64_t start, std::int64_t end);

  // True once a frame was accepted or the range is exhausted.
  bool Done() const { return found_.has_value() || next_ >= end_; }
  // File offset of the first byte the search needs next.
  std::int64_t NextOffset() const { return next_; }
  // Bytes the search may still use from NextOffset() on.
  std::int64_t Remaining() const { return end_ > next_ ? end_ - next_ : 0; }

  // Examines `window`, the file bytes from NextOffset() on (any length up to
  // Remaining()). A window that ends inside a candidate's header leaves
  // NextOffset() at that candidate's 0xFF, so the next window must hold at least
  // four bytes to make progress.
  void Feed(std::span<const std::uint8_t> window);

  // The accepted frame, once found.
  const std::optional<FrameCandidate>& Found() const { return found_; }
  // The last candidate examined (the accepted one when found), if any.
  const std::optional<FrameCandidate>& LastCandidate() const { return last_; }

 private:
  // Where the search goes on after rejecting a plausible-looking candidate at `sync`.
  std::int64_t ResumeAfterRejected(std::int64_t sync) const;

  std::int64_t start_;
  std::int64_t end_;
  std::int64_t next_;
  std::optional<FrameCandidate> found_;
  std::optional<FrameCandidate> last_;
};

}  // namespace pellora::tags::mpeg

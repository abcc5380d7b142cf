// SPDX-License-Identifier: MIT
#include "tags/frame_search.h"

#include <algorithm>
#include <cstring>

namespace pellora::tags::mpeg {

FrameSearch::FrameSearch(std::int64_t start, std::int64_t end) : start_(start), end_(end), next_(start) {}

std::int64_t FrameSearch::ResumeAfterRejected(std::int64_t sync) const {
  const std::int64_t piece_end = start_ + ((sync - start_) / kSearchPiece + 1) * kSearchPiece;
  return std::min(sync + 4, piece_end);
}

void FrameSearch::Feed(std::span<const std::uint8_t> window) {
  const std::int64_t window_start = next_;
  const std::size_t usable = std::size_t(std::min<std::int64_t>(std::int64_t(window.size()), Remaining()));
  const std::uint8_t* const base = window.data();
  while (!Done()) {
    const std::size_t from = std::size_t(next_ - window_start);
    if (from >= usable) return;
    const void* hit = std::memchr(base + from, 0xFF, usable - from);
    if (hit == nullptr) {
      next_ = window_start + std::int64_t(usable);
      return;
    }
    const std::size_t at = std::size_t(static_cast<const std::uint8_t*>(hit) - base);
    const std::int64_t sync = window_start + std::int64_t(at);
    if (sync + 3 >= end_) {  // a 0xFF without a whole header before the end is no frame
      next_ = end_;
      return;
    }
    if (at + 3 >= usable) {  // the header lies past this window: start the next one here
      next_ = sync;
      return;
    }
    FrameCandidate candidate{sync, {base[at + 1], base[at + 2], base[at + 3]}};
    last_ = candidate;
    if (!HasSyncBits(candidate.header)) {
      next_ = sync + 1;
    } else if (!IsPlausible(candidate.header)) {
      next_ = ResumeAfterRejected(sync);
    } else {
      found_ = candidate;
    }
  }
}

}  // namespace pellora::tags::mpeg

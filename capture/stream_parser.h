// SPDX-License-Identifier: MIT
#pragma once
// The metadata rhythm of an ICY stream body: `interval` audio bytes, one length
// byte N, N x 16 bytes of metadata text, and again. `StreamParser` is fed the
// body chunk by chunk, in any cutting, and hands out the audio as slices of the
// chunk (no copies) and every complete non-empty metadata block as a whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pellora::capture {

class StreamParser {
 public:
  // Starts a body whose metadata interval is `interval` (0 or less: no metadata,
  // the whole body is audio).
  void Start(std::int64_t interval) {
    interval_ = std::max<std::int64_t>(interval, 0);
    audio_since_length_byte_ = 0;
    meta_due_ = 0;
    partial_.clear();
  }

  // Where the stream stands: audio bytes since the last length byte, or, while a
  // metadata block is incomplete, minus the bytes of it still due.
  std::int64_t AudioCount() const {
    return meta_due_ > 0 ? -static_cast<std::int64_t>(meta_due_) : audio_since_length_byte_;
  }
  bool MetaPending() const { return meta_due_ > 0; }

  // Walks `chunk` once. `on_audio(std::span<const char>)` receives each run of
  // audio bytes (never empty); `on_block(std::string_view)` each complete
  // non-empty metadata block, NUL padding included, and returns false to stop the
  // walk at once (the rest of the chunk is then left unparsed). The views are
  // valid only during the call.
  template <class OnAudio, class OnBlock>
  void Feed(std::span<const char> chunk, OnAudio&& on_audio, OnBlock&& on_block) {
    const char* at = chunk.data();
    const char* const end = at + chunk.size();
    while (at < end) {
      const auto left = static_cast<std::size_t>(end - at);
      if (meta_due_ > 0) {
        const std::size_t take = std::min(meta_due_, left);
        if (partial_.empty() && take == meta_due_) {
          // The whole block is inside this chunk: hand it out in place.
          meta_due_ = 0;
          at += take;
          if (!on_block(std::string_view(at - take, take))) return;
          continue;
        }
        partial_.append(at, take);
        at += take;
        meta_due_ -= take;
        if (meta_due_ == 0 && !on_block(std::string_view(partial_))) return;
        continue;
      }
      if (interval_ == 0 || audio_since_length_byte_ < interval_) {
        const std::size_t take =
            interval_ == 0 ? left
                           : static_cast<std::size_t>(std::min<std::int64_t>(
                                 interval_ - audio_since_length_byte_, static_cast<std::int64_t>(left)));
        on_audio(std::span<const char>(at, take));
        at += take;
        audio_since_length_byte_ += static_cast<std::int64_t>(take);
        continue;
      }
      meta_due_ = 16u * static_cast<unsigned char>(*at++);
      audio_since_length_byte_ = 0;
      partial_.clear();
    }
  }

 private:
  std::int64_t interval_ = 0;
  std::int64_t audio_since_length_byte_ = 0;
  std::size_t meta_due_ = 0;
  std::string partial_;  // at most 255 x 16 bytes
};

}  // namespace pellora::capture

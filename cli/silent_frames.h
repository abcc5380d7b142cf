// SPDX-License-Identifier: MIT
#pragma once
// MPEG-1 Layer III frames of digital silence at 44.1 kHz, for the demo station.
//
// Every frame is a valid frame: a correct header (no CRC, stereo), side information
// of zeros (no main data, so decoders output silence) and, in the ancillary bytes
// that follow, the frame's sequence number as 4 big-endian bytes. The padding bit
// spreads the fractional part of the frame size so that the stream's average rate
// is exactly the bit rate. The stream is thus fully determined: frame k always has
// the same bytes, which lets a test or a benchmark check a recording byte for byte.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pellora::cli {

class SilentFrames {
 public:
  // Bit rates (kbit/s) that MPEG-1 Layer III defines.
  static bool IsValidBitRate(int kbps);

  // `kbps` must satisfy IsValidBitRate.
  explicit SilentFrames(int kbps);

  int bit_rate_kbps() const { return kbps_; }
  // Audio bytes per second of stream (kbps * 1000 / 8).
  std::uint64_t bytes_per_second() const { return std::uint64_t(kbps_) * 125; }
  // Size in bytes of frame `index` (417 or 418 at 128 kbit/s).
  std::size_t FrameSize(std::uint64_t index) const;
  // Bytes of frame `index`.
  std::vector<std::uint8_t> Frame(std::uint64_t index) const;

 private:
  bool IsPadded(std::uint64_t index) const;

  int kbps_;
  std::size_t base_size_;
  std::uint64_t remainder_;  // of 144 * bit rate / 44100, spread by the padding bit
};

// The endless byte stream made of frames 0, 1, 2 …, read in pieces of any size.
class SilentAudioStream {
 public:
  explicit SilentAudioStream(int kbps) : frames_(kbps) {}

  const SilentFrames& frames() const { return frames_; }
  // Appends the next `count` bytes of the stream to `out`.
  void Read(std::size_t count, std::string& out);
  // Bytes read so far.
  std::uint64_t position() const { return position_; }

 private:
  SilentFrames frames_;
  std::uint64_t next_frame_ = 0;
  std::vector<std::uint8_t> current_;  // frame being read
  std::size_t offset_ = 0;             // bytes of `current_` already read
  std::uint64_t position_ = 0;
};

}  // namespace pellora::cli

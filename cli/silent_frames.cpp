// SPDX-License-Identifier: MIT
#include "cli/silent_frames.h"

#include <algorithm>
#include <array>

namespace pellora::cli {
namespace {

constexpr std::array<int, 14> kBitRates{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::uint64_t kSampleRate = 44100;
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kStereoSideInfoSize = 32;

int BitRateIndex(int kbps) {
  const auto it = std::find(kBitRates.begin(), kBitRates.end(), kbps);
  return int(it - kBitRates.begin()) + 1;
}

}  // namespace

bool SilentFrames::IsValidBitRate(int kbps) {
  return std::find(kBitRates.begin(), kBitRates.end(), kbps) != kBitRates.end();
}

SilentFrames::SilentFrames(int kbps)
    : kbps_(kbps),
      base_size_(144 * std::uint64_t(kbps) * 1000 / kSampleRate),
      remainder_(144 * std::uint64_t(kbps) * 1000 % kSampleRate) {}

// Frame k is padded when the accumulated fractional bytes cross a whole byte at k.
bool SilentFrames::IsPadded(std::uint64_t index) const {
  return (index + 1) * remainder_ / kSampleRate != index * remainder_ / kSampleRate;
}

std::size_t SilentFrames::FrameSize(std::uint64_t index) const {
  return base_size_ + (IsPadded(index) ? 1 : 0);
}

std::vector<std::uint8_t> SilentFrames::Frame(std::uint64_t index) const {
  std::vector<std::uint8_t> frame(FrameSize(index), 0);
  frame[0] = 0xFF;
  frame[1] = 0xFB;  // sync, MPEG-1, Layer III, no CRC
  // bit rate index, 44.1 kHz (00), padding bit, private bit 0
  frame[2] = std::uint8_t(BitRateIndex(kbps_) << 4 | (IsPadded(index) ? 0x02 : 0x00));
  frame[3] = 0x00;  // stereo, no mode extension, not copyrighted, copy, no emphasis
  const std::size_t ancillary = kHeaderSize + kStereoSideInfoSize;
  for (int i = 0; i < 4; ++i) frame[ancillary + i] = std::uint8_t(index >> (24 - 8 * i));
  return frame;
}

void SilentAudioStream::Read(std::size_t count, std::string& out) {
  out.reserve(out.size() + count);
  while (count > 0) {
    if (offset_ == current_.size()) {
      current_ = frames_.Frame(next_frame_++);
      offset_ = 0;
    }
    const std::size_t take = std::min(count, current_.size() - offset_);
    out.append(reinterpret_cast<const char*>(current_.data() + offset_), take);
    offset_ += take;
    count -= take;
    position_ += take;
  }
}

}  // namespace pellora::cli

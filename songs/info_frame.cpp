// SPDX-License-Identifier: MIT
#include "songs/info_frame.h"

#include <algorithm>

#include "songs/frame_assembler.h"

namespace pellora::songs {
namespace {

namespace mpeg = tags::mpeg;

constexpr std::uint32_t kFlagFrames = 1, kFlagBytes = 2, kFlagToc = 4;
constexpr std::size_t kTocEntries = 100;

// Header, side information, tag, flags, frames, bytes, table of contents.
std::size_t InfoFrameNeeds(const mpeg::HeaderBytes& header) {
  return 4 + std::size_t(mpeg::SideInfoLength(header)) + 4 + 4 + 4 + 4 + kTocEntries;
}

void PutBigEndian(std::string& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + std::size_t(i)] = char((value >> (24 - 8 * i)) & 0xFF);
}

}  // namespace

std::optional<mpeg::HeaderBytes> InfoFrameHeader(const mpeg::HeaderBytes& first) {
  if (mpeg::Layer(first) != mpeg::kLayerIII || !MpegFrameLength(first)) return std::nullopt;
  mpeg::HeaderBytes header = first;
  header[0] |= 0x01;   // no CRC
  header[1] &= 0xFD;   // no padding
  if (MpegFrameLength(header).value_or(0) >= InfoFrameNeeds(header)) return header;
  for (std::uint8_t index = 1; index < 15; ++index) {
    header[1] = std::uint8_t((header[1] & 0x0F) | (index << 4));
    if (MpegFrameLength(header).value_or(0) >= InfoFrameNeeds(header)) return header;
  }
  return std::nullopt;
}

std::string BuildSilentFrame(const mpeg::HeaderBytes& header) {
  std::string frame(MpegFrameLength(header).value_or(0), '\0');
  if (frame.size() < 4) return frame;
  frame[0] = char(0xFF);
  for (std::size_t i = 0; i < 3; ++i) frame[1 + i] = char(header[i]);
  return frame;
}

std::string BuildInfoFrame(const InfoFrameFacts& facts) {
  std::string frame = BuildSilentFrame(facts.header);
  if (frame.size() < InfoFrameNeeds(facts.header)) return frame;
  std::size_t at = 4 + std::size_t(mpeg::SideInfoLength(facts.header));
  frame.replace(at, 4, facts.variable ? "Xing" : "Info");
  PutBigEndian(frame, at + 4, kFlagFrames | kFlagBytes | kFlagToc);
  PutBigEndian(frame, at + 8, facts.frames);
  PutBigEndian(frame, at + 12, std::uint32_t(std::min<std::uint64_t>(facts.bytes, UINT32_MAX)));
  // Entry i: where the frame at i % of the playing time starts, in 256ths of the bytes.
  const std::size_t toc = at + 16;
  for (std::size_t i = 0; i < kTocEntries; ++i) {
    std::uint64_t offset = 0;
    if (!facts.frame_offsets.empty()) {
      const std::size_t frame_index = std::min(facts.frame_offsets.size() - 1, i * facts.frame_offsets.size() / kTocEntries);
      offset = facts.frame_offsets[frame_index];
    }
    const std::uint64_t entry = facts.bytes ? offset * 256 / facts.bytes : 0;
    frame[toc + i] = char(std::min<std::uint64_t>(entry, 255));
  }
  return frame;
}

}  // namespace pellora::songs

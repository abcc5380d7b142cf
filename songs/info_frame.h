// SPDX-License-Identifier: MIT
#pragma once
// The Xing/Info frame that opens an MPEG Layer III file, in the form LAME writes
// it: a frame of the stream's own kind whose side information is all zero (so
// decoders play it as silence, or skip it), then "Info" (constant bit rate) or
// "Xing" (variable), the flags, the frame count, the byte count and the
// 100-entry table of contents. Players take the file's exact length from it;
// the tag store reads it back (VbrFrames, length).
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "tags/mpeg_header.h"

namespace pellora::songs {

// The frame header (three bytes after 0xFF) of the Info frame for a stream
// whose first frame has `first`: the same version, layer, sampling rate and
// channel mode, no CRC, no padding, and the stream's bit rate when the whole
// frame fits in it, else the lowest bit rate that holds it. Nothing for
// anything but Layer III.
std::optional<tags::mpeg::HeaderBytes> InfoFrameHeader(const tags::mpeg::HeaderBytes& first);

// What the Info frame describes.
struct InfoFrameFacts {
  tags::mpeg::HeaderBytes header{};  // from InfoFrameHeader
  bool variable = false;             // the audio's bit rate varies, or differs from the header's
  std::uint32_t frames = 0;          // audio frames after the Info frame
  std::uint64_t bytes = 0;           // the Info frame and the audio frames together
  // Offsets of the audio frames from the start of the Info frame, one a frame
  // (for the table of contents).
  std::span<const std::uint32_t> frame_offsets;
};

// The whole frame, exactly as long as the header says.
std::string BuildInfoFrame(const InfoFrameFacts& facts);

// The same frame without the Info fields: one frame of silence, for a file whose
// frames are of more than one kind (their count would give a wrong length).
std::string BuildSilentFrame(const tags::mpeg::HeaderBytes& header);

}  // namespace pellora::songs

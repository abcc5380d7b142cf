// SPDX-License-Identifier: MIT
#pragma once
// Bit rate, frame length and playing time of an MPEG audio stream, from its first
// frame header and, for a variable bit rate, the frame and byte counts of its Xing
// or VBRI header. All arithmetic is double precision and nothing is rounded; a
// division by zero gives the IEEE result (infinity, or NaN for 0 / 0).
#include <cstdint>
#include <optional>

#include "tags/mpeg_header.h"

namespace pellora::tags::mpeg {

// What the scan of a file knows about its audio stream.
struct StreamFacts {
  HeaderBytes header{};
  bool is_vbr = false;
  std::int64_t audio_size = 0;
  std::int32_t vbr_frames = 0;
  std::int32_t vbr_bytes = 0;
};

// Bit rate in bit/s. Constant bit rate: the header's own (ConstantBitRate).
// Variable: FrameSize × sampling rate / (FrameSamples / 8), the average; when the
// VBR header counts no bytes (FrameSize 0, with a positive Length) or no frames,
// audio_size / Length × 8.
double BitRate(const StreamFacts& facts);

// Frame length in bytes. Constant: FrameSamples / 8 × BitRate / sampling rate +
// Padding. Variable: vbr_bytes / vbr_frames; nothing when vbr_frames is 0.
std::optional<double> FrameSize(const StreamFacts& facts);

// Playing time in seconds. Variable: vbr_frames × FrameSamples / sampling rate;
// constant: audio_size / BitRate × 8.
double Length(const StreamFacts& facts);

}  // namespace pellora::tags::mpeg

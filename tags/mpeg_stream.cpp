// SPDX-License-Identifier: MIT
#include "tags/mpeg_stream.h"

namespace pellora::tags::mpeg {

double BitRate(const StreamFacts& facts) {
  if (!facts.is_vbr) return ConstantBitRate(facts.header);
  const double duration = Length(facts);
  const std::optional<double> frame_size = FrameSize(facts);
  if (!frame_size || (*frame_size == 0 && duration > 0)) return double(facts.audio_size) / duration * 8;
  // A frame holds FrameSamples / 8 bytes per bit/s and per Hz: 144 for MPEG-1
  // Layer III, 72 for MPEG-2 and MPEG-2.5 Layer III, 48 for Layer I.
  return *frame_size * SamplingRate(facts.header) / (FrameSamples(facts.header) / 8.0);
}

std::optional<double> FrameSize(const StreamFacts& facts) {
  if (facts.is_vbr) {
    if (facts.vbr_frames == 0) return std::nullopt;
    return double(facts.vbr_bytes) / double(facts.vbr_frames);
  }
  return FrameSamples(facts.header) / 8.0 * ConstantBitRate(facts.header) / SamplingRate(facts.header) +
         Padding(facts.header);
}

double Length(const StreamFacts& facts) {
  if (facts.is_vbr) return double(facts.vbr_frames) * FrameSamples(facts.header) / SamplingRate(facts.header);
  return double(facts.audio_size) / ConstantBitRate(facts.header) * 8;
}

}  // namespace pellora::tags::mpeg

// SPDX-License-Identifier: MIT
// The MPEG properties of the tag store, decoded from what the scan stored.
#include <stdexcept>

#include "tags/id3.h"
#include "tags/mpeg_stream.h"
#include "tags/mpeg_stream.h"

namespace pellora::tags {

mpeg::StreamFacts clsID3::StreamFacts() const {
  return {frame_header_, is_vbr_, audio_size_, vbr_frames_, vbr_bytes_};
}

std::int32_t clsID3::Layer() const { return mpeg::Layer(frame_header_); }
std::int32_t clsID3::MPEGVersion() const { return mpeg::Version(frame_header_); }
std::int32_t clsID3::ChannelMode() const { return mpeg::ChannelMode(frame_header_); }
std::int32_t clsID3::Padding() const { return mpeg::Padding(frame_header_); }
std::int32_t clsID3::Encoding() const { return is_vbr_ ? 1 : 0; }
std::int32_t clsID3::SamplingRateFrequency() const { return mpeg::SamplingRate(frame_header_); }
std::int32_t clsID3::FrameSamples() const { return mpeg::FrameSamples(frame_header_); }
double clsID3::BitRate() const { return mpeg::BitRate(StreamFacts()); }
double clsID3::length() const { return mpeg::Length(StreamFacts()); }

double clsID3::FrameSize() const {
  if (const auto size = mpeg::FrameSize(StreamFacts())) return *size;
  throw std::domain_error("FrameSize: division by zero (the VBR header counts no frames)");
}

}  // namespace pellora::tags

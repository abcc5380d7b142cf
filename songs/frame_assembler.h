// SPDX-License-Identifier: MIT
#pragma once
// Cuts a stream of audio bytes, fed in any pieces, into whole audio frames, so
// that a song file can start with a whole frame and end with one.
//
//  - MPEG audio: a frame starts with 0xFF and a plausible header (tags/mpeg_header.h);
//    its length comes from the bit rate, sampling rate and padding of that header.
//    Once a first frame is seen, only headers of the same version, layer and
//    sampling rate start frames, so that a stray 0xFF in junk is not taken for one;
//    a header of another kind starts a frame when a run of frames of its kind
//    follows (the stream changed its encoder), and from then on that kind holds.
//  - AAC in ADTS: a frame starts with the 12-bit sync word and carries its own
//    length (13 bits of its header).
//  - Any other content: every byte run is a unit of its own (cut at the byte).
// Bytes outside frames (junk between frames, a tag in the stream) are handed out
// too, as units that are not frames, so that nothing fed is lost. A frame is
// handed out in place when it lies whole in the piece fed; only a frame spread
// over pieces is copied (at most one frame is held, or the few frames that
// confirm a change of kind).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tags/mpeg_header.h"

namespace pellora::songs {

enum class AudioFormat { Mpeg, Adts, Bytes };

// The format a stream's Content-Type announces: "audio/mpeg" (and the usual
// aliases) MPEG, "audio/aac", "audio/aacp" ADTS, anything else bytes.
AudioFormat FormatOfContentType(std::string_view content_type);

// What the assembler knows of a unit it hands out.
struct FrameInfo {
  bool is_frame = false;            // false: bytes outside frames (or the Bytes format)
  std::uint32_t samples = 0;        // samples per channel the frame plays
  std::uint32_t sample_rate = 0;    // Hz
  tags::mpeg::HeaderBytes header{};  // MPEG: the three bytes after 0xFF
  double Seconds() const { return sample_rate ? double(samples) / sample_rate : 0.0; }
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // One whole frame, or bytes outside frames; valid for the call only.
  virtual void Unit(std::span<const char> bytes, const FrameInfo& info) = 0;
};

// The length of the MPEG frame whose header is `header`; nothing when the header
// cannot start a frame.
std::optional<std::size_t> MpegFrameLength(const tags::mpeg::HeaderBytes& header);

// Whether two MPEG frame headers have the same version, layer and sampling rate
// (what stays the same from frame to frame of one encoder's stream).
bool SameKindOfFrames(const tags::mpeg::HeaderBytes& a, const tags::mpeg::HeaderBytes& b);

class FrameAssembler {
 public:
  explicit FrameAssembler(AudioFormat format) : format_(format) {}

  AudioFormat format() const { return format_; }
  // Feeds the next audio bytes; whole units go to `sink` at once.
  void Feed(std::span<const char> audio, FrameSink& sink);
  // The input ended: hands out what is held back, whole frames as frames (those
  // after a lone header of another kind) and an unfinished frame as bytes
  // outside frames.
  void Flush(FrameSink& sink);
  // Bytes of an unfinished frame held back.
  std::size_t held() const { return held_.size(); }

 private:
  enum class Kind { Frame, Junk, NeedMore };
  struct Verdict {
    Kind kind;
    std::size_t length;  // Frame: the frame's length; Junk: bytes of junk; NeedMore: bytes wanted in all
    FrameInfo info;
  };
  Verdict Judge(std::span<const char> bytes) const;
  Verdict JudgeMpeg(std::span<const char> bytes) const;
  Verdict JudgeAdts(std::span<const char> bytes) const;
  static Verdict JunkUntilNextSync(std::span<const char> bytes);
  void Emit(std::span<const char> bytes, const FrameInfo& info, FrameSink& sink);

  AudioFormat format_;
  std::string held_;  // the start of a unit not yet whole
  // MPEG: the version, layer and sampling-rate bits of the last frame, once seen.
  std::optional<std::array<std::uint8_t, 2>> locked_;
};

}  // namespace pellora::songs

// SPDX-License-Identifier: MIT
#include "songs/frame_assembler.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "text/text.h"

namespace pellora::songs {
namespace {

namespace mpeg = tags::mpeg;

constexpr std::size_t kMpegHeaderBytes = 4;
constexpr std::size_t kAdtsHeaderBytes = 7;
// A stream may change its MPEG version, layer or sampling rate (another encoder
// between programmes); frames of the new kind are taken once this many follow
// one another, so that a stray 0xFF in junk does not switch.
constexpr int kFramesToChangeKind = 3;
constexpr std::array<std::uint32_t, 13> kAdtsSampleRates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                         22050, 16000, 12000, 11025, 8000,  7350};

std::uint8_t Byte(std::span<const char> bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

mpeg::HeaderBytes HeaderAt(std::span<const char> bytes, std::size_t at) {
  return {Byte(bytes, at + 1), Byte(bytes, at + 2), Byte(bytes, at + 3)};
}

std::array<std::uint8_t, 2> StreamKind(const mpeg::HeaderBytes& header) {
  return {std::uint8_t(header[0] & 0xFE), std::uint8_t(header[1] & 0x0C)};
}

// The bytes it takes to see kFramesToChangeKind frames of one kind one right
// after the other from the start of `bytes` (of the last one its header only):
// more than bytes.size() while they are not all there; 0 when the run breaks.
std::size_t RunOfOneKind(std::span<const char> bytes) {
  const auto kind = StreamKind(HeaderAt(bytes, 0));
  std::size_t at = 0;
  for (int frame = 1; frame < kFramesToChangeKind; ++frame) {
    const auto length = MpegFrameLength(HeaderAt(bytes, at));
    if (!length) return 0;
    at += *length;
    if (bytes.size() < at + kMpegHeaderBytes) return at + kMpegHeaderBytes;
    if (Byte(bytes, at) != 0xFF || StreamKind(HeaderAt(bytes, at)) != kind) return 0;
  }
  return MpegFrameLength(HeaderAt(bytes, at)) ? at + kMpegHeaderBytes : 0;
}

}  // namespace

AudioFormat FormatOfContentType(std::string_view content_type) {
  std::string type = text::AsciiLower(content_type.substr(0, content_type.find(';')));
  type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
  if (type == "audio/mpeg" || type == "audio/mp3" || type == "audio/mpeg3" || type == "audio/x-mpeg" ||
      type == "audio/mpg")
    return AudioFormat::Mpeg;
  if (type == "audio/aac" || type == "audio/aacp" || type == "audio/x-aac" || type == "audio/mp4a-latm")
    return AudioFormat::Adts;
  return AudioFormat::Bytes;
}

// floor(samples / 8 / slot × bit rate / sampling rate) slots, plus the padding
// slot; a slot is 4 bytes in Layer I and 1 byte otherwise.
std::optional<std::size_t> MpegFrameLength(const mpeg::HeaderBytes& header) {
  if (!mpeg::HasSyncBits(header) || !mpeg::IsPlausible(header)) return std::nullopt;
  const std::uint64_t slot = mpeg::Layer(header) == mpeg::kLayerI ? 4 : 1;
  const auto bit_rate = static_cast<std::uint64_t>(mpeg::ConstantBitRate(header));
  const auto rate = static_cast<std::uint64_t>(mpeg::SamplingRate(header));
  const std::uint64_t slots = std::uint64_t(mpeg::FrameSamples(header)) / 8 / slot * bit_rate / rate;
  return std::size_t(slots * slot + std::uint64_t(mpeg::Padding(header)));
}

bool SameKindOfFrames(const mpeg::HeaderBytes& a, const mpeg::HeaderBytes& b) {
  return StreamKind(a) == StreamKind(b);
}

void FrameAssembler::Feed(std::span<const char> audio, FrameSink& sink) {
  if (format_ == AudioFormat::Bytes) {
    if (!audio.empty()) Emit(audio, {}, sink);
    return;
  }
  while (!audio.empty() || !held_.empty()) {
    if (held_.empty()) {
      const Verdict v = Judge(audio);
      if (v.kind != Kind::NeedMore && v.length <= audio.size()) {
        Emit(audio.first(v.length), v.info, sink);
        audio = audio.subspan(v.length);
      } else {
        held_.assign(audio.data(), audio.size());
        audio = {};
      }
      continue;
    }
    // A held unit goes out as soon as it is whole (a frame of a new format is
    // whole only once the frames after it are seen).
    const Verdict v = Judge(held_);
    if (v.kind != Kind::NeedMore && held_.size() >= v.length) {
      Emit(std::span<const char>(held_).first(v.length), v.info, sink);
      held_.erase(0, v.length);
      continue;
    }
    if (audio.empty()) return;
    // Top up the held unit just to what is wanted: the header, then the frame.
    const std::size_t take = std::min(v.length - held_.size(), audio.size());
    held_.append(audio.data(), take);
    audio = audio.subspan(take);
  }
}

void FrameAssembler::Flush(FrameSink& sink) {
  while (!held_.empty()) {
    Verdict v = Judge(held_);
    // A header of another kind waits for frames that will not come: junk.
    if (v.kind == Kind::NeedMore && v.length > kMpegHeaderBytes && format_ == AudioFormat::Mpeg)
      v = JunkUntilNextSync(held_);
    if (v.kind == Kind::NeedMore || v.length > held_.size()) break;
    Emit(std::span<const char>(held_).first(v.length), v.info, sink);
    held_.erase(0, v.length);
  }
  if (held_.empty()) return;
  const std::string rest = std::move(held_);
  held_.clear();
  sink.Unit(rest, {});
}

void FrameAssembler::Emit(std::span<const char> bytes, const FrameInfo& info, FrameSink& sink) {
  if (format_ == AudioFormat::Mpeg && info.is_frame) locked_ = StreamKind(info.header);
  sink.Unit(bytes, info);
}

FrameAssembler::Verdict FrameAssembler::Judge(std::span<const char> bytes) const {
  return format_ == AudioFormat::Mpeg ? JudgeMpeg(bytes) : JudgeAdts(bytes);
}

FrameAssembler::Verdict FrameAssembler::JunkUntilNextSync(std::span<const char> bytes) {
  const auto next = std::find(bytes.begin() + 1, bytes.end(), char(0xFF));
  return {Kind::Junk, std::size_t(next - bytes.begin()), {}};
}

FrameAssembler::Verdict FrameAssembler::JudgeMpeg(std::span<const char> bytes) const {
  if (Byte(bytes, 0) != 0xFF) return JunkUntilNextSync(bytes);
  if (bytes.size() < kMpegHeaderBytes) return {Kind::NeedMore, kMpegHeaderBytes, {}};
  const mpeg::HeaderBytes header = HeaderAt(bytes, 0);
  const auto length = MpegFrameLength(header);
  if (!length) return JunkUntilNextSync(bytes);
  if (locked_ && StreamKind(header) != *locked_) {
    // Another version, layer or sampling rate: the station changed its encoder,
    // or this is a stray 0xFF. Only a run of frames of that kind decides.
    const std::size_t wanted = RunOfOneKind(bytes);
    if (wanted == 0) return JunkUntilNextSync(bytes);
    if (wanted > bytes.size()) return {Kind::NeedMore, wanted, {}};
  }
  FrameInfo info;
  info.is_frame = true;
  info.samples = std::uint32_t(mpeg::FrameSamples(header));
  info.sample_rate = std::uint32_t(mpeg::SamplingRate(header));
  info.header = header;
  return {Kind::Frame, *length, info};
}

FrameAssembler::Verdict FrameAssembler::JudgeAdts(std::span<const char> bytes) const {
  if (Byte(bytes, 0) != 0xFF) return JunkUntilNextSync(bytes);
  if (bytes.size() < 2) return {Kind::NeedMore, kAdtsHeaderBytes, {}};
  if ((Byte(bytes, 1) & 0xF6) != 0xF0) return JunkUntilNextSync(bytes);  // sync, layer 0
  if (bytes.size() < kAdtsHeaderBytes) return {Kind::NeedMore, kAdtsHeaderBytes, {}};
  const unsigned rate_index = (Byte(bytes, 2) >> 2) & 0x0F;
  const std::size_t length =
      (std::size_t(Byte(bytes, 3) & 0x03) << 11) | (std::size_t(Byte(bytes, 4)) << 3) | (Byte(bytes, 5) >> 5);
  const std::size_t header_length = (Byte(bytes, 1) & 0x01) ? 7 : 9;
  if (rate_index >= kAdtsSampleRates.size() || length < header_length) return JunkUntilNextSync(bytes);
  FrameInfo info;
  info.is_frame = true;
  info.samples = 1024u * ((Byte(bytes, 6) & 0x03) + 1u);
  info.sample_rate = kAdtsSampleRates[rate_index];
  return {Kind::Frame, length, info};
}

}  // namespace pellora::songs

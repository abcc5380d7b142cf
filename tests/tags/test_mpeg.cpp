// SPDX-License-Identifier: MIT
// Frame header fields, bit rate, frame size and playing time, checked against
// exact figures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tags/mpeg_stream.h"

namespace pellora::tags::mpeg {
namespace {

struct HeaderCase {
  HeaderBytes header;
  int version, layer, sampling_rate, padding, channel_mode, frame_samples;
};

class HeaderFields : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderFields, DecodeAsListed) {
  const HeaderCase& c = GetParam();
  EXPECT_EQ(Version(c.header), c.version);
  EXPECT_EQ(Layer(c.header), c.layer);
  EXPECT_EQ(SamplingRate(c.header), c.sampling_rate);
  EXPECT_EQ(Padding(c.header), c.padding);
  EXPECT_EQ(ChannelMode(c.header), c.channel_mode);
  EXPECT_EQ(FrameSamples(c.header), c.frame_samples);
}

INSTANTIATE_TEST_SUITE_P(Examples, HeaderFields, ::testing::Values(
    HeaderCase{{0xFB, 0x90, 0x64}, kMpeg1, kLayerIII, 44100, 0, 1, 1152},  // MPEG-1 L III, joint stereo
    HeaderCase{{0xFB, 0x92, 0x64}, kMpeg1, kLayerIII, 44100, 1, 1, 1152},  // padding bit
    HeaderCase{{0xFF, 0x92, 0x00}, kMpeg1, kLayerI, 44100, 4, 0, 384},     // Layer I slot of 4 bytes
    HeaderCase{{0xFD, 0x84, 0xC0}, kMpeg1, kLayerII, 48000, 0, 3, 1152},   // Layer II mono
    HeaderCase{{0xF3, 0x80, 0x64}, kMpeg2, kLayerIII, 22050, 0, 1, 576},
    HeaderCase{{0xF3, 0x88, 0x80}, kMpeg2, kLayerIII, 16000, 0, 2, 576},
    HeaderCase{{0xE3, 0x80, 0x64}, kMpeg25, kLayerIII, 11025, 0, 1, 576},
    HeaderCase{{0xE3, 0x84, 0x64}, kMpeg25, kLayerIII, 12000, 0, 1, 576},
    HeaderCase{{0xFB, 0x9C, 0x64}, kMpeg1, kLayerIII, -1, 0, 1, 1152},     // sampling-rate index 3
    HeaderCase{{0xEB, 0x90, 0x64}, kVersionReserved, kLayerIII, -1, 0, 1, 576},
    HeaderCase{{0xF9, 0x90, 0x64}, kMpeg1, kLayerReserved, 44100, 0, 1, 0},
    HeaderCase{{0x00, 0x00, 0x00}, kMpeg25, kLayerReserved, 11025, 0, 0, 0}));  // before any scan

TEST(HeaderValidity, RejectsEveryReservedOrUnusableField) {
  EXPECT_TRUE(IsPlausible({0xFB, 0x90, 0x64}));
  EXPECT_FALSE(IsPlausible({0xEB, 0x90, 0x64}));  // reserved version
  EXPECT_FALSE(IsPlausible({0xF9, 0x90, 0x64}));  // reserved layer
  EXPECT_FALSE(IsPlausible({0xFB, 0x9C, 0x64}));  // reserved sampling rate
  EXPECT_FALSE(IsPlausible({0xFB, 0x00, 0x64}));  // free format
  EXPECT_FALSE(IsPlausible({0xFB, 0xF0, 0x64}));  // forbidden bit-rate index
  EXPECT_FALSE(IsPlausible({0xFB, 0x90, 0x66}));  // reserved emphasis
  EXPECT_TRUE(IsPlausible({0xFD, 0x14, 0x00}));   // Layer II 32 kbit/s stereo: combinations are not screened
  EXPECT_FALSE(HasSyncBits({0xDB, 0x90, 0x64}));
  EXPECT_TRUE(HasSyncBits({0xE0, 0x00, 0x00}));
}

TEST(HeaderValidity, SideInformationLengthByVersionAndChannels) {
  EXPECT_EQ(SideInfoLength({0xFB, 0x90, 0x44}), 32);
  EXPECT_EQ(SideInfoLength({0xFB, 0x90, 0xC4}), 17);
  EXPECT_EQ(SideInfoLength({0xF3, 0x80, 0x44}), 17);
  EXPECT_EQ(SideInfoLength({0xE3, 0x80, 0xC4}), 9);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

struct StreamCase {
  const char* name;
  StreamFacts facts;
  double bit_rate;
  std::optional<double> frame_size;
  double length;
};

class StreamFigures : public ::testing::TestWithParam<StreamCase> {};

// Exact comparisons: the figures are what double arithmetic gives, digit for digit.
void ExpectSameDouble(double actual, double expected) {
  if (std::isnan(expected)) EXPECT_TRUE(std::isnan(actual)) << actual;
  else EXPECT_EQ(actual, expected);
}

TEST_P(StreamFigures, AreExact) {
  const StreamCase& c = GetParam();
  ExpectSameDouble(BitRate(c.facts), c.bit_rate);
  ASSERT_EQ(FrameSize(c.facts).has_value(), c.frame_size.has_value());
  if (c.frame_size) ExpectSameDouble(*FrameSize(c.facts), *c.frame_size);
  ExpectSameDouble(Length(c.facts), c.length);
}

StreamFacts Cbr(HeaderBytes header, std::int64_t audio_size) { return {header, false, audio_size, 0, 0}; }
StreamFacts Vbr(HeaderBytes header, std::int64_t audio_size, std::int32_t frames, std::int32_t bytes) {
  return {header, true, audio_size, frames, bytes};
}

INSTANTIATE_TEST_SUITE_P(Examples, StreamFigures, ::testing::Values(
    StreamCase{"Mpeg1Cbr128", Cbr({0xFB, 0x90, 0x64}, 300 * 16000), 128000, 417.9591836734694, 300},
    StreamCase{"Mpeg1Cbr128Padded", Cbr({0xFB, 0x92, 0x64}, 300 * 16000), 128000, 418.9591836734694, 300},
    StreamCase{"Mpeg2Cbr64", Cbr({0xF3, 0x80, 0x64}, 8000), 64000, 208.9795918367347, 1},
    StreamCase{"Mpeg1LayerIPadded", Cbr({0xFF, 0x16, 0x00}, 4000), 32000, 36, 1},
    StreamCase{"FreeFormat", Cbr({0xFB, 0x02, 0x64}, 1000), 0, 1, kInf},
    StreamCase{"ForbiddenIndex", Cbr({0xFB, 0xF0, 0x64}, 1000), -1000, -3.2653061224489797, -8},
    StreamCase{"ReservedVersion", Cbr({0xEB, 0x90, 0x64}, 1000), 0, 0, kInf},
    StreamCase{"ReservedLayer", Cbr({0xF9, 0x90, 0x64}, 1000), 0, 0, kInf},
    StreamCase{"AllZeroHeader", Cbr({0, 0, 0}, 1000), 0, 0, kInf},
    StreamCase{"AllZeroHeaderNoAudio", Cbr({0, 0, 0}, 0), 0, 0, std::nan("")},
    StreamCase{"Mpeg1Vbr", Vbr({0xFB, 0x90, 0x64}, 4000000, 10000, 4000000), 400.0 * 44100 / 144, 400,
               261.2244897959184},
    // 72 bytes a frame per bit/s and Hz at 576 samples: the true average, 61250.
    StreamCase{"Mpeg2Vbr", Vbr({0xF3, 0x80, 0x64}, 200000, 1000, 200000), 61250, 200, 26.122448979591837},
    StreamCase{"VbrWithoutByteCount", Vbr({0xFB, 0x90, 0x64}, 500000, 1000, 0),
               500000 / (1000.0 * 1152 / 44100) * 8, 0, 1000.0 * 1152 / 44100},
    StreamCase{"VbrWithoutFrameCount", Vbr({0xFB, 0x90, 0x64}, 500000, 0, 400000), kInf, std::nullopt, 0},
    StreamCase{"VbrWithoutCountsOrAudio", Vbr({0xFB, 0x90, 0x64}, 0, 0, 0), std::nan(""), std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pellora::tags::mpeg

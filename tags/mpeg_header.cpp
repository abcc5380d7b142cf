// SPDX-License-Identifier: MIT
#include "tags/mpeg_header.h"

namespace pellora::tags::mpeg {
namespace {

using BitRateRow = std::array<std::int16_t, 16>;

// kbit/s by bit-rate index. Index 0 (free format) reads as 0 and the forbidden
// index 15 as -1, so both stand out as invalid bit rates.
constexpr BitRateRow kMpeg1LayerI = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1};
constexpr BitRateRow kMpeg1LayerII = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1};
constexpr BitRateRow kMpeg1LayerIII = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
constexpr BitRateRow kMpeg2LayerI = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1};
constexpr BitRateRow kMpeg2LayersIIAndIII = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};

// Hz by sampling-rate index, per version code (MPEG-2.5, reserved, MPEG-1, MPEG-2).
constexpr std::array<std::array<int, 4>, 4> kSamplingRates = {{
    {11025, 12000, 8000, -1},
    {-1, -1, -1, -1},
    {44100, 48000, 32000, -1},
    {22050, 24000, 16000, -1},
}};

const BitRateRow* BitRateRowOf(int version, int layer) {
  if (version == kVersionReserved || layer == kLayerReserved) return nullptr;
  if (version == kMpeg1) {
    if (layer == kLayerI) return &kMpeg1LayerI;
    return layer == kLayerII ? &kMpeg1LayerII : &kMpeg1LayerIII;
  }
  return layer == kLayerI ? &kMpeg2LayerI : &kMpeg2LayersIIAndIII;
}

}  // namespace

int Layer(const HeaderBytes& header) { return (header[0] >> 1) & 3; }

int Version(const HeaderBytes& header) {
  constexpr std::array<int, 4> kCodeOfRawBits = {kMpeg25, kVersionReserved, kMpeg2, kMpeg1};
  return kCodeOfRawBits[(header[0] >> 3) & 3];
}

int ChannelMode(const HeaderBytes& header) { return header[2] >> 6; }

int BitRateIndex(const HeaderBytes& header) { return header[1] >> 4; }

int Padding(const HeaderBytes& header) {
  if (((header[1] >> 1) & 1) == 0) return 0;
  return Layer(header) == kLayerI ? 4 : 1;  // a Layer I slot is four bytes
}

int SamplingRate(const HeaderBytes& header) {
  return kSamplingRates[Version(header)][(header[1] >> 2) & 3];
}

int FrameSamples(const HeaderBytes& header) {
  switch (Layer(header)) {
    case kLayerI: return 384;
    case kLayerII: return 1152;
    case kLayerIII: return Version(header) == kMpeg1 ? 1152 : 576;
    default: return 0;
  }
}

double ConstantBitRate(const HeaderBytes& header) {
  const BitRateRow* row = BitRateRowOf(Version(header), Layer(header));
  if (row == nullptr) return 0;
  return 1000.0 * (*row)[BitRateIndex(header)];
}

int Emphasis(const HeaderBytes& header) { return header[2] & 3; }

bool HasSyncBits(const HeaderBytes& header) { return header[0] >= 0xE0; }

bool IsPlausible(const HeaderBytes& header) {
  const double bit_rate = ConstantBitRate(header);
  return Version(header) != kVersionReserved && Layer(header) != kLayerReserved &&
         SamplingRate(header) != -1 && bit_rate != 0 && bit_rate != -1000 && Emphasis(header) != 2;
}

int SideInfoLength(const HeaderBytes& header) {
  const bool mono = ChannelMode(header) == kSingleChannel;
  if (Version(header) == kMpeg1) return mono ? 17 : 32;
  return mono ? 9 : 17;
}

}  // namespace pellora::tags::mpeg

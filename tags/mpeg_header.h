// SPDX-License-Identifier: MIT
#pragma once
// Decoding of an MPEG audio frame header. The four header bytes are, in the usual
// notation, AAAAAAAA AAABBCCD EEEEFFGH IIJJKLMM; the first (all sync bits) is not
// kept, so a header here is the three bytes that follow the 0xFF sync byte.
//
// Codes, as the tag store reports them:
//   Layer        0 reserved, 1 Layer III, 2 Layer II, 3 Layer I (the raw CC bits)
//   Version      0 MPEG-2.5, 1 reserved, 2 MPEG-1, 3 MPEG-2 (raw 10 and 11 swapped)
//   ChannelMode  0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
// Every function accepts any three bytes; reserved values give the codes above.
#include <array>
#include <cstdint>

namespace pellora::tags::mpeg {

using HeaderBytes = std::array<std::uint8_t, 3>;

inline constexpr int kLayerReserved = 0;
inline constexpr int kLayerIII = 1;
inline constexpr int kLayerII = 2;
inline constexpr int kLayerI = 3;

inline constexpr int kMpeg25 = 0;
inline constexpr int kVersionReserved = 1;
inline constexpr int kMpeg1 = 2;
inline constexpr int kMpeg2 = 3;

inline constexpr int kSingleChannel = 3;

// Layer code (bits CC).
int Layer(const HeaderBytes& header);
// Version code (bits BB, with MPEG-1 and MPEG-2 swapped as listed above).
int Version(const HeaderBytes& header);
// Channel-mode code (bits II).
int ChannelMode(const HeaderBytes& header);
// Bit-rate index (bits EEEE), 0 to 15.
int BitRateIndex(const HeaderBytes& header);
// Length of the padding slot in bytes: 0 without the padding bit, 4 for Layer I, else 1.
int Padding(const HeaderBytes& header);
// Sampling rate in Hz, or -1 for a reserved version or sampling-rate index.
int SamplingRate(const HeaderBytes& header);
// Samples per frame: 384 (Layer I), 1152 (Layer II, MPEG-1 Layer III), 576 (other
// Layer III), 0 for the reserved layer.
int FrameSamples(const HeaderBytes& header);
// Bit rate of the header's own bit-rate index, in bit/s: 0 for free format (index 0)
// and for a reserved version or layer, -1000 for the forbidden index 15.
double ConstantBitRate(const HeaderBytes& header);
// Emphasis code (bits MM); 2 is reserved.
int Emphasis(const HeaderBytes& header);

// True when the three sync bits of the header (AAA of byte 0) are all set.
bool HasSyncBits(const HeaderBytes& header);

// True when the header can start an audio frame: a known version, layer and
// sampling rate, a bit rate from the table (not free format, not forbidden) and a
// known emphasis. Every bit-rate / channel-mode combination is accepted, for every
// layer, as players accept them.
bool IsPlausible(const HeaderBytes& header);

// Length of the Layer III side information that follows the 4-byte header: 32 or
// 17 bytes for MPEG-1 (stereo, mono), 17 or 9 for the other versions. A Xing or
// Info header starts right after it.
int SideInfoLength(const HeaderBytes& header);

}  // namespace pellora::tags::mpeg

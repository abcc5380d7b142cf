// SPDX-License-Identifier: MIT
#pragma once
// The Xing/Info and VBRI headers that encoders put into the first audio frame of
// a file to describe the whole stream.
//
// Xing/Info: after the side information (SideInfoLength), the tag "Xing" (variable
// bit rate) or "Info" (constant), a 4-byte flags field, then the fields its last
// byte announces: frame count (bit 0), byte count (bit 1), a 100-byte table of
// contents (bit 2), quality (bit 3).
// VBRI (Fraunhofer): the tag "VBRI" 32 bytes after the 4-byte frame header, for
// every version, then version, delay, quality, byte count, frame count, table entry
// count, table scale and entry size, and the table itself.
// Tags are compared without regard to case. Numbers are big-endian; 4-byte ones
// are read as two's complement, 2-byte ones as unsigned.
#include <cstdint>
#include <span>
#include <vector>

#include "tags/mpeg_header.h"

namespace pellora::tags::mpeg {

// At most this many bytes after a frame's 0xFF hold the headers.
inline constexpr std::size_t kVbrHeaderSpan = 156;

struct VbrHeaders {
  bool is_vbr = false;  // "Xing" or "VBRI" found ("Info" leaves it false)
  std::int32_t frames = 0;
  std::int32_t bytes = 0;
  std::int32_t quality = 0;
  std::vector<std::uint8_t> toc;  // the Xing table of contents, 100 entries when present
  std::int32_t vbri_toc_entries = 0;
  std::int32_t vbri_toc_entry_size = 0;
  // Bytes the headers take from the audio: 8 + the Xing fields present, plus
  // 26 + the VBRI table.
  std::int64_t length = 0;
};

// Reads both headers from `frame`, the bytes after the 0xFF of the frame whose
// header is `header` (frame[k - 1] is frame byte k when the 0xFF is byte 0). A
// VBRI header's values replace a Xing header's. A field that `frame` does not
// hold whole keeps its zero (or empty) value; its length still counts, since the
// header declared it.
VbrHeaders ReadVbrHeaders(std::span<const std::uint8_t> frame, const HeaderBytes& header);

}  // namespace pellora::tags::mpeg

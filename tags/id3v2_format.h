// SPDX-License-Identifier: MIT
#pragma once
// The ID3v2 tag and frame layout that the reader, the writer and the rewrite share:
// header recognition and flags, extended headers, frame lengths and frame text.
// Internal to the tag store; not installed.
//
// Offsets into a tag body are 0-based; a body is the tag's bytes after its 10-byte
// header, as far as the file holds them. `revision` is the tag's major version.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellora::tags::detail {

// The tag-level flags of a 10-byte ID3v2 header.
struct ID3v2HeaderFlags {
  bool unsynchronised = false;
  bool compressed = false;       // revision 2 only
  bool extended_header = false;  // revisions 3 and 4
  bool footer = false;           // revision 4 only
};

// True when `header` (10 bytes) is an ID3v2 header: "ID3", version and revision
// below 255, four size bytes below 128.
bool IsID3v2Header(std::string_view header);
// The flags of a recognised header, keyed on its major version (header[3]).
ID3v2HeaderFlags ReadTagHeaderFlags(std::string_view header);
// The header flags byte for `revision` (bit 6 means compression below revision 3,
// an extended header from 3 on; the footer bit exists from revision 4 on).
std::uint8_t BuildTagHeaderFlags(int revision, bool unsynchronised, bool compressed, bool extended_header,
                                 bool footer);

// 3 for revision 2 (any major version below 3), else 4.
inline std::size_t FrameIdLength(int revision) { return revision < 3 ? 3 : 4; }
// The body after an extended header (its size excludes its own 4 bytes in
// revision 3, includes them in revision 4).
std::string_view SkipExtendedHeader(std::string_view body, int revision);
// The length of the frame at `p`, header included, or no result when its size lies
// beyond the 32-bit signed range. A size field cut short by the end of the body is
// read from the bytes that are there.
std::optional<std::int64_t> FrameTotalLength(std::string_view body, std::size_t p, int revision);

// The decoded text of one frame, and whether it carried a description (COMM, USLT:
// text before a NUL).
struct FrameText {
  std::u16string text;
  bool has_description = false;
};
// The text of the frame at `p`: the encoding byte applied, the 3-byte language code
// skipped when `skip_language` (taken as single bytes before decoding), a leading
// NUL (empty description) dropped, and cut at the first NUL when `cut_at_nul`. A
// compressed frame gives empty text. No result when the frame header itself is cut
// short by the end of the body.
std::optional<FrameText> DecodeFrameText(std::string_view body, std::size_t p, int revision, bool skip_language,
                                         bool cut_at_nul);
// True at the marker that some tagging tools leave after the frames of a tag
// ("MP3ext V<version>(unicode)", or a tail of it).
bool IsMp3extSignature(std::string_view body, std::size_t p);

// `value` as exactly `width` big-endian digits of base 256 (shift 0) or 128
// (shift -1, synchsafe); a longer number keeps its least significant digits.
std::string NumberToBytes(double value, int width, int shift);

}  // namespace pellora::tags::detail

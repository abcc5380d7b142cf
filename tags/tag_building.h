// SPDX-License-Identifier: MIT
#pragma once
// Building new tags from a record: the ID3v2 tag (id3v2_writer.cpp), the ID3v1
// record and the Lyrics3 v2 block (trailer_writer.cpp). Pure functions of the
// record and the old tag bytes; the rewrite puts their results into the file.
// Internal to the tag store; not installed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tags/id3.h"

namespace pellora::tags::detail {

// ---- ID3v2 (id3v2_writer.cpp) ----
struct BuiltID3v2Tag {
  std::string bytes;          // the whole tag, header included
  std::uint8_t revision = 3;  // the major version written
};
// The new ID3v2 tag from the items of `record` and the file's old tag: `old_header`
// is the old tag's 10-byte header when the file starts with a valid one, and
// `old_body` the bytes after it (the declared size, or fewer where the file ends).
// Written in the revision of the old tag, or 3. Managed frames of the old tag are
// rewritten in place, foreign ones kept in their order, emptied ones removed,
// missing ones appended in the order of the identifier tables, and the old padding
// length kept (2048 bytes for a new tag). Text beyond Latin-1 is written as UTF-16
// with a byte-order mark in revisions 2 and 3 and as UTF-8 in revision 4. The new
// tag has no unsynchronisation, extended header or footer. `fill_tag_to`: the
// whole length the tag is to have when its frames leave room, the padding taking
// up the rest (clsID3::AbsorbPadding); otherwise the padding rule above. `bytes` is
// empty when the tag cannot be declared: larger than 2^28 - 1 bytes, or a frame
// larger than its size field can say.
BuiltID3v2Tag BuildID3v2Tag(const clsID3& record, const std::optional<std::string>& old_header,
                            std::string_view old_body, std::optional<std::size_t> fill_tag_to = std::nullopt);
// The text of the genre frame: "(17)Rock", "(255)", "Chiptune", "(RX)" ...
std::u16string GenreFrameText(const clsID3& record);
// "5/12" from number and total; the number alone without a total; empty without a
// number.
std::u16string NumberAndTotalText(const std::u16string& number, const std::u16string& total);

// ---- ID3v1 and Lyrics3 (trailer_writer.cpp) ----
// What follows the audio: the Lyrics3 v2 block (when Title, Artist or Album is too
// long for ID3v1), then the ID3v1 record (unless it would say nothing).
// `old_lyrics3v2_block` is the file's old block from "LYRICSBEGIN" through its last
// field, or empty; its foreign fields are carried over.
std::string BuildTrailer(const clsID3& record, std::string_view old_lyrics3v2_block);
// The 128-byte ID3v1 (1.1 when TrackNumber is a number from 1 to 255) record, or
// none when every item it holds is empty and the genre byte is 12 or 255, or when
// the genre number does not fit a byte.
std::optional<std::string> BuildID3v1Record(const clsID3& record);
// The Lyrics3 v2 block, or none when no title, artist or album exceeds 30 bytes.
std::optional<std::string> BuildLyrics3v2Block(const clsID3& record, std::string_view old_block);
// The genre byte of the ID3v1 record; may lie outside 0..255 when GenreID does.
std::int32_t ID3v1GenreByte(const clsID3& record);
// Single-byte form of tag text: Latin-1, any other character (a surrogate pair
// counting as one) as "?".
std::string SingleByteText(std::u16string_view text);
// The text cut to `width` bytes and padded with NULs to exactly `width`.
std::string FixedWidthText(std::u16string_view text, std::size_t width);
// Lyrics3 line-break escapes: CR LF -> "[CR][LF]", CR -> "[CR]", LF -> "[LF]".
std::string EscapeLineBreaks(std::string_view value);

}  // namespace pellora::tags::detail

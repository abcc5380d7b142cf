// SPDX-License-Identifier: MIT
#include "tags/tag_locator.h"

#include <algorithm>

#include "tags/codecs.h"
#include "tags/id3v2_format.h"

namespace pellora::tags {
namespace {

constexpr std::int64_t kHeaderLength = 10;
constexpr std::int64_t kFooterLength = 10;
constexpr std::int64_t kID3v1Length = 128;
constexpr std::int64_t kMarkerLength = 9;  // "LYRICSEND", "LYRICS200"
constexpr std::int64_t kLyrics3v2SizeLength = 6;
// A version-1 block holds at most 5100 bytes of lyrics between its markers.
constexpr std::int64_t kLyrics3v1Window = 11 + 5100 + 9;
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";

}  // namespace

std::optional<std::int64_t> Lyrics3v2Size(std::string_view six) {
  if (six.size() != std::size_t(kLyrics3v2SizeLength)) return std::nullopt;
  const auto first = six.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const std::string_view digits = six.substr(first, six.find_last_not_of(' ') - first + 1);
  if (!IsAllDigits(digits)) return std::nullopt;
  std::int64_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

clsID3::TagLayout clsID3::TagLocator::Locate(bool read_body) && {
  layout_.length = file_.Length();
  LocateID3v2(read_body);
  LocateID3v1();
  LocateLyrics3();
  return std::move(layout_);
}

void clsID3::TagLocator::LocateID3v2(bool read_body) {
  const std::string header = file_.ReadUpTo(0, kHeaderLength);
  if (!detail::IsID3v2Header(header)) return;
  const auto flags = detail::ReadTagHeaderFlags(header);
  const auto size = static_cast<std::int64_t>(BytesToNumber(std::string_view(header).substr(6, 4), true));
  layout_.id3v2_end = kHeaderLength + size + (flags.footer ? kFooterLength : 0);
  if (read_body && !flags.compressed) layout_.id3v2_body = file_.ReadUpTo(kHeaderLength, size);
  layout_.id3v2_header = header;
}

void clsID3::TagLocator::LocateID3v1() {
  layout_.lyrics3_end = layout_.length;
  const auto marker = file_.ReadExactly(layout_.length - kID3v1Length, 3);
  if (marker && *marker == "TAG") {
    layout_.id3v1 = true;
    layout_.lyrics3_end -= kID3v1Length;
  }
}

void clsID3::TagLocator::LocateLyrics3() {
  const auto marker = file_.ReadExactly(layout_.lyrics3_end - kMarkerLength, kMarkerLength);
  if (!marker) return;
  if (*marker == "LYRICS200") {
    layout_.lyrics3_marker = TagLayout::Lyrics3Marker::Version2;
    LocateLyrics3v2();
  } else if (*marker == "LYRICSEND") {
    layout_.lyrics3_marker = TagLayout::Lyrics3Marker::Version1;
    LocateLyrics3v1();
  }
}

// The last "LYRICSBEGIN" of the window before "LYRICSEND" opens the block; the
// window never reaches back into the ID3v2 tag.
void clsID3::TagLocator::LocateLyrics3v1() {
  const std::int64_t end = layout_.lyrics3_end - kMarkerLength;
  const std::int64_t from =
      std::max({std::int64_t(0), layout_.id3v2_end, layout_.lyrics3_end - kLyrics3v1Window});
  if (from >= end) return;
  const std::string window = file_.ReadUpTo(from, end - from);
  const auto begin = window.rfind(kLyricsBegin);
  if (begin == std::string::npos) return;
  layout_.lyrics3_start = from + std::int64_t(begin);
  layout_.lyrics3_block = window.substr(begin);
}

// A block is recognised when its size points, after the ID3v2 tag, at
// "LYRICSBEGIN"; anything else stays part of the audio.
void clsID3::TagLocator::LocateLyrics3v2() {
  const std::int64_t size_at = layout_.lyrics3_end - kMarkerLength - kLyrics3v2SizeLength;
  const auto digits = file_.ReadExactly(size_at, kLyrics3v2SizeLength);
  const auto size = digits ? Lyrics3v2Size(*digits) : std::nullopt;
  if (!size) return;
  const std::int64_t start = size_at - *size;
  if (start < std::max<std::int64_t>(0, layout_.id3v2_end)) return;
  auto block = file_.ReadExactly(start, *size);
  if (!block || !block->starts_with(kLyricsBegin)) return;
  layout_.lyrics3_start = start;
  layout_.lyrics3_block = std::move(*block);
}

}  // namespace pellora::tags

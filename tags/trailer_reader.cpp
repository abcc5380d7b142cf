// SPDX-License-Identifier: MIT
// Reading the tags at the end of a file: the ID3v1 record and a Lyrics3 block
// before it. Both fill only items that are still empty, so ID3v2 values win over
// Lyrics3 values and both win over ID3v1 values.
#include <algorithm>
#include <cmath>

#include "tags/codecs.h"
#include "tags/file_reader.h"
#include "tags/id3.h"
#include "tags/tag_locator.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

constexpr std::int64_t kID3v1Length = 128;
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::int64_t kLyrics3FieldHeaderLength = 8;  // identifier (3) + length (5)

std::string_view Slice(std::string_view bytes, std::size_t p, std::size_t count) {
  if (p >= bytes.size()) return {};
  return bytes.substr(p, count);
}

// A decimal count written as text; no result for anything that is not a
// non-negative number.
std::optional<std::int64_t> DecimalCount(std::string_view digits) {
  const auto value = NumberValue(digits);
  if (!value || *value < 0) return std::nullopt;
  return static_cast<std::int64_t>(std::llround(*value));
}

std::u16string TrimTrailingSpaces(std::u16string text) {
  text.erase(text.find_last_not_of(u' ') + 1);
  return text;
}

}  // namespace

void clsID3::FillIfEmpty(TextItem item, std::u16string value) {
  if (Text(item).empty()) SetText(item, std::move(value));
}

std::int64_t clsID3::ReadLyrics3(const TagLayout& layout) {
  using Marker = TagLayout::Lyrics3Marker;
  if (layout.lyrics3_marker == Marker::Version2) {
    lyrics3v2_exists_ = true;
    if (!layout.lyrics3_start) return layout.lyrics3_end;
    ReadLyrics3v2(layout.lyrics3_block);
    return *layout.lyrics3_start;
  }
  if (layout.lyrics3_marker == Marker::Version1) {
    lyrics3v1_exists_ = true;
    // The audio end stays after "LYRICSEND"; the lyrics run up to it.
    if (layout.lyrics3_start)
      FillIfEmpty(TextItem::Lyrics, text::Latin1ToUtf16(std::string_view(layout.lyrics3_block).substr(kLyricsBegin.size())));
  }
  return layout.lyrics3_end;
}

void clsID3::ReadLyrics3v2(std::string_view block) {
  for (std::size_t p = kLyricsBegin.size(); p < block.size();) {
    ParseLyrics3Field(Slice(block, p, 3), block, p);
    const std::string_view length = Slice(block, p + 3, 5);
    if (length.empty() || !IsAllDigits(length)) break;
    p += kLyrics3FieldHeaderLength + static_cast<std::size_t>(*DecimalCount(length));
  }
}

void clsID3::ParseLyrics3Field(std::string_view id, std::string_view block, std::size_t p) {
  const auto length = DecimalCount(Slice(block, p + 3, 5));
  if (!length) return;
  const std::u16string value = UnescapeLyricsLineBreaks(
      text::Latin1ToUtf16(Slice(block, p + kLyrics3FieldHeaderLength, static_cast<std::size_t>(*length))));
  if (id == "IND") {
    lyrics_timestamped_ = value.size() >= 2 && value[1] == u'1';
  } else if (id == "LYR") {
    FillIfEmpty(TextItem::Lyrics, lyrics_timestamped_ ? StripLyricsTimestamps(value) : value);
  } else if (id == "AUT") {
    FillIfEmpty(TextItem::Lyricist, value);
  } else if (id == "EAL") {
    FillIfEmpty(TextItem::Album, value);
  } else if (id == "EAR") {
    FillIfEmpty(TextItem::Artist, value);
  } else if (id == "ETT") {
    FillIfEmpty(TextItem::Title, value);
  }
}

void clsID3::ReadID3v1Fields(std::string_view record) {
  if (record.size() != std::size_t(kID3v1Length) || !record.starts_with("TAG")) return;
  ReadV1Field(record, 3, 30, TextItem::Title);
  ReadV1Field(record, 33, 30, TextItem::Artist);
  ReadV1Field(record, 63, 30, TextItem::Album);
  ReadV1Field(record, 93, 4, TextItem::Year);
  const bool v11 = record[125] == '\0' && record[126] != '\0';
  if (v11) ReadV1Track(record);
  ReadV1Field(record, 97, v11 ? 28 : 30, TextItem::Comments);
  ReadV1Genre(record);
}

void clsID3::ReadV1Field(std::string_view record, std::size_t offset, std::size_t length, TextItem item) {
  std::u16string value = TrimTrailingSpaces(text::Latin1ToUtf16(CutAtNul(record.substr(offset, length))));
  if (!value.empty()) FillIfEmpty(item, std::move(value));
}

void clsID3::ReadV1Track(std::string_view record) {
  const auto track = static_cast<std::uint8_t>(record[126]);
  if (track != 0) FillIfEmpty(TextItem::TrackNumber, text::Latin1ToUtf16(std::to_string(track)));
}

void clsID3::ReadV1Genre(std::string_view record) {
  if (genre_id_ == 12 || genre_id_ == 255) genre_id_ = static_cast<std::uint8_t>(record[127]);
}

}  // namespace pellora::tags

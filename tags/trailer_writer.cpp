// SPDX-License-Identifier: MIT
// ID3v1 and Lyrics3 v2 building: the trailer that follows the audio.
//
// Both formats hold single bytes. A character beyond Latin-1 becomes "?" (one for
// each character, a surrogate pair included), so lengths here count bytes.
// Positions inside the Lyrics3 block are 0-based.
#include <cfenv>
#include <cmath>
#include <algorithm>
#include <cstdio>

#include "tags/codecs.h"
#include "tags/tag_building.h"
#include "tags/pending_ids.h"

namespace pellora::tags::detail {
namespace {

constexpr std::size_t kID3v1SlotWidth = 30;
constexpr std::size_t kLyrics3ValueLimit = 250;
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kWrittenIndicator = "IND0000200";
constexpr std::size_t kFieldHeaderLength = 8;  // identifier and five length digits
constexpr std::size_t kLargestBlock = 999999;  // what the six size digits can say

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::string Digits(std::size_t value, int width) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%0*zu", width, value);
  return buffer;
}

std::size_t FieldLength(std::string_view block, std::size_t p) {
  return std::size_t(std::stoul(std::string(block.substr(p + 3, 5))));
}

// The Lyrics3 v2 block under construction, with the identifiers still to write.
class Lyrics3BlockWriter {
 public:
  explicit Lyrics3BlockWriter(const clsID3& record) : record_(record) {
    for (std::string_view id : clsID3::Lyrics3FieldIds()) pending_.Add(id);
  }

  // The old block is only read and the new one only appended to, so the work is
  // linear in the block's size.
  std::optional<std::string> Build(std::string_view old_block) && {
    block_ = std::string(kLyricsBegin) + std::string(kWrittenIndicator);
    Walk(old_block);
    for (const auto& id : pending_) PutField(id, ValueOf(id));
    if (block_.size() > kLargestBlock) return std::nullopt;
    return block_ + Digits(block_.size(), 6) + "LYRICS200";
  }

 private:
  // Carries the old fields over up to the first incomplete or unreadable one. The
  // indicator is written anew; a managed field is rewritten where it stood, once
  // at most: a second field of an identifier already handled (also in other
  // letter case, "ett") is carried over unchanged.
  void Walk(std::string_view old) {
    std::size_t p = kLyricsBegin.size();
    while (p < old.size()) {
      if (old.size() - p < kFieldHeaderLength || !IsAllDigits(old.substr(p + 3, 5))) break;
      const std::size_t total = kFieldHeaderLength + FieldLength(old, p);
      if (total > old.size() - p) break;
      const std::string_view id = old.substr(p, 3);
      const std::string entry = pending_.Entry(id);
      if (IsManaged(entry)) {
        PutField(entry, ValueOf(entry));
        pending_.Leave(entry);
      } else if (id != "IND") {
        block_.append(old.substr(p, total));
      }
      p += total;
    }
  }

  static bool IsManaged(std::string_view id) {
    return id == "EAL" || id == "EAR" || id == "ETT" || id == "LYR" || id == "AUT";
  }

  // Lyrics and lyricist live in the ID3v2 tag; the block carries only the titles,
  // artists and albums that the ID3v1 slots cut.
  std::string ValueOf(std::string_view id) const {
    const auto if_long = [](std::string value) {
      return value.size() > kID3v1SlotWidth ? value.substr(0, kLyrics3ValueLimit) : std::string();
    };
    if (id == "EAL") return if_long(SingleByteText(record_.Album()));
    if (id == "EAR") return if_long(SingleByteText(record_.Artist()));
    if (id == "ETT") return if_long(SingleByteText(record_.Title()));
    return {};
  }

  // Appends the field; an empty value writes nothing.
  void PutField(const std::string& id, const std::string& value) {
    if (value.empty()) return;
    const std::string data = EscapeLineBreaks(value);
    block_ += id + Digits(data.size(), 5) + data;
  }

  const clsID3& record_;
  std::string block_;
  PendingIds pending_;
};

// The ID3v1.1 track byte, when TrackNumber is a number from 1 to 255.
std::optional<std::uint8_t> ID3v1TrackByte(const clsID3& record) {
  const std::optional<double> value = NumberValue(record.TrackNumber());
  if (!value || *value < 1 || *value > 255) return std::nullopt;
  // Halves go to the even neighbour, as the current rounding mode does by default.
  return static_cast<std::uint8_t>(std::nearbyint(*value));
}

}  // namespace

std::string SingleByteText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c <= 0xFF) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    out.push_back('?');
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
  }
  return out;
}

std::string FixedWidthText(std::u16string_view text, std::size_t width) {
  std::string bytes = SingleByteText(text);
  bytes.resize(width, '\0');
  return bytes;
}

std::string EscapeLineBreaks(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
      out += "[CR][LF]";
      ++i;
    } else if (value[i] == '\r') {
      out += "[CR]";
    } else if (value[i] == '\n') {
      out += "[LF]";
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

std::int32_t ID3v1GenreByte(const clsID3& record) {
  std::u16string lower = record.Genre();
  for (auto& c : lower)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  const std::int32_t genre_id = record.GenreID();
  std::int32_t id = genre_id;
  if ((genre_id == 12 && lower != u"other") || (genre_id == 255 && lower != u"unknown"))
    id = clsID3::ToGenreID(record.Genre());
  return id == -1 || id == -2 ? 12 : id;
}

std::optional<std::string> BuildID3v1Record(const clsID3& record) {
  const std::int32_t genre = ID3v1GenreByte(record);
  const bool all_empty = record.Title().empty() && record.Artist().empty() && record.Album().empty() &&
                         record.Year().empty() && record.Comments().empty() && record.TrackNumber().empty();
  if (all_empty && (genre == 12 || genre == 255)) return std::nullopt;
  if (genre < 0 || genre > 255) return std::nullopt;

  std::string bytes = "TAG";
  bytes += FixedWidthText(record.Title(), kID3v1SlotWidth);
  bytes += FixedWidthText(record.Artist(), kID3v1SlotWidth);
  bytes += FixedWidthText(record.Album(), kID3v1SlotWidth);
  bytes += FixedWidthText(record.Year(), 4);
  if (const auto track = ID3v1TrackByte(record)) {
    bytes += FixedWidthText(record.Comments(), 28);
    bytes.push_back('\0');
    bytes.push_back(static_cast<char>(*track));
  } else {
    bytes += FixedWidthText(record.Comments(), kID3v1SlotWidth);
  }
  bytes.push_back(static_cast<char>(genre));
  return bytes;
}

std::optional<std::string> BuildLyrics3v2Block(const clsID3& record, std::string_view old_block) {
  const auto is_long = [](const std::u16string& value) {
    return SingleByteText(value).size() > kID3v1SlotWidth;
  };
  if (!is_long(record.Title()) && !is_long(record.Artist()) && !is_long(record.Album())) return std::nullopt;
  return Lyrics3BlockWriter(record).Build(old_block);
}

std::string BuildTrailer(const clsID3& record, std::string_view old_lyrics3v2_block) {
  return BuildLyrics3v2Block(record, old_lyrics3v2_block).value_or("") + BuildID3v1Record(record).value_or("");
}

}  // namespace pellora::tags::detail

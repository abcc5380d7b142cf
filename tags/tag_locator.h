// SPDX-License-Identifier: MIT
#pragma once
// Where the tags of a file lie: the ID3v2 tag (and its footer) at the front, the
// ID3v1 record and a Lyrics3 block at the end. The scan reads the tags it finds
// here and the rewrite cuts off exactly these, so that what a reader reports is
// what a removal removes.
//
// Offsets are 0-based; an end is the offset just past the last byte.
#include <cstdint>
#include <optional>
#include <string>

#include "tags/file_reader.h"
#include "tags/id3.h"

namespace pellora::tags {

struct clsID3::TagLayout {
  std::int64_t length = 0;
  std::optional<std::string> id3v2_header;  // a valid ID3v2 header at the start
  std::string id3v2_body;  // its declared bytes as far as the file holds them (when asked for)
  // After the ID3v2 tag and its footer; may lie past the end of a damaged file.
  std::int64_t id3v2_end = 0;
  bool id3v1 = false;            // the last 128 bytes begin with "TAG"
  std::int64_t lyrics3_end = 0;  // where a Lyrics3 block would end: before the ID3v1 record
  enum class Lyrics3Marker { None, Version1, Version2 };
  Lyrics3Marker lyrics3_marker = Lyrics3Marker::None;  // the end marker found at lyrics3_end
  // The recognised Lyrics3 block: version 2 from "LYRICSBEGIN" through its last
  // field, version 1 from "LYRICSBEGIN" up to "LYRICSEND". Never inside the ID3v2 tag.
  std::optional<std::int64_t> lyrics3_start;
  std::string lyrics3_block;

  // Where the audio ends once every trailing tag is cut off.
  std::int64_t AudioEnd() const { return lyrics3_start.value_or(lyrics3_end); }
};

class clsID3::TagLocator {
 public:
  explicit TagLocator(const FileReader& file) : file_(file) {}
  // The layout; `read_body` also reads the ID3v2 tag body. Callers that change the
  // file check FileReader::Failed afterwards: a failing device must never pass for
  // a short file.
  TagLayout Locate(bool read_body) &&;

 private:
  void LocateID3v2(bool read_body);
  void LocateID3v1();
  void LocateLyrics3();
  void LocateLyrics3v1();
  void LocateLyrics3v2();

  const FileReader& file_;
  TagLayout layout_;
};

// The six-character size of a Lyrics3 v2 block: decimal digits, which some
// writers pad with blanks (" 00065"). Nothing for anything else.
std::optional<std::int64_t> Lyrics3v2Size(std::string_view six);

}  // namespace pellora::tags

// SPDX-License-Identifier: MIT
#pragma once
// Reading the stream URLs out of a playlist that a station links: PLS, M3U/M3U8,
// XSPF or ASX, told apart by the text itself. Pure and bounded: at most
// kMaxPlaylistBytes of text are looked at, lines longer than kMaxPlaylistLine are
// skipped, and at most kMaxPlaylistEntries entries are kept.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pellora::cli {

inline constexpr std::size_t kMaxPlaylistBytes = 256 * 1024;
inline constexpr std::size_t kMaxPlaylistLine = 4096;
inline constexpr std::size_t kMaxPlaylistEntries = 64;

struct Playlist {
  enum class Kind {
    Entries,      // `entries` holds the streams, in the playlist's order (may be none)
    Hls,          // an HTTP Live Streaming playlist (#EXT-X-TARGETDURATION ...)
    NotAPlaylist  // the text is none of the formats
  };
  Kind kind = Kind::NotAPlaylist;
  std::vector<std::string> entries;  // absolute http:// or https:// URLs
};

// Reads `text`, fetched from `base_url`. Entries are made absolute against it
// ("/live" -> "http://host:port/live", "live" -> beside the playlist); entries of
// other schemes (file:, mms:, rtsp: ...) are dropped. XML character references
// are decoded in XSPF and ASX.
Playlist ParsePlaylist(std::string_view text, std::string_view base_url);

}  // namespace pellora::cli

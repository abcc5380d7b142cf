// SPDX-License-Identifier: MIT
#include "songs/cue_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace pellora::songs {
namespace {

constexpr std::size_t kMaxTracks = 99;

std::string Quoted(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '"', '\'');
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return "\"" + out + "\"";
}

std::string FileType(std::string_view file_name) {
  const auto dot = file_name.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? "" : file_name.substr(dot);
  if (extension == ".mp3") return "MP3";
  if (extension == ".wav") return "WAVE";
  return "BINARY";
}

std::string_view Unquoted(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

// "mm:ss:ff" in seconds; nothing for another text.
std::optional<double> SecondsOfCueTime(std::string_view time) {
  unsigned minutes = 0, seconds = 0, frames = 0;
  char end = 0;
  const std::string text(time.substr(0, 32));
  if (std::sscanf(text.c_str(), "%u:%u:%u%c", &minutes, &seconds, &frames, &end) != 3 || seconds > 59 || frames > 74)
    return std::nullopt;
  return minutes * 60.0 + seconds + frames / 75.0;
}

}  // namespace

std::vector<CueTrack> ParseCueTracks(std::string_view sheet) {
  std::vector<CueTrack> tracks;
  while (!sheet.empty()) {
    const auto end = sheet.find('\n');
    std::string_view line = sheet.substr(0, end);
    sheet.remove_prefix(end == std::string_view::npos ? sheet.size() : end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with("TRACK ")) {
      if (tracks.size() == kMaxTracks) break;
      tracks.emplace_back();
    } else if (tracks.empty()) {
      continue;  // the sheet's own TITLE and FILE
    } else if (line.starts_with("TITLE ")) {
      tracks.back().title = Unquoted(line.substr(6));
    } else if (line.starts_with("PERFORMER ")) {
      tracks.back().performer = Unquoted(line.substr(10));
    } else if (line.starts_with("INDEX 01 ")) {
      tracks.back().seconds = SecondsOfCueTime(line.substr(9)).value_or(tracks.back().seconds);
    }
  }
  return tracks;
}

std::string CueTime(double seconds) {
  const auto frames = static_cast<long long>(std::llround(std::max(seconds, 0.0) * 75));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", frames / (75 * 60), frames / 75 % 60, frames % 75);
  return text;
}

std::string BuildCueSheet(std::string_view file_name, std::string_view station, std::span<const CueTrack> tracks) {
  std::string sheet;
  if (!station.empty()) sheet += "TITLE " + Quoted(station) + "\n";
  sheet += "FILE " + Quoted(file_name) + " " + FileType(file_name) + "\n";
  for (std::size_t i = 0; i < std::min(tracks.size(), kMaxTracks); ++i) {
    char number[24];  // room for any size_t, though a sheet stops at 99 tracks
    std::snprintf(number, sizeof number, "%02zu", i + 1);
    sheet += std::string("  TRACK ") + number + " AUDIO\n";
    sheet += "    TITLE " + Quoted(tracks[i].title) + "\n";
    if (!tracks[i].performer.empty()) sheet += "    PERFORMER " + Quoted(tracks[i].performer) + "\n";
    sheet += "    INDEX 01 " + CueTime(i == 0 ? 0 : tracks[i].seconds) + "\n";
  }
  return sheet;
}

}  // namespace pellora::songs

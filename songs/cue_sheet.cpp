// SPDX-License-Identifier: MIT
#include "songs/cue_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

}  // namespace

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

// SPDX-License-Identifier: MIT
#pragma once
// A cue sheet for one continuous recording: a TRACK per title, with its
// performer, its title and an INDEX 01 where it begins in the file, in
// minutes:seconds:frames of 75 a second. Written in UTF-8, which cue-aware
// players and tools (cuetools, shntool, foobar2000, VLC) read.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pellora::songs {

struct CueTrack {
  std::string performer, title;  // UTF-8
  double seconds = 0;            // where the track begins in the file's audio
};

// "mm:ss:ff" for a position in seconds (minutes may exceed 99), the nearest
// 75th of a second.
std::string CueTime(double seconds);

// The sheet for the audio file `file_name` (its name only, beside the sheet) of
// the station `station`. Tracks must be in order of time; the first begins at
// 0. Cue sheets hold at most 99 tracks: later titles are left out. Double
// quotes in texts become single ones (cue texts have no escape).
std::string BuildCueSheet(std::string_view file_name, std::string_view station, std::span<const CueTrack> tracks);

// The tracks of a sheet as BuildCueSheet writes it: each TRACK's TITLE,
// PERFORMER and INDEX 01; other lines are passed over. At most 99 tracks.
std::vector<CueTrack> ParseCueTracks(std::string_view sheet);

}  // namespace pellora::songs

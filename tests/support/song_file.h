// SPDX-License-Identifier: MIT
#pragma once
// Reading back a song file or cue sheet cut from the demo station, whose frame
// k carries k: which frames it holds, and where the station's title changes
// fall, so that every cut can be checked to the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/silent_frames.h"
#include "songs/frame_assembler.h"
#include "tests/support/files.h"
#include "tests/support/recorded_file.h"

namespace pellora::testing_support {

// Where the stream's frame k begins, in audio bytes (128 kbit/s).
inline std::uint64_t FrameStart(std::uint64_t k) {
  static std::vector<std::uint64_t> starts{0};
  const pellora::cli::SilentFrames frames(128);
  while (starts.size() <= k) starts.push_back(starts.back() + frames.FrameSize(starts.size() - 1));
  return starts[k];
}

// The frame in which audio byte `position` lies.
inline std::uint64_t FrameAt(std::uint64_t position) {
  std::uint64_t k = 0;
  while (FrameStart(k + 1) <= position) ++k;
  return k;
}

// The audio byte at which the metadata block announcing title change `n` falls,
// for a station at 128 kbit/s changing titles every second.
inline std::uint64_t CutPosition(int n, std::uint32_t metaint) {
  constexpr std::uint64_t kBytesPerSecond = 16000;
  const std::uint64_t change = std::uint64_t(n) * kBytesPerSecond;
  return (change + metaint - 1) / metaint * metaint;
}

// What `cuebreakpoints` prints for a recording from the stream's start that
// holds title changes first … last: where each falls, as M:SS.FF (75ths of a
// second), `offset_frames` frames into the file (an appended recording's).
inline std::string CueBreakpoints(int last, std::uint32_t metaint, std::uint64_t offset_frames = 0, int first = 1) {
  std::string lines;
  for (int n = first; n <= last; ++n) {
    const std::uint64_t frame = n == 0 ? 0 : FrameAt(CutPosition(n, metaint));
    const double seconds = double(offset_frames + frame) * 1152 / 44100;
    const long long frames = std::llround(seconds * 75);
    char line[32];
    std::snprintf(line, sizeof line, "%lld:%02lld.%02lld\n", frames / 4500, frames / 75 % 60, frames % 75);
    lines += line;
  }
  return lines;
}

// A song file: the numbers of its audio frames and what its Info frame says.
struct SongFile {
  std::vector<std::uint32_t> frames;
  std::string info_tag;  // "Info" or "Xing"
  std::uint32_t info_frames = 0;
};

inline std::uint32_t BigEndian(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(s.at(at + i));
  return v;
}

// Parses a song file as whole frames between its tags; fails the test on any
// byte that is not part of a whole frame.
inline SongFile ParseSong(const std::filesystem::path& path) {
  std::string bytes = ReadFile(path);
  bytes.erase(0, Id3v2Size(bytes));
  if (bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0) bytes.resize(bytes.size() - 128);
  SongFile song;
  for (std::size_t at = 0; at < bytes.size();) {
    EXPECT_EQ(static_cast<unsigned char>(bytes[at]), 0xFF) << path << " at " << at;
    const pellora::tags::mpeg::HeaderBytes header{static_cast<std::uint8_t>(bytes[at + 1]),
                                                   static_cast<std::uint8_t>(bytes[at + 2]),
                                                   static_cast<std::uint8_t>(bytes[at + 3])};
    const auto length = pellora::songs::MpegFrameLength(header);
    if (!length || at + *length > bytes.size()) {
      ADD_FAILURE() << path << ": no whole frame at " << at;
      break;
    }
    if (at == 0) {
      song.info_tag = bytes.substr(36, 4);
      song.info_frames = BigEndian(bytes, 44);
    } else {
      song.frames.push_back(BigEndian(bytes, at + 36));
    }
    at += *length;
  }
  return song;
}

}  // namespace pellora::testing_support

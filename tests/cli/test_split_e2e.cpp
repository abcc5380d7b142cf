// SPDX-License-Identifier: MIT
// `pellora record --split` and `--cue` end to end: the built binary against the
// demo station, whose frame k carries k, so that every cut can be checked to the
// frame; cue sheets are read back by cuetools.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <numeric>
#include <filesystem>
#include <set>
#include <sstream>

#include "cli/icy_stream.h"
#include "cli/silent_frames.h"
#include "cli/station.h"
#include "songs/frame_assembler.h"
#include "tests/support/files.h"
#include "tests/support/icy_server.h"
#include "tests/support/process.h"
#include "tests/support/song_file.h"
#include "tests/support/station_runner.h"

namespace {

namespace fs = std::filesystem;
using pellora::testing_support::ReadFile;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;
using pellora::testing_support::FrameAt;
using pellora::testing_support::ParseSong;
using pellora::testing_support::SongFile;
using pellora::testing_support::StationRunner;

constexpr std::uint32_t kMetaint = 4096;
constexpr std::uint64_t kMaxBytes = 96000;  // six titles of one second each

std::uint64_t CutPosition(int n) { return pellora::testing_support::CutPosition(n, kMetaint); }

pellora::cli::StationOptions Station() {
  pellora::cli::StationOptions options;
  options.titles = {"Alpha - One", "Beta - Two", "Gamma - Three", "Station Jingle"};
  options.title_seconds = 1;
  options.metaint = kMetaint;
  options.fast = true;
  return options;
}

std::vector<nlohmann::json> SavedEvents(const std::string& output) {
  std::vector<nlohmann::json> saved;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_discarded() && event["event"] == "SongSaved") saved.push_back(event);
  }
  return saved;
}

class SplitCommand : public ::testing::Test {
 protected:
  SplitCommand() {
    dir = fs::path(::testing::TempDir()) /
          ("split_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~SplitCommand() override { fs::remove_all(dir); }

  pellora::testing_support::CommandResult Record(const StationRunner& station, const std::string& options,
                                                 std::uint64_t max_bytes = kMaxBytes) {
    return RunPellora("record " + station.url() + " --split -o '" + dir.string() + "' --max-bytes " +
                      std::to_string(max_bytes) + " --json-events " + options);
  }
  // Every file saved, relative to the folder.
  std::set<std::string> Saved() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), dir).string());
    return names;
  }

  fs::path dir;
};

// Without padding the songs hold every frame once, each song starting with the
// frame in which its title's metadata block fell; with padding each file
// overlaps its neighbours by exactly the whole frames asked for.
TEST_F(SplitCommand, CutsOnFramesWithTagsInfoFramesAndEvents) {
  StationRunner station(Station());
  for (const double pad : {0.0, 0.1}) {
    fs::remove_all(dir);
    const std::string padding = pad > 0 ? "--pad-before 0.1 --pad-after 0.1" : "";
    const auto result = Record(station, padding);
    ASSERT_EQ(result.status, 0) << result.output;
    const auto saved = SavedEvents(result.output);
    ASSERT_EQ(saved.size(), 6u) << result.output;
    std::uint64_t saved_bytes = 0;
    for (const auto& song : saved) saved_bytes += song["bytes"].get<std::uint64_t>();
    EXPECT_NE(result.output.find(": 6 songs saved (2 incomplete) into " + dir.string() + ", "), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(" (" + std::to_string(saved_bytes) + " bytes) in 0:0"), std::string::npos);
    const std::vector<std::string> paths{"incomplete/Alpha - One.mp3", "Beta - Two.mp3", "Gamma - Three.mp3",
                                         "Station Jingle.mp3", "Alpha - One.mp3", "incomplete/Beta - Two.mp3"};
    const std::uint64_t pad_frames = pad > 0 ? 4 : 0;  // ceil(0.1 s / 26.12 ms)
    std::uint32_t expected_first = 0;
    for (std::size_t i = 0; i < saved.size(); ++i) {
      SCOPED_TRACE("song " + std::to_string(i + 1) + ", padding " + std::to_string(pad));
      const fs::path path = saved[i]["path"].get<std::string>();
      EXPECT_EQ(fs::relative(path, dir).string(), paths[i]);
      EXPECT_EQ(saved[i]["complete"], i != 0 && i != 5);
      EXPECT_EQ(saved[i]["bytes"], fs::file_size(path));
      const SongFile song = ParseSong(path);
      ASSERT_FALSE(song.frames.empty());
      EXPECT_EQ(song.info_tag, "Info");
      EXPECT_EQ(song.info_frames, song.frames.size());
      EXPECT_NEAR(saved[i]["seconds"].get<double>(), song.frames.size() * 1152 / 44100.0, 1e-6);
      for (std::size_t f = 1; f < song.frames.size(); ++f) ASSERT_EQ(song.frames[f], song.frames[f - 1] + 1);
      // Song i + 1 begins with the frame holding the byte where its title came.
      const std::uint64_t cut_frame = i == 0 ? 0 : FrameAt(CutPosition(int(i)));
      EXPECT_EQ(song.frames.front(), i == 0 ? 0 : cut_frame - pad_frames);
      if (i > 0) {
        EXPECT_EQ(song.frames.front(), expected_first - 2 * pad_frames);
      }
      if (i < 5) {
        EXPECT_EQ(song.frames.back() + 1, FrameAt(CutPosition(int(i) + 1)) + pad_frames);
      }
      expected_first = song.frames.back() + 1;
    }
  }
  // The tags of a song, as the tag store reads them.
  const auto tags = nlohmann::json::parse(
      RunCommand(std::string(PELLORA_CLI) + " tags --json '" + (dir / "Gamma - Three.mp3").string() + "'").output);
  EXPECT_EQ(tags["Artist"], "Gamma");
  EXPECT_EQ(tags["Title"], "Three");
  EXPECT_EQ(tags["Album"], "Pellora Demo Radio");
  EXPECT_EQ(tags["Genre"], "Ambient");
  EXPECT_EQ(tags["GenreID"], 26);  // the ID3v1 number of "Ambient", as a continuous recording has it
  EXPECT_EQ(tags["Comments"], "Gamma - Three");
  EXPECT_EQ(tags["TrackNumber"], "3");
  EXPECT_EQ(tags["InternetRadioURL"], station.url());
  EXPECT_EQ(tags["ID3RevisionV2"], 3);
  EXPECT_EQ(tags["VbrFrames"], ParseSong(dir / "Gamma - Three.mp3").frames.size());
}

// A station that goes from 44.1 to 48 kHz within a song (another encoder):
// every frame of both kinds is in the songs once, and the song that holds both
// has no Info frame (a frame count would give players a wrong length).
TEST_F(SplitCommand, FollowsAChangeOfSamplingRate) {
  const pellora::cli::SilentFrames frames(128);
  std::string audio;
  for (std::uint64_t k = 0; k < 90; ++k) {
    const auto bytes = frames.Frame(k);
    std::string frame(bytes.begin(), bytes.end());
    if (k >= 40) {  // 48 kHz
      frame[2] = char(frame[2] | 0x04);
      frame.resize(*pellora::songs::MpegFrameLength({0xFB, std::uint8_t(frame[2]), 0}));
    }
    audio += frame;
  }
  constexpr std::size_t kBlockEvery = 2000;
  std::string body;
  for (std::size_t at = 0; at < audio.size(); at += kBlockEvery) {  // B from byte 10000, C from 20000
    const char* title = at < 8000 ? "A - a" : at < 18000 ? "B - b" : "C - c";
    body += audio.substr(at, kBlockEvery) + pellora::cli::IcyMetadataBlock(title, "");
  }
  pellora::testing_support::IcyServer server(
      {{"ICY 200 OK\r\nicy-metaint:2000\r\ncontent-type:audio/mpeg\r\n\r\n", body}, {}, true});
  const auto result = RunPellora("record " + server.Url() + " --split -o '" + dir.string() + "' --json-events");
  ASSERT_EQ(result.status, 0) << result.output;
  const auto saved = SavedEvents(result.output);
  ASSERT_EQ(saved.size(), 3u) << result.output;
  std::vector<std::uint32_t> all;
  for (const auto& event : saved) {
    const SongFile song = ParseSong(event["path"].get<std::string>());
    all.insert(all.end(), song.frames.begin(), song.frames.end());
    EXPECT_EQ(song.info_tag, event["title"] == "b" ? std::string(4, '\0') : "Info") << event;
  }
  EXPECT_EQ(saved[1]["path"], (dir / "B - b.mp3").string());
  EXPECT_EQ(saved[1]["complete"], true);
  std::vector<std::uint32_t> expected(90);
  std::iota(expected.begin(), expected.end(), 0u);
  EXPECT_EQ(all, expected);
}

struct KeepCase {
  const char* options;
  std::set<std::string> files;
};

class SplitKeeps : public SplitCommand, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(SplitKeeps, SavesWhatTheOptionsAskFor) {
  StationRunner station(Station());
  const auto result = Record(station, GetParam().options);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(Saved(), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SplitKeeps,
    ::testing::Values(
        KeepCase{"--complete-only", {"Beta - Two.mp3", "Gamma - Three.mp3", "Station Jingle.mp3", "Alpha - One.mp3"}},
        KeepCase{"--skip '*JINGLE*' --skip 'gamma*'",
                 {"incomplete/Alpha - One.mp3", "Beta - Two.mp3", "Alpha - One.mp3", "incomplete/Beta - Two.mp3"}},
        KeepCase{"--only 'alpha*' --name '{n} {title} ({station})'",
                 {"incomplete/1 One (Pellora Demo Radio).mp3", "5 One (Pellora Demo Radio).mp3"}},
        KeepCase{"--complete-only --only '*a - *'", {"Beta - Two.mp3", "Gamma - Three.mp3", "Alpha - One.mp3"}}));

TEST_F(SplitCommand, SkipExistingRecordsNoSongTwiceAndOtherwiseNamesAreNumbered) {
  StationRunner station(Station());
  ASSERT_EQ(Record(station, "--complete-only").status, 0);
  const auto again = Record(station, "--complete-only --skip-existing");
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_TRUE(SavedEvents(again.output).empty()) << again.output;
  const auto third = Record(station, "--complete-only");
  EXPECT_EQ(SavedEvents(third.output).size(), 4u);
  EXPECT_TRUE(Saved().count("Station Jingle (2).mp3"));
  // Songs cut at the start or at the end are in incomplete/ already the next time
  // (the last one, Alpha, has no complete file).
  fs::remove_all(dir);
  ASSERT_EQ(Record(station, "", 72000).status, 0);
  const auto rerun = Record(station, "--skip-existing", 72000);
  EXPECT_TRUE(SavedEvents(rerun.output).empty()) << rerun.output;
}

// An empty title, or one with neither artist nor title (" - "), names no song
// and no track; the title after it begins at its own block.
TEST_F(SplitCommand, EmptyTitlesMakeNoSongAndNoTrack) {
  auto options = Station();
  options.titles = {"Alpha - One", "", "Gamma - Three", " - "};
  StationRunner station(options);
  ASSERT_EQ(Record(station, "").status, 0);
  EXPECT_EQ(Saved(), (std::set<std::string>{"incomplete/Alpha - One.mp3", "Gamma - Three.mp3", "Alpha - One.mp3"}));
  const std::string audio = (dir / "live.mp3").string();
  ASSERT_EQ(RunPellora("record " + station.url() + " -o '" + audio + "' --cue --max-bytes " +
                       std::to_string(kMaxBytes)).status, 0);
  const std::string cue = (dir / "live.cue").string();
  EXPECT_EQ(RunCommand("cueprint -t '%n|%p|%t\\n' '" + cue + "'").output, "1|Alpha|One\n2|Gamma|Three\n3|Alpha|One\n");
  EXPECT_EQ(RunCommand("cuebreakpoints '" + cue + "'").output,
            pellora::testing_support::CueBreakpoints(2, kMetaint, 0, 2) +
                pellora::testing_support::CueBreakpoints(4, kMetaint, 0, 4));
}

// The cue sheet of a continuous recording has a track per title, and cuetools
// reads each track's start as the frame where its title's block fell.
TEST_F(SplitCommand, CueSheetMarksEveryTitleAtItsFrame) {
  StationRunner station(Station());
  const std::string audio = (dir / "live.mp3").string();
  const auto result = RunPellora("record " + station.url() + " -o '" + audio + "' --cue --max-bytes " +
                                 std::to_string(kMaxBytes));
  ASSERT_EQ(result.status, 0) << result.output;
  const std::string cue = (dir / "live.cue").string();
  std::string expected_tracks = "1|Alpha|One\n";
  const std::vector<std::string> names{"Beta|Two", "Gamma|Three", "|Station Jingle", "Alpha|One", "Beta|Two"};
  for (int n = 1; n <= 5; ++n) expected_tracks += std::to_string(n + 1) + "|" + names[std::size_t(n - 1)] + "\n";
  EXPECT_EQ(RunCommand("cuebreakpoints '" + cue + "'").output, pellora::testing_support::CueBreakpoints(5, kMetaint));
  EXPECT_EQ(RunCommand("cueprint -t '%n|%p|%t\\n' '" + cue + "'").output, expected_tracks);
  EXPECT_NE(ReadFile(cue).find("FILE \"live.mp3\" MP3"), std::string::npos);

  // Appended, the recording goes on in the same sheet: the stream's first title
  // where the first run's whole frames end, then its changes counted from there.
  const auto appended = RunPellora("record " + station.url() + " -o '" + audio + "' --append --cue --max-bytes " +
                                   std::to_string(kMaxBytes));
  ASSERT_EQ(appended.status, 0) << appended.output;
  const std::uint64_t first_run_frames = pellora::testing_support::FrameAt(kMaxBytes);
  EXPECT_EQ(RunCommand("cuebreakpoints '" + cue + "'").output,
            pellora::testing_support::CueBreakpoints(5, kMetaint) +
                pellora::testing_support::CueBreakpoints(5, kMetaint, first_run_frames, 0));
  EXPECT_EQ(RunCommand("cueprint -t '%n|%p|%t\\n' '" + cue + "'").output.substr(expected_tracks.size()),
            "7|Alpha|One\n8|Beta|Two\n9|Gamma|Three\n10||Station Jingle\n11|Alpha|One\n12|Beta|Two\n");
}

}  // namespace

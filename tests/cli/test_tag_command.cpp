// SPDX-License-Identifier: MIT
// `pellora tag` and `pellora strip`: the file really changes as asked, an
// independent reader agrees, and every refusal is exit 1 (2 for usage) with one
// line on stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;

using pellora::testing_support::ReadFile;

class TagCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pellora-tag-cli-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    song_ = (dir_ / "song.mp3").string();
    const auto made = RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=1 -c:a libmp3lame -b:a 64k "
                                 "-id3v2_version 0 -write_id3v1 0 -write_xing 0 '" + song_ + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    audio_ = ReadFile(song_);
    ASSERT_EQ(::mkfifo((song_ + ".fifo").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string song_, audio_;
};

TEST_F(TagCommand, WritesWhatMutagenReadsAndPrintsTheNewTags) {
  const auto result = RunPellora("tag '" + song_ +
                                 "' --title 'Caf\xC3\xA9 \xE6\x97\xA5' --artist Band --track 3/9 --genre-id 17 "
                                 "--genre Rock --set Composer=Bach --json 2>/dev/null");
  ASSERT_EQ(result.status, 0) << result.output;
  const auto printed = nlohmann::json::parse(result.output, nullptr, false);
  ASSERT_FALSE(printed.is_discarded()) << result.output;
  EXPECT_EQ(printed["Title"], "Caf\xC3\xA9 \xE6\x97\xA5");
  EXPECT_EQ(printed["TracksTotal"], "9");
  EXPECT_EQ(printed["GenreID"], 17);

  const auto read = RunCommand("/usr/bin/python3 -c \"import sys; from mutagen.id3 import ID3; t = ID3(sys.argv[1]); "
                               "print(t['TIT2'], t['TPE1'], t['TRCK'], t['TCOM'], t['TCON'].genres[0], sep='|')\" '" +
                               song_ + "'");
  EXPECT_EQ(read.output, "Caf\xC3\xA9 \xE6\x97\xA5|Band|3/9|Bach|Rock\n");
}

TEST_F(TagCommand, StripLeavesTheAudio) {
  ASSERT_EQ(RunPellora("tag '" + song_ + "' --title T --comment C").status, 0);
  EXPECT_NE(ReadFile(song_), audio_);
  const auto result = RunPellora("strip '" + song_ + "'");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(ReadFile(song_) == audio_);
}

TEST_F(TagCommand, NameThatIsNotUtf8IsTheFileWorkedOn) {
  const fs::path latin1 = dir_ / "caf\xE9.mp3";
  fs::rename(song_, latin1);
  const auto tagged = RunPellora("tag '" + latin1.string() + "' --title Named");
  ASSERT_EQ(tagged.status, 0) << tagged.output;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);  // and song.mp3.fifo
  EXPECT_NE(ReadFile(latin1).find(audio_), std::string::npos);
  EXPECT_NE(ReadFile(latin1).find("Named"), std::string::npos);
  const auto listed = RunPellora("tags --json '" + latin1.string() + "'");
  EXPECT_NE(listed.output.find("\"Title\": \"Named\""), std::string::npos) << listed.output;
  ASSERT_EQ(RunPellora("strip '" + latin1.string() + "'").status, 0);
  EXPECT_TRUE(ReadFile(latin1) == audio_);
}

TEST_F(TagCommand, SeveralFilesQuietlyAndAnUnchangedFileIsNotWritten) {
  const std::string other = (dir_ / "other.mp3").string();
  fs::copy_file(song_, other);
  const auto result = RunCommand(std::string(PELLORA_CLI) + " tag --quiet '" + song_ + "' '" + other +
                                 "' --album 'Alb\xC3\xBCm' --track 4/7 2>&1");
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  const auto read = RunCommand("/usr/bin/python3 -c \"import sys; from mutagen.id3 import ID3; "
                               "print(*(str(ID3(f)['TALB']) + str(ID3(f)['TRCK']) for f in sys.argv[1:]))\" '" +
                               song_ + "' '" + other + "'");
  EXPECT_EQ(read.output, "Alb\xC3\xBCm4/7 Alb\xC3\xBCm4/7\n");
  // The same values again: the file is not opened for writing at all.  LeakSanitizer
  // cannot run under ptrace, so a sanitizer build leaves leak checks out of this run.
  const auto again = RunCommand("ASAN_OPTIONS=detect_leaks=0 strace -f -e trace=openat -o '" + (dir_ / "trace").string() + "' " + PELLORA_CLI +
                                " tag -q '" + song_ + "' --album 'Alb\xC3\xBCm' --track 4/7");
  ASSERT_EQ(again.status, 0);
  const std::string trace = ReadFile((dir_ / "trace").string());
  EXPECT_NE(trace.find(song_), std::string::npos);
  for (std::size_t at = trace.find(song_); at != std::string::npos; at = trace.find(song_, at + 1))
    EXPECT_EQ(trace.substr(at, trace.find('\n', at) - at).find("O_RDWR"), std::string::npos);
}

struct Refusal {
  const char* name;
  std::string args;  // after "pellora"; SONG stands for the file
  int status;
  const char* message;
  int lines = 1;  // on stderr; a parse error adds "Run with --help ..."
};

// The song has a second link, so that it is rewritten in place through the
// temporary folder (which MissingTempFolder takes away).
class Refusals : public TagCommand, public ::testing::WithParamInterface<Refusal> {
 protected:
  void SetUp() override {
    TagCommand::SetUp();
    fs::create_hard_link(song_, song_ + ".link");
  }
};

TEST_P(Refusals, ExitWithOneLineAndTheFileUnchanged) {
  std::string args = GetParam().args;
  args.replace(args.find("SONG"), 4, "'" + song_ + "'");
  const auto result = RunCommand("TEMP='" + (dir_ / "missing").string() + "' " + PELLORA_CLI + " " + args +
                                 " 2>&1 >/dev/null");
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), GetParam().lines) << result.output;
  EXPECT_TRUE(ReadFile(song_) == audio_);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    ::testing::Values(Refusal{"MissingTempFolder", "tag SONG --title x", 5,
                              "(TEMP, else TMPDIR, else /tmp): No such file or directory\n"},
                      Refusal{"UnknownProperty", "tag SONG --set Colour=red", 2, "--set needs PROPERTY=VALUE"},
                      Refusal{"SetTrackNotANumber", "tag SONG --set TrackNumber=abc", 2,
                              "--set TrackNumber needs a whole number (or nothing), not 'abc'"},
                      Refusal{"SetDiscsTotalNegative", "tag SONG --set DiscsTotal=-1", 2, "--set DiscsTotal needs"},
                      Refusal{"SetGenreIdBeyondAByte", "tag SONG --set GenreID=300", 2,
                              "--set GenreID needs a number from -2 to 255, not '300'"},
                      Refusal{"TotalWithoutNumber", "tag SONG --set TracksTotal=12", 2,
                              "a TracksTotal is stored with a TrackNumber, which the file has not"},
                      Refusal{"TrackNotANumber", "tag SONG --title x --track abc", 2, "--track", 2},
                      Refusal{"GenreIdBeyondAByte", "tag SONG --title x --genre-id 300", 2, "--genre-id", 2},
                      Refusal{"MissingFile", "tag SONG.absent --title x", 5, "cannot read"},
                      Refusal{"StripMissingFile", "strip SONG.absent", 5, "cannot read"},
                      Refusal{"StripMissingFolderOfAbsentFile", "strip SONG.absent/x", 5, "cannot read"},
                      Refusal{"TagFifo", "tag SONG.fifo --title x", 5, "not a regular file"},
                      Refusal{"StripFifo", "strip SONG.fifo", 5, "not a regular file"},
                      Refusal{"NameWithAnEscapeSequence", "tag SONG\x1b[2J --title x", 5, ".mp3\\x1b[2J: No such"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

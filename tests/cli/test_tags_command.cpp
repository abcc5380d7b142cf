// SPDX-License-Identifier: MIT
// `pellora tags`: every property of a file's tag store, as a table or as JSON.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;

class TagsCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pellora-tags-cli-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const char* name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  // Runs pellora with stdout only, so JSON output parses as it is.
  static pellora::testing_support::CommandResult RunQuiet(const std::string& args) {
    return RunCommand(std::string(PELLORA_CLI) + " " + args + " 2>/dev/null");
  }

  fs::path dir_;
};

// A revision-3 tag with one TIT2 frame in UTF-16 whose first code unit is a lone
// high surrogate, then an MPEG-1 frame with a Xing header that counts no frames.
std::string TaggedVbrFile() {
  const std::string text("\x01\xFF\xFE\x00\xD8\x41\x00", 7);
  const std::string frame = std::string("TIT2\x00\x00\x00", 7) + char(text.size()) + std::string(2, '\0') + text;
  const std::string tag = std::string("ID3\x03\x00\x00\x00\x00\x00", 9) + char(frame.size()) + frame;
  const std::string xing = std::string("\xFF\xFB\x90\x64", 4) + std::string(32, '\0') + "Xing" + std::string(4, '\0');
  return tag + xing + std::string(400, '\0');
}

TEST_F(TagsCommand, JsonHasEveryPropertyInOrder) {
  const auto result = RunQuiet("tags --json " + Write("a.mp3", TaggedVbrFile()));
  ASSERT_EQ(result.status, 0);
  const json out = json::parse(result.output);
  std::vector<std::string> keys;
  const auto ordered = nlohmann::ordered_json::parse(result.output);
  for (const auto& [key, value] : ordered.items()) keys.push_back(key);
  const std::vector<std::string> expected = {
      "Comments", "Album", "BeatsPerMinute", "Composer", "Genre", "Copyright", "EncodedBy", "Lyricist", "Title",
      "InitialKey", "Languages", "OriginalAlbum", "OriginalFileName", "OriginalLyricist", "OriginalArtist",
      "OriginalReleaseYear", "FileOwner", "Artist", "Band", "Conductor", "InterpretedBy", "DiscNumber",
      "DiscsTotal", "Publisher", "TrackNumber", "TracksTotal", "InternetRadioStationName",
      "InternetRadioStationOwner", "ISRC", "Year", "Lyrics", "CopyrightInfo", "AudioURL", "AudioSourceURL",
      "InternetRadioURL", "PaymentURL", "PublisherURL", "GenreID", "FileName", "ID3v1Exists", "ID3v2Exists",
      "Lyrics3v1Exists", "Lyrics3v2Exists", "ID3RevisionV2", "Layer", "MPEGVersion", "ChannelMode", "Padding",
      "Encoding", "SamplingRateFrequency", "FrameSamples", "BitRate", "FrameSize", "length", "FrameHeader",
      "AudioStart", "AudioSize", "IsVbr", "VbrFrames", "VbrBytes", "VbrQuality", "VbriTocEntries",
      "VbriTocEntrySize"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(out["Title"], "\xEF\xBF\xBD" "A");  // the lone surrogate becomes U+FFFD
  EXPECT_EQ(out["ID3v2Exists"], true);
  EXPECT_EQ(out["ID3RevisionV2"], 3);
  EXPECT_EQ(out["FrameHeader"], "FB9064");
  EXPECT_EQ(out["AudioStart"], 10 + 17 + 5);
  EXPECT_EQ(out["IsVbr"], true);
  EXPECT_TRUE(out["FrameSize"].is_null());  // no frame count: no frame size
  EXPECT_EQ(out["length"], 0);
  EXPECT_EQ(out["BitRate"], "Infinity");
}

TEST_F(TagsCommand, NonFiniteNumbersAreSpeltOut) {
  const auto result = RunQuiet("tags --json " + Write("zeros.mp3", std::string(1000, '\0')) + " " +
                               Write("empty.mp3", ""));
  ASSERT_EQ(result.status, 0);
  const json out = json::parse(result.output);
  ASSERT_TRUE(out.is_array());
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0]["length"], "Infinity");  // 1000 bytes at a bit rate of 0
  EXPECT_EQ(out[0]["FrameSize"], 0);
  EXPECT_EQ(out[0]["AudioSize"], 1000);
  EXPECT_EQ(out[1]["length"], "NaN");  // 0 bytes at 0
}

TEST_F(TagsCommand, TableNamesTheCodesAndHidesEmptyRowsUnlessAll) {
  const std::string frame("\xFF\xFB\x90\x64", 4);
  const std::string path = Write("cbr.mp3", frame + std::string(2000, '\0'));
  const auto result = RunPellora("tags " + path);
  ASSERT_EQ(result.status, 0);
  for (const char* row : {"\nLayer                  1 (Layer III)\n", "\nMPEGVersion            2 (MPEG-1)\n",
                          "\nChannelMode            1 (joint stereo)\n", "\nGenreID                255 (Unknown)\n",
                          "\nEncoding               0 (constant bit rate)\n", "\nBitRate                128000\n",
                          "\nFrameSize              417.9591836734694\n", "\nFrameHeader            FB9064\n"})
    EXPECT_NE(("\n" + result.output).find(row), std::string::npos) << row << result.output;
  EXPECT_EQ(result.output.find("Title"), std::string::npos);
  EXPECT_EQ(result.output.find("no MPEG audio"), std::string::npos);
  EXPECT_NE(RunPellora("tags --all " + path).output.find("\nTitle\n"), std::string::npos);
}

TEST_F(TagsCommand, SeveralFilesGetHeadersTextIsEscapedAndNoAudioIsSaid) {
  // A title that would clear the screen, and a text file.
  const std::string frame = std::string("TIT2\x00\x00\x00\x06\x00\x00\x00", 11) + "\x1B[2J\\";
  const std::string tagged = Write("t.mp3", std::string("ID3\x03\x00\x00\x00\x00\x00\x10", 10) + frame);
  const std::string text = Write("notes.txt", "just some words\n");
  const auto result = RunPellora("tags " + tagged + " " + text);
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output.find('\x1B'), std::string::npos);
  EXPECT_NE(result.output.find("==> " + tagged + " <==\nTitle            \\x1b[2J\\\\\n"), std::string::npos) << result.output;
  const auto second = result.output.find("\n\n==> " + text + " <==\n");
  ASSERT_NE(second, std::string::npos) << result.output;
  EXPECT_TRUE(result.output.ends_with("\nno MPEG audio\n")) << result.output;
  EXPECT_EQ(result.output.find("length", second), std::string::npos);

  const auto lines = RunQuiet("tags --json-lines " + tagged + " " + text);
  ASSERT_EQ(lines.status, 0);
  ASSERT_EQ(std::count(lines.output.begin(), lines.output.end(), '\n'), 2) << lines.output;
  const auto cut = lines.output.find('\n');
  EXPECT_EQ(json::parse(lines.output.substr(0, cut))["Title"], "\x1B[2J\\");
  EXPECT_EQ(json::parse(lines.output.substr(cut + 1))["length"], "Infinity");
}

TEST_F(TagsCommand, JsonEscapesWhatActsOnATerminalAndKeepsTheBytesOfTheName) {
  // A C1 CSI, a right-to-left override and DEL, in a file whose name is not UTF-8.
  const std::string path = Write("caf\xE9.mp3", std::string("\xFF\xFB\x90\x64", 4) + std::string(2000, '\0'));
  ASSERT_EQ(RunPellora("tag -q '" + path + "' --title 'a\xC2\x9B" "2Jb\xE2\x80\xAE" "c\x7F" "d'").status, 0);
  const auto lines = RunQuiet("tags --json-lines '" + path + "'");
  ASSERT_EQ(lines.status, 0);
  EXPECT_NE(lines.output.find(R"("Title":"a\u009b2Jb\u202ec\u007fd")"), std::string::npos) << lines.output;
  EXPECT_NE(lines.output.find(R"(/caf\udce9.mp3")"), std::string::npos) << lines.output;
  const auto same_bytes = RunCommand("pellora_json='" + lines.output + "' /usr/bin/python3 -c 'import json, os, sys; "
                                     "print(os.fsencode(json.loads(os.environ[\"pellora_json\"])[\"FileName\"]) == "
                                     "os.fsencode(sys.argv[1]))' '" + path + "'");
  EXPECT_EQ(same_bytes.output, "True\n");
  const auto table = RunPellora("tags '" + path + "'");
  EXPECT_NE(table.output.find("/caf\\xe9.mp3\n"), std::string::npos) << table.output;
  EXPECT_NE(table.output.find("a\\u009b2Jb\\u202ec\\x7fd\n"), std::string::npos) << table.output;
}

TEST_F(TagsCommand, UnreadableFileFailsWithOneLine) {
  const std::string good = Write("ok.mp3", std::string(10, '\0'));
  const auto result = RunPellora("tags " + (dir_ / "missing.mp3").string() + " " + good);
  EXPECT_EQ(result.status, 5);
  EXPECT_NE(result.output.find("pellora tags: cannot read " + (dir_ / "missing.mp3").string() +
                               ": No such file or directory\n"),
            std::string::npos);
  EXPECT_NE(result.output.find("FileName         " + good), std::string::npos) << result.output;
  const auto directory = RunPellora("tags " + dir_.string());
  EXPECT_EQ(directory.status, 5);
  EXPECT_EQ(directory.output, "pellora tags: cannot read " + dir_.string() + ": Is a directory\n");
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto special = RunPellora("tags " + fifo);  // must not wait for a writer
  EXPECT_EQ(special.status, 5);
  EXPECT_EQ(special.output, "pellora tags: cannot read " + fifo + ": not a regular file\n");
  EXPECT_EQ(RunPellora("tags").status, 2);
}

}  // namespace

// SPDX-License-Identifier: MIT
// File names from station names, and the live status line.
#include <gtest/gtest.h>

#include "cli/file_names.h"
#include "cli/playlist.h"
#include "cli/stream_answer.h"
#include "cli/status_line.h"

namespace pellora::cli {
namespace {

struct NameCase {
  const char* name;
  std::string station;
  std::string url;
  std::string file;
};

class SafeFileNameCase : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeFileNameCase, IsSafeOnAnyFileSystem) {
  EXPECT_EQ(SafeFileName(GetParam().station, GetParam().url), GetParam().file);
}

const NameCase kNameCases[] = {

            {"Plain", "Radio Paradise", "http://h:8000/", "Radio Paradise"},
            {"Separators", "Jazz/Blues\\Soul", "", "Jazz_Blues_Soul"},
            {"WindowsForbidden", "a:b*c?d\"e<f>g|h", "", "a_b_c_d_e_f_g_h"},
            {"ControlCharacters", std::string("a\tb\nc\x7F" "d\0e", 9), "", "a_b_c_d_e"},
            {"TrimmedDotsAndBlanks", "  ..hidden.. ", "", "hidden"},
            {"Utf8Kept", "Caf\xC3\xA9 Radio", "", "Caf\xC3\xA9 Radio"},
            {"Latin1BecomesUtf8", "Caf\xE9 Radio", "", "Caf\xC3\xA9 Radio"},
            {"EmptyTakesHostAndPort", "", "http://127.0.0.1:8000/live", "127.0.0.1_8000"},
            {"OnlyForbiddenTakesHostAndPort", "///", "http://radio.example:80", "radio.example_80"},
            {"NothingUsable", "", "", "stream"},
            {"LongCutOnACharacterBoundary", std::string(99, 'a') + "\xC3\xA9\xC3\xA9", "",
                 std::string(99, 'a')}};

INSTANTIATE_TEST_SUITE_P(Stations, SafeFileNameCase, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileNameOfUrl, IsTheLastPathSegmentDecodedAndMadeSafe) {
  EXPECT_EQ(FileNameOfUrl("http://h:8000/music/a%20b.mp3?x=1#top"), "a b.mp3");
  EXPECT_EQ(FileNameOfUrl("https://h/dir/..%2F..%2Fetc%2Fpasswd"), "etc_passwd");
  EXPECT_EQ(FileNameOfUrl("http://h/%1b%5B2J.mp3"), "[2J.mp3");
  EXPECT_EQ(FileNameOfUrl("http://h/100%.mp3"), "100%.mp3");  // not an escape: kept as it is
  EXPECT_EQ(FileNameOfUrl("http://radio.example:8000/"), "radio.example_8000");
  EXPECT_EQ(FileNameOfUrl("file:///"), "download");
}

TEST(ExtensionForContentType, FollowsTheAudioFormat) {
  EXPECT_EQ(ExtensionForContentType("audio/mpeg"), ".mp3");
  EXPECT_EQ(ExtensionForContentType("audio/aacp"), ".aac");
  EXPECT_EQ(ExtensionForContentType("Audio/AAC"), ".aac");
  EXPECT_EQ(ExtensionForContentType("application/ogg"), ".ogg");
  EXPECT_EQ(ExtensionForContentType(""), ".mp3");
}

TEST(FormatStatus, ShowsElapsedBytesRateAndTitle) {
  RecordingStatus one;
  one.elapsed = std::chrono::seconds(12);
  one.bytes = 192000;
  one.title = "Beyonc\xC3\xA9 - Halo";
  EXPECT_EQ(FormatStatus(one, 200), "0:12  187.5 KiB  128 kbit/s  Beyonc\xC3\xA9 - Halo");
  // Cut to the width without splitting "é".
  EXPECT_EQ(FormatStatus(one, 36), "0:12  187.5 KiB  128 kbit/s  Beyonc");

  RecordingStatus many;
  many.elapsed = std::chrono::seconds(3725);
  many.bytes = 1024 * 1024;
  many.streams = 3;
  many.running = 2;
  many.title = "not shown for several streams";
  EXPECT_EQ(FormatStatus(many, 200), "1:02:05  2/3 streams  1.0 MiB  2 kbit/s");
}

struct PlaylistTextCase {
  const char* name;
  std::string text;
  Playlist::Kind kind;
  std::vector<std::string> entries;
};

class PlaylistText : public ::testing::TestWithParam<PlaylistTextCase> {};

TEST_P(PlaylistText, YieldsItsStreams) {
  const Playlist playlist = ParsePlaylist(GetParam().text, "http://h:8000/lists/radio.pls?x=1");
  EXPECT_EQ(playlist.kind, GetParam().kind);
  EXPECT_EQ(playlist.entries, GetParam().entries);
}

const PlaylistTextCase kPlaylistCases[] = {
    {"PlsInNumberOrder", "[Playlist]\r\nFile2=http://b/\r\nfile1=https://a/\r\nTitle1=x\r\n", Playlist::Kind::Entries,
     {"https://a/", "http://b/"}},
    {"M3uRelativeAndOtherSchemes", "#EXTM3U\n#EXTINF:-1,x\nlive\n/root\nmms://old/\nfile:///etc/passwd\n",
     Playlist::Kind::Entries, {"http://h:8000/lists/live", "http://h:8000/root"}},
    {"BareUrlList", "\xEF\xBB\xBFhttp://a/\n\nhttp://b/\n", Playlist::Kind::Entries, {"http://a/", "http://b/"}},
    {"BareRelativeList", "icy?mi=16000\n../up/./x\n//other:9/x\n", Playlist::Kind::Entries,
     {"http://h:8000/lists/icy?mi=16000", "http://h:8000/up/x", "http://other:9/x"}},
    {"Hls", "#EXTM3U\n#EXT-X-TARGETDURATION:6\nseg.ts\n", Playlist::Kind::Hls, {}},
    {"Xspf",
     "<?xml version=\"1.0\"?><playlist xmlns=\"http://xspf.org/ns/0/\"><trackList><track>"
     "<location>http://a/?x=1&amp;y=2</location></track></trackList></playlist>",
     Playlist::Kind::Entries, {"http://a/?x=1&y=2"}},
    {"Asx", "<ASX version=\"3.0\"><Entry><Ref HREF='http://a/live'/></Entry><entry><ref href=\"http://b/\" /></entry></asx>",
     Playlist::Kind::Entries, {"http://a/live", "http://b/"}},
    {"HtmlIsNone", "<!DOCTYPE html><html><body>Listen live!</body></html>", Playlist::Kind::NotAPlaylist, {}},
    {"LongLineSkipped", "http://a/\nhttp://" + std::string(5000, 'x') + "/\n", Playlist::Kind::Entries, {"http://a/"}},
    {"EntriesBounded", [] {
       std::string text;
       for (int i = 0; i < 100; ++i) text += "http://a/" + std::to_string(i) + "\n";
       return text;
     }(), Playlist::Kind::Entries, [] {
       std::vector<std::string> entries;
       for (std::size_t i = 0; i < kMaxPlaylistEntries; ++i) entries.push_back("http://a/" + std::to_string(i));
       return entries;
     }()}};

INSTANTIATE_TEST_SUITE_P(Formats, PlaylistText, ::testing::ValuesIn(kPlaylistCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyAnswer, ByContentTypeThenByExtension) {
  EXPECT_EQ(ClassifyAnswer("audio/mpeg", "http://h/live.m3u"), AnswerKind::Audio);
  EXPECT_EQ(ClassifyAnswer("", "http://h/live"), AnswerKind::Audio);
  EXPECT_EQ(ClassifyAnswer("Audio/X-SCPLS; charset=x", "http://h/live"), AnswerKind::Playlist);
  EXPECT_EQ(ClassifyAnswer("text/plain", "http://h/Radio.PLS?id=3"), AnswerKind::Playlist);
  EXPECT_EQ(ClassifyAnswer("text/html", "http://h/live"), AnswerKind::NotAudio);
  EXPECT_EQ(ClassifyAnswer("application/json", "http://h/x.pls.json"), AnswerKind::NotAudio);
  EXPECT_EQ(HeaderField("HTTP/1.1 200 OK\r\ncontent-TYPE:  audio/aacp \r\nx-content-type: no\r\n\r\n", "Content-Type"),
            "audio/aacp");
}

}  // namespace
}  // namespace pellora::cli

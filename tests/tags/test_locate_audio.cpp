// SPDX-License-Identifier: MIT
// Where the audio of a file lies between its tags.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tags/id3.h"
#include "tests/tags/tag_bytes.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

// A footer exists from revision 4 on.
std::string Id3v2Header(std::uint32_t body, bool footer = false) {
  std::string h = footer ? "ID3\x04" : "ID3\x03";
  h += '\0';
  h += footer ? '\x10' : '\0';
  for (int shift : {21, 14, 7, 0}) h += char((body >> shift) & 0x7F);
  return h;
}

std::string Id3v1() { return "TAG" + std::string(125, 'x'); }

std::string Lyrics3v2(const std::string& fields) {
  const std::string body = "LYRICSBEGIN" + fields;
  char size[7];
  std::snprintf(size, sizeof size, "%06zu", body.size());
  return body + size + "LYRICS200";
}

struct LayoutCase {
  const char* name;
  std::string file;
  std::int64_t begin, end;
};

class LocateAudioCase : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LocateAudioCase, FindsTheBytesBetweenTheTags) {
  const auto& c = GetParam();
  testing::TempFile file(c.file);
  clsID3 id3;
  id3.FileName(text::Latin1ToUtf16(file.Path()));
  const auto bounds = id3.LocateAudio();
  ASSERT_TRUE(bounds.has_value());
  EXPECT_EQ(bounds->begin, c.begin);
  EXPECT_EQ(bounds->end, c.end);
}

const std::string kAudio(1000, '\xAA');

INSTANTIATE_TEST_SUITE_P(
    Files, LocateAudioCase,
    ::testing::Values(
        LayoutCase{"AudioOnly", kAudio, 0, 1000},
        LayoutCase{"Empty", "", 0, 0},
        LayoutCase{"Id3v2AndAudio", Id3v2Header(100) + std::string(100, '\0') + kAudio, 110, 1110},
        LayoutCase{"Id3v2WithFooter", Id3v2Header(100, true) + std::string(110, '\0') + kAudio, 120, 1120},
        LayoutCase{"TagsOnlyAsAFreshTaggedRecording", Id3v2Header(50) + std::string(50, '\0') + Id3v1(), 60, 60},
        LayoutCase{"Id3v1Trailer", Id3v2Header(50) + std::string(50, '\0') + kAudio + Id3v1(), 60, 1060},
        LayoutCase{"Lyrics3v2AndId3v1", Id3v2Header(50) + std::string(50, '\0') + kAudio +
                                            Lyrics3v2("IND00002" "10" "LYR00005" "hello") + Id3v1(),
                   60, 1060},
        LayoutCase{"Lyrics3v1AndId3v1", kAudio + "LYRICSBEGINsome lyricsLYRICSEND" + Id3v1(), 0, 1000},
        LayoutCase{"Lyrics3v2SizeThatLies", kAudio + "LYRICSBEGINxx999999LYRICS200" + Id3v1(), 0,
                   std::int64_t(kAudio.size() + 28)},
        LayoutCase{"Id3v2SizePastTheEnd", Id3v2Header(100000) + kAudio, 1010, 1010},
        LayoutCase{"NotSynchsafeIsNoTag", std::string("ID3\x03\0\0\x80\0\0\0", 10) + kAudio, 0, 1010}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LocateAudio, NothingForAFileThatCannotBeRead) {
  clsID3 id3;
  id3.FileName(u"/nonexistent/pellora/file.mp3");
  EXPECT_FALSE(id3.LocateAudio().has_value());
}

}  // namespace
}  // namespace pellora::tags

// SPDX-License-Identifier: MIT
// ID3v1 records and Lyrics3 blocks at the end of a file, alone and behind an ID3v2 tag.
#include <gtest/gtest.h>

#include "tags/id3.h"
#include "tests/tags/tag_bytes.h"

namespace pellora::tags {
namespace {

using testing::Frame;
using testing::ReadBytes;
using testing::Tag;

std::string Padded(const std::string& text, std::size_t length, char fill = '\0') {
  std::string out = text.substr(0, length);
  out.resize(length, fill);
  return out;
}

struct V1 {
  std::string title, artist, album, year, comment;
  int track = -1;  // -1: version 1.0 (the comment takes 30 bytes)
  std::uint8_t genre = 255;
};

std::string Record(const V1& v1) {
  std::string out = "TAG" + Padded(v1.title, 30) + Padded(v1.artist, 30) + Padded(v1.album, 30) + Padded(v1.year, 4);
  if (v1.track < 0) {
    out += Padded(v1.comment, 30);
  } else {
    out += Padded(v1.comment, 28) + '\0' + char(v1.track);
  }
  return out + char(v1.genre);
}

std::string LyricsField(const std::string& id, const std::string& value) {
  char length[6];
  std::snprintf(length, sizeof length, "%05zu", value.size());
  return id + length + value;
}

std::string Lyrics3v2(const std::string& fields) {
  const std::string block = "LYRICSBEGIN" + fields;
  char size[7];
  std::snprintf(size, sizeof size, "%06zu", block.size());
  return block + size + "LYRICS200";
}

const std::string kAudio(300, '\x55');

TEST(ID3v1, Version10Fields) {
  clsID3 id3;
  ReadBytes(id3, kAudio + Record({"Song", "Artist", "Album", "1999", Padded("Comment", 28) + "xy", -1, 17}));
  EXPECT_TRUE(id3.ID3v1Exists());
  EXPECT_EQ(id3.Title(), u"Song");
  EXPECT_EQ(id3.Artist(), u"Artist");
  EXPECT_EQ(id3.Album(), u"Album");
  EXPECT_EQ(id3.Year(), u"1999");
  EXPECT_EQ(id3.Comments(), u"Comment");  // cut at the first NUL
  EXPECT_EQ(id3.TrackNumber(), u"");
  EXPECT_EQ(id3.GenreID(), 17);
}

TEST(ID3v1, Version11TrackAndShortComment) {
  clsID3 id3;
  ReadBytes(id3, kAudio + Record({"", "", "", "", std::string(28, 'c'), 7, 0}));
  EXPECT_EQ(id3.TrackNumber(), u"7");
  EXPECT_EQ(id3.Comments(), std::u16string(28, u'c'));
  EXPECT_EQ(id3.GenreID(), 0);
}

TEST(ID3v1, TrailingBlanksAndBlankFields) {
  clsID3 id3;
  V1 v1{"", std::string(30, ' '), "", "", "", -1, 255};
  std::string record = Record(v1);
  record.replace(3, 30, Padded("Song", 10) + std::string(20, ' '));  // 'Song', NULs, then blanks
  ReadBytes(id3, kAudio + record);
  EXPECT_EQ(id3.Title(), u"Song");
  EXPECT_EQ(id3.Artist(), u"");
  EXPECT_EQ(id3.GenreID(), 255);
}

TEST(ID3v1, TrackByteZeroIsVersion10WithThirtyByteComment) {
  clsID3 id3;
  ReadBytes(id3, kAudio + Record({"", "", "", "", Padded("abc", 28) + std::string(2, '\0'), -1, 1}));
  EXPECT_EQ(id3.Comments(), u"abc");
  EXPECT_EQ(id3.TrackNumber(), u"");
}

TEST(ID3v1, ShortFilesAndMissingMarker) {
  for (const std::string& file : {std::string("TAG"), std::string(127, 'x'), std::string(128, 'x')}) {
    clsID3 id3;
    ReadBytes(id3, file);
    EXPECT_FALSE(id3.ID3v1Exists());
    EXPECT_EQ(id3.GenreID(), 255);
  }
}

TEST(ID3v1, ID3v2WinsOverID3v1) {
  clsID3 id3;
  const std::string v2 = Tag(3, Frame(3, "TIT2", std::string("\0Two", 4)) + Frame(3, "TRCK", std::string("\0" "3", 2)));
  ReadBytes(id3, v2 + kAudio + Record({"One", "Artist", "", "", "", 9, 20}));
  EXPECT_TRUE(id3.ID3v2Exists());
  EXPECT_TRUE(id3.ID3v1Exists());
  EXPECT_EQ(id3.Title(), u"Two");
  EXPECT_EQ(id3.Artist(), u"Artist");
  EXPECT_EQ(id3.TrackNumber(), u"3");
  EXPECT_EQ(id3.GenreID(), 20);
}

struct GenreCase {
  std::string tcon;
  std::int32_t expected;
};
class GenreByteTest : public ::testing::TestWithParam<GenreCase> {};
TEST_P(GenreByteTest, ReplacesOnlyTheFallBacks) {
  clsID3 id3;
  ReadBytes(id3, Tag(3, Frame(3, "TCON", '\0' + GetParam().tcon)) + kAudio + Record({"", "", "", "", "", -1, 33}));
  EXPECT_EQ(id3.GenreID(), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(ID3v1, GenreByteTest,
                         ::testing::Values(GenreCase{"(12)", 33}, GenreCase{"(17)", 17}, GenreCase{"Rock", 33},
                                           GenreCase{"(RX)", -1}, GenreCase{"(255)", 33}));

TEST(Lyrics3, Version2FieldsBeforeAnID3v1Record) {
  const std::string lyrics = Lyrics3v2(LyricsField("IND", "00") + LyricsField("LYR", "one[CR][LF]two") +
                                       LyricsField("AUT", "Writer") + LyricsField("EAL", "Lyrics Album") +
                                       LyricsField("EAR", "Lyrics Artist") + LyricsField("ETT", "Lyrics Title") +
                                       LyricsField("XYZ", "ignored"));
  clsID3 id3;
  ReadBytes(id3, kAudio + lyrics + Record({"V1 Title", "", "V1 Album", "", "", -1, 1}));
  EXPECT_TRUE(id3.Lyrics3v2Exists());
  EXPECT_TRUE(id3.ID3v1Exists());
  EXPECT_EQ(id3.Lyrics(), u"one\r\ntwo");
  EXPECT_EQ(id3.Lyricist(), u"Writer");
  EXPECT_EQ(id3.Album(), u"Lyrics Album");
  EXPECT_EQ(id3.Artist(), u"Lyrics Artist");
  EXPECT_EQ(id3.Title(), u"Lyrics Title");
}

TEST(Lyrics3, ID3v2WinsOverLyrics3) {
  const std::string lyrics = Lyrics3v2(LyricsField("ETT", "Lyrics Title") + LyricsField("EAR", "Lyrics Artist"));
  clsID3 id3;
  ReadBytes(id3, Tag(4, Frame(4, "TIT2", std::string("\0V2", 3))) + kAudio + lyrics);
  EXPECT_EQ(id3.Title(), u"V2");
  EXPECT_EQ(id3.Artist(), u"Lyrics Artist");
}

struct TimestampCase {
  std::string indicators, lyrics;
  std::u16string expected;
};
class LyricsTimestampTest : public ::testing::TestWithParam<TimestampCase> {};
TEST_P(LyricsTimestampTest, FollowsTheIndicator) {
  clsID3 id3;
  ReadBytes(id3, kAudio + Lyrics3v2(GetParam().indicators + LyricsField("LYR", GetParam().lyrics)));
  EXPECT_EQ(id3.Lyrics(), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Lyrics3, LyricsTimestampTest,
    ::testing::Values(TimestampCase{LyricsField("IND", "11"), "[00:01]La[00:05]Lo", u"LaLo"},
                      TimestampCase{LyricsField("IND", "10"), "[00:01]La[00:05]Lo", u"[00:01]La[00:05]Lo"},
                      TimestampCase{"", "[00:01]La", u"[00:01]La"}));

TEST(Lyrics3, BrokenFieldLengthEndsTheWalk) {
  clsID3 id3;
  ReadBytes(id3, kAudio + Lyrics3v2(LyricsField("ETT", "Kept") + "EAR00x05Lost!" + LyricsField("EAL", "Lost")));
  EXPECT_EQ(id3.Title(), u"Kept");
  EXPECT_EQ(id3.Artist(), u"");
  EXPECT_EQ(id3.Album(), u"");
}

TEST(Lyrics3, BlockWithoutStartMarkerReadsNothing) {
  std::string lyrics = Lyrics3v2(LyricsField("ETT", "Lost"));
  lyrics.replace(0, 11, "LYRICSBEGIX");
  clsID3 id3;
  ReadBytes(id3, kAudio + lyrics);
  EXPECT_TRUE(id3.Lyrics3v2Exists());
  EXPECT_EQ(id3.Title(), u"");
}

TEST(Lyrics3, SizesBeyondTheFileReadNothing) {
  for (const std::string& size : {std::string("999999"), std::string("abcdef"), std::string("000000")}) {
    clsID3 id3;
    ReadBytes(id3, "LYRICSBEGINETT00004Lost" + size + "LYRICS200");
    EXPECT_TRUE(id3.Lyrics3v2Exists()) << size;
    EXPECT_EQ(id3.Title(), u"") << size;
  }
}

TEST(Lyrics3, FieldLengthBeyondTheBlockIsReadAsFarAsItGoes) {
  clsID3 id3;
  ReadBytes(id3, kAudio + Lyrics3v2("ETT99999Short"));
  EXPECT_EQ(id3.Title(), u"Short");
}

TEST(Lyrics3, Version1Block) {
  const std::string lyrics20 = "twenty bytes of text";
  clsID3 id3;
  ReadBytes(id3, kAudio + "LYRICSBEGIN" + lyrics20 + "LYRICSEND" + Record({"T", "", "", "", "", -1, 1}));
  EXPECT_TRUE(id3.Lyrics3v1Exists());
  EXPECT_FALSE(id3.Lyrics3v2Exists());
  EXPECT_EQ(id3.Lyrics(), u"twenty bytes of text");
  EXPECT_EQ(id3.Title(), u"T");
}

TEST(Lyrics3, Version1TakesTextAfterTheLastStartMarker) {
  clsID3 id3;
  ReadBytes(id3, kAudio + "LYRICSBEGINfirstLYRICSBEGINsecondLYRICSEND");
  EXPECT_EQ(id3.Lyrics(), u"second");
}

TEST(Lyrics3, Version1LooksNoFurtherBackThanTheLargestBlock) {
  clsID3 id3;
  ReadBytes(id3, kAudio + "LYRICSBEGIN" + std::string(5101, 'x') + "LYRICSEND");
  EXPECT_TRUE(id3.Lyrics3v1Exists());
  EXPECT_EQ(id3.Lyrics(), u"");
  clsID3 largest;
  ReadBytes(largest, kAudio + "LYRICSBEGIN" + std::string(5100, 'x') + "LYRICSEND");
  EXPECT_EQ(largest.Lyrics(), std::u16string(5100, u'x'));
}

}  // namespace
}  // namespace pellora::tags

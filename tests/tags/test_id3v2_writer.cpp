// SPDX-License-Identifier: MIT
// ID3v2 building, byte for byte.
#include <gtest/gtest.h>

#include "tags/id3.h"
#include "tags/id3v2_format.h"
#include "tags/tag_building.h"

namespace pellora::tags {
namespace {

using namespace std::string_literals;

std::string Size(std::size_t n, int width, bool synchsafe) {
  return detail::NumberToBytes(double(n), width, synchsafe ? -1 : 0);
}

// A frame as the writer lays it out for `revision`.
std::string Frame(int revision, const std::string& id, const std::string& content, std::string flags = "\0\0"s) {
  if (revision < 3) return id + Size(content.size(), 3, false) + content;
  return id + Size(content.size(), 4, revision >= 4) + flags + content;
}

std::string Header(int revision, std::size_t size, char flags = 0) {
  return "ID3"s + char(revision) + '\0' + flags + Size(size, 4, true);
}

// Splits a built tag into its header and frame area, checking the header.
std::string AreaOf(const std::string& tag, int revision) {
  EXPECT_GE(tag.size(), 10u);
  EXPECT_EQ(tag.substr(0, 10), Header(revision, tag.size() - 10));
  return tag.substr(10);
}

const std::string kPadding(2048, '\0');

class WriterTest : public testing::Test {
 protected:
  WriterTest() { id3_.GenreID(255); }
  // Builds over an old tag of `revision` holding `body`; flags go into the header.
  std::string BuildOver(int revision, const std::string& body, char flags = 0) {
    return Build(Header(revision, body.size(), flags), body);
  }
  std::string Build(const std::optional<std::string>& old_header, std::string_view old_body) {
    auto tag = detail::BuildID3v2Tag(id3_, old_header, old_body);
    revision_ = tag.revision;
    return tag.bytes;
  }
  clsID3 id3_;
  int revision_ = 0;  // of the last tag built
};

TEST(NumberToBytes, WidthAndBase) {
  EXPECT_EQ(detail::NumberToBytes(257, 4, 0), "\0\0\x01\x01"s);
  EXPECT_EQ(detail::NumberToBytes(257, 4, -1), "\0\0\x02\x01"s);
  EXPECT_EQ(detail::NumberToBytes(257, 3, 0), "\0\x01\x01"s);
  EXPECT_EQ(detail::NumberToBytes(0, 2, 0), "\0\0"s);
  EXPECT_EQ(detail::NumberToBytes(0x1020304, 2, 0), "\x03\x04"s);  // keeps the low digits
  EXPECT_EQ(detail::NumberToBytes((1 << 28) - 1, 4, -1), "\x7F\x7F\x7F\x7F"s);
}

TEST(BuildTagHeaderFlags, BitsByRevision) {
  EXPECT_EQ(detail::BuildTagHeaderFlags(2, true, true, true, true), 0xC0);
  EXPECT_EQ(detail::BuildTagHeaderFlags(3, false, true, true, true), 0x40);
  EXPECT_EQ(detail::BuildTagHeaderFlags(4, false, false, false, true), 0x10);
  EXPECT_EQ(detail::BuildTagHeaderFlags(3, false, false, false, false), 0x00);
}

TEST_F(WriterTest, NewTagIsRevision3WithFramesInTableOrderAnd2048BytesOfPadding) {
  id3_.Title(u"Song");
  id3_.Comments(u"Hi");
  id3_.AudioURL(u"x/y");
  const std::string area = AreaOf(Build(std::nullopt, ""), 3);
  EXPECT_EQ(area, Frame(3, "COMM", "\0eng\0Hi"s) + Frame(3, "TCON", "\0(255)"s) +
                      Frame(3, "TIT2", "\0Song"s) + Frame(3, "WOAF", "x/y"s) + kPadding);
  EXPECT_EQ(revision_, 3);
}

TEST_F(WriterTest, UrlFramesHoldTheBareAddressAndReadBack) {
  id3_.AudioURL(u"http://a/b");
  id3_.PaymentURL(u"http://p/\U0001F3B5");
  id3_.PublisherURL(u"http://caf\u00E9/\u0159");
  const std::string tag = Build(std::nullopt, "");
  const std::string area = AreaOf(tag, 3);
  EXPECT_NE(area.find(Frame(3, "WOAF", "http://a/b"s)), std::string::npos);
  EXPECT_NE(area.find(Frame(3, "WPAY", "http://p/%F0%9F%8E%B5"s)), std::string::npos);
  // Every character beyond ASCII the same way, as UTF-8.
  EXPECT_NE(area.find(Frame(3, "WPUB", "http://caf%C3%A9/%C5%99"s)), std::string::npos);
}

struct TitleLayout {
  int revision;
  std::string title_frame;
};
class TitleByRevision : public WriterTest, public testing::WithParamInterface<TitleLayout> {};

TEST_P(TitleByRevision, FrameLayoutFollowsTheRevision) {
  const auto& param = GetParam();
  id3_.Title(u"Song");
  const std::string area = AreaOf(BuildOver(param.revision, ""), param.revision);
  EXPECT_NE(area.find(param.title_frame), std::string::npos);
  EXPECT_EQ(revision_, param.revision);
}

INSTANTIATE_TEST_SUITE_P(
    Revisions, TitleByRevision,
    testing::Values(TitleLayout{2, "TT2\0\0\x05\0Song"s}, TitleLayout{3, "TIT2\0\0\0\x05\0\0\0Song"s},
                    TitleLayout{4, "TIT2\0\0\0\x05\0\0\0Song"s},
                    // a revision above 4 is written as it stands, in the revision-4 layout
                    TitleLayout{5, "TIT2\0\0\0\x05\0\0\0Song"s}));

TEST_F(WriterTest, Revision4SizesAreSynchsafe) {
  id3_.Lyrics(std::u16string(200, u'x'));
  const std::string area = AreaOf(BuildOver(4, ""), 4);
  EXPECT_NE(area.find("USLT\0\0\x01\x4D\0\0\0eng\0"s), std::string::npos);  // 205 = 1 x 128 + 77
}

TEST_F(WriterTest, Revision4WritesYearsAsTdrcAndTdorAndKeepsAnOldTyer) {
  id3_.Year(u"2004");
  id3_.OriginalReleaseYear(u"1999");
  const std::string old_tyer = Frame(4, "TYER", "\0" "1990"s);
  const std::string area = AreaOf(BuildOver(4, old_tyer), 4);
  EXPECT_EQ(area, old_tyer + Frame(4, "TCON", "\0(255)"s) + Frame(4, "TDOR", "\0" "1999"s) +
                      Frame(4, "TDRC", "\0" "2004"s) + kPadding);
}

struct NumberTotalCase {
  std::u16string number, total, text;
};
class NumberAndTotal : public testing::TestWithParam<NumberTotalCase> {};
TEST_P(NumberAndTotal, Text) {
  EXPECT_EQ(detail::NumberAndTotalText(GetParam().number, GetParam().total), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(Cases, NumberAndTotal,
                         testing::Values(NumberTotalCase{u"5", u"12", u"5/12"}, NumberTotalCase{u"5", u"", u"5"},
                                         NumberTotalCase{u"", u"12", u""}, NumberTotalCase{u"", u"", u""}));

TEST_F(WriterTest, TotalWithoutNumberRemovesAnOldTrackFrame) {
  id3_.TracksTotal(u"12");
  id3_.DiscNumber(u"1");
  id3_.DiscsTotal(u"2");
  const std::string area = AreaOf(BuildOver(3, Frame(3, "TRCK", "\0" "3/9"s)), 3);
  EXPECT_EQ(area, Frame(3, "TCON", "\0(255)"s) + Frame(3, "TPOS", "\0" "1/2"s) + kPadding);
}

struct GenreCase {
  std::int32_t id;
  std::u16string genre, text;
};
class GenreText : public testing::TestWithParam<GenreCase> {};
TEST_P(GenreText, FromNumberAndText) {
  clsID3 id3;
  id3.GenreID(GetParam().id);
  id3.Genre(GetParam().genre);
  EXPECT_EQ(detail::GenreFrameText(id3), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, GenreText,
    testing::Values(GenreCase{17, u"Rock", u"(17)Rock"}, GenreCase{255, u"", u"(255)"},
                    GenreCase{12, u"Chiptune", u"Chiptune"}, GenreCase{-1, u"", u"(RX)"},
                    GenreCase{-2, u"Cover", u"(CR)Cover"}, GenreCase{17, u" Other ", u"(17)"},
                    GenreCase{300, u"", u"(300)"}, GenreCase{255, u"Unknown", u"Unknown"},
                    GenreCase{0, u"UNKNOWN", u"(0)"}));

TEST_F(WriterTest, WalkRewritesInPlaceKeepsForeignFramesAndRemovesEmptiedOnes) {
  id3_.Title(u"New");
  const std::string apic = Frame(3, "APIC", "\0image/png\0\x03\0PNG"s);
  const std::string priv = Frame(3, "PRIV", "owner\0data"s, "\x40\0"s);
  const std::string old = Frame(3, "TIT2", "\0Old title"s, "\x40\x80"s) + apic + priv +
                          Frame(3, "TALB", "\0Album"s) + std::string(20, '\0');
  const std::string area = AreaOf(BuildOver(3, old), 3);
  // The rewritten frame loses its old flags; the others keep theirs.
  EXPECT_EQ(area, Frame(3, "TIT2", "\0New"s) + apic + priv + Frame(3, "TCON", "\0(255)"s) + std::string(20, '\0'));
}

TEST_F(WriterTest, SecondUndescribedCommentIsRemovedAndDescribedOneKept) {
  id3_.Comments(u"Mine");
  const std::string described = Frame(3, "COMM", "\0engdesc\0text"s);
  const std::string old = Frame(3, "COMM", "\0eng\0first"s) + described + Frame(3, "COMM", "\0eng\0second"s);
  EXPECT_EQ(AreaOf(BuildOver(3, old), 3),
            Frame(3, "COMM", "\0eng\0Mine"s) + described + Frame(3, "TCON", "\0(255)"s) + kPadding);

  id3_.Comments(u"");
  EXPECT_EQ(AreaOf(BuildOver(3, old), 3), described + Frame(3, "TCON", "\0(255)"s) + kPadding);
}

TEST_F(WriterTest, SecondTextFrameOfAnIdentifierIsKept) {
  id3_.Title(u"A");
  const std::string second = Frame(3, "TIT2", "\0second"s);
  EXPECT_EQ(AreaOf(BuildOver(3, Frame(3, "TIT2", "\0first"s) + second), 3),
            Frame(3, "TIT2", "\0A"s) + second + Frame(3, "TCON", "\0(255)"s) + kPadding);
}

TEST_F(WriterTest, OldPaddingLengthIsKeptAndAFullTagGets2048) {
  const std::string frame = Frame(3, "TCON", "\0(255)"s);
  EXPECT_EQ(AreaOf(BuildOver(3, frame + std::string(500, '\0')), 3), frame + std::string(500, '\0'));
  EXPECT_EQ(AreaOf(BuildOver(3, frame), 3), frame + kPadding);
}

TEST_F(WriterTest, Mp3extMarkerAndWhatFollowsBecomeZeros) {
  const std::string frame = Frame(3, "TCON", "\0(255)"s);
  const std::string marker = "\0\0\0MP3ext V3.3.19(unicode)\0\0\0\0"s;
  EXPECT_EQ(AreaOf(BuildOver(3, frame + marker), 3), frame + std::string(marker.size(), '\0'));
}

TEST_F(WriterTest, Revision4FramePassedOverLosesItsUnsynchronisation) {
  const std::string passed = "PRIV"s + Size(6, 4, true) + "\0\x03"s + "\xFF\0\xE0x\xFF\0"s;
  const std::string next = Frame(4, "TCON", "\0(255)"s);
  EXPECT_EQ(AreaOf(BuildOver(4, passed + next), 4),
            "PRIV"s + Size(4, 4, true) + "\0\x01"s + "\xFF\xE0x\xFF"s + next + kPadding);
}

TEST_F(WriterTest, Revision3UnsynchronisedTagIsWrittenWithout) {
  // A foreign frame holding FF E0, unsynchronised to FF 00 E0 in the body.
  const std::string frame = Frame(3, "PRIV", "\xFF\xE0"s);
  const std::string body = "PRIV\0\0\0\x02\0\0\xFF\0\xE0"s + std::string(10, '\0');
  const std::string tag = BuildOver(3, body, '\x80');
  EXPECT_EQ(AreaOf(tag, 3), frame + Frame(3, "TCON", "\0(255)"s) + std::string(10, '\0'));
}

TEST_F(WriterTest, ExtendedHeaderIsDropped) {
  const std::string frame = Frame(3, "TCON", "\0(255)"s);
  const std::string extended = "\0\0\0\x06\0\0\0\0\0\0"s;
  EXPECT_EQ(AreaOf(BuildOver(3, extended + frame, '\x40'), 3), frame + kPadding);
}

TEST_F(WriterTest, CompressedRevision2TagLosesItsFrames) {
  const std::string frame = Frame(2, "TT2", "\0Old"s);
  EXPECT_EQ(AreaOf(BuildOver(2, frame, '\x40'), 2), Frame(2, "TCO", "\0(255)"s) + kPadding);
}

TEST_F(WriterTest, TextBeyondLatin1IsUtf16BeforeRevision4AndUtf8From4) {
  id3_.Title(u"\u03A9");
  id3_.Comments(u"\u20AC");
  EXPECT_EQ(AreaOf(BuildOver(3, ""), 3), Frame(3, "COMM", "\x01" "eng\xFF\xFE\0\0\xFF\xFE\xAC\x20"s) +
                                             Frame(3, "TCON", "\0(255)"s) +
                                             Frame(3, "TIT2", "\x01\xFF\xFE\xA9\x03"s) + kPadding);
  EXPECT_EQ(AreaOf(BuildOver(4, ""), 4), Frame(4, "COMM", "\x03" "eng\0\xE2\x82\xAC"s) +
                                             Frame(4, "TCON", "\0(255)"s) +
                                             Frame(4, "TIT2", "\x03\xCE\xA9"s) + kPadding);
  // Latin-1 text beyond ASCII stays single-byte.
  id3_.Title(u"\u00E9");
  EXPECT_NE(AreaOf(BuildOver(3, ""), 3).find("TIT2\0\0\0\x02\0\0\0\xE9"s), std::string::npos);
}

TEST_F(WriterTest, DamagedLastFrameIsDroppedAndItsBytesBecomePadding) {
  const std::string good = Frame(3, "TIT2", "\0Old"s);
  // PRIV declares 100 bytes but the tag ends after 5.
  const std::string damaged = "PRIV\0\0\0\x64\0\0abcde"s;
  id3_.Title(u"Old");
  EXPECT_EQ(AreaOf(BuildOver(3, good + damaged), 3),
            good + Frame(3, "TCON", "\0(255)"s) + std::string(damaged.size(), '\0'));
}

TEST_F(WriterTest, ManagedFrameRunningPastTheTagIsRewrittenWhole) {
  id3_.Title(u"T");
  const std::string damaged = "TIT2\0\0\0\x64\0\0\0abc"s;
  EXPECT_EQ(AreaOf(BuildOver(3, damaged), 3), Frame(3, "TIT2", "\0T"s) + Frame(3, "TCON", "\0(255)"s) + kPadding);
}

TEST_F(WriterTest, Revision2TagRewritesItsOwnIdentifiers) {
  id3_.Comments(u"c");
  id3_.Artist(u"a");
  const std::string pic = Frame(2, "PIC", "\0PNG\x03\0x"s);
  const std::string area = AreaOf(BuildOver(2, pic + Frame(2, "TP1", "\0old"s) + std::string(6, '\0')), 2);
  EXPECT_EQ(area, pic + Frame(2, "TP1", "\0a"s) + Frame(2, "COM", "\0eng\0c"s) + Frame(2, "TCO", "\0(255)"s) +
                      std::string(6, '\0'));
}

}  // namespace
}  // namespace pellora::tags

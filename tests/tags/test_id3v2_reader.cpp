// SPDX-License-Identifier: MIT
// ID3v2 tags built byte by byte, read through the public entry (FileName).
#include <gtest/gtest.h>

#include <map>

#include "tags/id3.h"
#include "tests/tags/hex.h"
#include "tests/tags/tag_bytes.h"

namespace pellora::tags {
namespace {

using testing::Frame;
using testing::Hex;
using testing::ReadBytes;
using testing::Tag;

struct TagCase {
  const char* name;
  std::string file;
  std::map<TextItem, std::u16string> items;  // items expected; every other item must be empty
  std::int32_t genre_id = 255;
};

class ID3v2ReadTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ID3v2ReadTest, FillsExactlyTheExpectedItems) {
  clsID3 id3;
  ReadBytes(id3, GetParam().file);
  EXPECT_TRUE(id3.ID3v2Exists());
  for (int i = 0; i < kTextItemCount; ++i) {
    const auto item = TextItem(i);
    const auto expected = GetParam().items.find(item);
    EXPECT_EQ(id3.Text(item), expected == GetParam().items.end() ? u"" : expected->second) << clsID3::ItemName(item);
  }
  EXPECT_EQ(id3.GenreID(), GetParam().genre_id);
}

std::string Text3(const std::string& id, const std::string& data) { return Frame(3, id, data); }
std::string Text4(const std::string& id, const std::string& data, std::uint8_t flags = 0) { return Frame(4, id, data, flags); }
const std::string kUtf16Hi = Hex("FF FE 48 00 69 00");

INSTANTIATE_TEST_SUITE_P(
    Reader, ID3v2ReadTest,
    ::testing::Values(
        TagCase{"EncodingByteDroppedAndCutAtNul", Tag(3, Text3("TIT2", std::string("\0Title\0", 7))),
                {{TextItem::Title, u"Title"}}},
        TagCase{"CommentWithEmptyDescription",
                Tag(3, Text3("COMM", "\x01" "eng" + Hex("FF FE 00 00") + kUtf16Hi)), {{TextItem::Comments, u"Hi"}}},
        TagCase{"CommentWithDescriptionIgnored",
                Tag(3, Text3("COMM", "\x01" "eng" + Hex("FF FE 64 00 00 00") + kUtf16Hi)), {}},
        TagCase{"LyricsWithEmptyDescription",
                Tag(3, Text3("USLT", std::string("\0eng\0la la", 10))), {{TextItem::Lyrics, u"la la"}}},
        TagCase{"UnicodeBigEndianCommentKeepsItsLanguageApart",
                Tag(4, Text4("COMM", "\x02" "eng" + Hex("00 00 00 48 00 69"))), {{TextItem::Comments, u"Hi"}}},
        TagCase{"RecordingDateGivesYear", Tag(4, Text4("TDRC", std::string("\x03" "2004-05-06"))),
                {{TextItem::Year, u"2004"}}},
        TagCase{"OriginalDateGivesOriginalYear", Tag(4, Text4("TDOR", std::string("\x00" "1999-01", 8))),
                {{TextItem::OriginalReleaseYear, u"1999"}}},
        TagCase{"YearFrameTakenWhole", Tag(3, Text3("TYER", std::string("\0" "2004", 5))), {{TextItem::Year, u"2004"}}},
        TagCase{"Utf8InRevision4", Tag(4, Text4("TIT2", Hex("03 C3 A9"))), {{TextItem::Title, u"\u00E9"}}},
        TagCase{"Utf8ByteIsTextInRevision3", Tag(3, Text3("TIT2", Hex("03 C3 A9"))),
                {{TextItem::Title, u"\u0003\u00C3\u00A9"}}},
        TagCase{"FourByteUtf8KeepsTheTitle", Tag(4, Text4("TIT2", Hex("03 41 F0 9F 8E B5"))),
                {{TextItem::Title, u"A\U0001F3B5"}}},
        TagCase{"TrackAndTotal", Tag(3, Text3("TRCK", std::string("\0" "5/12", 5))),
                {{TextItem::TrackNumber, u"5"}, {TextItem::TracksTotal, u"12"}}},
        TagCase{"TrackAlone", Tag(3, Text3("TRCK", std::string("\0" "5", 2))), {{TextItem::TrackNumber, u"5"}}},
        TagCase{"TrackNotNumbers", Tag(3, Text3("TRCK", std::string("\0" "A/B", 4))),
                {{TextItem::TrackNumber, u"0"}, {TextItem::TracksTotal, u"0"}}},
        TagCase{"DiscOfThreePartsSetsOnlyTheNumber", Tag(3, Text3("TPOS", std::string("\0" "1/2/3", 6))),
                {{TextItem::DiscNumber, u"1"}}},
        TagCase{"GenreReferenceAndRefinement", Tag(3, Text3("TCON", std::string("\0(17)Rock", 9))),
                {{TextItem::Genre, u"Rock"}}, 17},
        TagCase{"GenreReferenceAlone", Tag(3, Text3("TCON", std::string("\0(17)", 5))), {}, 17},
        TagCase{"GenreTextAlone", Tag(3, Text3("TCON", std::string("\0Rock", 5))), {{TextItem::Genre, u"Rock"}}},
        TagCase{"GenreNumberWithoutParentheses", Tag(3, Text3("TCON", std::string("\0" "17", 3))),
                {{TextItem::Genre, u"17"}}},
        TagCase{"GenreRemix", Tag(3, Text3("TCON", std::string("\0(RX)", 5))), {}, -1},
        TagCase{"GenreCover", Tag(4, Text4("TCON", std::string("\0(CR)Live", 9))), {{TextItem::Genre, u"Live"}}, -2},
        TagCase{"LaterFrameWins",
                Tag(3, Text3("TIT2", std::string("\0One", 4)) + Text3("TIT2", std::string("\0Two", 4))),
                {{TextItem::Title, u"Two"}}},
        TagCase{"PaddingEndsTheWalk",
                Tag(3, Text3("TIT2", std::string("\0A", 2)) + std::string(4, '\0') + Text3("TALB", std::string("\0B", 2))),
                {{TextItem::Title, u"A"}}},
        TagCase{"PaddingEndsTheWalkInRevision2",
                Tag(2, Frame(2, "TT2", std::string("\0A", 2)) + std::string(3, '\0') + Frame(2, "TAL", std::string("\0B", 2))),
                {{TextItem::Title, u"A"}}},
        TagCase{"MarkerEndsTheWalk",
                Tag(3, Text3("TIT2", std::string("\0A", 2)) + "MP3ext V3.3.19(unicode)" + std::string(20, '\0')),
                {{TextItem::Title, u"A"}}},
        TagCase{"MarkerTailEndsTheWalk",
                Tag(3, Text3("TIT2", std::string("\0A", 2)) + ")xyz" + std::string(6, '\0') + Text3("TIT2", std::string("\0B", 2))),
                {{TextItem::Title, u"A"}}},
        TagCase{"UnknownFramesAreWalkedOver",
                Tag(3, Text3("TXXX", std::string("\0k\0v", 4)) + Text3("TALB", std::string("\0B", 2))),
                {{TextItem::Album, u"B"}}},
        TagCase{"Revision2Frames",
                Tag(2, Frame(2, "TT2", std::string("\0T", 2)) + Frame(2, "TP1", std::string("\0P", 2)) +
                           Frame(2, "COM", std::string("\0eng\0C", 6)) + Frame(2, "WAF", "http://a")),
                {{TextItem::Title, u"T"}, {TextItem::Artist, u"P"}, {TextItem::Comments, u"C"}, {TextItem::AudioURL, u"http://a"}}},
        TagCase{"WholeTagUnsynchronisationInRevision3",
                Tag(3, std::string("TIT2") + Hex("00 00 00 04 00 00") + Hex("00 41 FF 00 42"), 0x80),
                {{TextItem::Title, u"A\u00FFB"}}},
        TagCase{"TagFlagDoesNotUnsynchroniseRevision4", Tag(4, Text4("TIT2", Hex("00 41 FF 00 42")), 0x80),
                {{TextItem::Title, u"A\u00FF"}}},
        TagCase{"FrameUnsynchronisationInRevision4", Tag(4, Text4("TIT2", Hex("00 41 FF 00 42"), 0x02)),
                {{TextItem::Title, u"A\u00FFB"}}},
        TagCase{"ExtendedHeaderRevision3",
                Tag(3, Hex("00 00 00 06") + std::string(6, '\x11') + Text3("TIT2", std::string("\0A", 2)), 0x40),
                {{TextItem::Title, u"A"}}},
        TagCase{"ExtendedHeaderRevision4",
                Tag(4, Hex("00 00 00 06 01 00") + Text4("TIT2", std::string("\0A", 2)), 0x40), {{TextItem::Title, u"A"}}},
        TagCase{"CompressedFrameStoresEmptyText",
                Tag(3, Text3("TIT2", std::string("\0A", 2)) + Frame(3, "TIT2", "xyz", 0x80) + Text3("TALB", std::string("\0B", 2))),
                {{TextItem::Album, u"B"}}},
        TagCase{"CompressedFrameRevision4",
                Tag(4, Text4("TIT2", std::string("\0A", 2)) + Frame(4, "TIT2", "xyz", 0x08)), {}},
        TagCase{"FrameRunningPastTheBodyIsReadAsFarAsItGoes",
                Tag(3, std::string("TIT2") + Hex("00 00 01 00 00 00") + std::string("\0Cut", 4)),
                {{TextItem::Title, u"Cut"}}},
        TagCase{"TagRunningPastTheFileIsReadAsFarAsItGoes",
                std::string("ID3\x03\x00\x00", 6) + testing::Synchsafe(4096) + Text3("TIT2", std::string("\0A", 2)) +
                    Text3("TALB", std::string("\0B", 2)),
                {{TextItem::Title, u"A"}, {TextItem::Album, u"B"}}},
        TagCase{"UrlFramesKeepTheirFirstLetter",
                Tag(3, Text3("WOAS", "http://s") + Text3("WPUB", std::string("\0http://p", 9))),
                {{TextItem::AudioSourceURL, u"http://s"}, {TextItem::PublisherURL, u"http://p"}}},
        TagCase{"AllPlainFramesOfRevision4",
                Tag(4, Text4("TOWN", std::string("\0o", 2)) + Text4("TRSN", std::string("\0n", 2)) +
                           Text4("TRSO", std::string("\0w", 2)) + Text4("WORS", "r") + Text4("WPAY", "p")),
                {{TextItem::FileOwner, u"o"}, {TextItem::InternetRadioStationName, u"n"},
                 {TextItem::InternetRadioStationOwner, u"w"}, {TextItem::InternetRadioURL, u"r"},
                 {TextItem::PaymentURL, u"p"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, RevisionAndFlagsOfTheHeader) {
  for (int revision : {2, 3, 4}) {
    clsID3 id3;
    ReadBytes(id3, Tag(revision, std::string(20, '\0')));
    EXPECT_TRUE(id3.ID3v2Exists());
    EXPECT_EQ(id3.ID3RevisionV2(), revision);
  }
}

TEST(Reader, CompressedRevision2TagYieldsNoFields) {
  clsID3 id3;
  ReadBytes(id3, Tag(2, Frame(2, "TT2", std::string("\0A", 2)), 0x40));
  EXPECT_TRUE(id3.ID3v2Exists());
  EXPECT_EQ(id3.ID3RevisionV2(), 2);
  EXPECT_EQ(id3.Title(), u"");
}

TEST(Reader, InvalidHeadersAreNoTag) {
  const std::string valid = Tag(3, Text3("TIT2", std::string("\0A", 2)));
  for (int byte : {3, 4, 6, 7, 8, 9}) {
    std::string broken = valid;
    broken[byte] = byte < 5 ? '\xFF' : '\x80';
    clsID3 id3;
    ReadBytes(id3, broken);
    EXPECT_FALSE(id3.ID3v2Exists()) << byte;
    EXPECT_EQ(id3.ID3RevisionV2(), 3);
    EXPECT_EQ(id3.Title(), u"");
  }
}

TEST(Reader, HugeDeclaredSizesStayInsideTheFile) {
  // Tag size 2^28 - 1, extended header and frame sizes far beyond the file.
  const std::string file = std::string("ID3\x03\x00\x40", 6) + Hex("7F 7F 7F 7F") + Hex("7F FF FF FF") +
                           Text3("TIT2", std::string("\0A", 2));
  clsID3 id3;
  ReadBytes(id3, file);
  EXPECT_TRUE(id3.ID3v2Exists());
  EXPECT_EQ(id3.Title(), u"");
  clsID3 frames;
  ReadBytes(frames, Tag(3, std::string("TIT2") + Hex("FF FF FF FF 00 00") + std::string("\0A", 2)));
  EXPECT_EQ(frames.Title(), u"A");
}

TEST(Reader, ScanClearsWhatTheUserSet) {
  clsID3 id3;
  id3.Title(u"lost");
  id3.Album(u"lost too");
  ReadBytes(id3, Tag(3, Text3("TALB", std::string("\0kept", 5))));
  EXPECT_EQ(id3.Title(), u"");
  EXPECT_EQ(id3.Album(), u"kept");
}

}  // namespace
}  // namespace pellora::tags

// SPDX-License-Identifier: MIT
// ID3v1 and Lyrics3 v2 building, byte for byte.
#include <gtest/gtest.h>

#include "tags/id3.h"
#include "tags/tag_building.h"

namespace pellora::tags {
namespace {

using namespace std::string_literals;

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

class TrailerTest : public testing::Test {
 protected:
  TrailerTest() { id3_.GenreID(255); }
  clsID3 id3_;
};

TEST_F(TrailerTest, RecordOfTitleAndArtist) {
  id3_.Title(u"Song");
  id3_.Artist(u"Band");
  EXPECT_EQ(detail::BuildTrailer(id3_, ""),
            "TAGSong"s + Zeros(26) + "Band" + Zeros(26) + Zeros(30) + Zeros(4) + Zeros(30) + "\xFF");
}

TEST_F(TrailerTest, NoRecordWhenEmptyWithFallbackGenre) {
  EXPECT_FALSE(detail::BuildID3v1Record(id3_));
  id3_.GenreID(12);
  EXPECT_FALSE(detail::BuildID3v1Record(id3_));
  id3_.GenreID(0);
  EXPECT_EQ(detail::BuildID3v1Record(id3_), "TAG"s + Zeros(124) + '\0');
}

struct TrackCase {
  std::u16string track;
  std::string comment_slot;
};
class TrackSlot : public TrailerTest, public testing::WithParamInterface<TrackCase> {};
TEST_P(TrackSlot, CommentSlotForm) {
  id3_.Comments(u"Hi");
  id3_.TrackNumber(GetParam().track);
  const auto record = detail::BuildID3v1Record(id3_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->substr(97, 30), GetParam().comment_slot);
}
INSTANTIATE_TEST_SUITE_P(Cases, TrackSlot,
                         testing::Values(TrackCase{u"7", "Hi"s + Zeros(26) + "\0\x07"s},
                                         TrackCase{u"255", "Hi"s + Zeros(26) + "\0\xFF"s},
                                         TrackCase{u"2.5", "Hi"s + Zeros(26) + "\0\x02"s},
                                         TrackCase{u"3.5", "Hi"s + Zeros(26) + "\0\x04"s},
                                         TrackCase{u"0", "Hi"s + Zeros(28)}, TrackCase{u"256", "Hi"s + Zeros(28)},
                                         TrackCase{u"x", "Hi"s + Zeros(28)}, TrackCase{u"", "Hi"s + Zeros(28)}));

struct GenreByteCase {
  std::int32_t id;
  std::u16string genre;
  std::int32_t byte;
};
class GenreByte : public TrailerTest, public testing::WithParamInterface<GenreByteCase> {};
TEST_P(GenreByte, Rule) {
  id3_.GenreID(GetParam().id);
  id3_.Genre(GetParam().genre);
  EXPECT_EQ(detail::ID3v1GenreByte(id3_), GetParam().byte);
}
INSTANTIATE_TEST_SUITE_P(Cases, GenreByte,
                         testing::Values(GenreByteCase{255, u"Rock", 17}, GenreByteCase{12, u"other", 12},
                                         GenreByteCase{12, u"Jazz", 8}, GenreByteCase{-1, u"", 12},
                                         GenreByteCase{255, u"Remix", 12}, GenreByteCase{17, u"Jazz", 17},
                                         GenreByteCase{255, u"", 255}, GenreByteCase{255, u"UNKNOWN", 255}));

TEST_F(TrailerTest, GenreOutsideAByteLeavesTheRecordOut) {
  id3_.Title(std::u16string(31, u'T'));
  id3_.GenreID(300);
  EXPECT_FALSE(detail::BuildID3v1Record(id3_));
  EXPECT_TRUE(detail::BuildTrailer(id3_, "").starts_with("LYRICSBEGIN"));
  EXPECT_TRUE(detail::BuildTrailer(id3_, "").ends_with("LYRICS200"));
}

TEST_F(TrailerTest, LongTitleGoesIntoLyrics3Block) {
  const std::u16string title(31, u'T');
  id3_.Title(title);
  const std::string block = "LYRICSBEGININD0000200ETT00031"s + std::string(31, 'T');
  EXPECT_EQ(detail::BuildLyrics3v2Block(id3_, ""), block + "000060LYRICS200");
  const std::string trailer = detail::BuildTrailer(id3_, "");
  EXPECT_EQ(trailer.substr(0, block.size() + 15), block + "000060LYRICS200");
  EXPECT_EQ(trailer.substr(block.size() + 15, 33), "TAG" + std::string(30, 'T'));
}

TEST_F(TrailerTest, ValuesAreCutTo250AndLineBreaksEscaped) {
  id3_.Title(std::u16string(300, u'T'));
  EXPECT_NE(detail::BuildLyrics3v2Block(id3_, "")->find("ETT00250"), std::string::npos);
  id3_.Title(u"");
  id3_.Album(std::u16string(30, u'a') + u"\r\nb");
  EXPECT_NE(detail::BuildLyrics3v2Block(id3_, "")->find("EAL00039" + std::string(30, 'a') + "[CR][LF]b"), std::string::npos);
  EXPECT_EQ(detail::EscapeLineBreaks("a\r\r\nb\nc\n\r"), "a[CR][CR][LF]b[LF]c[LF][CR]");
}

TEST_F(TrailerTest, OldBlockKeepsForeignFieldsAndDropsLyricsAndOldIndicator) {
  const std::string old = "LYRICSBEGININD00002" "10" "LYR00005hello" "INF00003abc" "EAL00003old";
  id3_.Album(std::u16string(31, u'A'));
  EXPECT_EQ(detail::BuildLyrics3v2Block(id3_, old),
            "LYRICSBEGININD0000200INF00003abcEAL00031" + std::string(31, 'A') + "000071LYRICS200");

  id3_.Album(u"short");
  id3_.Title(std::u16string(31, u'T'));
  EXPECT_EQ(detail::BuildLyrics3v2Block(id3_, old),
            "LYRICSBEGININD0000200INF00003abcETT00031" + std::string(31, 'T') + "000071LYRICS200");
}

TEST_F(TrailerTest, DamagedOldBlockIsCarriedUpToTheDamage) {
  id3_.Title(std::u16string(31, u'T'));
  const std::string ett = "ETT00031" + std::string(31, 'T');
  // A field whose length is not all digits, then one that runs past the block.
  EXPECT_EQ(detail::BuildLyrics3v2Block(id3_, "LYRICSBEGININF00001xBAD0x01yy"),
            "LYRICSBEGININD0000200INF00001x" + ett + "000069LYRICS200");
  EXPECT_EQ(detail::BuildLyrics3v2Block(id3_, "LYRICSBEGININF00099xyz"), "LYRICSBEGININD0000200" + ett + "000060LYRICS200");
}

TEST_F(TrailerTest, CharactersBeyondLatin1BecomeQuestionMarks) {
  id3_.Title(u"\u00E9\u20AC\U0001F600" u"!");
  EXPECT_EQ(detail::BuildID3v1Record(id3_)->substr(3, 5), "\xE9?" "?!\0"s);
}

}  // namespace
}  // namespace pellora::tags

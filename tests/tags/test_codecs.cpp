// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <array>

#include "tags/codecs.h"
#include "tests/tags/hex.h"

namespace pellora::tags {
namespace {

using testing::Hex;

struct NumberCase {
  std::string bytes;
  bool synchsafe;
  double expected;
};
class BytesToNumberTest : public ::testing::TestWithParam<NumberCase> {};
TEST_P(BytesToNumberTest, ReadsBigEndian) {
  EXPECT_EQ(BytesToNumber(GetParam().bytes, GetParam().synchsafe), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Codecs, BytesToNumberTest,
                         ::testing::Values(NumberCase{Hex("00 00 02 01"), true, 257},
                                           NumberCase{Hex("00 00 02 01"), false, 513},
                                           NumberCase{Hex("00 00 00 80"), true, 128},
                                           NumberCase{Hex("FF FF FF FF"), false, 4294967295.0},
                                           NumberCase{"", true, 0}));

TEST(Codecs, BytesToLongIsTwosComplementOnlyForFourBytes) {
  EXPECT_EQ(BytesToLong(Hex("FF FF FF FE")), -2);
  EXPECT_EQ(BytesToLong(Hex("FF FE")), 65534);
  EXPECT_EQ(BytesToLong(Hex("80 00 00 00")), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(BytesToLong(Hex("01 02 03")), 0x010203);
  EXPECT_FALSE(BytesToLong(Hex("00 00 00 00 01")).has_value());
}

TEST(Codecs, CopyBytesKeepsEntriesWithoutSource) {
  std::array<std::uint8_t, 4> dest{9, 9, 9, 9};
  CopyBytes(Hex("01 02 03"), dest, 1);
  EXPECT_EQ(dest, (std::array<std::uint8_t, 4>{2, 3, 9, 9}));
  CopyBytes(Hex("01"), dest, 5);
  EXPECT_EQ(dest, (std::array<std::uint8_t, 4>{2, 3, 9, 9}));
}

struct BytesCase {
  std::string in, out;
};
class RemoveUnsyncTest : public ::testing::TestWithParam<BytesCase> {};
TEST_P(RemoveUnsyncTest, DropsOneZeroAfterEachFF) { EXPECT_EQ(RemoveUnsync(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(Codecs, RemoveUnsyncTest,
                         ::testing::Values(BytesCase{Hex("FF 00 E0"), Hex("FF E0")}, BytesCase{Hex("FF 00 00"), Hex("FF 00")},
                                           BytesCase{Hex("41 FF"), Hex("41 FF")},
                                           BytesCase{Hex("FF FF 00 00 FF 00"), Hex("FF FF 00 FF")}));

TEST(Codecs, SwapBytePairsLeavesAnOddLastByte) { EXPECT_EQ(SwapBytePairs(Hex("01 02 03")), Hex("02 01 03")); }

struct TextCase {
  std::string in;
  std::u16string out;
};
class DecodeUtf16WithBomTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(DecodeUtf16WithBomTest, Decodes) { EXPECT_EQ(DecodeUtf16WithBom(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Codecs, DecodeUtf16WithBomTest,
    ::testing::Values(TextCase{"eng" + Hex("FF FE 41 00 00 00 FF FE 42 00"), std::u16string(u"engA\0B", 6)},
                      TextCase{Hex("FE FF 00 41"), u"A"}, TextCase{"abc\xE9", u"abc\u00E9"},
                      // A surrogate pair passes through as two code units.
                      TextCase{Hex("FF FE 3D D8 00 DE"), u"\U0001F600"},
                      // Inside UTF-16 text FF FE across two code units is no mark.
                      TextCase{Hex("FF FE 61 FF FE 30"), u"\uFF61\u30FE"},
                      // An odd last byte is half a code unit and is dropped.
                      TextCase{Hex("FF FE 41 00 42"), u"A"}));

class DecodeUtf8Test : public ::testing::TestWithParam<TextCase> {};
TEST_P(DecodeUtf8Test, Decodes) { EXPECT_EQ(DecodeUtf8(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Codecs, DecodeUtf8Test,
    ::testing::Values(TextCase{Hex("E2 82 AC"), u"\u20AC"}, TextCase{Hex("E9 A6 99"), u"\u9999"},
                      TextCase{Hex("C3 A9"), u"\u00E9"}, TextCase{Hex("41 E2 82"), u"A"},
                      // Four-byte sequences become surrogate pairs.
                      TextCase{Hex("F0 9F 8E B5 21"), u"\U0001F3B5!"}, TextCase{Hex("F0 9F 8E"), u""},
                      // A lone continuation byte stands for itself; a negative value wraps.
                      TextCase{Hex("80 41"), u"\u0080A"}, TextCase{Hex("C0 00"), u"\uFF80"},
                      // Values without a UTF-16 form become U+FFFD rather than losing the text.
                      TextCase{Hex("F8 88 80 41"), u"\uFFFDA"}, TextCase{Hex("EF FF FF"), u"\uFFFD"},
                      TextCase{Hex("F0 80 80 80"), u"\uFFFD"}));

TEST(Codecs, DecodeUtf16BeOrUtf8ByEncoding) {
  EXPECT_EQ(DecodeUtf16BeOrUtf8(Hex("00 41 00 42"), 2), u"AB");
  EXPECT_EQ(DecodeUtf16BeOrUtf8(Hex("C3 A9"), 3), u"\u00E9");
  EXPECT_EQ(DecodeUtf16BeOrUtf8(Hex("41"), 1), u"");
}

TEST(Codecs, TextCuts) {
  EXPECT_EQ(CutAtNul(std::u16string_view(u"ab\0c", 4)), u"ab");
  EXPECT_EQ(CutAtNul(std::string_view("ab\0c", 4)), "ab");
  EXPECT_EQ(CutAtNul(std::u16string_view(u"abc")), u"abc");
  EXPECT_EQ(TextBeforeDash(u"2004-05-06"), u"2004");
  EXPECT_EQ(TextBeforeDash(u"2004"), u"2004");
}

TEST(Codecs, DigitAndNumberTests) {
  EXPECT_TRUE(IsAllDigits(std::u16string_view(u"")));
  EXPECT_TRUE(IsAllDigits(std::string_view("0123")));
  EXPECT_FALSE(IsAllDigits(std::string_view("12a")));
  EXPECT_EQ(NumberValue(std::u16string_view(u" -1.5 ")), -1.5);
  EXPECT_EQ(NumberValue(std::u16string_view(u".5")), 0.5);
  EXPECT_FALSE(NumberValue(std::u16string_view(u"1.2.3")));
  EXPECT_FALSE(NumberValue(std::u16string_view(u"-")));
  EXPECT_FALSE(NumberValue(std::u16string_view(u"")));
}

class NumericOrZeroTest : public ::testing::TestWithParam<std::pair<std::u16string, std::u16string>> {};
TEST_P(NumericOrZeroTest, KeepsNumbersAsWritten) { EXPECT_EQ(NumericOrZero(GetParam().first), GetParam().second); }
INSTANTIATE_TEST_SUITE_P(Codecs, NumericOrZeroTest,
                         ::testing::Values(std::pair<std::u16string, std::u16string>{u"3a", u"0"},
                                           std::pair<std::u16string, std::u16string>{u"", u""},
                                           std::pair<std::u16string, std::u16string>{u"007", u"007"},
                                           std::pair<std::u16string, std::u16string>{u"A", u"0"}));

class StripTimestampsTest : public ::testing::TestWithParam<std::pair<std::u16string, std::u16string>> {};
TEST_P(StripTimestampsTest, RemovesOnlyTimeStamps) { EXPECT_EQ(StripLyricsTimestamps(GetParam().first), GetParam().second); }
INSTANTIATE_TEST_SUITE_P(
    Codecs, StripTimestampsTest,
    ::testing::Values(std::pair<std::u16string, std::u16string>{u"[00:12]Hello [00:15]world", u"Hello world"},
                      std::pair<std::u16string, std::u16string>{u"[Chorus] la", u"[Chorus] la"},
                      std::pair<std::u16string, std::u16string>{u"[1:05][1.5:10][-1:10][00:12.50]x", u"[1.5:10][-1:10][00:12.50]x"},
                      std::pair<std::u16string, std::u16string>{u"[[00:01]a", u"[a"},
                      std::pair<std::u16string, std::u16string>{u"[00:01", u"[00:01"}));

TEST(Codecs, UnescapesLyricsLineBreaksInOrder) {
  EXPECT_EQ(UnescapeLyricsLineBreaks(u"a[CR][LF]b[LF]c"), u"a\r\nb\nc");
  EXPECT_EQ(UnescapeLyricsLineBreaks(u"[CR]x[cr]"), u"\rx[cr]");
}

}  // namespace
}  // namespace pellora::tags

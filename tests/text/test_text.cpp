// SPDX-License-Identifier: MIT
#include "text/text.h"

#include <gtest/gtest.h>

#include <random>

using namespace pellora::text;

TEST(Latin1, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = Latin1ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(wide[b], char16_t(b));
  EXPECT_EQ(Utf16ToLatin1(wide), all);
  EXPECT_TRUE(IsLatin1(wide));
  EXPECT_FALSE(IsLatin1(u"\u0100"));
  EXPECT_EQ(Utf16ToLatin1(u"a\u20ACb"), "a?b");
}

struct Utf8Case {
  const char* bytes;
  bool valid;
  bool multi;
};

class Utf8Validity : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, Classifies) {
  EXPECT_EQ(IsValidUtf8(GetParam().bytes), GetParam().valid);
  EXPECT_EQ(IsMultiByteUtf8(GetParam().bytes), GetParam().multi);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8Validity,
                         testing::Values(Utf8Case{"plain ascii", true, false},
                                         Utf8Case{"Beyonc\xC3\xA9", true, true},
                                         Utf8Case{"\xF0\x9F\x8E\xB5", true, true},
                                         Utf8Case{"Beyonc\xE9", false, false},
                                         Utf8Case{"\xC0\xAF", false, false},          // overlong
                                         Utf8Case{"\xED\xA0\x80", false, false},      // surrogate
                                         Utf8Case{"\xF4\x90\x80\x80", false, false},  // > U+10FFFF
                                         Utf8Case{"\xE2\x82", false, false}));        // truncated

TEST(StreamText, Utf8WithMultiByteIsDecoded) {
  EXPECT_EQ(StreamTextToUtf16("Beyonc\xC3\xA9"), u"Beyonc\u00E9");
  EXPECT_EQ(StreamTextToUtf16("\xF0\x9F\x8E\xB5"), u"\U0001F3B5");
}

TEST(StreamText, OtherwiseOneCharacterPerByte) {
  EXPECT_EQ(StreamTextToUtf16("Beyonc\xE9"), u"Beyonc\u00E9");
  EXPECT_EQ(StreamTextToUtf16("abc"), u"abc");
  EXPECT_EQ(StreamTextToUtf8("Beyonc\xE9"), "Beyonc\xC3\xA9");
  EXPECT_EQ(StreamTextToUtf8("Beyonc\xC3\xA9"), "Beyonc\xC3\xA9");
}

struct TitleCase {
  const char* bytes;
  const char* charset;
  const char* utf8;
};
class TitleCharset : public ::testing::TestWithParam<TitleCase> {};
TEST_P(TitleCharset, DecodesByTheTitleRule) {
  EXPECT_EQ(TitleToUtf8(GetParam().bytes, GetParam().charset), GetParam().utf8);
  EXPECT_EQ(TitleToUtf16(GetParam().bytes, GetParam().charset), Utf8ToUtf16(GetParam().utf8));
}
INSTANTIATE_TEST_SUITE_P(
    Titles, TitleCharset,
    ::testing::Values(TitleCase{"Beyonc\xC3\xA9", "", "Beyonc\xC3\xA9"},          // valid UTF-8 wins
                      TitleCase{"Beyonc\xC3\xA9", "CP1251", "Beyonc\xC3\xA9"},    // even over a charset
                      TitleCase{"Beyonc\xE9", "", "Beyonc\xC3\xA9"},               // Latin-1
                      TitleCase{"\x93Hi\x94 \x96 \x80", "", "\xE2\x80\x9CHi\xE2\x80\x9D \xE2\x80\x93 \xE2\x82\xAC"},
                      TitleCase{"\x81\xE9", "", "\xC2\x81\xC3\xA9"},             // 1252's holes stay
                      TitleCase{"\xCF\xF0\xE8", "CP1251", "\xD0\x9F\xD1\x80\xD0\xB8"},
                      TitleCase{"a\xFF", "UTF-8", "a\xEF\xBF\xBD"},               // undecodable byte
                      TitleCase{"\xE9", "no-such-charset", "\xC3\xA9"}));          // unknown: the rule

TEST(TitleCharset, KnowsCharsetNames) {
  EXPECT_TRUE(IsKnownCharset("ISO-8859-2"));
  EXPECT_FALSE(IsKnownCharset("no-such-charset"));
}

TEST(Utf16ToUtf8, PairsJoinAndLoneSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F3B5"), "\xF0\x9F\x8E\xB5");
  const std::u16string lone = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(Latin1ToUtf8("\xFF"), "\xC3\xBF");
}

TEST(Path, AnyBytesRoundTripAndValidUtf8IsDecoded) {
  EXPECT_EQ(PathToUtf16("caf\xC3\xA9/\xF0\x9F\x8E\xB5"), u"caf\u00E9/\U0001F3B5");
  EXPECT_EQ(PathToUtf16("caf\xE9"), u"caf\xDCE9");
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 12, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 4 == 0 ? 0xC0 + random() % 0x40 : random());
    ASSERT_EQ(Utf16ToPath(PathToUtf16(bytes)), bytes) << round;
  }
}

struct EscapeCase {
  const char* in;
  const char* out;
};

class TerminalEscape : public testing::TestWithParam<EscapeCase> {};

TEST_P(TerminalEscape, LeavesNothingATerminalActsOn) { EXPECT_EQ(EscapeForTerminal(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Cases, TerminalEscape,
                         testing::Values(EscapeCase{"Beyonc\xC3\xA9 - \xF0\x9F\x8E\xB5", "Beyonc\xC3\xA9 - \xF0\x9F\x8E\xB5"},
                                         EscapeCase{"\x1B[2Jclear", "\\x1b[2Jclear"},
                                         EscapeCase{"\x1B]0;title\x07", "\\x1b]0;title\\x07"},
                                         EscapeCase{"a\r\nb\tc\x7F", "a\\x0d\\x0ab\\x09c\\x7f"},
                                         EscapeCase{"\xC2\x9B" "6n", "\\u009b6n"},           // C1 CSI
                                         EscapeCase{"x\xE2\x80\xAEy", "x\\u202ey"},          // right-to-left override
                                         EscapeCase{"bad \xE9 byte", "bad \\xe9 byte"},      // not UTF-8
                                         EscapeCase{"C:\\path", "C:\\\\path"}));

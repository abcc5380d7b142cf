// File names from station names, and the live status line.
#include <gtest/gtest.h>

#include "cli/file_names.h"
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

}  // namespace
}  // namespace pellora::cli

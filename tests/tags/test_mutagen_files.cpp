// SPDX-License-Identifier: MIT
// Files tagged by mutagen, an independent ID3 writer: ID3v2.3 and ID3v2.4 with
// single-byte, UTF-16 (with and without byte order mark) and UTF-8 text.
#include <gtest/gtest.h>

#include <map>

#include "tags/id3.h"
#include "tests/support/process.h"
#include "tests/tags/tag_bytes.h"

namespace pellora::tags {
namespace {

const std::u16string kTitle = u"Caf\u00e9 \U0001F3B5 \u4e2d";

struct MutagenCase {
  const char* file;
  std::uint8_t revision;
  std::map<TextItem, std::u16string> items;  // beyond the items every file carries
  std::int32_t genre_id = 255;
};

class MutagenFileTest : public ::testing::TestWithParam<MutagenCase> {
 protected:
  static void SetUpTestSuite() {
    files_ = new testing::TempFile();
    const auto result = testing_support::RunCommand("/usr/bin/python3 " PELLORA_SOURCE_DIR
                                                    "/tests/tags/fixtures/write_mutagen_tags.py '" +
                                                    files_->Dir() + "' 2>&1");
    ASSERT_EQ(result.status, 0) << result.output;
  }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }
  static testing::TempFile* files_;
};
testing::TempFile* MutagenFileTest::files_ = nullptr;

TEST_P(MutagenFileTest, ReadsWhatMutagenWrote) {
  const std::string path = files_->Dir() + "/" + GetParam().file;
  clsID3 id3;
  id3.FileName(std::u16string(path.begin(), path.end()));
  ASSERT_TRUE(id3.ID3v2Exists());
  EXPECT_EQ(id3.ID3RevisionV2(), GetParam().revision);
  std::map<TextItem, std::u16string> expected = {
      {TextItem::Album, u"Album"},         {TextItem::TrackNumber, u"3"},
      {TextItem::TracksTotal, u"12"},      {TextItem::DiscNumber, u"1"},
      {TextItem::DiscsTotal, u"2"},        {TextItem::Comments, u"Plain comment"},
      {TextItem::Lyrics, u"Line one\nLine two"}, {TextItem::AudioSourceURL, u"http://example.invalid/source"},
      {TextItem::Title, kTitle}};
  for (const auto& [item, text] : GetParam().items) expected[item] = text;
  for (int i = 0; i < kTextItemCount; ++i) {
    const auto item = TextItem(i);
    const auto it = expected.find(item);
    EXPECT_EQ(id3.Text(item), it == expected.end() ? u"" : it->second) << clsID3::ItemName(item);
  }
  EXPECT_EQ(id3.GenreID(), GetParam().genre_id);
}

INSTANTIATE_TEST_SUITE_P(
    Mutagen, MutagenFileTest,
    ::testing::Values(
        MutagenCase{"v23_latin1.mp3", 3,
                    {{TextItem::Title, u"Caf\u00e9"}, {TextItem::Artist, u"Artist"}, {TextItem::Year, u"1999"},
                     {TextItem::OriginalReleaseYear, u"1970"}, {TextItem::Genre, u"Rock"}},
                    17},
        MutagenCase{"v23_utf16.mp3", 3, {{TextItem::Artist, u"\u00c5rtist"}, {TextItem::Year, u"2001"}}, -1},
        MutagenCase{"v24_utf8.mp3", 4,
                    {{TextItem::Artist, u"First \u00e9"}, {TextItem::Band, u"Band"}, {TextItem::Year, u"2004"},
                     {TextItem::OriginalReleaseYear, u"1980"}, {TextItem::Genre, u"Jazz"}}},
        MutagenCase{"v24_utf16.mp3", 4, {{TextItem::Artist, u"First"}, {TextItem::Year, u"2010"}}},
        MutagenCase{"v24_utf16be.mp3", 4, {{TextItem::Artist, u"Big \u00e9ndian"}, {TextItem::Year, u"2020"}}}),
    [](const auto& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.'));
    });

}  // namespace
}  // namespace pellora::tags

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "tags/genres.h"
#include "tags/id3.h"

namespace pellora::tags {
namespace {

TEST(Genres, NamesOfTheTable) {
  EXPECT_EQ(clsID3::GenreName(-2), u"Cover");
  EXPECT_EQ(clsID3::GenreName(-1), u"Remix");
  EXPECT_EQ(clsID3::GenreName(0), u"Blues");
  EXPECT_EQ(clsID3::GenreName(78), u"Rock & Roll");
  EXPECT_EQ(clsID3::GenreName(147), u"Synthpop");
  EXPECT_EQ(clsID3::GenreName(255), u"Unknown");
  for (int id : {148, 254, -3, 256}) EXPECT_EQ(clsID3::GenreName(id), u"") << id;
}

struct GenreCase {
  std::u16string text;
  std::int32_t id;
};
class ToGenreIdTest : public ::testing::TestWithParam<GenreCase> {};
TEST_P(ToGenreIdTest, ComparesTolerantly) { EXPECT_EQ(clsID3::ToGenreID(GetParam().text), GetParam().id); }
INSTANTIATE_TEST_SUITE_P(
    Genres, ToGenreIdTest,
    ::testing::Values(GenreCase{u"", 255}, GenreCase{u"   ", 255}, GenreCase{u"hip hop", 7}, GenreCase{u"HIP-HOP", 7},
                      GenreCase{u"Hip-Hop", 7}, GenreCase{u"Rock and Roll", 78}, GenreCase{u"rock & roll", 78},
                      GenreCase{u"Rock And Roll", 12}, GenreCase{u"Jazz Funk", 29}, GenreCase{u"jazz & funk", 29},
                      GenreCase{u"Jazz+Funk", 29}, GenreCase{u"Folk/Rock", 81}, GenreCase{u"Synth-Pop", 147},
                      GenreCase{u"cover", -2}, GenreCase{u"Remix", -1}, GenreCase{u"Unknown", 255},
                      GenreCase{u"Other", 12}, GenreCase{u"Polka Punk", 12}, GenreCase{u"\t\t", 12},
                      GenreCase{u"Drum and Bass", 127}, GenreCase{u"Top 40", 60}));

TEST(Genres, NormalizeRemovesInOrder) {
  EXPECT_EQ(NormalizeGenre(u"Drum and Bass"), u"drumbass");
  EXPECT_EQ(NormalizeGenre(u"Rock And Roll"), u"rockandroll");
  EXPECT_EQ(NormalizeGenre(u"\u00C9a\tB"), u"\u00C9a\tb");
}

}  // namespace
}  // namespace pellora::tags

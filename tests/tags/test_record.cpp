// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "tags/id3.h"

namespace pellora::tags {
namespace {

TEST(Record, NewObjectIsEmptyWithRevision3) {
  clsID3 id3;
  for (int i = 0; i < kTextItemCount; ++i) EXPECT_TRUE(id3.Text(TextItem(i)).empty());
  EXPECT_EQ(id3.GenreID(), 0);
  EXPECT_FALSE(id3.ID3v1Exists() || id3.ID3v2Exists() || id3.Lyrics3v1Exists() || id3.Lyrics3v2Exists());
  EXPECT_EQ(id3.ID3RevisionV2(), 3);
}

TEST(Record, GenreAndGenreIdAreIndependent) {
  clsID3 id3;
  id3.GenreID(17);
  id3.Genre(u"Rock");
  EXPECT_EQ(id3.GenreID(), 17);
  id3.GenreID(3);
  EXPECT_EQ(id3.Genre(), u"Rock");
}

TEST(Record, ItemsByNameFollowTheDeclaredOrder) {
  EXPECT_EQ(clsID3::ItemName(TextItem::Comments), "Comments");
  EXPECT_EQ(clsID3::ItemName(TextItem::PublisherURL), "PublisherURL");
  EXPECT_EQ(clsID3::FindItem("ISRC"), TextItem::ISRC);
  EXPECT_FALSE(clsID3::FindItem("FileName").has_value());
  EXPECT_EQ(kTextItemCount, 37);
}

TEST(Record, IdentifierTablesLineUp) {
  EXPECT_EQ(clsID3::FrameIdsV23()[0], "APIC");
  EXPECT_EQ(clsID3::FrameIdsV23()[1], "COMM");
  EXPECT_EQ(clsID3::FrameIdsV22()[0], "COM");
  EXPECT_EQ(clsID3::FrameIdsV22()[1], "PIC");
  EXPECT_EQ(clsID3::FrameIdsV23()[37], "WPUB");
  EXPECT_EQ(clsID3::FrameIdsV22()[32], "WPB");
  EXPECT_EQ(clsID3::Lyrics3FieldIds()[4], "ETT");
}

TEST(Record, ScanOfAMissingFileClearsEverything) {
  clsID3 id3;
  id3.Title(u"lost");
  id3.FileName(u"/nonexistent/pellora/file.mp3");
  EXPECT_TRUE(id3.Title().empty());
  EXPECT_EQ(id3.GenreID(), 255);
  EXPECT_EQ(id3.ID3RevisionV2(), 3);
  EXPECT_EQ(id3.FileName(), u"/nonexistent/pellora/file.mp3");
}

}  // namespace
}  // namespace pellora::tags

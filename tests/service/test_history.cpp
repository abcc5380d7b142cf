// SPDX-License-Identifier: MIT
// The history database: what is saved survives reopening, and a window's recording
// is found again.
#include <gtest/gtest.h>

#include "service/history.h"
#include "tests/support/test_folder.h"

namespace {

using pellora::service::History;
using pellora::testing_support::TestFolder;

TEST(ServiceHistory, KeepsRecordingsAcrossReopeningNewestFirst) {
  TestFolder folder("history-");
  std::string error;
  {
    auto history = History::Open(folder / "state", error);
    ASSERT_TRUE(history) << error;
    const auto first = history->Begin("A", "/r/a1.mp3", "", 1000, 1001);
    history->Begin("B", "/r/b1.mp3", "B song", 2000, 2001);
    history->Update(first, 12345, "A song", 1500);
  }
  auto history = History::Open(folder / "state", error);
  ASSERT_TRUE(history) << error;
  EXPECT_EQ(history->Count(""), 2);
  EXPECT_EQ(history->Count("A"), 1);
  const auto recent = history->Recent("", 10, 0);
  ASSERT_EQ(recent.size(), 2u);
  EXPECT_EQ(recent[0].station, "B");
  EXPECT_EQ(recent[1].path, "/r/a1.mp3");
  EXPECT_EQ(recent[1].title, "A song");
  EXPECT_EQ(recent[1].bytes, 12345u);
  EXPECT_EQ(recent[1].ended, 1500);
  EXPECT_EQ(history->Recent("", 1, 1).at(0).station, "A");
  const auto window = history->ForWindow("A", 1000);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->path, "/r/a1.mp3");
  EXPECT_FALSE(history->ForWindow("A", 2000));
  EXPECT_TRUE(history->Knows("/r/b1.mp3"));
  EXPECT_FALSE(history->Knows("/r/c.mp3"));
}

TEST(ServiceHistory, ReportsAFolderThatCannotBeMade) {
  TestFolder folder("history-");
  std::string error;
  EXPECT_FALSE(History::Open("/proc/pellora-history", error));
  EXPECT_NE(error.find("/proc/pellora-history"), std::string::npos);
}

}  // namespace

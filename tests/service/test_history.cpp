// SPDX-License-Identifier: MIT
// The history database: what is saved survives reopening, and a window's recording
// is found again.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

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

  // A recording that cannot be entered (another process holds the database) has
  // no id, rather than the recording entered before it, and is not counted.
  EXPECT_GT(history->Begin("C", "/r/c.mp3", "", 3000, 3001), 0);
  EXPECT_EQ(history->Count(""), 3);
  // Writes are grouped: another connection sees them once they are committed.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((folder / "state/history.sqlite").c_str(), &other), SQLITE_OK);
  const auto rows_seen_by_other = [other] {
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(other, "SELECT COUNT(*) FROM saved", -1, &count, nullptr);
    const int rows = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int(count, 0) : -1;
    sqlite3_finalize(count);
    return rows;
  };
  EXPECT_EQ(rows_seen_by_other(), 2);
  ASSERT_TRUE(history->Commit());
  EXPECT_EQ(rows_seen_by_other(), 3);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(history->Begin("D", "/r/d.mp3", "", 4000, 4001), 0);
  EXPECT_EQ(history->Count(""), 3);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
}

// A database written before songs were kept (no song columns) keeps its
// recordings and takes songs; a song counts for skip-existing only when it was
// saved complete by the same station.
TEST(ServiceHistory, KeepsSongsAlsoInADatabaseOfRecordingsOnly) {
  TestFolder folder("history-");
  std::filesystem::create_directories(folder / "state");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder / "state/history.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE saved (id INTEGER PRIMARY KEY, station TEXT NOT NULL, path TEXT NOT NULL,"
                         " title TEXT NOT NULL DEFAULT '', window_start INTEGER NOT NULL, started INTEGER NOT NULL,"
                         " ended INTEGER NOT NULL DEFAULT 0, bytes INTEGER NOT NULL DEFAULT 0);"
                         "INSERT INTO saved (station, path, window_start, started) VALUES ('A', '/r/a.mp3', 10, 11);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::string error;
  {
    auto history = History::Open(folder / "state", error);
    ASSERT_TRUE(history) << error;
    pellora::service::SavedEntry song;
    song.station = "A";
    song.path = "/r/Beta - Two.mp3";
    song.artist = "Beta";
    song.title = "Two";
    song.window_start = 10;
    song.bytes = 777;
    song.seconds = 1.5;
    song.complete = true;
    history->AddSong(song);
    song.path = "/r/incomplete/Gamma - Three.mp3";
    song.artist = "Gamma";
    song.title = "Three";
    song.complete = false;
    history->AddSong(song);
  }
  auto history = History::Open(folder / "state", error);
  ASSERT_TRUE(history) << error;
  EXPECT_TRUE(history->HasSong("A", "Beta", "Two"));
  EXPECT_FALSE(history->HasSong("B", "Beta", "Two"));
  EXPECT_FALSE(history->HasSong("A", "", "Beta - Two"));
  EXPECT_FALSE(history->HasSong("A", "Gamma", "Three"));  // saved incomplete
  const auto recent = history->Recent("A", 10, 0);
  ASSERT_EQ(recent.size(), 3u);
  EXPECT_EQ(recent[1].kind, pellora::service::SavedKind::kSong);
  EXPECT_EQ(recent[1].bytes, 777u);
  EXPECT_EQ(recent[1].seconds, 1.5);
  EXPECT_TRUE(recent[1].complete);
  EXPECT_EQ(recent[2].kind, pellora::service::SavedKind::kRecording);
  EXPECT_EQ(recent[2].path, "/r/a.mp3");
  // A window's recording is never one of its songs.
  EXPECT_EQ(history->ForWindow("A", 10)->path, "/r/a.mp3");
}

TEST(ServiceHistory, ReportsAFolderThatCannotBeMade) {
  TestFolder folder("history-");
  std::string error;
  EXPECT_FALSE(History::Open("/proc/pellora-history", error));
  EXPECT_NE(error.find("/proc/pellora-history"), std::string::npos);
}

}  // namespace

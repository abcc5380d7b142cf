// SPDX-License-Identifier: MIT
#pragma once
// The history: every recording and every song the service saved, in an SQLite
// database in the state folder (`history.sqlite`). It outlives the process, so
// that a restart in the middle of a window goes on with that window's recording
// instead of starting a second one, a split station with skip_existing does not
// save a song twice, and the dashboard can list what was saved. Only the loop
// thread uses it.
//
// Writes are grouped: the first write opens a transaction and `Commit` (the
// service's tick, four times a second, and closing) ends it. A split station
// saves a song every few seconds, and hundreds of stations would otherwise
// commit (and write the log's pages) once per song. Reads on this connection
// see the writes at once; another process sees them at the commit, and a kill
// loses at most the entries of the last tick (the files they name are on disk).
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace pellora::service {

enum class SavedKind { kRecording, kSong };

struct SavedEntry {
  std::int64_t id = 0;
  std::string station;
  std::string path;
  std::string title;            // a recording: the title playing when it began; a song: its title
  std::time_t window_start = 0;  // the window it belongs to
  std::time_t started = 0;
  std::time_t ended = 0;  // 0 while it goes on
  std::uint64_t bytes = 0;
  SavedKind kind = SavedKind::kRecording;
  // Songs only.
  std::string artist;
  double seconds = 0;
  bool complete = false;
};

class History {
 public:
  // Opens (creating when needed) `folder`/history.sqlite; nullptr and `error` when
  // it cannot.
  static std::unique_ptr<History> Open(const std::string& folder, std::string& error);
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  // A new recording; returns its id (0 when it could not be written).
  std::int64_t Begin(const std::string& station, const std::string& path, const std::string& title,
                     std::time_t window_start, std::time_t started);
  // Its size and end; `title` fills in a title that was not known when it began.
  void Update(std::int64_t id, std::uint64_t bytes, const std::string& title, std::time_t ended);
  // A song saved whole (ended and bytes given); returns its id (0 when it could
  // not be written).
  std::int64_t AddSong(const SavedEntry& song);
  // Whether the station saved this song complete before.
  bool HasSong(const std::string& station, const std::string& artist, const std::string& title);
  // The recording already saved for a station's window, if any.
  std::optional<SavedEntry> ForWindow(const std::string& station, std::time_t window_start);
  // The newest first; `station` empty: every station.
  std::vector<SavedEntry> Recent(const std::string& station, int limit, int offset);
  // Entries of `station`; empty: of every station (kept as a count, since
  // /metrics asks every scrape and a split station adds a row a song).
  std::int64_t Count(const std::string& station);
  // Whether `path` is a recording the history knows.
  bool Knows(const std::string& path);
  // Ends the writes' transaction, if one is open; false when it could not be
  // committed (it is tried again at the next call).
  bool Commit();

 private:
  explicit History(sqlite3* db);
  // Opens the writes' transaction unless one is open.
  void BeginWrites();
  std::int64_t CountAll();
  sqlite3_stmt* Kept(const char* sql);
  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
  std::int64_t total_ = 0;
};

}  // namespace pellora::service

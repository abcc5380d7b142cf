// SPDX-License-Identifier: MIT
#include "service/history.h"

#include <sqlite3.h>

#include <filesystem>

namespace pellora::service {
namespace {

constexpr const char* kSchema = R"sql(
PRAGMA journal_mode = WAL;
PRAGMA synchronous = NORMAL;
CREATE TABLE IF NOT EXISTS saved (
  id INTEGER PRIMARY KEY,
  station TEXT NOT NULL,
  path TEXT NOT NULL,
  title TEXT NOT NULL DEFAULT '',
  window_start INTEGER NOT NULL,
  started INTEGER NOT NULL,
  ended INTEGER NOT NULL DEFAULT 0,
  bytes INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS saved_by_window ON saved (station, window_start);
CREATE INDEX IF NOT EXISTS saved_by_path ON saved (path);
)sql";

// Version 1 adds songs; a database of version 0 (recordings only) gains the columns.
constexpr const char* kSongColumns = R"sql(
BEGIN;
ALTER TABLE saved ADD COLUMN kind TEXT NOT NULL DEFAULT 'recording';
ALTER TABLE saved ADD COLUMN artist TEXT NOT NULL DEFAULT '';
ALTER TABLE saved ADD COLUMN seconds REAL NOT NULL DEFAULT 0;
ALTER TABLE saved ADD COLUMN complete INTEGER NOT NULL DEFAULT 0;
CREATE INDEX saved_by_song ON saved (station, title, artist);
PRAGMA user_version = 1;
COMMIT;
)sql";

constexpr const char* kColumns =
    "id, station, path, title, window_start, started, ended, bytes, kind, artist, seconds, complete";

// A prepared statement, finalised when it goes out of scope; or one of the
// history's kept statements, reset for its next use.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  explicit Statement(sqlite3_stmt* kept) : statement_(kept), kept_(true) {}
  ~Statement() {
    if (!kept_) {
      sqlite3_finalize(statement_);
    } else if (statement_) {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& Bind(int index, double value) {
    sqlite3_bind_double(statement_, index, value);
    return *this;
  }
  bool Step() { return statement_ && sqlite3_step(statement_) == SQLITE_ROW; }
  // Runs a statement that returns no rows; true when it succeeded.
  bool Done() { return statement_ && sqlite3_step(statement_) == SQLITE_DONE; }
  std::int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, std::size_t(sqlite3_column_bytes(statement_, column))) : std::string();
  }
  SavedEntry Entry() {
    return {Integer(0),
            Text(1),
            Text(2),
            Text(3),
            std::time_t(Integer(4)),
            std::time_t(Integer(5)),
            std::time_t(Integer(6)),
            std::uint64_t(Integer(7)),
            Text(8) == "song" ? SavedKind::kSong : SavedKind::kRecording,
            Text(9),
            sqlite3_column_double(statement_, 10),
            Integer(11) != 0};
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  bool kept_ = false;
};

std::int64_t Version(sqlite3* db) {
  Statement version(db, "PRAGMA user_version");
  return version.Step() ? version.Integer(0) : -1;
}

}  // namespace

std::unique_ptr<History> History::Open(const std::string& folder, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot create " + folder + ": " + ec.message();
    return nullptr;
  }
  const std::string path = (std::filesystem::path(folder) / "history.sqlite").string();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
      (Version(db) == 0 && sqlite3_exec(db, kSongColumns, nullptr, nullptr, nullptr) != SQLITE_OK)) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot be opened");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 1000);
  return std::unique_ptr<History>(new History(db));
}

History::History(sqlite3* db) : db_(db), total_(CountAll()) {}

History::~History() {
  Commit();
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

// The statements run for every song and every request are compiled once.
sqlite3_stmt* History::Kept(const char* sql) {
  auto& statement = statements_[sql];
  if (!statement) sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  return statement;
}

std::int64_t History::CountAll() {
  Statement count(db_, "SELECT COUNT(*) FROM saved");
  return count.Step() ? count.Integer(0) : 0;
}

void History::BeginWrites() {
  if (sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
}

bool History::Commit() {
  if (sqlite3_get_autocommit(db_)) return true;
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  // A failed write (a full disk) may have rolled the whole group back.
  if (sqlite3_get_autocommit(db_)) total_ = CountAll();
  return false;
}

std::int64_t History::Begin(const std::string& station, const std::string& path, const std::string& title,
                            std::time_t window_start, std::time_t started) {
  BeginWrites();
  Statement insert(Kept("INSERT INTO saved (station, path, title, window_start, started) VALUES (?, ?, ?, ?, ?)"));
  insert.Bind(1, station).Bind(2, path).Bind(3, title).Bind(4, std::int64_t(window_start)).Bind(5, std::int64_t(started));
  if (!insert.Done()) return 0;  // not an older row's id
  ++total_;
  return sqlite3_last_insert_rowid(db_);
}

void History::Update(std::int64_t id, std::uint64_t bytes, const std::string& title, std::time_t ended) {
  BeginWrites();
  Statement update(Kept(
                   "UPDATE saved SET bytes = ?, ended = ?, title = CASE WHEN title = '' THEN ? ELSE title END "
                   "WHERE id = ?"));
  update.Bind(1, std::int64_t(bytes)).Bind(2, std::int64_t(ended)).Bind(3, title).Bind(4, id);
  update.Step();
}

std::int64_t History::AddSong(const SavedEntry& song) {
  BeginWrites();
  Statement insert(Kept(
                   "INSERT INTO saved (station, path, title, window_start, started, ended, bytes, kind, artist, "
                   "seconds, complete) VALUES (?, ?, ?, ?, ?, ?, ?, 'song', ?, ?, ?)"));
  insert.Bind(1, song.station).Bind(2, song.path).Bind(3, song.title).Bind(4, std::int64_t(song.window_start));
  insert.Bind(5, std::int64_t(song.started)).Bind(6, std::int64_t(song.ended)).Bind(7, std::int64_t(song.bytes));
  insert.Bind(8, song.artist).Bind(9, song.seconds).Bind(10, std::int64_t(song.complete));
  if (!insert.Done()) return 0;  // not an older row's id
  ++total_;
  return sqlite3_last_insert_rowid(db_);
}

bool History::HasSong(const std::string& station, const std::string& artist, const std::string& title) {
  Statement select(Kept(
                   "SELECT 1 FROM saved WHERE station = ? AND title = ? AND artist = ? AND kind = 'song' "
                   "AND complete = 1 LIMIT 1"));
  select.Bind(1, station).Bind(2, title).Bind(3, artist);
  return select.Step();
}

std::optional<SavedEntry> History::ForWindow(const std::string& station, std::time_t window_start) {
  Statement select(db_, (std::string("SELECT ") + kColumns +
                         " FROM saved WHERE station = ? AND window_start = ? AND kind = 'recording' "
                         "ORDER BY id DESC LIMIT 1")
                            .c_str());
  select.Bind(1, station).Bind(2, std::int64_t(window_start));
  if (!select.Step()) return std::nullopt;
  return select.Entry();
}

std::vector<SavedEntry> History::Recent(const std::string& station, int limit, int offset) {
  Statement select(db_, (std::string("SELECT ") + kColumns +
                         " FROM saved WHERE ?1 = '' OR station = ?1 ORDER BY id DESC LIMIT ?2 OFFSET ?3")
                            .c_str());
  select.Bind(1, station).Bind(2, std::int64_t(limit)).Bind(3, std::int64_t(offset));
  std::vector<SavedEntry> entries;
  while (select.Step()) entries.push_back(select.Entry());
  return entries;
}

std::int64_t History::Count(const std::string& station) {
  if (station.empty()) return total_;
  Statement count(Kept("SELECT COUNT(*) FROM saved WHERE station = ?"));
  count.Bind(1, station);
  return count.Step() ? count.Integer(0) : 0;
}

bool History::Knows(const std::string& path) {
  Statement select(Kept("SELECT 1 FROM saved WHERE path = ? LIMIT 1"));
  select.Bind(1, path);
  return select.Step();
}

}  // namespace pellora::service

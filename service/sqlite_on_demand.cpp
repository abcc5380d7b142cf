// SPDX-License-Identifier: MIT
// SQLite opened when `serve` first opens its history, for programs that link this
// in place of libsqlite3 (the command line): no other subcommand needs it, so
// none pays for loading it. Each SQLite function the history uses is defined here
// and forwards to the library; without it the history cannot be opened, and says
// so.
#include <sqlite3.h>

#include "hosting/on_demand.h"

namespace {

void* Libsqlite() {
  static void* const library = pellora::hosting::on_demand::Open({"libsqlite3.so.0", "libsqlite3.so"});
  return library;
}

}  // namespace

#define FORWARD(name, failed, ...) PELLORA_FORWARD_TO(Libsqlite, name, failed, __VA_ARGS__)

extern "C" {

int sqlite3_open_v2(const char* file, sqlite3** database, int flags, const char* vfs) {
  if (!Libsqlite() && database) *database = nullptr;
  FORWARD(sqlite3_open_v2, SQLITE_CANTOPEN, file, database, flags, vfs);
}
int sqlite3_close(sqlite3* database) { FORWARD(sqlite3_close, SQLITE_OK, database); }
const char* sqlite3_errmsg(sqlite3* database) {
  FORWARD(sqlite3_errmsg, "SQLite (libsqlite3.so.0) is not installed", database);
}
int sqlite3_busy_timeout(sqlite3* database, int milliseconds) {
  FORWARD(sqlite3_busy_timeout, SQLITE_ERROR, database, milliseconds);
}
int sqlite3_exec(sqlite3* database, const char* sql, int (*callback)(void*, int, char**, char**), void* data,
                 char** error) {
  FORWARD(sqlite3_exec, SQLITE_ERROR, database, sql, callback, data, error);
}
int sqlite3_prepare_v2(sqlite3* database, const char* sql, int length, sqlite3_stmt** statement, const char** tail) {
  FORWARD(sqlite3_prepare_v2, SQLITE_ERROR, database, sql, length, statement, tail);
}
int sqlite3_prepare_v3(sqlite3* database, const char* sql, int length, unsigned int flags, sqlite3_stmt** statement,
                       const char** tail) {
  FORWARD(sqlite3_prepare_v3, SQLITE_ERROR, database, sql, length, flags, statement, tail);
}
int sqlite3_reset(sqlite3_stmt* statement) { FORWARD(sqlite3_reset, SQLITE_OK, statement); }
int sqlite3_clear_bindings(sqlite3_stmt* statement) { FORWARD(sqlite3_clear_bindings, SQLITE_OK, statement); }
int sqlite3_get_autocommit(sqlite3* database) { FORWARD(sqlite3_get_autocommit, 1, database); }
int sqlite3_bind_int64(sqlite3_stmt* statement, int index, sqlite3_int64 value) {
  FORWARD(sqlite3_bind_int64, SQLITE_ERROR, statement, index, value);
}
int sqlite3_bind_double(sqlite3_stmt* statement, int index, double value) {
  FORWARD(sqlite3_bind_double, SQLITE_ERROR, statement, index, value);
}
int sqlite3_bind_text(sqlite3_stmt* statement, int index, const char* text, int length, void (*destructor)(void*)) {
  FORWARD(sqlite3_bind_text, SQLITE_ERROR, statement, index, text, length, destructor);
}
int sqlite3_step(sqlite3_stmt* statement) { FORWARD(sqlite3_step, SQLITE_ERROR, statement); }
int sqlite3_column_bytes(sqlite3_stmt* statement, int column) { FORWARD(sqlite3_column_bytes, 0, statement, column); }
sqlite3_int64 sqlite3_column_int64(sqlite3_stmt* statement, int column) {
  FORWARD(sqlite3_column_int64, 0, statement, column);
}
double sqlite3_column_double(sqlite3_stmt* statement, int column) {
  FORWARD(sqlite3_column_double, 0, statement, column);
}
const unsigned char* sqlite3_column_text(sqlite3_stmt* statement, int column) {
  FORWARD(sqlite3_column_text, nullptr, statement, column);
}
int sqlite3_finalize(sqlite3_stmt* statement) { FORWARD(sqlite3_finalize, SQLITE_OK, statement); }
sqlite3_int64 sqlite3_last_insert_rowid(sqlite3* database) { FORWARD(sqlite3_last_insert_rowid, 0, database); }

}  // extern "C"

// SPDX-License-Identifier: Apache-2.0
// A thin owner of an SQLite database and its prepared statements (the C API of the system's
// library): every failure raises SqliteError with the database's message and result code.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fpd {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
  int Code() const { return code_; }  // the primary result code (SQLITE_FULL, SQLITE_CORRUPT, ...)
  bool DiskFull() const { return code_ == SQLITE_FULL; }

 private:
  int code_;
};

class Statement;

class Database {
 public:
  // Opens (creating when create is set) the database file; raises SqliteError naming the file.
  Database(const std::string& path, bool create);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& Path() const { return path_; }
  sqlite3* Handle() const { return db_; }
  // Runs statements without results (schema, pragmas, transactions).
  void Exec(const std::string& sql);
  // Runs a pragma and answers its first column of the first row, if any.
  std::optional<std::string> Pragma(const std::string& pragma);
  // Raises SqliteError for a failed call with its result code rc, saying what was done.
  [[noreturn]] void Fail(const std::string& what, int rc) const;
  int64_t Changes() const { return sqlite3_changes64(db_); }
  bool InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

// A prepared statement, kept for the database's life and reset after each use.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds the parameters from 1 on, after a reset (clears the earlier bindings).
  template <class... T>
  Statement& Bind(const T&... values) {
    Reset();
    int i = 0;
    (BindOne(++i, values), ...);
    return *this;
  }
  // Steps once: true with a row, false when done. Raises SqliteError.
  bool Step();
  // Steps to the end of a statement without rows.
  void Run();
  void Reset();

  int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const;
  bool Null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

 private:
  void BindOne(int i, int64_t v);
  void BindOne(int i, int v) { BindOne(i, static_cast<int64_t>(v)); }
  void BindOne(int i, const std::string& v);
  void BindOne(int i, const char* v) { BindOne(i, std::string(v)); }
  void BindOne(int i, std::nullptr_t);

  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

}  // namespace fpd

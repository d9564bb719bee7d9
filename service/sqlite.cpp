// SPDX-License-Identifier: Apache-2.0
#include "sqlite.h"

namespace fpd {

Database::Database(const std::string& path, bool create) : path_(path) {
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw SqliteError("cannot open the database '" + path + "': " + why, rc & 0xff);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 2000);
}

Database::~Database() {
  sqlite3_close_v2(db_);
}

void Database::Fail(const std::string& what, int rc) const {
  throw SqliteError(what + " in '" + path_ + "': " + sqlite3_errmsg(db_), rc & 0xff);
}

void Database::Exec(const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (rc == SQLITE_OK) return;
  const std::string why = error ? error : sqlite3_errstr(rc);
  sqlite3_free(error);
  throw SqliteError(
      "cannot run '" + sql.substr(0, sql.find_first_of("(\n")) + "' in '" + path_ + "': " + why,
      rc & 0xff);
}

std::optional<std::string> Database::Pragma(const std::string& pragma) {
  Statement s(*this, "PRAGMA " + pragma);
  if (!s.Step()) return std::nullopt;
  return s.Text(0);
}

Statement::Statement(Database& db, std::string_view sql) : db_(db) {
  const int rc = sqlite3_prepare_v3(db.Handle(), sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Fail("cannot prepare '" + std::string(sql.substr(0, 40)) + "'", rc);
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  db_.Fail("cannot read or write", rc);
}

void Statement::Run() {
  while (Step()) {
  }
  sqlite3_reset(stmt_);
}

std::string Statement::Text(int col) const {
  const auto* p = sqlite3_column_text(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
           : std::string();
}

void Statement::BindOne(int i, int64_t v) {
  sqlite3_bind_int64(stmt_, i, v);
}

void Statement::BindOne(int i, const std::string& v) {
  sqlite3_bind_text64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void Statement::BindOne(int i, std::nullptr_t) {
  sqlite3_bind_null(stmt_, i);
}

Transaction::Transaction(Database& db) : db_(db) {
  db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (open_ && db_.InTransaction())
    sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
#include "journal_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "journal_entry.h"
#include "journal_import.h"
#include "log.h"

namespace fpd {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS entries (
  id INTEGER PRIMARY KEY,
  till TEXT NOT NULL,
  key TEXT NOT NULL,
  hash TEXT NOT NULL,
  path TEXT NOT NULL,
  state TEXT NOT NULL,
  request TEXT,
  status INTEGER NOT NULL DEFAULT 0,
  answer TEXT,
  resolution TEXT,
  started_at TEXT NOT NULL DEFAULT '',
  started_epoch INTEGER NOT NULL DEFAULT 0,
  finished_at TEXT NOT NULL DEFAULT '',
  finished_epoch INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX IF NOT EXISTS entries_key ON entries (key, till);
CREATE INDEX IF NOT EXISTS entries_till ON entries (till, id);
CREATE INDEX IF NOT EXISTS entries_time ON entries (finished_epoch);
CREATE INDEX IF NOT EXISTS entries_open ON entries (till, key)
  WHERE state IN ('started', 'in_doubt');
CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

// Every column of an entry, in the order the journal reads them.
constexpr const char* kColumns =
    "till, key, hash, path, state, request, status, answer, resolution, started_at, "
    "started_epoch, finished_at, finished_epoch";

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

bool Damage(const SqliteError& e) {
  return e.Code() == SQLITE_CORRUPT || e.Code() == SQLITE_NOTADB;
}

void SetMeta(Database& db, const std::string& name, const std::string& value) {
  Statement(db,
            "INSERT INTO meta (name, value) VALUES (?1, ?2) ON CONFLICT (name) DO UPDATE "
            "SET value = ?2")
      .Bind(name, value)
      .Run();
}

std::string Meta(Database& db, const std::string& name) {
  Statement s(db, "SELECT value FROM meta WHERE name = ?1");
  s.Bind(name);
  return s.Step() ? s.Text(0) : std::string();
}

// The settings of every use: this process alone (no other process may print from the same
// journal; the log's index then needs no shared memory file), the write-ahead log, and every
// commit flushed to disk before it returns.
void Configure(Database& db) {
  db.Exec("PRAGMA locking_mode = EXCLUSIVE");
  if (db.Pragma("journal_mode = WAL").value_or("") != "wal") {
    throw std::runtime_error("the journal '" + db.Path() + "' cannot use a write-ahead log");
  }
  // A log of at most 256 pages before its pages go into the database, and no larger than
  // 1 MiB on disk once they have: the journal's room on a small disk stays small.
  db.Exec(
      "PRAGMA synchronous = FULL; PRAGMA wal_autocheckpoint = 256; "
      "PRAGMA journal_size_limit = 1048576");
}

// What PRAGMA integrity_check finds wrong, empty when nothing.
std::string IntegrityProblems(Database& db) {
  Statement check(db, "PRAGMA integrity_check(5)");
  std::string problems;
  while (check.Step()) {
    const std::string line = check.Text(0);
    if (line == "ok") continue;
    problems += (problems.empty() ? "" : "; ") + line;
  }
  return problems;
}

struct Salvage {
  size_t Kept = 0, Doubted = 0, Lost = 0;
};

// Copies every entry that can be read from the damaged database into a fresh one; an entry of
// which only the till and the key can be read is kept in doubt.
Salvage CopyReadable(Database& damaged, Database& fresh) {
  Salvage s;
  Transaction t(fresh);
  Statement insert(fresh, std::string("INSERT OR IGNORE INTO entries (") + kColumns +
                              ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                              "?13)");
  Statement doubt(fresh,
                  "INSERT OR IGNORE INTO entries (till, key, hash, path, state) VALUES (?1, ?2, "
                  "'', '', 'in_doubt')");
  std::unique_ptr<Statement> next, row, keyOnly;
  try {
    next = std::make_unique<Statement>(damaged,
                                       "SELECT id FROM entries WHERE id > ?1 ORDER BY id LIMIT 1");
    row = std::make_unique<Statement>(
        damaged, std::string("SELECT ") + kColumns + " FROM entries WHERE id = ?1");
    keyOnly = std::make_unique<Statement>(damaged, "SELECT till, key FROM entries WHERE id = ?1");
  } catch (const SqliteError&) {
    t.Commit();  // not even the table can be read
    return s;
  }
  // Where the table's order cannot be followed, the ids after the last one read are tried one
  // by one, this many at most.
  constexpr int64_t kProbe = 4096;
  int64_t last = 0, lastFound = 0;
  for (;;) {
    int64_t id = 0;
    try {
      next->Bind(last);
      if (!next->Step()) break;
      id = next->Int(0);
    } catch (const SqliteError&) {
      id = last + 1;
      if (id - lastFound > kProbe) break;
    }
    last = id;
    try {
      row->Bind(id);
      if (!row->Step()) continue;
      lastFound = id;
      const std::string state = row->Text(4);
      // An entry that was being printed is in doubt, as any found so at start.
      insert
          .Bind(row->Text(0), row->Text(1), row->Text(2), row->Text(3),
                state == "started" ? std::string("in_doubt") : state, row->Text(5), row->Int(6),
                row->Text(7), row->Text(8), row->Text(9), row->Int(10), row->Text(11), row->Int(12))
          .Run();
      ++s.Kept;
    } catch (const SqliteError&) {
      try {
        keyOnly->Bind(id);
        if (keyOnly->Step()) {
          lastFound = id;
          doubt.Bind(keyOnly->Text(0), keyOnly->Text(1)).Run();
          ++s.Doubted;
          continue;
        }
      } catch (const SqliteError&) {
      }
      ++s.Lost;
    }
  }
  t.Commit();
  return s;
}

std::string Stamp() {
  std::string t = LocalTimeText(Now());
  std::erase(t, ':');
  std::erase(t, '-');
  return t;
}

// Moves a file aside when it is there.
void MoveAside(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (!fs::exists(from, ec)) return;
  fs::rename(from, to, ec);
  if (ec) throw std::runtime_error("cannot rename '" + from + "': " + ec.message());
}

// Replaces a damaged database by what can be read of it; the damaged file (and its log) stays
// beside it under another name.
void Repair(std::unique_ptr<Database>& db, const std::string& path, const std::string& why) {
  const std::string repaired = path + ".repair";
  std::error_code ec;
  fs::remove(repaired, ec);
  Salvage s;
  {
    Database fresh(repaired, true);
    fresh.Exec(kSchema);
    s = CopyReadable(*db, fresh);
  }
  db.reset();
  const std::string kept = path + ".damaged-" + Stamp();
  MoveAside(path, kept);
  MoveAside(path + "-wal", kept + "-wal");
  fs::remove(path + "-shm", ec);
  MoveAside(repaired, path);
  Log(LogLevel::Warn,
      "the journal '" + path + "' was damaged (" + why + "); repaired: " + std::to_string(s.Kept) +
          " entries kept, " + std::to_string(s.Doubted) +
          " keys of unreadable entries put in doubt, " + std::to_string(s.Lost) +
          " unreadable entries dropped; the damaged file is kept as '" + kept + "'");
  db = std::make_unique<Database>(path, false);
}

// Opens an existing database, checking it when due; repairs a damaged one when asked to.
std::unique_ptr<Database> OpenExisting(const std::string& path, const JournalOptions& o) {
  auto db = std::make_unique<Database>(path, false);
  std::string problems;
  try {
    Configure(*db);
    db->Exec(kSchema);
    const std::string checked = Meta(*db, "checked");
    const bool due = Meta(*db, "clean") != "1" || checked.empty() ||
                     Now() - std::stoll(checked) >= o.CheckIntervalSeconds;
    if (due) {
      problems = IntegrityProblems(*db);
      if (problems.empty()) SetMeta(*db, "checked", std::to_string(Now()));
    }
  } catch (const SqliteError& e) {
    if (e.Code() == SQLITE_BUSY || e.Code() == SQLITE_LOCKED) {
      throw std::runtime_error("the journal '" + path +
                               "' is in use by another process (a second fiscal-printd on the "
                               "same state folder?)");
    }
    if (!Damage(e)) throw;
    problems = e.what();
  }
  if (problems.empty()) return db;
  if (!o.Repair) {
    throw std::runtime_error("the journal '" + path + "' is damaged (" + problems +
                             "); start once with --journal-repair to keep every entry that can "
                             "be read (the damaged file is kept beside it)");
  }
  Repair(db, path, problems);
  Configure(*db);
  SetMeta(*db, "checked", std::to_string(Now()));
  return db;
}

void Import(Database& db, const std::string& old, bool repair) {
  ImportCount n;
  {
    Transaction t(db);
    n = ImportJsonLines(db, old, repair);
    SetMeta(db, "imported", std::to_string(Now()));
    t.Commit();
  }
  const std::string kept = old + ".imported";
  MoveAside(old, kept);
  Log(n.Damaged ? LogLevel::Warn : LogLevel::Info,
      "the journal '" + old + "' was imported into '" + db.Path() +
          "': " + std::to_string(n.Entries) + " entries from " + std::to_string(n.Lines) +
          " lines" + (n.TornLast ? ", a torn last line dropped" : "") +
          (n.Damaged ? ", " + std::to_string(n.Damaged) + " damaged lines passed over (" +
                           std::to_string(n.Doubted) + " of their keys put in doubt)"
                     : std::string()) +
          "; the file is kept as '" + kept + "'");
}

}  // namespace

std::unique_ptr<Database> OpenJournalDatabase(const JournalOptions& o) {
  const std::string path = o.Folder + "/" + kJournalFile;
  const std::string old = o.Folder + "/" + kOldJournalFile;
  std::error_code ec;
  std::unique_ptr<Database> db;
  if (!fs::exists(path, ec)) {
    // A new database takes the old journal before it starts its log: a new file's pages need
    // no copy in a rollback journal, so the import needs no more room than the database.
    db = std::make_unique<Database>(path, true);
    db->Exec("PRAGMA locking_mode = EXCLUSIVE");
    db->Exec(kSchema);
    SetMeta(*db, "checked", std::to_string(Now()));
    if (fs::exists(old, ec)) Import(*db, old, o.Repair);
    Configure(*db);
  } else {
    db = OpenExisting(path, o);
    if (fs::exists(old, ec)) {
      // Imported by a start that stopped before it could rename the file: only the rename is
      // left to do.
      if (Meta(*db, "imported").empty()) {
        Import(*db, old, o.Repair);
      } else {
        MoveAside(old, old + ".imported");
      }
    }
  }
  {
    Transaction t(*db);
    // Started and never finished: the service stopped while printing them.
    db->Exec(
        "UPDATE entries SET state = 'in_doubt' WHERE state IN ('started', 'in_doubt') AND "
        "state = 'started'");
    // Accepted for later and written down, but never started: nothing was printed, and the
    // key may run again.
    db->Exec(
        "UPDATE entries SET state = 'retryable', status = 503, answer = '{\"error\":{\"code\":"
        "\"not_started\",\"message\":\"the service stopped before this request started; "
        "nothing was printed\"}}' WHERE state = 'queued'");
    SetMeta(*db, "clean", "0");
    t.Commit();
  }
  return db;
}

void MarkClosedCleanly(Database& db) {
  SetMeta(db, "clean", "1");
}

}  // namespace fpd

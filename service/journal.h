// SPDX-License-Identifier: Apache-2.0
// The idempotency journal: one row per printing request in an SQLite database in the state
// folder (journal.db), each state change committed and flushed to disk before the printer acts
// on it, so that a request is printed at most once across crashes and restarts. Keys belong to
// their till: the same key from two tills is two requests. Nothing is held in memory per entry
// but the requests waiting for the worker.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "journal_entry.h"
#include "journal_options.h"

namespace fpd {

class Database;
struct JournalStatements;

struct JournalKey {
  std::string Till, Key;
  bool operator<(const JournalKey& o) const {
    return std::tie(Till, Key) < std::tie(o.Till, o.Key);
  }
  bool operator==(const JournalKey& o) const = default;
};

class Journal {
 public:
  // Opens (creating) the database, imports an old journal.jsonl once, checks the database and
  // puts every request that was started and never finished in doubt. Raises std::runtime_error
  // (naming the file, and the line of a damaged JSON-lines journal) when it cannot.
  explicit Journal(const JournalOptions& options);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  enum class Verdict { New, Replay, Conflict, InProgress, InDoubt, Resolved };
  // Looks the till's key up; a new key (or one whose last run is retryable) is taken
  // ("queued", in memory) in one step, so that two requests with one key never both run. The
  // entry is a copy as it stands. Raises std::runtime_error when the database cannot be read.
  // A durable claim is also written to the database ("queued") before Claim returns, so that
  // a door may acknowledge the request once it is on disk; one that never started is found
  // retryable at the next start (nothing was printed).
  Verdict Claim(const std::string& till, const std::string& key, const std::string& hash,
                const std::string& path, const Json& request, JournalEntry* entry,
                bool durable = false);
  // A queued key that will not run after all (the queue was full): forgotten.
  void Release(const std::string& till, const std::string& key);
  // Records "started" and flushes; raises std::runtime_error when it cannot (the key stays
  // queued: the caller releases it).
  void Started(const std::string& till, const std::string& key);
  // Records the outcome and flushes; raises std::runtime_error when it cannot (the entry then
  // counts as in doubt, in this process as after a restart).
  void Finished(const std::string& till, const std::string& key, int status, const Json& answer);
  // The same for a request the printer link left in doubt: the entry is in doubt, as one the
  // service died in, until the till resolves it.
  void FinishedInDoubt(const std::string& till, const std::string& key, int status,
                       const Json& answer);
  // The same for a failure that proves nothing reached the printer: the answer is kept, and a
  // later Claim of the key (same body or not) is New and runs it.
  void FinishedRetryable(const std::string& till, const std::string& key, int status,
                         const Json& answer);
  // Records the till's decision on an in-doubt key. Raises like Started.
  void Resolve(const std::string& till, const std::string& key, const Json& resolution);

  std::optional<JournalEntry> Find(const std::string& till, const std::string& key) const;
  // Newest first: the requests waiting for the worker, then the rest in the order they started;
  // of one till, or of every till.
  std::vector<JournalEntry> Last(size_t n, const std::optional<std::string>& till = {}) const;
  // Keys in doubt and not resolved, of one till or of every till, in order of till and key.
  std::vector<JournalKey> InDoubt(const std::optional<std::string>& till = {}) const;
  size_t Count() const;  // entries held, queued ones included

  // Retention: deletes the entries finished or resolved more than KeepDays ago (never one in
  // doubt), a few hundred rows per transaction. Raises std::runtime_error when it cannot finish
  // (the disk is full, ...): what was deleted stays deleted, the rest is kept and the journal
  // goes on as it is.
  void Prune();
  int64_t LastPruned() const;  // when Prune() last finished, 0 before
  // The database's file and its write-ahead log, for the size the metrics show.
  std::vector<std::string> Files() const;

 private:
  void Outcome(const std::string& till, const std::string& key, JournalState state, int status,
               const Json& answer);
  std::optional<JournalEntry> Stored(const std::string& till, const std::string& key) const;
  // Runs a write, once more after a checkpoint when the disk was full (the log's room is
  // reused once its pages are in the database).
  template <class F>
  void Write(F&& f);

  JournalOptions options_;
  mutable std::mutex mu_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<JournalStatements> sql_;
  std::map<JournalKey, JournalEntry> queued_;  // bounded by the queue
  uint64_t claims_ = 0;                        // orders the queued entries
  // Started entries whose outcome could not be written: in doubt, here as after a restart.
  std::set<JournalKey> unrecorded_;
  std::set<JournalKey> durable_;  // queued keys whose claim is on disk too
  int64_t lastPruned_ = 0;
};

}  // namespace fpd

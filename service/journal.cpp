// SPDX-License-Identifier: Apache-2.0
#include "journal.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "journal_file.h"
#include "sqlite.h"

namespace fpd {

namespace {

int64_t EpochNow() {
  return static_cast<int64_t>(std::time(nullptr));
}

std::string Text(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json Parsed(const Statement& s, int col) {
  if (s.Null(col)) return nullptr;
  Json j = Json::parse(s.Text(col), nullptr, false);
  return j.is_discarded() ? Json(nullptr) : j;
}

constexpr const char* kSelect =
    "SELECT till, key, hash, path, state, request, status, answer, resolution, started_at, "
    "started_epoch, finished_at, finished_epoch, id FROM entries ";

JournalEntry Row(const Statement& s) {
  JournalEntry e;
  e.Till = s.Text(0);
  e.Key = s.Text(1);
  e.Hash = s.Text(2);
  e.Path = s.Text(3);
  e.State = ParseState(s.Text(4)).value_or(JournalState::InDoubt);
  e.Request = Parsed(s, 5);
  // An entry whose request could not be read (a repaired journal) has an empty one.
  if (!e.Request.is_object()) e.Request = Json::object();
  e.Status = static_cast<int>(s.Int(6));
  e.Answer = Parsed(s, 7);
  e.Resolution = Parsed(s, 8);
  e.StartedAt = s.Text(9);
  e.StartedEpoch = s.Int(10);
  e.FinishedAt = s.Text(11);
  e.FinishedEpoch = s.Int(12);
  e.Order = static_cast<uint64_t>(s.Int(13));
  return e;
}

}  // namespace

// The statements of every use, prepared once.
struct JournalStatements {
  explicit JournalStatements(Database& db)
      : find(db, std::string(kSelect) + "WHERE till = ?1 AND key = ?2"),
        start(db,
              "INSERT OR REPLACE INTO entries (till, key, hash, path, state, request, started_at, "
              "started_epoch) VALUES (?1, ?2, ?3, ?4, 'started', ?5, ?6, ?7)"),
        outcome(db,
                "UPDATE entries SET state = ?3, status = ?4, answer = ?5, finished_at = ?6, "
                "finished_epoch = ?7 WHERE till = ?1 AND key = ?2"),
        resolve(db,
                "UPDATE entries SET state = 'resolved', resolution = ?3, finished_at = ?4, "
                "finished_epoch = ?5 WHERE till = ?1 AND key = ?2"),
        last(db, std::string(kSelect) + "ORDER BY id DESC LIMIT ?1"),
        lastOfTill(db, std::string(kSelect) + "WHERE till = ?2 ORDER BY id DESC LIMIT ?1"),
        inDoubt(db,
                "SELECT till, key FROM entries WHERE state IN ('started', 'in_doubt') AND "
                "state = 'in_doubt' ORDER BY till, key"),
        count(db, "SELECT count(*) FROM entries WHERE state != 'queued'"),
        queue(db,
              "INSERT OR REPLACE INTO entries (till, key, hash, path, state, request) VALUES "
              "(?1, ?2, ?3, ?4, 'queued', ?5)"),
        unqueue(db, "DELETE FROM entries WHERE till = ?1 AND key = ?2 AND state = 'queued'"),
        prune(db,
              "DELETE FROM entries WHERE id IN (SELECT id FROM entries WHERE finished_epoch < ?1 "
              "AND state IN ('done', 'resolved', 'retryable') LIMIT 500)") {}

  Statement find, start, outcome, resolve, last, lastOfTill, inDoubt, count, queue, unqueue, prune;
};

Journal::Journal(const JournalOptions& options) : options_(options) {
  db_ = OpenJournalDatabase(options_);
  sql_ = std::make_unique<JournalStatements>(*db_);
}

Journal::~Journal() {
  std::lock_guard lock(mu_);
  sql_.reset();
  try {
    MarkClosedCleanly(*db_);
  } catch (...) {
    // The next start checks the database whole, as after a crash.
  }
}

template <class F>
void Journal::Write(F&& f) {
  for (int attempt = 0;; ++attempt) {
    try {
      f();
      return;
    } catch (const SqliteError& e) {
      if (!e.DiskFull()) throw;
      // The log's pages go into the database and the log gives its room on disk back: a write
      // that did not fit leaves no more of the disk taken than before it, and the one try more
      // starts on an empty log.
      sqlite3_wal_checkpoint_v2(db_->Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                nullptr);
      if (attempt > 0) throw;
    }
  }
}

std::optional<JournalEntry> Journal::Stored(const std::string& till, const std::string& key) const {
  sql_->find.Bind(till, key);
  if (!sql_->find.Step()) return std::nullopt;
  JournalEntry e = Row(sql_->find);
  sql_->find.Reset();
  if (e.State == JournalState::Started && unrecorded_.count({till, key})) {
    e.State = JournalState::InDoubt;
  }
  return e;
}

Journal::Verdict Journal::Claim(const std::string& till, const std::string& key,
                                const std::string& hash, const std::string& path,
                                const Json& request, JournalEntry* entry, bool durable) {
  std::lock_guard lock(mu_);
  const JournalKey k{till, key};
  if (const auto q = queued_.find(k); q != queued_.end()) {
    if (entry) *entry = q->second;
    return q->second.Hash != hash ? Verdict::Conflict : Verdict::InProgress;
  }
  const std::optional<JournalEntry> e = Stored(till, key);
  if (!e || e->State == JournalState::Retryable) {
    if (durable) {
      Write([&] { sql_->queue.Bind(till, key, hash, path, Text(request)).Run(); });
      durable_.insert(k);
    }
    JournalEntry& n = queued_[k];
    n.Till = till;
    n.Key = key;
    n.Hash = hash;
    n.Path = path;
    n.Request = request;
    n.State = JournalState::Queued;
    n.Order = ++claims_;
    if (entry) *entry = n;
    return Verdict::New;
  }
  if (entry) *entry = *e;
  // An entry whose request could not be read again (a repaired journal) is in doubt whatever
  // is sent with its key.
  if (e->State == JournalState::InDoubt && e->Hash.empty()) return Verdict::InDoubt;
  if (e->Hash != hash) return Verdict::Conflict;
  switch (e->State) {
    case JournalState::Done:
      return Verdict::Replay;
    case JournalState::InDoubt:
      return Verdict::InDoubt;
    case JournalState::Resolved:
      return Verdict::Resolved;
    default:
      return Verdict::InProgress;
  }
}

void Journal::Release(const std::string& till, const std::string& key) {
  std::lock_guard lock(mu_);
  queued_.erase({till, key});
  if (durable_.erase({till, key}) != 0) {
    try {
      Write([&] { sql_->unqueue.Bind(till, key).Run(); });
    } catch (...) {
      // Left on disk, the claim is found retryable at the next start: nothing was printed.
    }
  }
}

void Journal::Started(const std::string& till, const std::string& key) {
  std::lock_guard lock(mu_);
  const auto q = queued_.find({till, key});
  if (q == queued_.end()) throw std::logic_error("the key " + key + " was not claimed");
  const JournalEntry& e = q->second;
  const int64_t now = EpochNow();
  Write([&] {
    sql_->start.Bind(till, key, e.Hash, e.Path, Text(e.Request), LocalTimeText(now), now).Run();
  });
  queued_.erase(q);
  durable_.erase({till, key});
}

void Journal::Finished(const std::string& till, const std::string& key, int status,
                       const Json& answer) {
  Outcome(till, key, JournalState::Done, status, answer);
}

void Journal::FinishedInDoubt(const std::string& till, const std::string& key, int status,
                              const Json& answer) {
  Outcome(till, key, JournalState::InDoubt, status, answer);
}

void Journal::FinishedRetryable(const std::string& till, const std::string& key, int status,
                                const Json& answer) {
  Outcome(till, key, JournalState::Retryable, status, answer);
}

void Journal::Outcome(const std::string& till, const std::string& key, JournalState state,
                      int status, const Json& answer) {
  std::lock_guard lock(mu_);
  const int64_t now = EpochNow();
  // Without its outcome on disk the request counts as in doubt, here as after a restart.
  unrecorded_.insert({till, key});
  Write([&] {
    sql_->outcome
        .Bind(till, key, std::string(StateName(state)), status, Text(answer), LocalTimeText(now),
              now)
        .Run();
  });
  const bool started = db_->Changes() == 1;
  unrecorded_.erase({till, key});
  if (!started) throw std::logic_error("the key " + key + " was not started");
}

void Journal::Resolve(const std::string& till, const std::string& key, const Json& resolution) {
  std::lock_guard lock(mu_);
  const int64_t now = EpochNow();
  Write([&] { sql_->resolve.Bind(till, key, Text(resolution), LocalTimeText(now), now).Run(); });
  if (db_->Changes() != 1) throw std::logic_error("the key " + key + " is not in the journal");
  unrecorded_.erase({till, key});
}

std::optional<JournalEntry> Journal::Find(const std::string& till, const std::string& key) const {
  std::lock_guard lock(mu_);
  if (const auto q = queued_.find({till, key}); q != queued_.end()) return q->second;
  return Stored(till, key);
}

std::vector<JournalEntry> Journal::Last(size_t n, const std::optional<std::string>& till) const {
  std::lock_guard lock(mu_);
  std::vector<JournalEntry> last;
  std::vector<const JournalEntry*> waiting;
  for (const auto& [k, e] : queued_) {
    if (!till || k.Till == *till) waiting.push_back(&e);
  }
  std::sort(waiting.begin(), waiting.end(),
            [](const JournalEntry* a, const JournalEntry* b) { return a->Order > b->Order; });
  for (const JournalEntry* e : waiting) {
    if (last.size() == n) return last;
    last.push_back(*e);
  }
  Statement& s = till ? sql_->lastOfTill : sql_->last;
  if (till) {
    s.Bind(static_cast<int64_t>(n - last.size()), *till);
  } else {
    s.Bind(static_cast<int64_t>(n - last.size()));
  }
  while (s.Step()) {
    // A durable claim's row: already listed with the requests waiting.
    if (s.Text(4) == StateName(JournalState::Queued)) continue;
    last.push_back(Row(s));
    if (last.back().State == JournalState::Started &&
        unrecorded_.count({last.back().Till, last.back().Key})) {
      last.back().State = JournalState::InDoubt;
    }
  }
  return last;
}

std::vector<JournalKey> Journal::InDoubt(const std::optional<std::string>& till) const {
  std::lock_guard lock(mu_);
  std::vector<JournalKey> keys;
  sql_->inDoubt.Reset();
  while (sql_->inDoubt.Step()) {
    JournalKey k{sql_->inDoubt.Text(0), sql_->inDoubt.Text(1)};
    if (!till || k.Till == *till) keys.push_back(std::move(k));
  }
  for (const JournalKey& k : unrecorded_) {
    if (!till || k.Till == *till) keys.push_back(k);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

size_t Journal::Count() const {
  std::lock_guard lock(mu_);
  sql_->count.Reset();
  sql_->count.Step();
  const auto n = static_cast<size_t>(sql_->count.Int(0));
  sql_->count.Reset();
  return n + queued_.size();
}

void Journal::Prune() {
  const int64_t now = EpochNow();
  const int64_t limit = now - static_cast<int64_t>(options_.KeepDays) * 86400;
  for (;;) {
    // The lock is given up between batches: requests go on while old entries are deleted.
    std::lock_guard lock(mu_);
    Write([&] { sql_->prune.Bind(limit).Run(); });
    if (db_->Changes() == 0) break;
  }
  std::lock_guard lock(mu_);
  lastPruned_ = now;
}

int64_t Journal::LastPruned() const {
  std::lock_guard lock(mu_);
  return lastPruned_;
}

std::vector<std::string> Journal::Files() const {
  return {db_->Path(), db_->Path() + "-wal"};
}

}  // namespace fpd

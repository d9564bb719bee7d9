// SPDX-License-Identifier: Apache-2.0
// The idempotency journal: one JSON line per step of a printing request, appended whole and
// flushed to disk, so that a request is printed at most once across restarts of the service.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codec.h"

namespace fpd {

// A hash of a request: its path and its body written with sorted members, as 32 hex digits
// (two 64-bit hashes).
std::string RequestHash(const std::string& path, const Json& body);
// A key the till may use: 1 to 128 of letters, digits and "-_.:".
bool ValidKey(const std::string& key);

struct JournalEntry {
  std::string Key, Hash, Path;
  Json Request;
  // "queued" and "started" while this process works on it; "done", "retryable", "in_doubt",
  // "resolved". An entry the printer link left in doubt holds its answer too.
  std::string State;
  std::string StartedAt, FinishedAt;
  int64_t StartedEpoch = 0, FinishedEpoch = 0;
  int Status = 0;
  Json Answer;
  Json Resolution;  // {"printed": bool, ...} once resolved
  uint64_t Order = 0;
};

class Journal {
 public:
  // Opens (creating) the journal file and reads it. A last line torn by a crash is dropped.
  // Raises std::runtime_error when the file cannot be opened or read.
  Journal(std::string path, int keepDays);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  enum class Verdict { New, Replay, Conflict, InProgress, InDoubt, Resolved };
  // Looks the key up; a new key is taken ("queued") in one step, so that two requests with one
  // key never both run. A retryable key is taken again as a new one, whatever the request. The
  // entry is a copy as it stands.
  Verdict Claim(const std::string& key, const std::string& hash, const std::string& path,
                const Json& request, JournalEntry* entry);
  // A queued key that will not run after all (the queue was full): forgotten.
  void Release(const std::string& key);
  // Appends "started" and flushes; raises std::runtime_error when it cannot.
  void Started(const std::string& key);
  // Appends the outcome and flushes; raises std::runtime_error when it cannot (the entry then
  // stays "started" on disk and is in doubt after a restart).
  void Finished(const std::string& key, int status, const Json& answer);
  // The same for a request the printer link left in doubt: the entry is in doubt, as one the
  // service died in, until the till resolves it.
  void FinishedInDoubt(const std::string& key, int status, const Json& answer);
  // The same for a failure that proves nothing reached the printer ("retryable"): the answer is
  // kept to be read, but the key stays free, and the next request with it runs.
  void FinishedRetryable(const std::string& key, int status, const Json& answer);
  // Records the till's decision on an in-doubt key. Raises like Started.
  void Resolve(const std::string& key, const Json& resolution);

  std::optional<JournalEntry> Find(const std::string& key) const;
  std::vector<JournalEntry> Last(size_t n) const;  // newest first
  std::vector<std::string> InDoubt() const;
  size_t Count() const;  // keys held
  // Rewrites the file without entries finished or resolved more than keepDays ago, and goes on
  // appending to the new file. Raises std::runtime_error, the old file staying in use, when it
  // cannot, or when the folder has no room for the new file beside the old one.
  void Compact();
  int64_t LastCompaction() const;
  // The bytes free in the journal's folder; a test may replace how they are found.
  using FreeSpace = std::function<uint64_t(const std::string& folder)>;
  void SetFreeSpace(FreeSpace f);

 private:
  void Append(const Json& line);  // with mu_ held
  void Outcome(const std::string& key, const std::string& state, int status, const Json& answer);
  void Index(JournalEntry& e, uint64_t order);  // (re)numbers an entry, with mu_ held
  void Forget(std::map<std::string, JournalEntry>::iterator it);
  void Load();
  void Apply(const Json& line);

  std::string path_;
  int keepDays_;
  int fd_ = -1;
  bool needNewline_ = false;
  mutable std::mutex mu_;
  std::map<std::string, JournalEntry> entries_;
  std::map<uint64_t, std::string> byOrder_;  // the keys in the order they came
  uint64_t order_ = 0;
  int64_t lastCompaction_ = 0;
  FreeSpace freeSpace_;
};

}  // namespace fpd

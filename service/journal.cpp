// SPDX-License-Identifier: Apache-2.0
#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/os.h"

namespace fpd {

namespace {

int64_t EpochNow() {
  return static_cast<int64_t>(std::time(nullptr));
}

std::string LocalText(int64_t epoch) {
  const std::time_t t = static_cast<std::time_t>(epoch);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " '" + path + "': " + std::strerror(errno));
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write the journal", path);
    done += static_cast<size_t>(n);
  }
}

// Room kept beside a compacted journal for the appends of the next hours.
constexpr uint64_t kAppendReserve = 64 * 1024;

uint64_t FreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return UINT64_MAX;  // the write itself will tell
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

uint64_t Fnv(const std::string& s, uint64_t h) {
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string RequestHash(const std::string& path, const Json& body) {
  // nlohmann::json (not ordered) keeps object members sorted: a fixed form of the body.
  const std::string canonical = path + "\n" + nlohmann::json::parse(body.dump()).dump();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%016llx%016llx",
                static_cast<unsigned long long>(Fnv(canonical, 14695981039346656037ull)),
                static_cast<unsigned long long>(Fnv(canonical, 0x84222325cbf29ce4ull)));
  return buf;
}

bool ValidKey(const std::string& key) {
  if (key.empty() || key.size() > 128) return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
  });
}

Journal::Journal(std::string path, int keepDays) : path_(std::move(path)), keepDays_(keepDays) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd_ < 0) Fail("cannot open the journal", path_);
  Load();
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

void Journal::Load() {
  std::ifstream in(path_, std::ios::binary);
  if (!in) Fail("cannot read the journal", path_);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string all = ss.str();
  needNewline_ = !all.empty() && all.back() != '\n';
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    const bool whole = end != std::string::npos;
    if (!whole) end = all.size();
    const std::string line = all.substr(start, end - start);
    start = end + 1;
    if (!whole || line.empty()) continue;  // a torn last line: the step never completed
    try {
      Apply(Json::parse(line));
    } catch (const std::exception&) {
      // A line that does not parse (a torn write followed by later ones) says nothing.
    }
  }
  for (auto& [key, e] : entries_) {
    if (e.State == "started") e.State = "in_doubt";
  }
}

void Journal::Apply(const Json& line) {
  const std::string key = line.value("key", "");
  const std::string state = line.value("state", "");
  const int64_t ts = line.value("ts", int64_t{0});
  if (key.empty()) return;
  if (state == "started") {
    JournalEntry& e = entries_[key];
    if (e.Order != 0) byOrder_.erase(e.Order);
    e = JournalEntry{};
    e.Key = key;
    e.Hash = line.value("hash", "");
    e.Path = line.value("path", "");
    e.Request = line.contains("request") ? line["request"] : Json(nullptr);
    e.State = "started";
    e.StartedEpoch = ts;
    e.StartedAt = line.value("at", "");
    Index(e, ++order_);
    return;
  }
  const auto it = entries_.find(key);
  if (it == entries_.end()) return;
  JournalEntry& e = it->second;
  if (state == "done" || state == "retryable" || state == "in_doubt") {
    e.State = state;
    e.Status = line.value("status", 500);
    e.Answer = line.contains("answer") ? line["answer"] : Json(nullptr);
    e.FinishedEpoch = ts;
    e.FinishedAt = line.value("at", "");
  } else if (state == "resolved") {
    e.State = "resolved";
    e.Resolution = line.contains("resolution") ? line["resolution"] : Json(nullptr);
    e.FinishedEpoch = ts;
    e.FinishedAt = line.value("at", "");
  }
}

void Journal::Append(const Json& line) {
  std::string bytes = line.dump(-1, ' ', false, Json::error_handler_t::replace);
  bytes += '\n';
  if (needNewline_) bytes.insert(bytes.begin(), '\n');
  // One write of the whole line; a failed or short write leaves at most a torn line, which the
  // next append starts after.
  needNewline_ = true;
  WriteAll(fd_, bytes, path_);
  if (::fsync(fd_) != 0) Fail("cannot flush the journal", path_);
  needNewline_ = false;
}

Journal::Verdict Journal::Claim(const std::string& key, const std::string& hash,
                                const std::string& path, const Json& request, JournalEntry* entry) {
  std::lock_guard lock(mu_);
  auto it = entries_.find(key);
  if (it != entries_.end() && it->second.State == "retryable") {
    // Nothing of the failed request reached the printer: the key is as good as new.
    Forget(it);
    it = entries_.end();
  }
  if (it == entries_.end()) {
    JournalEntry& e = entries_[key];
    e.Key = key;
    e.Hash = hash;
    e.Path = path;
    e.Request = request;
    e.State = "queued";
    Index(e, ++order_);
    if (entry) *entry = e;
    return Verdict::New;
  }
  if (entry) *entry = it->second;
  const JournalEntry& e = it->second;
  if (e.Hash != hash) return Verdict::Conflict;
  if (e.State == "done") return Verdict::Replay;
  if (e.State == "in_doubt") return Verdict::InDoubt;
  if (e.State == "resolved") return Verdict::Resolved;
  return Verdict::InProgress;
}

void Journal::Release(const std::string& key) {
  std::lock_guard lock(mu_);
  const auto it = entries_.find(key);
  if (it != entries_.end() && it->second.State == "queued") Forget(it);
}

void Journal::Index(JournalEntry& e, uint64_t order) {
  if (e.Order != 0) byOrder_.erase(e.Order);
  e.Order = order;
  byOrder_[order] = e.Key;
}

void Journal::Forget(std::map<std::string, JournalEntry>::iterator it) {
  byOrder_.erase(it->second.Order);
  entries_.erase(it);
}

void Journal::SetFreeSpace(FreeSpace f) {
  std::lock_guard lock(mu_);
  freeSpace_ = std::move(f);
}

void Journal::Started(const std::string& key) {
  std::lock_guard lock(mu_);
  JournalEntry& e = entries_.at(key);
  const int64_t now = EpochNow();
  Append(Json{{"key", key},
              {"hash", e.Hash},
              {"path", e.Path},
              {"request", e.Request},
              {"state", "started"},
              {"at", LocalText(now)},
              {"ts", now}});
  e.State = "started";
  e.StartedEpoch = now;
  e.StartedAt = LocalText(now);
}

void Journal::Finished(const std::string& key, int status, const Json& answer) {
  Outcome(key, "done", status, answer);
}

void Journal::FinishedInDoubt(const std::string& key, int status, const Json& answer) {
  Outcome(key, "in_doubt", status, answer);
}

void Journal::FinishedRetryable(const std::string& key, int status, const Json& answer) {
  Outcome(key, "retryable", status, answer);
}

void Journal::Outcome(const std::string& key, const std::string& state, int status,
                      const Json& answer) {
  std::lock_guard lock(mu_);
  JournalEntry& e = entries_.at(key);
  const int64_t now = EpochNow();
  // Without its outcome on disk the request counts as in doubt, here as after a restart.
  e.State = "in_doubt";
  Append(Json{{"key", key},
              {"hash", e.Hash},
              {"state", state},
              {"status", status},
              {"answer", answer},
              {"at", LocalText(now)},
              {"ts", now}});
  e.State = state;
  e.Status = status;
  e.Answer = answer;
  e.FinishedEpoch = now;
  e.FinishedAt = LocalText(now);
}

void Journal::Resolve(const std::string& key, const Json& resolution) {
  std::lock_guard lock(mu_);
  JournalEntry& e = entries_.at(key);
  const int64_t now = EpochNow();
  Append(Json{{"key", key},
              {"hash", e.Hash},
              {"state", "resolved"},
              {"resolution", resolution},
              {"at", LocalText(now)},
              {"ts", now}});
  e.State = "resolved";
  e.Resolution = resolution;
  e.FinishedEpoch = now;
  e.FinishedAt = LocalText(now);
}

std::optional<JournalEntry> Journal::Find(const std::string& key) const {
  std::lock_guard lock(mu_);
  const auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

std::vector<JournalEntry> Journal::Last(size_t n) const {
  std::lock_guard lock(mu_);
  std::vector<JournalEntry> last;
  for (auto it = byOrder_.rbegin(); it != byOrder_.rend() && last.size() < n; ++it) {
    last.push_back(entries_.at(it->second));
  }
  return last;
}

std::vector<std::string> Journal::InDoubt() const {
  std::lock_guard lock(mu_);
  std::vector<std::string> keys;
  for (const auto& [key, e] : entries_) {
    if (e.State == "in_doubt") keys.push_back(key);
  }
  return keys;
}

int64_t Journal::LastCompaction() const {
  std::lock_guard lock(mu_);
  return lastCompaction_;
}

void Journal::Compact() {
  std::lock_guard lock(mu_);
  const int64_t now = EpochNow();
  const int64_t limit = now - static_cast<int64_t>(keepDays_) * 86400;
  const auto dropped = [limit](const JournalEntry& e) {
    return (e.State == "done" || e.State == "retryable" || e.State == "resolved") &&
           e.FinishedEpoch < limit;
  };
  const auto line = [](const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  };
  std::string bytes;
  for (const auto& [order, key] : byOrder_) {
    const JournalEntry& e = entries_.at(key);
    if (e.State == "queued" || dropped(e)) continue;
    bytes += line({{"key", e.Key},
                   {"hash", e.Hash},
                   {"path", e.Path},
                   {"request", e.Request},
                   {"state", "started"},
                   {"at", e.StartedAt},
                   {"ts", e.StartedEpoch}});
    // An entry in doubt keeps the outcome the link answered, when it has one.
    if (e.State == "done" || e.State == "retryable" || (e.State == "in_doubt" && e.Status != 0)) {
      bytes += line({{"key", e.Key},
                     {"hash", e.Hash},
                     {"state", e.State},
                     {"status", e.Status},
                     {"answer", e.Answer},
                     {"at", e.FinishedAt},
                     {"ts", e.FinishedEpoch}});
    } else if (e.State == "resolved") {
      bytes += line({{"key", e.Key},
                     {"hash", e.Hash},
                     {"state", "resolved"},
                     {"resolution", e.Resolution},
                     {"at", e.FinishedAt},
                     {"ts", e.FinishedEpoch}});
    }
  }
  // The new file is written beside the old one: without room for it (and for the appends that
  // follow) the old journal stays as it is.
  const std::string dir = path_.substr(0, path_.find_last_of('/') + 1);
  const uint64_t room = freeSpace_ ? freeSpace_(dir) : FreeBytes(dir.empty() ? "." : dir);
  const uint64_t needed = bytes.size() + kAppendReserve;
  if (room < needed) {
    throw std::runtime_error("the journal '" + path_ +
                             "' is not compacted: " + std::to_string(room) + " bytes free, " +
                             std::to_string(needed) + " needed; it stays in use as it is");
  }
  int fresh = -1;
  try {
    fresh = plat::ReplaceFileKeepingItOpen(path_, bytes);
  } catch (const plat::Exception& e) {
    throw std::runtime_error(plat::AnsiToUtf8(e.Message()) + "; the journal stays in use as it is");
  }
  ::close(fd_);
  fd_ = fresh;
  needNewline_ = false;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (dropped(it->second)) {
      byOrder_.erase(it->second.Order);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  lastCompaction_ = now;
}

size_t Journal::Count() const {
  std::lock_guard lock(mu_);
  return entries_.size();
}

}  // namespace fpd

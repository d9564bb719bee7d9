// SPDX-License-Identifier: Apache-2.0
#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
    e = JournalEntry{};
    e.Key = key;
    e.Hash = line.value("hash", "");
    e.Path = line.value("path", "");
    e.Request = line.contains("request") ? line["request"] : Json(nullptr);
    e.State = "started";
    e.StartedEpoch = ts;
    e.StartedAt = line.value("at", "");
    e.Order = ++order_;
    return;
  }
  const auto it = entries_.find(key);
  if (it == entries_.end()) return;
  JournalEntry& e = it->second;
  if (state == "done") {
    e.State = "done";
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
  const auto it = entries_.find(key);
  if (it == entries_.end()) {
    JournalEntry& e = entries_[key];
    e.Key = key;
    e.Hash = hash;
    e.Path = path;
    e.Request = request;
    e.State = "queued";
    e.Order = ++order_;
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
  if (it != entries_.end() && it->second.State == "queued") entries_.erase(it);
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
  std::lock_guard lock(mu_);
  JournalEntry& e = entries_.at(key);
  const int64_t now = EpochNow();
  // Without its outcome on disk the request counts as in doubt, here as after a restart.
  e.State = "in_doubt";
  Append(Json{{"key", key},
              {"hash", e.Hash},
              {"state", "done"},
              {"status", status},
              {"answer", answer},
              {"at", LocalText(now)},
              {"ts", now}});
  e.State = "done";
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
  std::vector<JournalEntry> all;
  all.reserve(entries_.size());
  for (const auto& [key, e] : entries_) all.push_back(e);
  std::sort(all.begin(), all.end(),
            [](const JournalEntry& a, const JournalEntry& b) { return a.Order > b.Order; });
  if (all.size() > n) all.resize(n);
  return all;
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
  std::vector<const JournalEntry*> kept;
  for (auto it = entries_.begin(); it != entries_.end();) {
    const JournalEntry& e = it->second;
    const bool finished = e.State == "done" || e.State == "resolved";
    if (finished && e.FinishedEpoch < limit) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [key, e] : entries_) {
    if (e.State != "queued") kept.push_back(&e);
  }
  std::sort(kept.begin(), kept.end(),
            [](const JournalEntry* a, const JournalEntry* b) { return a->Order < b->Order; });
  std::string bytes;
  for (const JournalEntry* e : kept) {
    const std::string onDisk = e->State == "in_doubt" ? "started" : e->State;
    bytes += Json{{"key", e->Key},         {"hash", e->Hash},    {"path", e->Path},
                  {"request", e->Request}, {"state", "started"}, {"at", e->StartedAt},
                  {"ts", e->StartedEpoch}}
                 .dump(-1, ' ', false, Json::error_handler_t::replace) +
             "\n";
    if (onDisk == "done") {
      bytes += Json{{"key", e->Key},         {"hash", e->Hash},     {"state", "done"},
                    {"status", e->Status},   {"answer", e->Answer}, {"at", e->FinishedAt},
                    {"ts", e->FinishedEpoch}}
                   .dump(-1, ' ', false, Json::error_handler_t::replace) +
               "\n";
    } else if (onDisk == "resolved") {
      bytes += Json{{"key", e->Key},       {"hash", e->Hash},
                    {"state", "resolved"}, {"resolution", e->Resolution},
                    {"at", e->FinishedAt}, {"ts", e->FinishedEpoch}}
                   .dump(-1, ' ', false, Json::error_handler_t::replace) +
               "\n";
    }
  }
  const std::string tmp = path_ + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) Fail("cannot write the journal", tmp);
  try {
    WriteAll(fd, bytes, tmp);
    if (::fsync(fd) != 0) Fail("cannot flush the journal", tmp);
  } catch (...) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw;
  }
  ::close(fd);
  if (::rename(tmp.c_str(), path_.c_str()) != 0) {
    ::unlink(tmp.c_str());
    Fail("cannot replace the journal", path_);
  }
  const std::string dir = path_.substr(0, path_.find_last_of('/') + 1);
  const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  const int fresh = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fresh < 0) Fail("cannot open the journal", path_);
  ::close(fd_);
  fd_ = fresh;
  needNewline_ = false;
  lastCompaction_ = now;
}

size_t Journal::Count() const {
  std::lock_guard lock(mu_);
  return entries_.size();
}

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
#include "broker_inbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "log.h"

namespace fpd {

namespace fs = std::filesystem;

namespace {

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

bool WriteSynced(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::fsync(fd) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

BrokerInbox::BrokerInbox(std::string dir) : dir_(std::move(dir)) {
  if (dir_.empty()) return;
  std::error_code e;
  fs::create_directories(dir_, e);
  fs::permissions(dir_, fs::perms::owner_all, e);
  // Names go on from the highest one left, so that the order of the jobs holds across starts.
  for (const auto& entry : fs::directory_iterator(dir_, e)) {
    const std::string name = entry.path().stem().string();
    if (entry.path().extension() == ".json" && !name.empty() &&
        name.find_first_not_of("0123456789") == std::string::npos) {
      next_ = std::max<uint64_t>(next_.load(), std::stoull(name));
    }
  }
}

std::string BrokerInbox::Keep(const chain::BrokerMessage& job) {
  if (dir_.empty()) return "";
  char name[32];
  std::snprintf(name, sizeof name, "%020llu.json", static_cast<unsigned long long>(++next_));
  const nlohmann::json kept = {
      {"topic", job.topic},
      {"payload", job.payload},
      {"responseTopic", job.responseTopic},
      {"correlation",
       job.correlation ? nlohmann::json(Hex(*job.correlation)) : nlohmann::json(nullptr)}};
  const std::string path = dir_ + "/" + name, part = path + ".part";
  if (!WriteSynced(part, kept.dump()) || ::rename(part.c_str(), path.c_str()) != 0) {
    ::unlink(part.c_str());
    Log(LogLevel::Warn, "a broker job could not be kept in " + dir_ +
                            ": a stop before its result reaches the broker loses the result");
    return "";
  }
  SyncFolder(dir_);
  return name;
}

void BrokerInbox::Drop(const std::string& name) {
  if (dir_.empty() || name.empty()) return;
  ::unlink((dir_ + "/" + name).c_str());
}

std::vector<std::pair<std::string, chain::BrokerMessage>> BrokerInbox::Left() {
  std::vector<std::pair<std::string, chain::BrokerMessage>> left;
  if (dir_.empty()) return left;
  std::vector<fs::path> files;
  std::error_code e;
  for (const auto& entry : fs::directory_iterator(dir_, e)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
    if (entry.path().extension() == ".part") fs::remove(entry.path(), e);  // never kept
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json kept = nlohmann::json::parse(text.str(), nullptr, false);
    if (!kept.is_object() || !kept.value("topic", nlohmann::json()).is_string() ||
        !kept.value("payload", nlohmann::json()).is_string()) {
      Log(LogLevel::Warn, "an unreadable broker job is dropped: " + file.string());
      fs::remove(file, e);
      continue;
    }
    chain::BrokerMessage m;
    m.topic = kept["topic"];
    m.payload = kept["payload"];
    m.responseTopic = kept.value("responseTopic", "");
    if (kept.value("correlation", nlohmann::json()).is_string()) {
      m.correlation = Bytes(kept["correlation"]);
    }
    left.emplace_back(file.filename().string(), std::move(m));
  }
  return left;
}

}  // namespace fpd

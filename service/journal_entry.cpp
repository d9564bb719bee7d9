// SPDX-License-Identifier: Apache-2.0
#include "journal_entry.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace fpd {

namespace {

constexpr std::array<std::pair<JournalState, std::string_view>, 6> kStates{{
    {JournalState::Queued, "queued"},
    {JournalState::Started, "started"},
    {JournalState::Done, "done"},
    {JournalState::InDoubt, "in_doubt"},
    {JournalState::Resolved, "resolved"},
    {JournalState::Retryable, "retryable"},
}};

uint64_t Fnv(const std::string& s, uint64_t h) {
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string_view StateName(JournalState s) {
  for (const auto& [state, name] : kStates) {
    if (state == s) return name;
  }
  return "unknown";
}

std::optional<JournalState> ParseState(std::string_view name) {
  for (const auto& [state, n] : kStates) {
    if (n == name) return state;
  }
  return std::nullopt;
}

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

std::string LocalTimeText(int64_t epoch) {
  const std::time_t t = static_cast<std::time_t>(epoch);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

}  // namespace fpd

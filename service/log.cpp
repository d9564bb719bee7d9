// SPDX-License-Identifier: Apache-2.0
#include "log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace fpd {

namespace {

std::atomic<int> g_level{static_cast<int>(LogLevel::Info)};

// The priorities of the system journal's stream protocol: err, warning, info, debug.
constexpr int kPriority[] = {3, 4, 6, 7};
constexpr const char* kName[] = {"error", "warn", "info", "debug"};

}  // namespace

std::optional<LogLevel> ParseLogLevel(std::string_view name) {
  for (int i = 0; i < 4; ++i) {
    if (name == kName[i]) return static_cast<LogLevel>(i);
  }
  return std::nullopt;
}

void SetLogLevel(LogLevel level) {
  g_level = static_cast<int>(level);
}

bool LogEnabled(LogLevel level) {
  return static_cast<int>(level) <= g_level.load();
}

bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

std::string FormatLogLine(LogLevel level, std::string_view text, bool journal) {
  const int i = static_cast<int>(level);
  std::string line;
  if (journal) {
    line = "<" + std::to_string(kPriority[i]) + ">";
  } else {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S ", &tm);
    line = std::string(buf) + kName[i] + ": ";
  }
  for (const char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  return line;
}

void Log(LogLevel level, std::string_view text) {
  if (!LogEnabled(level)) return;
  static const bool journal = StderrIsJournal();
  static std::mutex mu;
  const std::string line = FormatLogLine(level, text, journal);
  std::lock_guard lock(mu);
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;  // a closed standard error: the line is lost, the service goes on
    done += static_cast<size_t>(n);
  }
}

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3fs", s);
  return buf;
}

std::string LogValue(std::string_view value) {
  bool plain = !value.empty();
  for (const char c : value) plain = plain && c != ' ' && c != '"' && c != '\t' && c != '=';
  if (plain) return std::string(value);
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace fpd

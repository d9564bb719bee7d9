// SPDX-License-Identifier: Apache-2.0
#include "chain/times.h"

#include <ctime>
#include <regex>

namespace chain {

std::optional<long long> EpochSeconds(const std::string& text) {
  static const std::regex kTime(
      R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.\d+)?(Z|([+-])(\d{2}):(\d{2}))$)");
  std::smatch m;
  if (!std::regex_match(text, m, kTime)) return std::nullopt;
  std::tm tm{};
  tm.tm_year = std::stoi(m[1]) - 1900;
  tm.tm_mon = std::stoi(m[2]) - 1;
  tm.tm_mday = std::stoi(m[3]);
  tm.tm_hour = std::stoi(m[4]);
  tm.tm_min = std::stoi(m[5]);
  tm.tm_sec = std::stoi(m[6]);
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 60) {
    return std::nullopt;
  }
  long long seconds = ::timegm(&tm);
  if (m[9].matched) {
    const long long offset = std::stoll(m[10]) * 3600 + std::stoll(m[11]) * 60;
    seconds -= m[9] == "+" ? offset : -offset;
  }
  return seconds;
}

std::string UtcText(std::chrono::system_clock::time_point t) {
  const std::time_t s = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  ::gmtime_r(&s, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace chain

// SPDX-License-Identifier: Apache-2.0
#include "log_retention.h"

#include <cctype>
#include <filesystem>

namespace fpd {

int DriverLogMonth(const std::string& name, int currentYear) {
  // impdebugMMYY.txt: 8 + 4 + 4 characters.
  if (name.size() != 16 || name.compare(0, 8, "impdebug") != 0 || name.compare(12, 4, ".txt") != 0)
    return -1;
  for (size_t i = 8; i < 12; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
  }
  const int mm = (name[8] - '0') * 10 + (name[9] - '0');
  const int yy = (name[10] - '0') * 10 + (name[11] - '0');
  if (mm < 1 || mm > 12) return -1;
  int year = currentYear - currentYear % 100 + yy;
  if (year > currentYear + 1) year -= 100;  // a clock set back a little keeps its logs
  return year * 12 + mm - 1;
}

std::vector<std::string> DeleteOldDriverLogs(const std::string& dir, int months, int year,
                                             int month) {
  std::vector<std::string> deleted;
  const int now = year * 12 + month - 1;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const int m = DriverLogMonth(name, year);
    if (m < 0 || now - m <= months || !it->is_regular_file()) continue;
    std::error_code rm;
    if (std::filesystem::remove(it->path(), rm)) deleted.push_back(name);
  }
  return deleted;
}

}  // namespace fpd

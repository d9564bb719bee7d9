// SPDX-License-Identifier: Apache-2.0
// What a benchmark reads of a running process from /proc: its resident memory.
#pragma once

#include <sys/types.h>

#include <fstream>
#include <string>

namespace benchfigures {

// The resident set of a process, in MiB; 0 when it cannot be read.
inline double ResidentMiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (in >> word) {
    if (word == "VmRSS:") {
      double kib = 0;
      in >> kib;
      return kib / 1024;
    }
  }
  return 0;
}

}  // namespace benchfigures

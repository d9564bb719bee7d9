// SPDX-License-Identifier: Apache-2.0
// Log lines of the sales documents: a prefix and the printer arguments joined by " - ".
#pragma once

#include <vector>

#include "platform/types.h"

namespace arfis {

// prefix + fields joined by " - " (an empty field still takes its place between separators).
inline plat::WideString JoinLog(const plat::WideString& prefix,
                                const std::vector<plat::WideString>& fields) {
  plat::WideString line = prefix;
  bool first = true;
  for (const plat::WideString& f : fields) {
    if (!first) line += u" - ";
    line += f;
    first = false;
  }
  return line;
}

}  // namespace arfis

// Small helpers of the printer stack's line code. Not installed.
#pragma once

#include <cstring>
#include <string>

namespace plat {

// The system's text for an errno value ("No such file or directory").
inline std::string ErrnoText(int err) {
  return std::strerror(err);
}

}  // namespace plat

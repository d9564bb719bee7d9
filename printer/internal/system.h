// SPDX-License-Identifier: Apache-2.0
// Small helpers of the printer stack's line code: the system's text for an errno value, and a
// file descriptor with one owner. Not installed.
#pragma once

#include <unistd.h>

#include <string>
#include <system_error>
#include <utility>

namespace plat {

// The system's text for an errno value ("No such file or directory"); safe from any thread.
inline std::string ErrnoText(int err) {
  return std::error_code(err, std::generic_category()).message();
}

// A file descriptor closed when its owner goes; -1 holds none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes the one held and takes fd.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace plat

// SPDX-License-Identifier: Apache-2.0
// A file descriptor with one owner, closed when the owner goes: the platform's, the printer
// stack's and the programs' code hold every descriptor they open in one.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace plat {

// -1 holds none. Moving hands the descriptor over; copying is not possible.
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
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the one held now, for a caller that checks the close (a write the close may still
  // fail); false with errno set when it failed. Holds none afterwards either way.
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace plat

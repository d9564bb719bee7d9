// SPDX-License-Identifier: Apache-2.0
// The serial link's record of every command it framed, with how each ended: for checks that
// each command ran exactly once. Not installed: hosts have no use for it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"
#include "printer/serial_backend.h"

namespace plat {

enum class SerialBackend::Outcome : uint8_t {
  Pending,
  Answered,
  FromStatus,
  InDoubt,
  Failed,
  Refused,  // the printer answered that it did not run it
};

// One command as framed for the first time: method and fields (Windows-1252), whether the link
// sent it on its own (a status query), and how it ended.
struct SerialBackend::Sent {
  std::string Method;
  std::vector<AnsiString> Fields;
  bool Query = false;
  Outcome End = Outcome::Pending;
};

class SentRecord {
 public:
  using Outcome = SerialBackend::Outcome;
  using Sent = SerialBackend::Sent;

  // Keeps every command the link sends from now on, or stops keeping them.
  static void Keep(SerialBackend& link, bool on) {
    std::lock_guard<std::mutex> lock(link.mu_);
    link.record_ = on;
  }
  static std::vector<Sent> Of(const SerialBackend& link) {
    std::lock_guard<std::mutex> lock(link.mu_);
    return link.sent_;
  }
};

}  // namespace plat

// SPDX-License-Identifier: Apache-2.0
// The jobs the broker door took whose result the broker has not taken yet, one file each in a
// folder of the service's state. A job is kept before the broker gets its acknowledgement and
// dropped once its result is on the broker, so that a service that dies in between (with jobs
// waiting in its queue, or results waiting for the link) takes them again at its next start:
// the journal then runs a job that never started, or answers the result it stored.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "chain/broker_link.h"

namespace fpd {

class BrokerInbox {
 public:
  // An empty folder keeps nothing (a door without a state of its own).
  explicit BrokerInbox(std::string dir);

  // Writes the job to disk and gives its name; empty when it could not be kept (logged).
  std::string Keep(const chain::BrokerMessage& job);
  void Drop(const std::string& name);
  // The jobs kept when this inbox was made, oldest first, with their names.
  std::vector<std::pair<std::string, chain::BrokerMessage>> Left();

 private:
  std::string dir_;
  std::atomic<uint64_t> next_{0};  // jobs are kept from the link's thread and at the start
};

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
// What the fleet knows of every shop's printers: the last status each published on the chain
// link (fiscal/v1/SHOP/PRINTER/status, retained), when it came, and the broker link itself.
// Statuses that do not follow the contract are counted and refused, never shown.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

#include "chain/times.h"

namespace fleet {

using Clock = std::chrono::system_clock;
using Json = nlohmann::json;

class FleetState {
 public:
  // A status message on topic; false with the reason when it breaks the contract. An empty
  // payload (the retained status cleared) forgets the printer.
  bool Apply(const std::string& topic, const std::string& payload, Clock::time_point now,
             std::string& why);
  void BrokerUp(bool up, const std::string& why);

  // The page's data: the link and one object per printer, by shop and printer.
  Json View(Clock::time_point now) const;
  // The Prometheus text exposition of the whole chain, one series per shop and printer.
  std::string Metrics(Clock::time_point now) const;

 private:
  struct Printer {
    bool online = false;
    Json status;      // the last status (online: the whole; offline: the last will or goodbye)
    Json lastOnline;  // the last online status: the printer's state, last Z, keys in doubt
    Clock::time_point seen;  // when the last status came
    std::string since;       // online since, or offline since
    int heartbeatSeconds = 60;
  };
  bool Stale(const Printer& p, Clock::time_point now) const;

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, Printer> printers_;
  bool brokerUp_ = false;
  std::string brokerWhy_ = "not connected yet";
  long long messages_ = 0;
  long long rejected_ = 0;
};

using chain::EpochSeconds;
using chain::UtcText;

}  // namespace fleet

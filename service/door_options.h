// SPDX-License-Identifier: Apache-2.0
// fiscal-printd's options for the chain link: the broker and its credentials (as every program
// on the link takes them), the shop and printer it serves, and the status's heartbeat.
#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "broker_door.h"
#include "chain/broker_options.h"

namespace fpd {

struct BrokerDoorCommandLine {
  chain::BrokerOptions Broker;
  std::string Shop, Printer;
  int HeartbeatSeconds = 60;
};

void AddBrokerDoorOptions(CLI::App& app, BrokerDoorCommandLine& c);

// The door's options; nothing without --broker. A command line that cannot be used (a plain
// broker without --broker-insecure, no shop or printer, a name that is no topic level, ...)
// gives nothing with the reason in error.
std::optional<BrokerDoorOptions> MakeBrokerDoorOptions(const BrokerDoorCommandLine& c,
                                                       std::string& error);

}  // namespace fpd

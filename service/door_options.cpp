// SPDX-License-Identifier: Apache-2.0
#include "door_options.h"

#include "chain/topics.h"
#include "platform/version.h"

namespace fpd {

void AddBrokerDoorOptions(CLI::App& app, BrokerDoorCommandLine& c) {
  chain::AddBrokerOptions(app, c.Broker, /*required=*/false);
  app.add_option("--shop", c.Shop, "with --broker: the shop's account on the broker");
  app.add_option("--printer", c.Printer, "with --broker: this printer's name in the shop");
  app.add_option("--broker-heartbeat", c.HeartbeatSeconds,
                 "seconds between the status's publications on the broker")
      ->capture_default_str()
      ->check(CLI::Range(1, 86400));
}

std::optional<BrokerDoorOptions> MakeBrokerDoorOptions(const BrokerDoorCommandLine& c,
                                                       std::string& error) {
  error.clear();
  if (c.Broker.url.empty()) {
    if (!c.Shop.empty() || !c.Printer.empty()) error = "--shop and --printer go with --broker";
    return std::nullopt;
  }
  if (c.Shop.empty() || c.Printer.empty()) {
    error = "--broker needs --shop and --printer";
    return std::nullopt;
  }
  for (const auto* name : {&c.Shop, &c.Printer}) {
    if (!chain::ValidLevel(*name)) {
      error = (name == &c.Shop ? "--shop" : "--printer") + std::string(" \"") + *name +
              "\": 1 to 64 letters, digits and _.-, starting with a letter or digit";
      return std::nullopt;
    }
  }
  // The door names its own client (fiscal-printd/SHOP/PRINTER).
  auto settings = chain::MakeBrokerSettings(c.Broker, "", error);
  if (!settings) return std::nullopt;
  return BrokerDoorOptions{std::move(*settings), c.Shop,         c.Printer,
                           c.HeartbeatSeconds,   FISCAL_VERSION, ""};
}

}  // namespace fpd

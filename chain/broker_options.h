// SPDX-License-Identifier: Apache-2.0
// The command-line options that name the chain's broker and the credentials for it, the same
// for every program on the chain link: --broker, --broker-ca, --broker-cert and --broker-key,
// or --broker-user and --broker-password-file, and --broker-insecure for a plain-TCP broker.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "chain/broker_link.h"

namespace chain {

struct BrokerOptions {
  std::string url;
  std::string ca;
  std::string cert;
  std::string key;
  std::string user;
  std::string passwordFile;
  bool insecure = false;
};

// required: --broker must be given (a program that does nothing without the broker).
void AddBrokerOptions(CLI::App& app, BrokerOptions& options, bool required = true);

// The settings the options give, or nothing with the reason in error: a broker address that
// is not mqtts://HOST[:PORT] (or mqtt:// with --broker-insecure), half a certificate, a login
// without its password file, or a password file that others may read or that is empty.
std::optional<BrokerSettings> MakeBrokerSettings(const BrokerOptions& options,
                                                 const std::string& clientId, std::string& error);

}  // namespace chain

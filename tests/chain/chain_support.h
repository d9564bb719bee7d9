// SPDX-License-Identifier: Apache-2.0
// What the chain link's tests share: the log of every message they saw or made, checked
// against the link's schemas when the test program ends, and an account's link settings.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "chain/broker_link.h"
#include "tests/service/service_process.h"
#include "tests/support/broker/broker.h"

namespace chaintest {

// Every message of the link a test saw or made, checked against the link's schemas when the
// test program ends: "TOPIC<TAB>PAYLOAD" per line for tests/support/broker/contract.py.
class ContractLog : public ::testing::Environment {
 public:
  static ContractLog& Get() {
    static ContractLog* log =
        static_cast<ContractLog*>(::testing::AddGlobalTestEnvironment(new ContractLog));
    return *log;
  }
  void Add(const std::string& topic, const std::string& payload) {
    std::lock_guard lock(mu_);
    if (!payload.empty()) out_ << topic << '\t' << payload << '\n' << std::flush;
    added_ = true;
  }
  void TearDown() override {
    if (!added_) return;
    const auto check = servicetest::Shell(
        std::string(FISCAL_CHAIN_PYTHON) +
        " -B " FISCAL_SOURCE_DIR "/tests/support/broker/contract.py " + path_.string());
    EXPECT_EQ(check.exitCode, 0) << check.output;
    std::filesystem::remove(path_);
  }

 private:
  ContractLog()
      : path_(std::filesystem::temp_directory_path() /
              ("chain-contract-" + std::to_string(::getpid()) + ".tsv")),
        out_(path_, std::ios::trunc) {}
  std::mutex mu_;
  std::filesystem::path path_;
  std::ofstream out_;
  bool added_ = false;
};
inline const ContractLog& kContract = ContractLog::Get();  // registered before the tests run

inline chain::BrokerSettings Account(const brokertest::Broker& b, const std::string& name,
                                     int port = 0) {
  chain::BrokerSettings s;
  s.host = "localhost";
  s.port = port ? port : b.Port("cert");
  s.ca = b.Ca();
  s.cert = b.Account(name)["cert"];
  s.key = b.Account(name)["key"];
  s.clientId = name + "-test-" + std::to_string(::getpid());
  return s;
}

}  // namespace chaintest

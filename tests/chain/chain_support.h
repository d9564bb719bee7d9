// SPDX-License-Identifier: Apache-2.0
// What the chain link's tests share: the log of every message they saw or made, checked
// against the link's schemas when the test program ends, an account's link settings, and the
// chain's cloud as a test drives it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// The chain's cloud in a test: one link that publishes jobs and keeps, in order, every message
// it reads on its subscriptions (each also logged for the schema check).
class TestCloud {
 public:
  using Messages = std::vector<chain::BrokerMessage>;
  TestCloud(chain::BrokerSettings settings, std::vector<std::string> subscriptions)
      : link_(
            std::move(settings), std::move(subscriptions),
            [this](const chain::BrokerMessage& m) {
              ContractLog::Get().Add(m.topic, m.payload);
              std::lock_guard lock(mu_);
              seen_.push_back(m);
              cv_.notify_all();
            },
            nullptr) {
    link_.Start();
  }
  // Waits for the link to come up (its subscriptions are then made before what it publishes).
  bool AwaitUp() {
    for (int i = 0; i < 400 && !link_.Up(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return link_.Up();
  }
  bool Publish(const chain::BrokerMessage& m) { return link_.Publish(m); }
  bool Flush(std::chrono::seconds timeout) { return link_.Flush(timeout); }
  // The messages read so far once they pass the test, or when the timeout ends.
  Messages Await(const std::function<bool(const Messages&)>& done, std::chrono::seconds timeout) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return done(seen_); });
    return seen_;
  }

 private:
  chain::BrokerLink link_;
  std::mutex mu_;
  std::condition_variable cv_;
  Messages seen_;
};

}  // namespace chaintest

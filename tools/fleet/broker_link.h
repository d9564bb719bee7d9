// SPDX-License-Identifier: Apache-2.0
// A program's link to the chain's MQTT broker, on libmosquitto: TLS that verifies the broker's
// certificate and host name, a client certificate or a login, MQTT 5, and a connection kept up
// by itself (reconnects with exponential back-off and jitter, subscriptions made again).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace fleet {

// Where the broker is and how to log in; made from the command line (broker_options.h).
struct BrokerSettings {
  std::string host;
  int port = 8883;
  bool tls = true;   // false: plain TCP, allowed only with --broker-insecure
  std::string ca;    // the chain's CA; empty: the system's CAs
  std::string cert;  // a client certificate and its key, or none
  std::string key;
  std::string user;      // a login, or none
  std::string password;  // read from the password file
  std::string clientId;
};

class BrokerLink {
 public:
  // Called on the link's thread for each message: its topic and payload.
  using OnMessage = std::function<void(const std::string& topic, const std::string& payload)>;
  // Called on the link's thread when the link comes up (true) or goes down (false, why).
  using OnState = std::function<void(bool up, const std::string& why)>;

  BrokerLink(BrokerSettings settings, std::vector<std::string> subscriptions, OnMessage onMessage,
             OnState onState);
  ~BrokerLink();  // Stop()
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  // Starts the link's thread, which connects and keeps the link up until Stop(). Raises
  // std::runtime_error when the settings cannot be used (a file the TLS layer cannot read).
  void Start();
  void Stop();

 private:
  void Run();
  void Down(const std::string& why);

  BrokerSettings settings_;
  std::vector<std::string> subscriptions_;
  OnMessage onMessage_;
  OnState onState_;
  mosquitto* mosq_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> up_{false};
  bool refused_ = false;  // the broker refused the last connection (the link's thread only)
};

}  // namespace fleet

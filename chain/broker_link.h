// SPDX-License-Identifier: Apache-2.0
// A program's link to the chain's MQTT broker, on libmosquitto: TLS that verifies the broker's
// certificate and host name, a client certificate or a login, MQTT 5, and a connection kept up
// by itself (reconnects with exponential back-off and jitter, subscriptions made again). A
// link may keep its session on the broker (QoS 1 messages wait there while it is away), leave
// a last will, and publish with MQTT 5 properties; a QoS 1 message it publishes is kept and
// sent again after a reconnect until the broker takes it.
//
// A QoS 1 message received is acknowledged to the broker only after OnMessage returns: a
// program that must store a message before the broker forgets it stores it inside OnMessage.
// (libmosquitto acknowledges before the callback unless it is told that the program runs its
// loop on a thread of its own, which this link does.)
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace chain {

// A message as it travels, with the MQTT 5 properties the chain link uses.
struct BrokerMessage {
  std::string topic;
  std::string payload;
  int qos = 1;
  bool retain = false;
  std::string responseTopic;               // empty: none
  std::optional<std::string> correlation;  // Correlation Data (bytes)
  std::string contentType;                 // empty: none
  bool utf8 = false;                       // Payload Format Indicator 1: UTF-8 text
};

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
  // 0: a new session at every connection. Otherwise the session is kept (clean start off) and
  // the broker keeps it, with the QoS 1 messages for it, this long after the link goes.
  uint32_t sessionExpirySeconds = 0;
  // Published by the broker when the link ends without a goodbye.
  std::optional<BrokerMessage> will;
};

class BrokerLink {
 public:
  // Called on the link's thread for each message.
  using OnMessage = std::function<void(const BrokerMessage& message)>;
  // Called on the link's thread when the link comes up (true) or goes down (false, why).
  using OnState = std::function<void(bool up, const std::string& why)>;
  // Called on the link's thread when the broker took a QoS 1 message (taken) or refused it.
  using OnDelivered = std::function<void(int id, bool taken)>;

  BrokerLink(BrokerSettings settings, std::vector<std::string> subscriptions, OnMessage onMessage,
             OnState onState, OnDelivered onDelivered = nullptr);
  ~BrokerLink();  // Stop()
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  // Starts the link's thread, which connects and keeps the link up until Stop(). Raises
  // std::runtime_error when the settings cannot be used (a file the TLS layer cannot read).
  void Start();
  // Says goodbye to the broker (which then drops the last will) and ends the link.
  void Stop();

  // Publishes from any thread, the link up or not: a QoS 1 message is kept until the broker
  // takes it (told to OnDelivered), through reconnections. False when the message cannot be
  // sent at all (why says so).
  bool Publish(const BrokerMessage& message, std::string* why = nullptr);
  // Waits until the broker took every QoS 1 message published so far; false after timeout.
  bool Flush(std::chrono::milliseconds timeout);
  size_t Unconfirmed() const;
  bool Up() const { return up_; }

 private:
  void Run();
  void Down(const std::string& why);
  void Delivered(int id, bool taken);
  bool Send(const BrokerMessage& message, std::string* why);  // with mutex_ held
  void Connecting();
  void Connected();

  BrokerSettings settings_;
  std::vector<std::string> subscriptions_;
  OnMessage onMessage_;
  OnState onState_;
  OnDelivered onDelivered_;
  mosquitto* mosq_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> up_{false};
  bool refused_ = false;  // the broker refused the last connection (the link's thread only)
  // Publications wait here while the link connects: libmosquitto loses a message published
  // from another thread while it connects, so none is handed to it then.
  mutable std::mutex mutex_;
  bool connecting_ = true;
  std::vector<BrokerMessage> outbox_;
  std::condition_variable confirmed_;
  std::set<int> unconfirmed_;  // QoS 1 messages the broker has not taken yet
};

}  // namespace chain

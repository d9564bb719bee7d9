// SPDX-License-Identifier: Apache-2.0
#include "tools/fleet/broker_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <random>
#include <stdexcept>

namespace fleet {

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 60000;

struct Library {
  Library() { mosquitto_lib_init(); }
  ~Library() { mosquitto_lib_cleanup(); }
};

void Check(int rc, const char* what) {
  if (rc != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error(std::string(what) + ": " + mosquitto_strerror(rc));
  }
}

}  // namespace

BrokerLink::BrokerLink(BrokerSettings settings, std::vector<std::string> subscriptions,
                       OnMessage onMessage, OnState onState)
    : settings_(std::move(settings)),
      subscriptions_(std::move(subscriptions)),
      onMessage_(std::move(onMessage)),
      onState_(std::move(onState)) {}

BrokerLink::~BrokerLink() {
  Stop();
}

void BrokerLink::Start() {
  static Library library;
  mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
  if (mosq_ == nullptr) throw std::runtime_error("cannot make an MQTT client");
  Check(mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5), "MQTT 5");
  if (settings_.tls) {
    // The broker's certificate and host name are checked against the chain's CA, or the
    // system's CAs when none is given.
    const char* ca = settings_.ca.empty() ? nullptr : settings_.ca.c_str();
    Check(mosquitto_tls_set(mosq_, ca, ca ? nullptr : "/etc/ssl/certs",
                            settings_.cert.empty() ? nullptr : settings_.cert.c_str(),
                            settings_.key.empty() ? nullptr : settings_.key.c_str(), nullptr),
          "the TLS files");
    Check(mosquitto_tls_insecure_set(mosq_, false), "TLS host name check");
  }
  if (!settings_.user.empty()) {
    Check(mosquitto_username_pw_set(mosq_, settings_.user.c_str(), settings_.password.c_str()),
          "the login");
  }
  mosquitto_connect_v5_callback_set(mosq_, [](mosquitto* m, void* self, int rc, int,
                                              const mosquitto_property*) {
    auto* link = static_cast<BrokerLink*>(self);
    if (rc != 0) {
      link->refused_ = true;
      link->Down(std::string("the broker refused the connection: ") + mosquitto_reason_string(rc));
      return;
    }
    for (const auto& topic : link->subscriptions_) {
      mosquitto_subscribe(m, nullptr, topic.c_str(), 1);
    }
    link->up_ = true;
    if (link->onState_) link->onState_(true, "");
  });
  mosquitto_message_v5_callback_set(
      mosq_, [](mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property*) {
        auto* link = static_cast<BrokerLink*>(self);
        link->onMessage_(msg->topic,
                         std::string(static_cast<const char*>(msg->payload),
                                     msg->payload ? static_cast<size_t>(msg->payloadlen) : 0));
      });
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void BrokerLink::Down(const std::string& why) {
  if (onState_) onState_(false, why);
  up_ = false;
}

void BrokerLink::Run() {
  std::mt19937 random(std::random_device{}());
  int delayMs = kFirstDelayMs;
  bool connectedOnce = false;
  bool socketOpen = false;
  while (!stop_) {
    if (!socketOpen) {
      const int rc = connectedOnce
                         ? mosquitto_reconnect(mosq_)
                         : mosquitto_connect_bind_v5(mosq_, settings_.host.c_str(), settings_.port,
                                                     kKeepAliveSeconds, nullptr, nullptr);
      connectedOnce = true;
      socketOpen = rc == MOSQ_ERR_SUCCESS;
      if (!socketOpen) {
        Down(std::string("cannot reach the broker: ") +
             (rc == MOSQ_ERR_ERRNO ? "connection failed" : mosquitto_strerror(rc)));
      }
    }
    if (socketOpen) {
      const bool wasUp = up_;
      const int rc = mosquitto_loop(mosq_, 1000, 1);
      if (up_ && !wasUp) delayMs = kFirstDelayMs;  // a link that came up starts afresh
      if (rc == MOSQ_ERR_SUCCESS) continue;
      socketOpen = false;
      // A refusal was told by the connection callback; anything else is told here.
      if (up_ || !refused_) Down(std::string("link lost: ") + mosquitto_strerror(rc));
      refused_ = false;
    }
    // Back-off with jitter: between half the delay and the whole of it, then twice as long.
    std::uniform_int_distribution<int> spread(delayMs / 2, delayMs);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(spread(random));
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    delayMs = std::min(delayMs * 2, kLongestDelayMs);
  }
}

void BrokerLink::Stop() {
  if (mosq_ == nullptr) return;
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  mosquitto_disconnect(mosq_);
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
}

}  // namespace fleet

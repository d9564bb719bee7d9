// SPDX-License-Identifier: Apache-2.0
#include "chain/broker_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>

namespace chain {

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 60000;
constexpr int kGoodbyeMs = 2000;  // to send the goodbye at a stop

struct Library {
  Library() { mosquitto_lib_init(); }
  ~Library() { mosquitto_lib_cleanup(); }
};

void Check(int rc, const char* what) {
  if (rc != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error(std::string(what) + ": " + mosquitto_strerror(rc));
  }
}

struct Properties {
  mosquitto_property* list = nullptr;
  ~Properties() { mosquitto_property_free_all(&list); }
};

// The MQTT 5 properties of an outgoing message.
void AddProperties(Properties& p, const BrokerMessage& m) {
  if (!m.contentType.empty()) {
    mosquitto_property_add_string(&p.list, MQTT_PROP_CONTENT_TYPE, m.contentType.c_str());
  }
  if (m.utf8) mosquitto_property_add_byte(&p.list, MQTT_PROP_PAYLOAD_FORMAT_INDICATOR, 1);
  if (!m.responseTopic.empty()) {
    mosquitto_property_add_string(&p.list, MQTT_PROP_RESPONSE_TOPIC, m.responseTopic.c_str());
  }
  if (m.correlation) {
    mosquitto_property_add_binary(&p.list, MQTT_PROP_CORRELATION_DATA, m.correlation->data(),
                                  static_cast<uint16_t>(m.correlation->size()));
  }
}

std::string ReadString(const mosquitto_property* props, int id) {
  char* value = nullptr;
  if (!mosquitto_property_read_string(props, id, &value, false) || value == nullptr) return "";
  std::string text(value);
  std::free(value);
  return text;
}

BrokerMessage Received(const mosquitto_message* msg, const mosquitto_property* props) {
  BrokerMessage m;
  m.topic = msg->topic;
  if (msg->payload != nullptr) {
    m.payload.assign(static_cast<const char*>(msg->payload), static_cast<size_t>(msg->payloadlen));
  }
  m.qos = msg->qos;
  m.retain = msg->retain;
  m.responseTopic = ReadString(props, MQTT_PROP_RESPONSE_TOPIC);
  m.contentType = ReadString(props, MQTT_PROP_CONTENT_TYPE);
  void* data = nullptr;
  uint16_t length = 0;
  if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
    m.correlation = std::string(static_cast<const char*>(data), length);
    std::free(data);
  }
  uint8_t format = 0;
  if (mosquitto_property_read_byte(props, MQTT_PROP_PAYLOAD_FORMAT_INDICATOR, &format, false)) {
    m.utf8 = format == 1;
  }
  return m;
}

}  // namespace

BrokerLink::BrokerLink(BrokerSettings settings, std::vector<std::string> subscriptions,
                       OnMessage onMessage, OnState onState, OnDelivered onDelivered)
    : settings_(std::move(settings)),
      subscriptions_(std::move(subscriptions)),
      onMessage_(std::move(onMessage)),
      onState_(std::move(onState)),
      onDelivered_(std::move(onDelivered)) {}

BrokerLink::~BrokerLink() {
  Stop();
}

void BrokerLink::Start() {
  static Library library;
  const bool keepSession = settings_.sessionExpirySeconds > 0;
  mosq_ = mosquitto_new(settings_.clientId.c_str(), !keepSession, this);
  if (mosq_ == nullptr) throw std::runtime_error("cannot make an MQTT client");
  // The loop runs on the link's own thread: libmosquitto then sends what it queues (the
  // acknowledgement of a QoS 1 message among it) from that loop, after the callback returned,
  // and takes publications from other threads.
  Check(mosquitto_threaded_set(mosq_, true), "threads");
  Check(mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5), "MQTT 5");
  // A job's acknowledgement and its result go out one after the other: without this the
  // result would wait for the broker's delayed acknowledgement of the first (some 40 ms).
  Check(mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1), "TCP_NODELAY");
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
  if (settings_.will) {
    const BrokerMessage& w = *settings_.will;
    Properties p;
    AddProperties(p, w);
    Check(mosquitto_will_set_v5(mosq_, w.topic.c_str(), static_cast<int>(w.payload.size()),
                                w.payload.data(), w.qos, w.retain, p.list),
          "the last will");
    p.list = nullptr;  // the will owns them now
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
    link->Connected();
    link->up_ = true;
    if (link->onState_) link->onState_(true, "");
  });
  mosquitto_message_v5_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* msg,
                                              const mosquitto_property* props) {
    static_cast<BrokerLink*>(self)->onMessage_(Received(msg, props));
  });
  mosquitto_publish_v5_callback_set(
      mosq_, [](mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
        static_cast<BrokerLink*>(self)->Delivered(mid, reason < 0x80);
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
  Properties connect;
  if (settings_.sessionExpirySeconds > 0) {
    mosquitto_property_add_int32(&connect.list, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                 settings_.sessionExpirySeconds);
  }
  while (!stop_) {
    if (!socketOpen) {
      Connecting();
      const int rc = connectedOnce
                         ? mosquitto_reconnect(mosq_)
                         : mosquitto_connect_bind_v5(mosq_, settings_.host.c_str(), settings_.port,
                                                     kKeepAliveSeconds, nullptr, connect.list);
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
  if (socketOpen && up_) {
    // The goodbye goes out from this loop: the broker then forgets the last will.
    mosquitto_disconnect_v5(mosq_, 0, nullptr);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGoodbyeMs);
    while (std::chrono::steady_clock::now() < until &&
           mosquitto_loop(mosq_, 100, 1) == MOSQ_ERR_SUCCESS) {
    }
    up_ = false;
  }
}

void BrokerLink::Stop() {
  if (mosq_ == nullptr) return;
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);  // no publication goes on meanwhile
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  outbox_.clear();
}

void BrokerLink::Connecting() {
  std::lock_guard lock(mutex_);
  connecting_ = true;
}

void BrokerLink::Connected() {
  std::lock_guard lock(mutex_);
  connecting_ = false;
  for (const auto& m : outbox_) Send(m, nullptr);
  outbox_.clear();
}

bool BrokerLink::Publish(const BrokerMessage& m, std::string* why) {
  std::lock_guard lock(mutex_);
  if (mosq_ == nullptr) {
    if (why) *why = "the link is not started, or stopped";
    return false;
  }
  if (connecting_) {
    outbox_.push_back(m);
    return true;
  }
  return Send(m, why);
}

bool BrokerLink::Send(const BrokerMessage& m, std::string* why) {
  Properties p;
  AddProperties(p, m);
  int mid = 0;
  const int rc =
      mosquitto_publish_v5(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                           m.payload.data(), m.qos, m.retain, p.list);
  // Without a connection libmosquitto keeps a QoS 1 message and sends it after the reconnect.
  const bool kept = rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && m.qos > 0 && mid != 0);
  if (!kept) {
    if (why) *why = mosquitto_strerror(rc);
    return false;
  }
  if (m.qos > 0) unconfirmed_.insert(mid);
  return true;
}

void BrokerLink::Delivered(int id, bool taken) {
  {
    std::lock_guard lock(mutex_);
    unconfirmed_.erase(id);
  }
  confirmed_.notify_all();
  if (onDelivered_) onDelivered_(id, taken);
}

bool BrokerLink::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return confirmed_.wait_for(lock, timeout,
                             [this] { return unconfirmed_.empty() && outbox_.empty(); });
}

size_t BrokerLink::Unconfirmed() const {
  std::lock_guard lock(mutex_);
  return unconfirmed_.size() + outbox_.size();
}

}  // namespace chain

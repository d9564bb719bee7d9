// SPDX-License-Identifier: Apache-2.0
// A chain's MQTT broker for C++ tests: tests/support/broker/broker.py run as a helper process.
// It starts Debian's mosquitto on free loopback ports with a CA, certificates, passwords and
// the chain link's access rules made in a temporary folder, and stops it all when this object
// goes (or when the test program dies). Relays cut and restore a client's connection; fake
// shops publish a status per the contract (checked against its schema before it is sent).
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace brokertest {

using Json = nlohmann::json;

class Broker {
 public:
  // shops: the accounts of shops, beside "cloud" and "fleet"; plain adds a plain-TCP listener.
  // Raises std::runtime_error when the broker does not start (with what the helper said).
  explicit Broker(std::vector<std::string> shops, bool plain = false);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // "mqtts://localhost:PORT" of a listener: "cert" (client certificates), "password" (TLS and
  // a login) or "plain" ("mqtt://", a login).
  std::string Url(const std::string& listener = "cert") const;
  int Port(const std::string& listener) const;
  std::string Ca() const { return info_["ca"]; }            // the chain's CA
  std::string OtherCa() const { return info_["otherCa"]; }  // a CA the broker knows nothing of
  // An account's "cert", "key", "user", "password" and "password_file" (mode 0600).
  Json Account(const std::string& name) const { return info_["accounts"].at(name); }

  void Restart();  // stopped (its data saved) and started on the same ports
  // A relay to a listener; gives its id and sets port to where clients connect instead.
  std::string Relay(const std::string& listener, int& port);
  void Cut(const std::string& relay);      // drops its connections and refuses new ones
  void Restore(const std::string& relay);  // takes connections again
  // A fake shop's printer online with this status (the shop and printer members are its
  // own), and dropped without a goodbye, so that the broker publishes its last will.
  void ShopUp(const Json& status);
  void ShopDown(const std::string& shop, const std::string& printer);

 private:
  Json Command(const std::string& line);
  Json ReadLine(int timeoutMs);
  std::string dir_;
  std::string pending_;
  Json info_;
  pid_t pid_ = -1;
  int in_ = -1;   // the helper's standard input
  int out_ = -1;  // its standard output
};

}  // namespace brokertest

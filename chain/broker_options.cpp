// SPDX-License-Identifier: Apache-2.0
#include "chain/broker_options.h"

#include <sys/stat.h>

#include <fstream>
#include <regex>

namespace chain {

void AddBrokerOptions(CLI::App& app, BrokerOptions& o, bool required) {
  app.add_option("--broker", o.url, "the chain's broker: mqtts://HOST[:PORT] (port 8883)")
      ->required(required);
  app.add_option("--broker-ca", o.ca,
                 "the chain's CA certificate, which vouches for the broker (default: the "
                 "system's CAs)");
  app.add_option("--broker-cert", o.cert, "this program's client certificate");
  app.add_option("--broker-key", o.key, "the key of --broker-cert");
  app.add_option("--broker-user", o.user, "the login's user name");
  app.add_option("--broker-password-file", o.passwordFile,
                 "a file holding the login's password, readable only by this program's user");
  app.add_flag("--broker-insecure", o.insecure,
               "allow a plain-TCP broker (mqtt://): the link is then readable on the network");
}

std::optional<BrokerSettings> MakeBrokerSettings(const BrokerOptions& o,
                                                 const std::string& clientId, std::string& error) {
  static const std::regex kUrl(
      R"(^(mqtts?)://([A-Za-z0-9.-]+|\[[0-9A-Fa-f:.]+\])(:([0-9]{1,5}))?$)");
  std::smatch m;
  if (!std::regex_match(o.url, m, kUrl)) {
    error = "--broker: expected mqtts://HOST[:PORT], got \"" + o.url + "\"";
    return std::nullopt;
  }
  BrokerSettings s;
  s.tls = m[1] == "mqtts";
  s.host = m[2].str();
  if (s.host.front() == '[') s.host = s.host.substr(1, s.host.size() - 2);
  s.port = m[4].matched ? std::stoi(m[4].str()) : (s.tls ? 8883 : 1883);
  if (s.port < 1 || s.port > 65535) {
    error = "--broker: the port must be 1 to 65535";
    return std::nullopt;
  }
  if (!s.tls && !o.insecure) {
    error = "--broker " + o.url +
            " is plain TCP: use mqtts://, or give --broker-insecure to accept a link that "
            "anyone on the network can read";
    return std::nullopt;
  }
  if (s.tls && o.insecure) {
    error =
        "--broker-insecure allows a plain mqtt:// broker; it does not turn off the checks "
        "of mqtts://";
    return std::nullopt;
  }
  if (o.cert.empty() != o.key.empty()) {
    error = "--broker-cert and --broker-key go together";
    return std::nullopt;
  }
  if (o.user.empty() != o.passwordFile.empty()) {
    error = "--broker-user and --broker-password-file go together";
    return std::nullopt;
  }
  for (const auto* file : {&o.ca, &o.cert, &o.key}) {
    if (!file->empty() && !std::ifstream(*file)) {
      error = "cannot read " + *file;
      return std::nullopt;
    }
  }
  if (!o.passwordFile.empty()) {
    struct stat st {};
    std::ifstream in(o.passwordFile);
    if (::stat(o.passwordFile.c_str(), &st) != 0 || !in) {
      error = "cannot read the password file " + o.passwordFile;
      return std::nullopt;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
      error = "the password file " + o.passwordFile +
              " may be read by others: chmod 600 it (and keep it owned by this program's user)";
      return std::nullopt;
    }
    std::getline(in, s.password);
    if (!s.password.empty() && s.password.back() == '\r') s.password.pop_back();
    if (s.password.empty()) {
      error = "the password file " + o.passwordFile + " is empty";
      return std::nullopt;
    }
  }
  s.ca = o.ca;
  s.cert = o.cert;
  s.key = o.key;
  s.user = o.user;
  s.clientId = clientId;
  return s;
}

}  // namespace chain

// SPDX-License-Identifier: Apache-2.0
// fiscal-fleet: every shop's fiscal printers on one page and one /metrics, read from the
// status that each shop's print service keeps retained on the chain's MQTT broker.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <thread>

#include "chain/broker_options.h"
#include "platform/version.h"
#include "program/command_line.h"
#include "tools/fleet/fleet_server.h"

namespace {

void Log(const char* level, const std::string& text) {
  std::cerr << "fiscal-fleet: " << level << ": " << text << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Shows every shop's fiscal printers from the chain's MQTT broker: a page and "
      "/metrics.",
      "fiscal-fleet");
  chain::BrokerOptions broker;
  chain::AddBrokerOptions(app, broker);
  std::string listen = "127.0.0.1:8530";
  std::string tokenFile;
  char host[256] = "host";
  ::gethostname(host, sizeof host - 1);
  std::string clientId = std::string("fiscal-fleet-") + host + "-" + std::to_string(::getpid());
  app.add_option("--listen", listen,
                 "HOST:PORT of the page and /metrics (port 0: a free one); any host but "
                 "127.0.0.1 or ::1 needs --token-file")
      ->capture_default_str();
  app.add_option("--token-file", tokenFile,
                 "a file holding the token that /v1/fleet and /metrics need (Authorization: "
                 "Bearer TOKEN); the page takes it as #token=TOKEN");
  app.add_option("--client-id", clientId, "the MQTT client's name")
      ->default_str("fiscal-fleet-HOST-PID");
  if (auto code = cli::Parse(app, argc, argv)) return *code;

  auto usage = [](const std::string& why) {
    std::cerr << "fiscal-fleet: " << why << "\n";
    return cli::kUsage;
  };
  std::string error;
  const auto settings = chain::MakeBrokerSettings(broker, clientId, error);
  if (!settings) return usage(error);
  static const std::regex kListen(R"(^(\[([0-9A-Fa-f:.]+)\]|([^:\[\]]+)):([0-9]{1,5})$)");
  std::smatch m;
  if (!std::regex_match(listen, m, kListen) || std::stoi(m[4]) > 65535) {
    return usage("--listen: expected HOST:PORT, got \"" + listen + "\"");
  }
  const std::string listenHost = m[2].matched ? m[2].str() : m[3].str();
  std::string token;
  if (!tokenFile.empty()) {
    std::ifstream in(tokenFile);
    std::getline(in, token);
    token = std::regex_replace(token, std::regex(R"(^\s+|\s+$)"), "");
    if (!in && token.empty()) return usage("cannot read the token file " + tokenFile);
    if (token.empty()) return usage("the token file " + tokenFile + " is empty");
  }
  if (listenHost != "127.0.0.1" && listenHost != "::1" && token.empty()) {
    return usage("--listen " + listen + " reaches beyond this computer: give --token-file");
  }

  // SIGINT and SIGTERM are taken by one thread, which stops the server.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  fleet::FleetState state;
  fleet::FleetServer server(state, listenHost, token);
  const int port = server.Bind(std::stoi(m[4]));
  if (port < 0) return usage("cannot listen on " + listen);
  if (!settings->tls) {
    Log("warn",
        "the broker link is plain TCP (--broker-insecure): anyone on the network "
        "reads it and can pretend to be the broker");
  }
  chain::BrokerLink link(
      *settings, {"fiscal/v1/+/+/status"},
      [&state](const chain::BrokerMessage& m) {
        std::string why;
        if (!state.Apply(m.topic, m.payload, fleet::Clock::now(), why)) {
          Log("warn", "status refused: " + why);
        }
      },
      [&state, url = broker.url](bool up, const std::string& why) {
        state.BrokerUp(up, why);
        Log(up ? "info" : "error", up ? "connected to " + url : why);
      });
  try {
    link.Start();
  } catch (const std::exception& e) {
    return usage(e.what());
  }
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stops, &signal);
    server.Stop();
  });
  const std::string shown =
      listenHost.find(':') != std::string::npos ? "[" + listenHost + "]" : listenHost;
  std::cout << "listening on http://" << shown << ":" << port << std::endl;
  Log("info", "started fiscal-fleet " FISCAL_VERSION " for " + broker.url);
  server.Serve();
  link.Stop();
  // The stopper waits for a signal that may never come when the server ended by itself.
  ::kill(::getpid(), SIGTERM);
  stopper.join();
  Log("info", "stopped");
  return cli::kDone;
}

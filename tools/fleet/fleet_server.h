// SPDX-License-Identifier: Apache-2.0
// The fleet's HTTP side: the page at "/", its data at /v1/fleet, /metrics for Prometheus and
// /healthz. A request must name the listening address in its Host (or localhost on a loopback
// listener), so that no other site's page reads the fleet through a name of its own; with a
// token, /v1/fleet and /metrics need "Authorization: Bearer TOKEN".
#pragma once

#include <httplib.h>

#include <string>

#include "tools/fleet/fleet_state.h"

namespace fleet {

class FleetServer {
 public:
  FleetServer(FleetState& state, std::string host, std::string token);
  // Binds host:port (0: a free port); gives the port, or -1 when it cannot.
  int Bind(int port);
  void Serve();  // until Stop()
  void Stop();

 private:
  bool Allowed(const httplib::Request& req, httplib::Response& res) const;
  FleetState& state_;
  std::string host_;
  std::string token_;
  int port_ = 0;
  httplib::Server server_;
};

}  // namespace fleet

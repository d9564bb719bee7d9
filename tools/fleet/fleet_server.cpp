// SPDX-License-Identifier: Apache-2.0
#include "tools/fleet/fleet_server.h"

#include "tools/fleet/fleet_page.h"

namespace fleet {

namespace {

void Refuse(httplib::Response& res, int status, const std::string& code,
            const std::string& message) {
  res.status = status;
  res.set_content(
      Json{{"error", {{"code", code}, {"message", message}, {"field", nullptr}}}}.dump(),
      "application/json");
}

bool SameInConstantTime(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

FleetServer::FleetServer(FleetState& state, std::string host, std::string token)
    : state_(state), host_(std::move(host)), token_(std::move(token)) {
  server_.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(FleetPageHtml()), "text/html; charset=utf-8");
  });
  server_.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"status":"ok"})", "application/json");
  });
  server_.Get("/v1/fleet", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(state_.View(Clock::now()).dump(), "application/json");
  });
  server_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(state_.Metrics(Clock::now()), "text/plain; version=0.0.4; charset=utf-8");
  });
  server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return Allowed(req, res) ? httplib::Server::HandlerResponse::Unhandled
                             : httplib::Server::HandlerResponse::Handled;
  });
  server_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.status == 404) Refuse(res, 404, "not_found", "no such page");
  });
}

bool FleetServer::Allowed(const httplib::Request& req, httplib::Response& res) const {
  const std::string port = ":" + std::to_string(port_);
  const std::string host = req.get_header_value("Host");
  const bool loopback = host_ == "127.0.0.1" || host_ == "::1";
  const std::string named = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
  const bool anyHost = host_ == "0.0.0.0" || host_ == "::";
  if (!anyHost && (req.get_header_value_count("Host") != 1 ||
                   (host != named + port && !(loopback && host == "localhost" + port)))) {
    Refuse(res, 421, "misdirected", "the Host header does not name this fleet");
    return false;
  }
  const bool holdsData = req.path == "/v1/fleet" || req.path == "/metrics";
  if (holdsData && !token_.empty() &&
      !SameInConstantTime(req.get_header_value("Authorization"), "Bearer " + token_)) {
    Refuse(res, 401, "unauthorized", "this page needs the fleet's token");
    return false;
  }
  return true;
}

int FleetServer::Bind(int port) {
  port_ =
      port == 0 ? server_.bind_to_any_port(host_) : (server_.bind_to_port(host_, port) ? port : -1);
  return port_;
}

void FleetServer::Serve() {
  server_.listen_after_bind();
}
void FleetServer::Stop() {
  server_.stop();
}

}  // namespace fleet

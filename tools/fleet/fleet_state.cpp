// SPDX-License-Identifier: Apache-2.0
#include "tools/fleet/fleet_state.h"

#include <ctime>
#include <regex>

#include "chain/topics.h"

namespace fleet {

namespace {

// A member of a status read without trusting its type.
Json Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  return it == object.end() ? Json(nullptr) : *it;
}

std::string Text(const Json& value) {
  return value.is_string() ? value.get<std::string>() : "";
}

}  // namespace

bool FleetState::Apply(const std::string& topic, const std::string& payload, Clock::time_point now,
                       std::string& why) {
  static const std::regex kTopic("^fiscal/v1/([^/]+)/([^/]+)/status$");
  std::lock_guard<std::mutex> lock(mutex_);
  ++messages_;
  std::smatch m;
  const bool named = std::regex_match(topic, m, kTopic);
  const std::string shop = named ? m[1].str() : "", printer = named ? m[2].str() : "";
  if (!named || !chain::ValidLevel(shop) || !chain::ValidLevel(printer)) {
    why = "not a printer's status topic: " + topic.substr(0, 200);
    ++rejected_;
    return false;
  }
  const auto key = std::make_pair(shop, printer);
  if (payload.empty()) {
    printers_.erase(key);
    return true;
  }
  const Json status = Json::parse(payload, nullptr, false);
  why.clear();
  if (!status.is_object()) {
    why = "not a JSON object";
  } else if (Member(status, "shop") != shop || Member(status, "printer") != printer) {
    why = "its shop and printer are not those of its topic";
  } else if (!Member(status, "online").is_boolean()) {
    why = "online is not true or false";
  }
  if (!why.empty()) {
    why = topic + ": " + why;
    ++rejected_;
    return false;
  }
  Printer& p = printers_[key];
  p.online = status["online"].get<bool>();
  p.status = status;
  p.seen = now;
  if (p.online) {
    p.lastOnline = status;
    p.since = Text(Member(status, "onlineSince"));
    const Json beat = Member(status, "heartbeatSeconds");
    p.heartbeatSeconds = beat.is_number_integer() && beat.get<long long>() > 0
                             ? static_cast<int>(std::min<long long>(beat.get<long long>(), 86400))
                             : 60;
  } else {
    // The last will carries no time: offline since it came.
    const std::string at = Text(Member(status, "at"));
    p.since = EpochSeconds(at) ? at : UtcText(now);
  }
  return true;
}

void FleetState::BrokerUp(bool up, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  brokerUp_ = up;
  brokerWhy_ = why;
}

bool FleetState::Stale(const Printer& p, Clock::time_point now) const {
  // Three heartbeats missed: the service's link is gone and its last will not yet published.
  return p.online && now - p.seen > std::chrono::seconds(3 * p.heartbeatSeconds);
}

Json FleetState::View(Clock::time_point now) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Json printers = Json::array();
  for (const auto& [key, p] : printers_) {
    // The state of a printer whose service is away is not known; its last Z and keys in
    // doubt are the last it told.
    const Json state = p.online ? Member(p.lastOnline, "state") : Json(nullptr);
    const Json paper = Member(state, "paper");
    Json row = {
        {"shop", key.first},
        {"printer", key.second},
        {"online", p.online},
        {"stale", Stale(p, now)},
        {"since", p.since},
        {"lastSeen", UtcText(p.seen)},
        {"reason", Member(p.status, "reason")},
        {"version", Member(Member(p.status, "service"), "version")},
        {"reachable", Member(state, "reachable")},
        {"paper", {{"journal", Member(paper, "journal")}, {"receipt", Member(paper, "receipt")}}},
        {"documentOpen", Member(state, "documentOpen")},
        {"document", Member(state, "document")},
        {"fiscalisation", Member(state, "fiscalisation")},
        {"lastZ", Member(p.lastOnline, "lastZ")},
        {"inDoubtCount", Member(p.lastOnline, "inDoubtCount")},
        {"inDoubt", Member(p.lastOnline, "inDoubt")}};
    printers.push_back(std::move(row));
  }
  return {{"broker", {{"connected", brokerUp_}, {"error", brokerUp_ ? "" : brokerWhy_}}},
          {"at", UtcText(now)},
          {"printers", std::move(printers)}};
}

}  // namespace fleet

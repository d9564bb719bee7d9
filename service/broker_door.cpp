// SPDX-License-Identifier: Apache-2.0
#include "broker_door.h"

#include "chain/times.h"
#include "chain/topics.h"
#include "door_job.h"
#include "door_result.h"
#include "log.h"

namespace fpd {

namespace {

constexpr uint32_t kSessionSeconds = 7 * 24 * 3600;  // jobs wait a week for a shop away
constexpr auto kGoodbye = std::chrono::seconds(3);   // for the results still on their way
constexpr size_t kInDoubtShown = 50;

std::string Now() {
  return chain::UtcText(std::chrono::system_clock::now());
}

Json Offline(const BrokerDoorOptions& o, const std::string& reason) {
  Json s = {{"shop", o.Shop},
            {"printer", o.Printer},
            {"online", false},
            {"reason", reason},
            {"service", {{"version", o.Version}}}};
  if (reason != "lost") s["at"] = Now();  // the last will is written long before it is sent
  return s;
}

chain::BrokerMessage JsonMessage(const std::string& topic, const Json& message, bool retain) {
  chain::BrokerMessage m;
  m.topic = topic;
  m.payload = message.dump();
  m.qos = 1;
  m.retain = retain;
  m.contentType = "application/json";
  m.utf8 = true;
  return m;
}

chain::BrokerSettings LinkSettings(const BrokerDoorOptions& o) {
  chain::BrokerSettings s = o.Settings;
  s.clientId = "fiscal-printd/" + o.Shop + "/" + o.Printer;
  s.sessionExpirySeconds = kSessionSeconds;
  s.will = JsonMessage(chain::Topic(o.Shop, o.Printer, "status"), Offline(o, "lost"), true);
  return s;
}

// The result's topic: the job's response topic when it is one of this printer's result
// topics (the shop may publish nowhere else), else the printer's shared results topic.
std::string ReplyTopic(const std::string& asked, const std::string& results) {
  const std::string own = results + "/";
  if (asked.size() > own.size() && asked.compare(0, own.size(), own) == 0 &&
      asked.find_first_of("+#", own.size()) == std::string::npos) {
    return asked;
  }
  return results;
}

// The status's lastZ from what the service tells: {"number", "at"} or null.
Json LastZ(const Json& z) {
  if (!z.is_object() || !z.value("number", Json()).is_number_integer() || z["number"] < 0) {
    return nullptr;
  }
  const Json at = z.value("at", Json());
  const std::string when = at.is_string() ? LinkTime(at) : "";
  return {{"number", z["number"]}, {"at", when.empty() ? Json() : Json(when)}};
}

}  // namespace

BrokerDoor::BrokerDoor(BrokerDoorOptions options, SubmitJob submit, ResolveKey resolve,
                       StatusNow status)
    : options_(std::move(options)),
      submit_(std::move(submit)),
      resolve_(std::move(resolve)),
      statusNow_(std::move(status)),
      jobs_(chain::Topic(options_.Shop, options_.Printer, "jobs")),
      results_(chain::Topic(options_.Shop, options_.Printer, "results")),
      status_(chain::Topic(options_.Shop, options_.Printer, "status")),
      inbox_(options_.InboxDir),
      link_(
          LinkSettings(options_), {jobs_}, [this](const chain::BrokerMessage& m) { Received(m); },
          [this](bool up, const std::string& why) {
            if (up) {
              Log(LogLevel::Info, "broker link up: fiscal-printd/" + options_.Shop + "/" +
                                      options_.Printer + " takes " + jobs_);
              std::lock_guard lock(mutex_);
              connected_ = true;
              onlineSince_ = Now();
              wake_.notify_all();
            } else {
              Log(LogLevel::Warn, "broker link down: " + why);
            }
          },
          [this](int id, bool taken) {
            if (!taken) {
              Log(LogLevel::Error, "the broker refused message " + std::to_string(id) +
                                       " of the link: its account may not publish there");
            }
            Delivered();
          }) {}

BrokerDoor::~BrokerDoor() {
  Stop();
}

void BrokerDoor::Start() {
  if (!options_.Settings.tls) {
    Log(LogLevel::Warn,
        "the broker link is plain TCP (--broker-insecure): anyone on the network reads the "
        "shop's jobs and can pretend to be the broker");
  }
  const auto left = inbox_.Left();
  link_.Start();
  started_ = true;
  if (!left.empty()) {
    Log(LogLevel::Info, std::to_string(left.size()) +
                            " broker jobs taken before the last stop whose result did not reach "
                            "the broker are handed to the pipeline again");
  }
  for (const auto& [name, job] : left) Received(job, name);
  beat_ = std::thread([this] { Beat(); });
}

void BrokerDoor::Stop() {
  if (!started_.exchange(false)) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (beat_.joinable()) beat_.join();
  if (link_.Up()) Publish(status_, Offline(options_, "stopped"), true);
  if (!link_.Flush(kGoodbye)) {
    Log(LogLevel::Warn, std::to_string(link_.Unconfirmed()) +
                            " messages to the broker were not taken before the stop");
  } else {
    Delivered();
  }
  link_.Stop();
}

void BrokerDoor::On(const Event& e) {
  if (const auto* job = std::get_if<JobEvent>(&e); job && job->What == JobEvent::Kind::Started) {
    return;
  }
  {
    std::lock_guard lock(mutex_);
    changed_ = true;
  }
  wake_.notify_all();
}

bool BrokerDoor::Publish(const std::string& topic, const Json& message, bool retain,
                         const std::optional<std::string>& correlation) {
  chain::BrokerMessage m = JsonMessage(topic, message, retain);
  m.correlation = correlation;
  std::string why;
  if (!link_.Publish(m, &why)) {
    Log(LogLevel::Error, "cannot publish to " + topic + ": " + why);
    return false;
  }
  return true;
}

// Every result published before now is on the broker once nothing waits for the broker: their
// jobs are dropped from the inbox.
void BrokerDoor::Delivered() {
  std::vector<std::string> taken;
  {
    std::lock_guard lock(mutex_);
    if (answered_.empty() || link_.Unconfirmed() != 0) return;
    taken.swap(answered_);
  }
  for (const auto& name : taken) inbox_.Drop(name);
}

void BrokerDoor::Answer(const Json& result, const chain::BrokerMessage& job,
                        const std::string& kept) {
  const std::string outcome = result.value("outcome", "");
  Log(outcome == "done" ? LogLevel::Info : LogLevel::Warn,
      "broker job key=" +
          LogValue(result["key"].is_string() ? result["key"].get<std::string>() : "") +
          " till=" + LogValue(result["till"].is_string() ? result["till"].get<std::string>() : "") +
          " outcome=" + outcome + (result.value("replayed", false) ? " replayed" : "") +
          (result.contains("error") ? " reason=" + LogValue(result["error"].value("message", ""))
                                    : ""));
  if (Publish(ReplyTopic(job.responseTopic, results_), result, false, job.correlation) &&
      !kept.empty()) {
    std::lock_guard lock(mutex_);
    answered_.push_back(kept);
  }
}

void BrokerDoor::Received(const chain::BrokerMessage& m, const std::string& kept) {
  if (m.topic != jobs_) return;
  if (m.retain) {
    // A job left retained on the topic is stale: it was not sent to this service for now.
    Log(LogLevel::Warn, "a retained message on " + jobs_ + " is no job and is ignored (" +
                            std::to_string(m.payload.size()) + " bytes)");
    return;
  }
  const DoorRequest request = ReadDoorJob(m.payload);
  ResultHeader head{options_.Shop, options_.Printer, request.Key, request.Till, request.Operation};
  if (request.Refusal) {
    Answer(DoorRefusal(head, *request.Refusal, Now()), m, "");
    inbox_.Drop(kept);
    return;
  }
  // Kept before the broker gets the acknowledgement, which follows this call.
  const std::string name = kept.empty() ? inbox_.Keep(m) : kept;
  // The answer comes once, on any thread; the job's reply topic and correlation go with it.
  auto once = std::make_shared<std::atomic<bool>>(false);
  DoorDone done = [this, head, m, once, name](DoorAnswer a) {
    if (once->exchange(true)) {
      Log(LogLevel::Error,
          "a second answer to the broker job " + head.Key.get<std::string>() + " is dropped");
      return;
    }
    // An answer in doubt without the printer's state gets the one the status showed last
    // (this may run on the pipeline's thread, which StatusNow must not wait for).
    Json stateNow;
    {
      std::lock_guard lock(mutex_);
      if (shown_.is_object()) stateNow = shown_.value("state", Json());
    }
    Answer(DoorResult(head, a, Now(), stateNow), m, name);
  };
  // A pipeline that raises journaled nothing: the job is answered failed, and the cloud may
  // send it again.
  const auto failed = [&](const std::string& why) {
    if (once->load()) return;
    done({500, {{"error", {{"code", "internal"}, {"message", why}, {"field", nullptr}}}}, false});
  };
  try {
    if (request.Resolve) {
      resolve_(*request.Resolve, done);
    } else {
      submit_(request.Job, done);
    }
  } catch (const std::exception& e) {
    failed(e.what());
  } catch (...) {
    failed("the print pipeline failed without a reason");
  }
}

Json BrokerDoor::Status(const std::string& at, const std::string& since) {
  Json now;
  try {
    now = statusNow_ ? statusNow_() : Json::object();
  } catch (...) {
    Log(LogLevel::Warn, "the service could not tell its status for the broker");
  }
  if (!now.is_object()) now = Json::object();
  Json inDoubt = Json::array();
  const Json keys = now.value("inDoubt", Json::array());
  for (const auto& k : keys.is_array() ? keys : Json::array()) {
    if (inDoubt.size() == kInDoubtShown) break;
    if (!k.is_object() || !k.value("till", Json()).is_string() ||
        !k.value("key", Json()).is_string() || k["till"] == "" || k["key"] == "") {
      continue;  // a key of no till (an earlier version's) is counted, not listed
    }
    Json entry = {{"till", k["till"]}, {"key", k["key"]}};
    const std::string since = k.value("since", Json()).is_string() ? LinkTime(k["since"]) : "";
    if (!since.empty()) entry["since"] = since;
    inDoubt.push_back(entry);
  }
  const Json count = now.value("inDoubtCount", Json());
  return {{"shop", options_.Shop},
          {"printer", options_.Printer},
          {"online", true},
          {"at", at},
          {"onlineSince", since},
          {"heartbeatSeconds", options_.HeartbeatSeconds},
          {"service", {{"version", options_.Version}}},
          {"state", LinkPrinterState(now.value("state", Json::object()))},
          {"lastZ", LastZ(now.value("lastZ", Json()))},
          {"inDoubtCount", count.is_number_unsigned() ? count : Json(keys.size())},
          {"inDoubt", inDoubt}};
}

// The status, published at a connection, when what it shows changed, and as a heartbeat.
void BrokerDoor::Beat() {
  const auto period = std::chrono::seconds(options_.HeartbeatSeconds);
  auto next = std::chrono::steady_clock::now() + period;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_until(lock, next, [this] { return stopping_ || connected_ || changed_; });
    if (stopping_) break;
    const bool beat = connected_ || std::chrono::steady_clock::now() >= next;
    connected_ = changed_ = false;
    if (onlineSince_.empty() || !link_.Up()) {
      next = std::chrono::steady_clock::now() + period;
      continue;
    }
    const std::string since = onlineSince_;
    lock.unlock();
    Json status = Status(Now(), since);
    Json shown = status;
    shown.erase("at");
    lock.lock();
    if (beat || shown != shown_) {
      shown_ = shown;
      lock.unlock();
      Publish(status_, status, true);
      lock.lock();
      next = std::chrono::steady_clock::now() + period;
    }
  }
}

std::shared_ptr<BrokerDoor> MakeBrokerDoor(BrokerDoorOptions options, SubmitJob submit,
                                           ResolveKey resolve, StatusNow status) {
  return std::make_shared<BrokerDoor>(std::move(options), std::move(submit), std::move(resolve),
                                      std::move(status));
}

}  // namespace fpd

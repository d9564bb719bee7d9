// SPDX-License-Identifier: Apache-2.0
#include "server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include "log.h"

namespace fpd {

namespace {

ConnectionLimits LimitsOf(const ServiceOptions& o) {
  ConnectionLimits l;
  l.Total = o.Connections;
  l.PerClient = std::min(o.ClientConnections, o.Connections);
  l.MaxBody = o.MaxBody;
  return l;
}

// Connections kept for the status and journal readers while printing requests wait.
constexpr size_t kReadersReserve = 8;

size_t MostWaiting(const ServiceOptions& o) {
  return o.Connections > kReadersReserve * 2 ? o.Connections - kReadersReserve
                                             : std::max<size_t>(1, o.Connections / 2);
}

}  // namespace

Service::Service(ServiceOptions options) : options_(std::move(options)), http_(LimitsOf(options_)) {
  const std::string& dir = options_.Driver.StateDir;
  ::mkdir(dir.c_str(), 0750);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(dir.c_str(), W_OK) != 0) {
    throw std::runtime_error("the state folder '" + dir + "' cannot be written");
  }
  scheme_ = ToAnsi(Json(options_.Driver.Scheme), "--scheme");
  journal_ =
      std::make_unique<Journal>(JournalOptions{dir, options_.JournalDays, options_.JournalRepair});
  TryPrune();
  session_ = std::make_unique<DriverSession>(options_.Driver);
  owner_ = std::make_unique<DocumentOwner>(*session_, *journal_);
  OperationsSources sources;
  sources.Printer = [this] { return session_->View(); };
  sources.Queued = [this] { return pipeline_->Queued(); };
  sources.Busy = [this] { return pipeline_->Busy(); };
  sources.QueueLimit = options_.QueueLimit;
  sources.InDoubt = [this] {
    std::vector<std::string> keys;
    for (auto& k : journal_->InDoubt()) keys.push_back(std::move(k.Key));
    return keys;
  };
  sources.WhyInDoubt = [this](const std::string& key) {
    const auto e = journal_->Find(kLocalTill, key);
    if (!e) return std::string();
    return pipeline_ ? pipeline_->WhyInDoubt(*e) : Pipeline::WhyInDoubt(*e, false);
  };
  sources.JournalEntries = [this] { return journal_->Count(); };
  ops_ =
      std::make_unique<Operations>(OperationsOptions{dir, journal_->Files().front(),
                                                     options_.StatusIntervalMs, options_.LogMonths},
                                   std::move(sources));
  session_->SetEvents(&ops_->Sinks());
  const auto interval = std::chrono::milliseconds(options_.StatusIntervalMs);
  PipelineOptions po;
  po.QueueLimit = options_.QueueLimit;
  po.MaxWaiting = MostWaiting(options_);
  po.IdleEvery = std::min(interval, std::chrono::milliseconds(1000));
  pipeline_ = std::make_unique<Pipeline>(
      *journal_, *session_, *owner_, ops_->Sinks(), po, [this, interval] {
        session_->Idle(interval);
        ops_->AfterIdle();
        // Once a day; a retention that could not finish is tried again an hour later.
        const int64_t now = std::time(nullptr);
        if (now - journal_->LastPruned() >= 86400 && now - pruneTriedAt_ >= 3600) TryPrune();
      });
  // An answer's header and body go out in two writes: without this the body of an answer on a
  // kept-alive connection waits for the client's delayed acknowledgement.
  http_.set_tcp_nodelay(true);
  DoorOptions door;
  door.Host = options_.Host;
  door.Token = options_.Token;
  door.TillList = options_.TillList;
  door.Origins = options_.Origins;
  door.MaxBody = options_.MaxBody;
  door.Scheme = scheme_;
  door_ = std::make_unique<HttpDoor>(http_, *pipeline_, *journal_, *session_, *ops_,
                                     std::move(door), [this] { return port_; });
  door_->Routes();
}

void Service::TryPrune() {
  pruneTriedAt_ = std::time(nullptr);
  try {
    journal_->Prune();
  } catch (...) {
    // The journal is intact and goes on; only the deletion of old entries waits.
    Log(LogLevel::Warn,
        "old journal entries are not deleted: " + FailureText(std::current_exception()) +
            "; the deletion is tried again in an hour");
  }
}

Service::~Service() {
  http_.stop();
  if (pipeline_) pipeline_->Stop();
}

bool Service::Bind() {
  if (options_.Port == 0) {
    port_ = http_.bind_to_any_port(options_.Host);
  } else {
    port_ = http_.bind_to_port(options_.Host, options_.Port) ? options_.Port : -1;
  }
  if (port_ <= 0) return false;
  http_.WidenBacklog();
  return true;
}

void Service::Run() {
  ops_->Started(options_.Host, port_);
  http_.listen_after_bind();
  pipeline_->Stop();
  ops_->Stopped();
}

void Service::Stop() {
  ops_->Stopping();
  http_.stop();
}

}  // namespace fpd

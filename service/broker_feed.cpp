// SPDX-License-Identifier: Apache-2.0
#include "broker_feed.h"

#include <chrono>
#include <optional>

#include "entry_points.h"
#include "errors.h"
#include "routes.h"
#include "tasks.h"

namespace fpd {

namespace {

// A job of the broker prepared as the HTTP door prepares the same request; raises RequestError
// for a body the operation does not take (job then holds what could be read).
void Prepare(const DoorJob& d, const plat::AnsiString& scheme, Job& job) {
  job.Till = d.Till;
  job.Key = d.Key;
  job.Path = d.Path;
  job.Input = d.Body;
  job.From = Door::Broker;
  job.Expiry = d.ExpiresAt;
  job.Durable = true;
  if (d.Path.rfind(kCallPrefix, 0) == 0) {
    const EntryPoint* entry = FindEntryPoint(d.Path.substr(kCallPrefix.size()));
    if (!entry) {
      throw RequestError("unknown_entry_point", "entryPoint",
                         "no entry point named '" + d.Path.substr(kCallPrefix.size()) + "'");
    }
    job.Prepared = PrepareCall(*entry, d.Body);
    return;
  }
  for (const PrintingRoute& route : PrintingRoutes()) {
    if (route.Path != d.Path) continue;
    job.Prepared = route.Prepare(d.Body, scheme);
    job.BetweenDocuments = route.BetweenDocuments;
    return;
  }
  throw RequestError("bad_field", "operation", "no operation at " + d.Path);
}

DoorAnswer Of(const JobResult& r) {
  return DoorAnswer{r.Status, r.Body, r.What == JobResult::Verdict::Replay};
}

// The stored answer of the same job that failed before anything reached the printer. Through
// HTTP such a key runs again; a job of the broker delivered again answers its first delivery's
// result instead, since the cloud, told the job failed, sends the sale again under a new key.
std::optional<DoorAnswer> StoredFailure(const Journal& journal, const Job& job) {
  const auto e = journal.Find(job.Till, job.Key);
  if (!e || e->State != JournalState::Retryable) return std::nullopt;
  // Another job under the key: the pipeline answers the conflict.
  if (e->Hash != RequestHash(job.Path, job.Input)) return std::nullopt;
  return DoorAnswer{e->Status, e->Answer, true};
}

}  // namespace

BrokerFeed::BrokerFeed(Pipeline& pipeline, const Journal& journal, DriverSession& session,
                       plat::AnsiString scheme)
    : pipeline_(pipeline),
      journal_(journal),
      session_(session),
      scheme_(std::move(scheme)),
      thread_([this] { Run(); }) {}

BrokerFeed::~BrokerFeed() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void BrokerFeed::Later(std::function<void()> f) {
  {
    std::lock_guard lock(mu_);
    later_.push_back(std::move(f));
  }
  cv_.notify_all();
}

void BrokerFeed::Run() {
  std::unique_lock lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stopping_ || !later_.empty(); });
    if (later_.empty()) return;  // stopping, and nothing left
    auto f = std::move(later_.front());
    later_.pop_front();
    lock.unlock();
    try {
      f();
    } catch (...) {
      // Each task answers its own failures; nothing escapes to the feed.
    }
    lock.lock();
  }
}

void BrokerFeed::Submit(DoorJob d, DoorDone done) {
  Job job;
  try {
    Prepare(d, scheme_, job);
  } catch (const RequestError& e) {
    const Json body = ErrorBody(e.Code(), e.what(), e.Field());
    pipeline_.Refused(job, 400, body);
    done({400, body, false});
    return;
  }
  if (auto stored = StoredFailure(journal_, job)) {
    done(std::move(*stored));
    return;
  }
  const Job again = job;  // for a wait on a job being printed
  const JobResult r =
      pipeline_.Submit(std::move(job), [done](const JobResult& ran) { done(Of(ran)); });
  if (r.What == JobResult::Verdict::Accepted) return;
  if (r.What != JobResult::Verdict::InProgress) {
    done(Of(r));
    return;
  }
  // The same job delivered again while it is queued or printing: its answer once it ran.
  Later([this, again, done] {
    for (;;) {
      {
        std::lock_guard lock(mu_);
        if (stopping_) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (auto stored = StoredFailure(journal_, again)) {
        done(std::move(*stored));
        return;
      }
      Job retry = again;
      const JobResult r =
          pipeline_.Submit(std::move(retry), [done](const JobResult& ran) { done(Of(ran)); });
      if (r.What == JobResult::Verdict::Accepted) return;
      if (r.What != JobResult::Verdict::InProgress) {
        done(Of(r));
        return;
      }
    }
    // The service stops while the job is still being printed: no result is told for this
    // delivery (a failure would say nothing printed, which may be untrue). The cloud's resend of
    // the same job answers the stored result.
  });
}

void BrokerFeed::Resolve(DoorResolution d, DoorDone done) {
  Later([this, d, done] {
    done(Of(pipeline_.Resolve(d.Till, d.Target, d.Printed, d.CancelOpenTicket)));
  });
}

Json BrokerFeed::StatusNow() const {
  Json inDoubt = Json::array();
  const auto keys = journal_.InDoubt();
  for (const auto& k : keys) {
    if (inDoubt.size() >= 50) break;
    const auto e = journal_.Find(k.Till, k.Key);
    inDoubt.push_back({{"till", k.Till}, {"key", k.Key}, {"since", e ? e->StartedAt : ""}});
  }
  // The last Z as the Z data file tells it: its number, and when the file was written (the
  // reduction's own date has no time of day). Null while there is none.
  Json lastZ = nullptr;
  const Json z = ZFigures(session_);
  if (z.is_object() && z.value("NRREDREDZ", Json()).is_string()) {
    std::string digits = z["NRREDREDZ"];
    digits.erase(0, digits.find_first_not_of(' '));
    digits.erase(digits.find_last_not_of(' ') + 1);
    if (!digits.empty() && digits.size() <= 10 &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
      const Json at = z.value("DTGRAVSBECF", z.value("DTREDUCAOZ", Json()));
      lastZ = {{"number", std::stoll(digits)}, {"at", at}};
    }
  }
  return Json{{"state", session_.Snapshot()},
              {"lastZ", lastZ},
              {"inDoubtCount", keys.size()},
              {"inDoubt", inDoubt}};
}

}  // namespace fpd

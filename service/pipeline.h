// SPDX-License-Identifier: Apache-2.0
// The print pipeline: every printing job, whatever door it came by, goes through here. It
// claims the job's key in the journal and gives the verdict (new, replay, in progress, in
// doubt, conflict, resolved), queues the job with fair turns between tills, runs it on the one
// worker between its journal entries, resolves keys in doubt and emits what happened on the
// events. It knows no sockets, headers or routes: a result carries the answer's status number
// and body as the journal keeps them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "events.h"
#include "journal.h"
#include "tasks.h"
#include "worker.h"

namespace fpd {

class DocumentOwner;

struct Job {
  std::string Till;  // who asks (kLocalTill without a tills file)
  std::string Key;   // the idempotency key, the till's own
  std::string Path;  // the operation
  Json Input;        // the validated input, as journaled
  Task Prepared;     // what runs on the worker
  Door From = Door::Http;
  // Seconds since 1970: a job not started by then is not run (answered "expired", journaled as
  // finished with that answer, nothing printed).
  std::optional<int64_t> Expiry;
  // The claim is on disk before Submit returns (a door acknowledging a message).
  bool Durable = false;
  // What runs only while the printer holds no document open, as its refusal names it (409
  // document_open, nothing sent, the key free again); empty for any other job.
  std::string BetweenDocuments;
};

struct JobResult {
  enum class Verdict {
    Ran,         // the job ran (or expired) now: Status and Body are its answer
    Accepted,    // queued, answered later through the callback
    Replay,      // the key's stored answer, given again
    Conflict,    // the key was used for another request
    InProgress,  // the key's job is queued or running
    InDoubt,     // the key's job may or may not have printed: the till resolves it
    Resolved,    // the key was in doubt and the till resolved it
    Refused,     // the queue is full, or the journal could not take the claim
  };
  Verdict What = Verdict::Ran;
  int Status = 200;
  Json Body;
  JournalEntry Entry;  // the key's entry as it stood when answered
};

struct PipelineOptions {
  size_t QueueLimit = 64;
  // Callers that may wait at once for an answer (Submit without a callback): the rest of the
  // service's threads stay for the readers.
  size_t MaxWaiting = 120;
  std::chrono::milliseconds IdleEvery{1000};
};

class Pipeline {
 public:
  using Done = std::function<void(const JobResult&)>;
  // idle runs on the worker when nothing has come for a while (worker.h).
  Pipeline(Journal& journal, DriverSession& session, DocumentOwner& owner, Events& events,
           PipelineOptions options, std::function<void()> idle);
  ~Pipeline();  // Stop()
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Claims the key and runs the job; waits for the answer.
  JobResult Submit(Job job);
  // Claims the key and queues the job: answers at once (Accepted, or the verdict given without
  // running it); done is called on the worker with the answer once the job ran.
  JobResult Submit(Job job, Done done);

  // The till's decision on a key in doubt (printed given), or the release of the printer's open
  // document held by a key (printed not given). cancelOpenTicket cancels a ticket left open.
  JobResult Resolve(const std::string& till, const std::string& key, std::optional<bool> printed,
                    bool cancelOpenTicket);

  // A door refused the job before it reached the pipeline (a body the operation does not take,
  // a till without the right): told to the events, as any refusal.
  void Refused(const Job& job, int status, const Json& body) const;

  // Runs f on the worker and waits for it; false (f not run) when the queue is full.
  bool OnWorker(const std::function<void()>& f);

  // The jobs waiting, per till (tills with none left out).
  std::map<std::string, size_t> Waiting() const;
  size_t Queued() const { return worker_->Queued(); }
  bool Busy() const { return worker_->Busy(); }
  size_t Limit() const { return worker_->Limit(); }
  // Runs the jobs left, then ends the worker.
  void Stop();

  // Why the till's key is in doubt, as a person reads it.
  std::string WhyInDoubt(const JournalEntry& e) const;
  // The same, told whether this run could not record the key's outcome.
  static std::string WhyInDoubt(const JournalEntry& e, bool unrecorded);
  static Json InDoubtError(const std::string& key, const std::string& why);

 private:
  struct Pending;
  JobResult Claim(const Job& job, bool durable);
  JobResult Verdict(Journal::Verdict v, const Job& job, const JournalEntry& e);
  bool Queue(std::shared_ptr<Pending> w);
  void RunNext();  // on the worker: the next till's oldest job
  JobResult Run(const Job& job);
  void Emit(JobEvent::Kind what, const Job& job, const JobResult& r, double seconds,
            std::vector<std::string> printed = {}) const;
  bool HoldWaiting();

  Journal& journal_;
  DriverSession& session_;
  DocumentOwner& owner_;
  Events& events_;
  PipelineOptions options_;
  std::unique_ptr<Worker> worker_;
  mutable std::mutex mu_;
  std::map<std::string, std::deque<std::shared_ptr<Pending>>> waiting_;  // per till
  std::string lastTill_;  // whose job ran last: the next turn is the till after it
  bool ranAny_ = false;
  std::atomic<size_t> callers_{0};
  mutable std::mutex unrecordedMu_;
  std::set<JournalKey> unrecorded_;  // keys whose outcome this run could not journal
  std::string openKind_ = "ticket";  // worker only
};

// Runs a job's task between its "started" and its outcome in the journal. Every failure becomes
// an answer with an error code (driver_raised, internal, journal_failed) and is journaled as the
// outcome.
TaskResult RunJournaled(Journal& journal, const std::string& till, const std::string& key,
                        const std::function<TaskResult()>& task);

// The documents a job completed, by kind ("ticket", "invoice_a", "x", "z", "non_fiscal"), from
// the calls its answer lists.
// openKind carries the kind of the document opened last from one job to the next (a till
// opening a ticket with one entry point call and closing it with another).
std::vector<std::string> PrintedDocuments(const std::string& path, const Json& input,
                                          const Json& answer, std::string& openKind);

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
#include "pipeline.h"

#include <chrono>
#include <ctime>
#include <future>

#include "document_owner.h"
#include "platform/exceptions.h"

namespace fpd {

namespace {

using Clock = std::chrono::steady_clock;

const char* KindLabel(const std::string& letter) {
  if (letter == "A") return "invoice_a";
  if (letter == "B") return "invoice_b";
  if (letter == "C") return "invoice_c";
  return "ticket";
}

std::string ErrorCode(const Json& body) {
  if (!body.is_object() || !body.contains("error") || !body["error"].is_object()) return "";
  return body["error"].value("code", "");
}

// Why a job did not do what it should: the error's message, else the task's reason, else the
// texts of the driver's error dialogs.
std::string ErrorMessage(const Json& body) {
  if (!body.is_object()) return "";
  if (body.contains("error") && body["error"].is_object()) {
    return body["error"].value("message", "");
  }
  if (body.contains("reason") && body["reason"].is_string() &&
      !body["reason"].get<std::string>().empty()) {
    return body["reason"];
  }
  std::string out;
  if (!body.contains("dialogs") || !body["dialogs"].is_array()) return out;
  for (const auto& d : body["dialogs"]) {
    if (!d.is_object() || d.value("question", false)) continue;
    if (!out.empty()) out += "; ";
    out += d.value("text", "");
  }
  return out;
}

JobResult Answer(JobResult::Verdict what, int status, Json body) {
  JobResult r;
  r.What = what;
  r.Status = status;
  r.Body = std::move(body);
  return r;
}

// The one refusal of a job the queue has no room for.
JobResult QueueFull() {
  return Answer(JobResult::Verdict::Refused, 503,
                ErrorBody("queue_full", "the printer has too many requests waiting"));
}

}  // namespace

struct Pipeline::Pending {
  Job job;
  Done done;                       // a job answered later
  std::promise<JobResult> answer;  // a job whose caller waits
  Clock::time_point claimedAt = Clock::now();
};

Pipeline::Pipeline(Journal& journal, DriverSession& session, DocumentOwner& owner, Events& events,
                   PipelineOptions options, std::function<void()> idle)
    : journal_(journal),
      session_(session),
      owner_(owner),
      events_(events),
      options_(options),
      worker_(std::make_unique<Worker>(options.QueueLimit, std::move(idle), options.IdleEvery)) {}

Pipeline::~Pipeline() {
  Stop();
}

void Pipeline::Stop() {
  worker_->Stop();
}

bool Pipeline::HoldWaiting() {
  if (callers_.fetch_add(1) >= options_.MaxWaiting) {
    callers_.fetch_sub(1);
    return false;
  }
  return true;
}

bool Pipeline::OnWorker(const std::function<void()>& f) {
  if (!HoldWaiting()) return false;
  struct Hold {
    std::atomic<size_t>& n;
    ~Hold() { n.fetch_sub(1); }
  } hold{callers_};
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  if (!worker_->TrySubmit([f, done] {
        try {
          f();
          done->set_value();
        } catch (...) {
          done->set_exception(std::current_exception());
        }
      })) {
    return false;
  }
  // A failure on the worker is the caller's.
  future.get();
  return true;
}

std::string Pipeline::WhyInDoubt(const JournalEntry& e) const {
  bool unrecorded = false;
  {
    std::lock_guard lock(unrecordedMu_);
    unrecorded = unrecorded_.count({e.Till, e.Key}) != 0;
  }
  return WhyInDoubt(e, unrecorded);
}

std::string Pipeline::WhyInDoubt(const JournalEntry& e, bool unrecorded) {
  // The journal tells a command the link could not settle (its outcome is recorded); a job
  // started but without its outcome is one the service stopped in, or one whose outcome it
  // could not write (told apart only within the run).
  if (e.Status != 0) {
    return "the printer link could not tell whether a command of this request ran on the printer";
  }
  if (unrecorded) return "the request ran, but its outcome could not be recorded in the journal";
  return "the service stopped while this request was being printed, or could not record its "
         "outcome in the journal";
}

Json Pipeline::InDoubtError(const std::string& key, const std::string& why) {
  return ErrorBody("in_doubt", why +
                                   "; it may or may not have been printed and is not printed "
                                   "again: resolve it with POST /v1/journal/" +
                                   key + "/resolve");
}

void Pipeline::Emit(JobEvent::Kind what, const Job& job, const JobResult& r, double seconds,
                    std::vector<std::string> printed) const {
  JobEvent e;
  e.What = what;
  e.From = job.From;
  e.Till = job.Till;
  e.Key = job.Key;
  e.Path = job.Path;
  e.Status = r.Status;
  e.Seconds = seconds;
  e.Code = ErrorCode(r.Body);
  e.Message = ErrorMessage(r.Body);
  e.Replayed = r.What == JobResult::Verdict::Replay;
  e.Retryable = r.Body.is_object() && r.Body.value("retryable", false) == true;
  e.Printed = std::move(printed);
  events_.Emit(e);
}

JobResult Pipeline::Verdict(Journal::Verdict v, const Job& job, const JournalEntry& e) {
  using V = JobResult::Verdict;
  const std::string& key = job.Key;
  JobResult r;
  switch (v) {
    case Journal::Verdict::New:
      r = Answer(V::Accepted, 0, nullptr);
      break;
    case Journal::Verdict::Replay:
      r = Answer(V::Replay, e.Status, e.Answer);
      break;
    case Journal::Verdict::Conflict:
      r = Answer(V::Conflict, 409,
                 ErrorBody("idempotency_conflict",
                           "the key " + key + " was used for another request (" + e.Path + ")"));
      break;
    case Journal::Verdict::InProgress:
      r = Answer(V::InProgress, 409,
                 ErrorBody("in_progress", "the request with the key " + key +
                                              " is still being printed; retry later"));
      break;
    case Journal::Verdict::Resolved:
      r = Answer(V::Resolved, 409,
                 ErrorBody("resolved", "the request with the key " + key +
                                           " was in doubt and the till resolved it"));
      r.Body["resolution"] = e.Resolution;
      break;
    case Journal::Verdict::InDoubt: {
      Json printer;
      if (!OnWorker([&] { printer = session_.Probe(); })) {
        r = QueueFull();
        break;
      }
      r = Answer(V::InDoubt, 409, InDoubtError(key, WhyInDoubt(e)));
      r.Body["printer"] = printer;
      r.Body["journal"] = {
          {"key", e.Key}, {"path", e.Path}, {"request", e.Request}, {"startedAt", e.StartedAt}};
      break;
    }
  }
  r.Entry = e;
  if (r.What == V::Replay) {
    Emit(JobEvent::Kind::Done, job, r, 0);
  } else if (r.What != V::Accepted) {
    Emit(JobEvent::Kind::Refused, job, r, 0);
  }
  return r;
}

void Pipeline::Refused(const Job& job, int status, const Json& body) const {
  Emit(JobEvent::Kind::Refused, job, Answer(JobResult::Verdict::Refused, status, body), 0);
}

JobResult Pipeline::Claim(const Job& job, bool durable) {
  JournalEntry e;
  Journal::Verdict v;
  try {
    v = journal_.Claim(job.Till, job.Key, RequestHash(job.Path, job.Input), job.Path, job.Input, &e,
                       durable);
  } catch (...) {
    JobResult r = Answer(JobResult::Verdict::Refused, 500,
                         ErrorBody("journal_failed", FailureText(std::current_exception()) +
                                                         "; nothing was printed"));
    Emit(JobEvent::Kind::Refused, job, r, 0);
    return r;
  }
  return Verdict(v, job, e);
}

bool Pipeline::Queue(std::shared_ptr<Pending> w) {
  // Under the lock, so that each job waiting has its own turn on the worker.
  std::lock_guard lock(mu_);
  const std::string till = w->job.Till;
  if (!worker_->TrySubmit([this] { RunNext(); })) return false;
  waiting_[till].push_back(std::move(w));
  return true;
}

std::map<std::string, size_t> Pipeline::Waiting() const {
  std::lock_guard lock(mu_);
  std::map<std::string, size_t> n;
  for (const auto& [till, jobs] : waiting_) n[till] = jobs.size();
  return n;
}

void Pipeline::RunNext() {
  std::shared_ptr<Pending> w;
  {
    std::lock_guard lock(mu_);
    if (waiting_.empty()) return;
    // Round robin by till: the till after the one whose job ran last.
    auto next = ranAny_ ? waiting_.upper_bound(lastTill_) : waiting_.begin();
    if (next == waiting_.end()) next = waiting_.begin();
    w = std::move(next->second.front());
    next->second.pop_front();
    lastTill_ = next->first;
    ranAny_ = true;
    if (next->second.empty()) waiting_.erase(next);
  }
  JobResult r;
  try {
    r = Run(w->job);
  } catch (...) {
    r = Answer(JobResult::Verdict::Ran, 500,
               ErrorBody("internal", FailureText(std::current_exception())));
  }
  if (w->done) {
    w->done(r);
  } else {
    w->answer.set_value(std::move(r));
  }
}

JobResult Pipeline::Run(const Job& job) {
  const Clock::time_point started = Clock::now();
  const auto seconds = [&] {
    return std::chrono::duration<double>(Clock::now() - started).count();
  };
  if (job.Expiry && static_cast<int64_t>(std::time(nullptr)) >= *job.Expiry) {
    const TaskResult o = RunJournaled(journal_, job.Till, job.Key, [] {
      return TaskResult{410, ErrorBody("expired",
                                       "the request was not started before it expired; nothing was "
                                       "printed")};
    });
    JobResult r = Answer(JobResult::Verdict::Ran, o.Status, o.Body);
    Emit(JobEvent::Kind::Expired, job, r, seconds());
    return r;
  }
  Emit(JobEvent::Kind::Started, job, Answer(JobResult::Verdict::Ran, 0, nullptr), 0);
  const Json before = owner_.BeforeJob(job.Path);
  TaskResult o = RunJournaled(journal_, job.Till, job.Key, [&] {
    if (!job.BetweenDocuments.empty()) {
      if (auto refused = owner_.RefuseWhileOpen(job.BetweenDocuments)) return *refused;
    }
    TaskResult t = job.Prepared(session_);
    const DriverSession::LinkEvents link = session_.Link();
    // A ticket cancelled after the doubt printed nothing that counts: no doubt is left.
    t.InDoubt = t.InDoubt || (link.InDoubt && t.Body.value("cancelled", false) != true);
    // A failure before anything reached the printer binds nothing: the key runs again.
    t.Retryable = !t.InDoubt && !link.Changed && Failed(t);
    return t;
  });
  if (o.Status == 500 && ErrorCode(o.Body) == "journal_failed" &&
      journal_.Find(job.Till, job.Key).value_or(JournalEntry{}).State == JournalState::InDoubt) {
    std::lock_guard lock(unrecordedMu_);
    unrecorded_.insert({job.Till, job.Key});
  }
  const Json after = owner_.AfterJob(job.Till, job.Key, o);
  if (o.Body.is_object()) {
    const Json& stray = after.is_null() ? before : after;
    if (!stray.is_null()) o.Body["strayDocument"] = stray;
  }
  JobResult r = Answer(JobResult::Verdict::Ran, o.Status, o.Body);
  JobEvent::Kind kind = JobEvent::Kind::Done;
  if (ErrorCode(o.Body) == "in_doubt") {
    kind = JobEvent::Kind::InDoubt;
  } else if (o.Status >= 400 || Failed(o)) {
    kind = JobEvent::Kind::Failed;
  }
  Emit(kind, job, r, seconds(), PrintedDocuments(job.Path, job.Input, o.Body, openKind_));
  return r;
}

JobResult Pipeline::Submit(Job job) {
  auto w = std::make_shared<Pending>();
  w->job = std::move(job);
  JobResult verdict = Claim(w->job, w->job.Durable);
  if (verdict.What != JobResult::Verdict::Accepted) return verdict;
  auto future = w->answer.get_future();
  if (!HoldWaiting()) {
    journal_.Release(w->job.Till, w->job.Key);
    return QueueFull();
  }
  struct Hold {
    std::atomic<size_t>& n;
    ~Hold() { n.fetch_sub(1); }
  } hold{callers_};
  const Job& queued = w->job;
  const std::string till = queued.Till, key = queued.Key;
  if (!Queue(w)) {
    journal_.Release(till, key);
    return QueueFull();
  }
  return future.get();
}

JobResult Pipeline::Submit(Job job, Done done) {
  auto w = std::make_shared<Pending>();
  w->job = std::move(job);
  w->done = done ? std::move(done) : [](const JobResult&) {};
  JobResult verdict = Claim(w->job, w->job.Durable);
  if (verdict.What != JobResult::Verdict::Accepted) return verdict;
  const std::string till = w->job.Till, key = w->job.Key;
  if (!Queue(w)) {
    journal_.Release(till, key);
    return QueueFull();
  }
  return verdict;
}

JobResult Pipeline::Resolve(const std::string& till, const std::string& key,
                            std::optional<bool> given, bool cancel) {
  const bool printed = given.value_or(false);
  // Each way through below sets the answer; one that did not would be a failure, not a success.
  JobResult r =
      Answer(JobResult::Verdict::Ran, 500, ErrorBody("internal", "the resolution gave no answer"));
  const auto answer = [&r](int status, Json body) {
    r.Status = status;
    r.Body = std::move(body);
  };
  const bool ran = OnWorker([&] {
    const auto e = journal_.Find(till, key);
    if (!e) {
      answer(404, ErrorBody("not_found", "no journal entry for the key " + key));
      return;
    }
    r.Entry = *e;
    // A job that holds the printer's open document lets it go.
    if (e->State != JournalState::InDoubt && e->State != JournalState::Resolved) {
      if (owner_.Holds(till, key)) {
        answer(200, owner_.Release(*e));
      } else {
        answer(409, ErrorBody("not_in_doubt", "the request with the key " + key +
                                                  " is not in doubt and holds no open document"));
      }
      return;
    }
    if (!given) {
      answer(400, ErrorBody("bad_field", "printed: required for a key in doubt", "printed"));
      return;
    }
    if (e->State == JournalState::Resolved) {
      if (e->Resolution.value("printed", !printed) == printed) {
        answer(200, {{"key", key},
                     {"state", "resolved"},
                     {"printed", printed},
                     {"cancelled", e->Resolution.value("cancelled", false)},
                     {"printer", session_.Snapshot()}});
      } else {
        answer(409,
               ErrorBody("idempotency_conflict", "the key " + key + " was resolved otherwise"));
      }
      return;
    }
    Json printer = session_.Probe();
    bool cancelled = false;
    Json cancelAnswer = nullptr;
    const Json doc = printer["document"];
    if (cancel && (doc == "ticket" || (doc == "fiscal" && e->Request.value("kind", "") != "A" &&
                                       e->Request.value("kind", "") != "C"))) {
      cancelAnswer = CancelOpenTicket(session_, e->Path, e->Request);
      cancelled = cancelAnswer.value("cancelled", false);
      printer = cancelAnswer["printer"];
    }
    const Json resolution = {{"printed", printed}, {"cancelled", cancelled}};
    try {
      journal_.Resolve(till, key, resolution);
    } catch (const std::exception& ex) {
      answer(500, ErrorBody("journal_failed", ex.what()));
      return;
    }
    Json body = {{"key", key},
                 {"state", "resolved"},
                 {"printed", printed},
                 {"cancelled", cancelled},
                 {"printer", printer}};
    if (!cancelAnswer.is_null()) body["cancel"] = cancelAnswer;
    answer(200, std::move(body));
  });
  if (!ran) return QueueFull();
  JobEvent e;
  e.What = r.Status == 200 ? JobEvent::Kind::Resolved : JobEvent::Kind::Refused;
  e.Till = till;
  e.Key = key;
  e.Path = r.Entry.Path;
  e.Status = r.Status;
  e.Code = ErrorCode(r.Body);
  e.Message = r.Status == 200
                  ? (r.Body.contains("released") ? std::string("released")
                                                 : std::string(printed ? "printed" : "not printed"))
                  : ErrorMessage(r.Body);
  events_.Emit(e);
  return r;
}

TaskResult RunJournaled(Journal& journal, const std::string& till, const std::string& key,
                        const std::function<TaskResult()>& task) {
  try {
    journal.Started(till, key);
  } catch (...) {
    journal.Release(till, key);
    return TaskResult{500, ErrorBody("journal_failed", FailureText(std::current_exception()) +
                                                           "; nothing was printed")};
  }
  TaskResult o;
  try {
    o = task();
  } catch (const plat::Exception& ex) {
    o = TaskResult{500, ErrorBody("driver_raised", FailureText(ex))};
  } catch (...) {
    o = TaskResult{500, ErrorBody("internal", FailureText(std::current_exception()))};
  }
  try {
    if (o.InDoubt) {
      o.Status = 409;
      o.Body["error"] = Pipeline::InDoubtError(key,
                                               "the printer link could not tell whether a command "
                                               "of this request ran on the printer")["error"];
      journal.FinishedInDoubt(till, key, o.Status, o.Body);
    } else if (o.Retryable && o.Body.is_object()) {
      o.Body["retryable"] = true;
      journal.FinishedRetryable(till, key, o.Status, o.Body);
    } else {
      journal.Finished(till, key, o.Status, o.Body);
    }
  } catch (...) {
    if (o.Body.is_object()) o.Body.erase("retryable");  // the key stays taken, in doubt
    o.Body["error"] = ErrorBody("journal_failed", FailureText(std::current_exception()) +
                                                      "; the request was made, its outcome is "
                                                      "not recorded")["error"];
    o.Status = 500;
  }
  return o;
}

std::vector<std::string> PrintedDocuments(const std::string& path, const Json& input,
                                          const Json& answer, std::string& openKind) {
  std::vector<std::string> printed;
  if (!answer.is_object()) return printed;
  Json calls = answer.value("calls", Json::array());
  if (path.rfind("/v1/call/", 0) == 0) {
    calls = Json::array({Json{{"entryPoint", answer.value("entryPoint", "")},
                              {"result", answer.contains("result") ? answer["result"] : Json()}}});
  }
  if (!calls.is_array()) return printed;
  for (const auto& c : calls) {
    if (!c.is_object() || c.value("result", Json()) != true) continue;
    const std::string name = c.value("entryPoint", "");
    if (name == "AbreCupom") {
      Json letter = input.is_object() ? input.value("kind", Json()) : Json();
      if (!letter.is_string() && input.is_object() && input.contains("Params") &&
          input["Params"].is_object())
        letter = input["Params"].value("TIPOTICKET", Json());
      openKind = KindLabel(letter.is_string() ? letter.get<std::string>() : "T");
    } else if (name == "FechaCupom") {
      printed.push_back(openKind);
    } else if (name == "Leitura_X_Imp") {
      printed.push_back("x");
    } else if (name == "Reducao_Z_Imp") {
      printed.push_back("z");
    } else if (name == "Suprimento" || name == "GeraReciboSangria") {
      printed.push_back("non_fiscal");
    }
  }
  return printed;
}

}  // namespace fpd

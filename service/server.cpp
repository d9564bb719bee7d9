// SPDX-License-Identifier: Apache-2.0
#include "server.h"

#include <sys/stat.h>

#include <chrono>
#include <future>
#include <limits>
#include <optional>

#include "cross_origin.h"
#include "log.h"
#include "operations.h"
#include "platform/exceptions.h"
#include "status_page.h"

namespace fpd {

namespace {

Json EntryJson(const JournalEntry& e, bool withAnswer) {
  Json j = {{"key", e.Key},
            {"path", e.Path},
            {"state", StateName(e.State)},
            {"startedAt", e.StartedAt.empty() ? Json(nullptr) : Json(e.StartedAt)},
            {"finishedAt", e.FinishedAt.empty() ? Json(nullptr) : Json(e.FinishedAt)},
            {"status", e.State == JournalState::Done || e.State == JournalState::Retryable
                           ? Json(e.Status)
                           : Json(nullptr)},
            {"ok", nullptr},
            {"request", e.Request},
            {"resolution", e.Resolution}};
  if (e.Answer.is_object()) {
    if (e.Answer.contains("ok")) {
      j["ok"] = e.Answer["ok"];
    } else if (e.Answer.contains("result")) {
      j["ok"] = e.Answer["result"];
    }
  }
  // A False that is an answer, not a failure: a fixed-answer entry point, a cash withdrawal or a
  // closing after which the till stays closed, when the driver showed no error.
  const std::string call = "/v1/call/";
  if (j["ok"] == false && e.Status == 200 && !e.Answer.contains("error")) {
    if (e.Path.rfind(call, 0) == 0 && FixedAnswer(e.Path.substr(call.size()))) {
      j["answered"] = "False";
    } else if (e.Path == call + "GeraReciboSangria" &&
               !ShowedError(e.Answer.value("dialogs", Json::array()))) {
      const bool withdrawal = e.Request.is_object() && e.Request.contains("boSangria") &&
                              e.Request["boSangria"] == true;
      j["answered"] = withdrawal ? "False" : "the till stays closed";
    } else if (e.Path == "/v1/closing" && !e.Answer.contains("reason")) {
      j["answered"] = "the till stays closed";
    }
  }
  if (withAnswer) j["answer"] = e.Answer;
  return j;
}

// The keys in doubt, as the status and the metrics show them.
std::vector<std::string> InDoubtKeys(const Journal& journal) {
  std::vector<std::string> keys;
  for (auto& k : journal.InDoubt()) keys.push_back(std::move(k.Key));
  return keys;
}

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

}  // namespace

namespace {

ConnectionLimits LimitsOf(const ServiceOptions& o) {
  ConnectionLimits l;
  l.Total = o.Connections;
  l.PerClient = std::min(o.ClientConnections, o.Connections);
  l.MaxBody = o.MaxBody;
  return l;
}

// What left a key in doubt, as a person reads it. The journal tells a command the link could not
// settle (its outcome is recorded); a request started but without its outcome is one the service
// stopped in, or one whose outcome it could not write (told apart only within the run).
std::string WhyInDoubt(const JournalEntry& e, bool unrecorded) {
  if (e.Status != 0) {
    return "the printer link could not tell whether a command of this request ran on the printer";
  }
  if (unrecorded) return "the request ran, but its outcome could not be recorded in the journal";
  return "the service stopped while this request was being printed, or could not record its "
         "outcome in the journal";
}

Json InDoubtError(const std::string& key, const std::string& why) {
  return ErrorBody("in_doubt", why +
                                   "; it may or may not have been printed and is not printed "
                                   "again: resolve it with POST /v1/journal/" +
                                   key + "/resolve");
}

// Connections kept for the status and journal readers while printing requests wait.
constexpr size_t kReadersReserve = 8;

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
  OperationsSources sources;
  sources.Printer = [this] { return session_->View(); };
  sources.Queued = [this] { return worker_->Queued(); };
  sources.Busy = [this] { return worker_->Busy(); };
  sources.QueueLimit = options_.QueueLimit;
  sources.InDoubt = [this] { return InDoubtKeys(*journal_); };
  sources.WhyInDoubt = [this](const std::string& key) {
    const auto e = journal_->Find(kLocalTill, key);
    return e ? WhyInDoubt(*e, false) : std::string();
  };
  sources.JournalEntries = [this] { return journal_->Count(); };
  ops_ =
      std::make_unique<Operations>(OperationsOptions{dir, journal_->Files().front(),
                                                     options_.StatusIntervalMs, options_.LogMonths},
                                   std::move(sources));
  session_->SetEvents(&ops_->Sinks());
  const auto interval = std::chrono::milliseconds(options_.StatusIntervalMs);
  worker_ = std::make_unique<Worker>(
      options_.QueueLimit,
      [this, interval] {
        session_->Idle(interval);
        ops_->AfterIdle();
        // Once a day; a retention that could not finish is tried again an hour later.
        const int64_t now = std::time(nullptr);
        if (now - journal_->LastPruned() >= 86400 && now - pruneTriedAt_ >= 3600) {
          TryPrune();
        }
      },
      std::min(interval, std::chrono::milliseconds(1000)));
  // An answer's header and body go out in two writes: without this the body of an answer on a
  // kept-alive connection waits for the client's delayed acknowledgement.
  http_.set_tcp_nodelay(true);
  Routes();
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
  if (worker_) worker_->Stop();
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
  worker_->Stop();
  ops_->Stopped();
}

void Service::Stop() {
  ops_->Stopping();
  http_.stop();
}

httplib::Server::HandlerResponse Service::Gate(const httplib::Request& req,
                                               httplib::Response& res) {
  using HR = httplib::Server::HandlerResponse;
  ops_->Arrived();
  if (RefuseEarly(req, res, HttpRules{options_.Host, port_, options_.MaxBody})) return HR::Handled;
  const CrossOrigin cross = JudgeOrigin(
      req.method,
      [&req](const std::string& name) {
        return req.has_header(name) ? std::optional(HeaderValue(req, name)) : std::nullopt;
      },
      options_.Origins);
  if (cross.Kind == CrossOrigin::Verdict::Refused) {
    Send(res, 403, ErrorBody("origin_not_allowed", cross.Message));
    return HR::Handled;
  }
  for (const auto& [name, value] : cross.Headers) res.set_header(name, value);
  if (cross.Kind == CrossOrigin::Verdict::Preflight) {
    res.status = 204;
    return HR::Handled;
  }
  // The status page, the API description and the browser client hold no data (the page reads
  // the endpoints, with the token): a browser loads them without one.
  const bool page = req.method == "GET" && Operations::Public(req.path);
  if (!options_.Token.empty() && !page) {
    const std::string auth = HeaderValue(req, "Authorization");
    if (!ConstantTimeEqual(auth, "Bearer " + options_.Token)) {
      res.set_header("WWW-Authenticate", "Bearer");
      Send(res, 401, ErrorBody("unauthorized", "a valid bearer token is required"));
      return HR::Handled;
    }
  }
  return HR::Unhandled;
}

bool Service::HoldPrintingSlot() {
  const size_t most = options_.Connections > kReadersReserve * 2
                          ? options_.Connections - kReadersReserve
                          : std::max<size_t>(1, options_.Connections / 2);
  if (printing_.fetch_add(1) >= most) {
    printing_.fetch_sub(1);
    return false;
  }
  return true;
}

void Service::ReleasePrintingSlot() {
  printing_.fetch_sub(1);
}

bool Service::OnWorker(const std::function<void()>& f) {
  if (!HoldPrintingSlot()) return false;
  struct Release {
    Service* s;
    ~Release() { s->ReleasePrintingSlot(); }
  } release{this};
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
  // A failure on the worker is the request's: it reaches the exception handler (500 internal).
  future.get();
  return true;
}

Outcome RunJournaled(Journal& journal, const std::string& till, const std::string& key,
                     const std::function<Outcome()>& task) {
  try {
    journal.Started(till, key);
  } catch (...) {
    journal.Release(till, key);
    return Outcome{500, ErrorBody("journal_failed",
                                  FailureText(std::current_exception()) + "; nothing was printed")};
  }
  Outcome o;
  try {
    o = task();
  } catch (const plat::Exception& ex) {
    o = Outcome{500, ErrorBody("driver_raised", FailureText(ex))};
  } catch (...) {
    o = Outcome{500, ErrorBody("internal", FailureText(std::current_exception()))};
  }
  try {
    if (o.InDoubt) {
      o.Status = 409;
      o.Body["error"] = InDoubtError(key,
                                     "the printer link could not tell whether a command of "
                                     "this request ran on the printer")["error"];
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

void Service::Printing(const httplib::Request& req, httplib::Response& res,
                       const Prepare& prepare) {
  std::string key;
  if (!IdempotencyKey(req, res, key)) return;
  Json body;
  Task task;
  try {
    body = ParseBody(req.body);
    task = prepare(body);
  } catch (const RequestError& e) {
    Send(res, 400, ErrorBody(e.Code(), e.what(), e.Field()));
    return;
  }
  const std::string hash = RequestHash(req.path, body);
  JournalEntry e;
  Journal::Verdict verdict;
  try {
    verdict = journal_->Claim(kLocalTill, key, hash, req.path, body, &e);
  } catch (...) {
    Send(res, 500,
         ErrorBody("journal_failed",
                   FailureText(std::current_exception()) + "; nothing was printed"));
    return;
  }
  switch (verdict) {
    case Journal::Verdict::Replay:
      res.set_header("Idempotent-Replay", "true");
      Send(res, e.Status, e.Answer);
      return;
    case Journal::Verdict::Conflict:
      Send(res, 409,
           ErrorBody("idempotency_conflict",
                     "the key " + key + " was used for another request (" + e.Path + ")"));
      return;
    case Journal::Verdict::InProgress:
      Send(res, 409,
           ErrorBody("in_progress",
                     "the request with the key " + key + " is still being printed; retry later"));
      return;
    case Journal::Verdict::Resolved: {
      Json b = ErrorBody(
          "resolved", "the request with the key " + key + " was in doubt and the till resolved it");
      b["resolution"] = e.Resolution;
      Send(res, 409, b);
      return;
    }
    case Journal::Verdict::InDoubt:
      InDoubt(e, res);
      return;
    case Journal::Verdict::New:
      break;
  }
  if (!HoldPrintingSlot()) {
    journal_->Release(kLocalTill, key);
    Send(res, 503, ErrorBody("queue_full", "the printer has too many requests waiting"));
    return;
  }
  struct Release {
    Service* s;
    ~Release() { s->ReleasePrintingSlot(); }
  } release{this};
  auto result = std::make_shared<std::promise<Outcome>>();
  auto future = result->get_future();
  Journal* journal = journal_.get();
  DriverSession* session = session_.get();
  const bool sale = req.path == "/v1/sales";
  const bool queued = worker_->TrySubmit([=, this] {
    try {
      // The service owns the printer: a sale starts on a printer with no document that no
      // request holds open.
      const Json before = sale ? Reconcile() : Json(nullptr);
      const bool openBefore = session->Snapshot().value("documentOpen", Json()) == true;
      Outcome outcome = RunJournaled(*journal, kLocalTill, key, [&] {
        Outcome o = task(*session);
        const DriverSession::LinkEvents link = session->Link();
        // A ticket cancelled after the doubt printed nothing that counts: no doubt is left.
        o.InDoubt = o.InDoubt || (link.InDoubt && o.Body.value("cancelled", false) != true);
        // A failure before anything reached the printer binds nothing: the key runs again.
        o.Retryable = !o.InDoubt && !link.Changed && Failed(o);
        return o;
      });
      if (outcome.Status == 500 && outcome.Body.is_object() && outcome.Body.contains("error") &&
          outcome.Body["error"].value("code", "") == "journal_failed" &&
          journal->Find(kLocalTill, key).value_or(JournalEntry{}).State == JournalState::InDoubt) {
        std::lock_guard lock(unrecordedMu_);
        unrecorded_.insert(key);
      }
      const Json after = AfterRequest(key, outcome, openBefore);
      if (outcome.Body.is_object()) {
        const Json& stray = after.is_null() ? before : after;
        if (!stray.is_null()) outcome.Body["strayDocument"] = stray;
      }
      result->set_value(std::move(outcome));
    } catch (...) {
      result->set_exception(std::current_exception());
    }
  });
  if (!queued) {
    journal_->Release(kLocalTill, key);
    Send(res, 503, ErrorBody("queue_full", "the printer has too many requests waiting"));
    return;
  }
  const Outcome o = future.get();
  Send(res, o.Status, o.Body);
}

Json Service::AfterRequest(const std::string& key, const Outcome& o, bool openBefore) {
  const DriverSession::LinkEvents link = session_->Link();
  // After a command in doubt or a printer that could not be reached, a document left open is
  // no request's.
  if (o.InDoubt || !link.Failure.empty()) return Reconcile();
  const Json printer =
      o.Body.is_object() && o.Body.contains("printer") ? o.Body["printer"] : session_->Probe();
  const Json open = printer.value("documentOpen", Json(nullptr));
  if (open == false) session_->SetHeldBy("");
  if (open != true || !session_->HeldBy().empty()) return nullptr;
  // A ticket a failed sale left open (its cancel failed too) is dealt with as any stray one, and
  // so is one this request did not open.
  const bool ticketSale = o.Body.is_object() && o.Body.contains("kind") && o.Body["kind"] == "T";
  if (openBefore || ticketSale) return Reconcile();
  session_->SetHeldBy(key);
  return nullptr;
}

Json Service::Reconcile() {
  const Json printer = session_->Probe();
  if (printer["documentOpen"] != true) {
    if (printer["documentOpen"] == false) session_->SetHeldBy("");
    return nullptr;
  }
  if (!session_->HeldBy().empty()) return nullptr;
  const std::string doc = printer["document"].is_string() ? printer["document"].get<std::string>()
                                                          : std::string("fiscal");
  Json record = {{"at", printer["checkedAt"]}, {"document", printer["document"]}};
  bool cancelled = false;
  if (doc == "ticket" || doc == "fiscal") {
    // On a serial line the printer tells only "fiscal": a ticket cancels, an invoice refuses.
    const Json c = CancelOpenTicket(*session_, "", nullptr);
    cancelled = c.value("cancelled", false);
    record["calls"] = c["calls"];
    if (c.contains("error")) record["error"] = c["error"];
  }
  record["cancelled"] = cancelled;
  // A ticket whose cancel failed here (its sale file, the link) is tried again before the next
  // sale; one the printer does not cancel is reported once, and the next sale is refused with
  // the printer's reason.
  const bool retried = !cancelled && record.contains("error");
  if (cancelled) {
    record["message"] = "the printer held open a ticket that no request held; it was cancelled";
  } else if (retried) {
    record["message"] = "the printer holds open a " + doc +
                        " document that no request held; its cancel failed (" +
                        record["error"].get<std::string>() + ") and is tried again";
  } else {
    record["message"] = "the printer holds open a " + doc +
                        " document that no request held; it cannot be cancelled here and is "
                        "left for the till to finish";
  }
  const std::string key =
      "printer-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(++strays_);
  record["key"] = key;
  try {
    journal_->Claim(kLocalTill, key, "", "/printer/open-document", Json::object(), nullptr);
    journal_->Started(kLocalTill, key);
    journal_->Finished(kLocalTill, key, 200, record);
  } catch (...) {
    journal_->Release(kLocalTill, key);  // when not even started
    record["journal"] = FailureText(std::current_exception());
  }
  Log(LogLevel::Warn, record["message"].get<std::string>() + " key=" + LogValue(key));
  if (!cancelled && !retried) session_->SetHeldBy(key);
  session_->NoteStray(record);
  return record;
}

void Service::InDoubt(const JournalEntry& e, httplib::Response& res) {
  Json printer;
  if (!OnWorker([&] { printer = session_->Probe(); })) {
    Send(res, 503, ErrorBody("queue_full", "the printer has too many requests waiting"));
    return;
  }
  bool unrecorded = false;
  {
    std::lock_guard lock(unrecordedMu_);
    unrecorded = unrecorded_.count(e.Key) != 0;
  }
  Json b = InDoubtError(e.Key, WhyInDoubt(e, unrecorded));
  b["printer"] = printer;
  b["journal"] = {
      {"key", e.Key}, {"path", e.Path}, {"request", e.Request}, {"startedAt", e.StartedAt}};
  Send(res, 409, b);
}

void Service::Resolve(const httplib::Request& req, httplib::Response& res) {
  const std::string key = req.matches[1];
  std::optional<bool> given;  // "printed": what the till decided on a key in doubt
  bool cancel = false;
  try {
    const Json body = ParseBody(req.body);
    Members m(body, "");
    if (const Json* p = m.Get("printed")) given = ToBool(*p, "printed");
    if (const Json* c = m.Get("cancelOpenTicket")) cancel = ToBool(*c, "cancelOpenTicket");
    m.Done();
  } catch (const RequestError& e) {
    Send(res, 400, ErrorBody(e.Code(), e.what(), e.Field()));
    return;
  }
  const bool printed = given.value_or(false);
  // Each way through below sets the answer; one that did not would be a failure, not a success.
  int status = 500;
  Json answer = ErrorBody("internal", "the resolution gave no answer");
  const bool ran = OnWorker([&] {
    const auto e = journal_->Find(kLocalTill, key);
    if (!e) {
      status = 404;
      answer = ErrorBody("not_found", "no journal entry for the key " + key);
      return;
    }
    // A request that holds the printer's open document lets it go.
    if (e->State != JournalState::InDoubt && e->State != JournalState::Resolved) {
      if (session_->HeldBy() == key) {
        status = 200;
        answer = Release(*e);
      } else {
        status = 409;
        answer = ErrorBody("not_in_doubt", "the request with the key " + key +
                                               " is not in doubt and holds no open document");
      }
      return;
    }
    if (!given) {
      status = 400;
      answer = ErrorBody("bad_field", "printed: required for a key in doubt", "printed");
      return;
    }
    if (e->State == JournalState::Resolved) {
      if (e->Resolution.value("printed", !printed) == printed) {
        status = 200;
        answer = {{"key", key},
                  {"state", "resolved"},
                  {"printed", printed},
                  {"cancelled", e->Resolution.value("cancelled", false)},
                  {"printer", session_->Snapshot()}};
      } else {
        status = 409;
        answer = ErrorBody("idempotency_conflict", "the key " + key + " was resolved otherwise");
      }
      return;
    }
    Json printer = session_->Probe();
    bool cancelled = false;
    Json cancelAnswer = nullptr;
    const Json doc = printer["document"];
    if (cancel && (doc == "ticket" || (doc == "fiscal" && e->Request.value("kind", "") != "A" &&
                                       e->Request.value("kind", "") != "C"))) {
      cancelAnswer = CancelOpenTicket(*session_, e->Path, e->Request);
      cancelled = cancelAnswer.value("cancelled", false);
      printer = cancelAnswer["printer"];
    }
    Json resolution = {{"printed", printed}, {"cancelled", cancelled}};
    try {
      journal_->Resolve(kLocalTill, key, resolution);
    } catch (const std::exception& ex) {
      status = 500;
      answer = ErrorBody("journal_failed", ex.what());
      return;
    }
    status = 200;
    answer = {{"key", key},
              {"state", "resolved"},
              {"printed", printed},
              {"cancelled", cancelled},
              {"printer", printer}};
    if (!cancelAnswer.is_null()) answer["cancel"] = cancelAnswer;
  });
  if (!ran) {
    Send(res, 503, ErrorBody("queue_full", "the printer has too many requests waiting"));
    return;
  }
  Send(res, status, answer);
}

Json Service::Release(const JournalEntry& e) {
  session_->SetHeldBy("");
  const Json stray = Reconcile();
  Json answer = {{"key", e.Key},
                 {"state", StateName(e.State)},
                 {"released", true},
                 {"cancelled", stray.is_object() && stray.value("cancelled", false)},
                 {"printer", session_->Snapshot()}};
  if (!stray.is_null()) answer["strayDocument"] = stray;
  return answer;
}

Json Service::Status() const {
  return Json{{"service",
               {{"version", ServiceVersion()},
                {"queued", worker_->Queued()},
                {"busy", worker_->Busy()},
                {"queueLimit", worker_->Limit()}}},
              {"printer", session_->Snapshot()},
              {"heldDocument", session_->HeldDocument()},
              {"inDoubt", InDoubtKeys(*journal_)}};
}

Json Service::JournalList(size_t limit) const {
  Json entries = Json::array();
  for (const auto& e : journal_->Last(limit)) entries.push_back(EntryJson(e, false));
  return Json{{"entries", entries}};
}

void Service::Routes() {
  using httplib::Request;
  using httplib::Response;
  http_.SetGate([this](const Request& req, Response& res) { return Gate(req, res); });
  // The status and the health checks are answered whatever the connection limits.
  http_.SetReserved([](const Request& req) {
    return req.method == "GET" &&
           (req.path == "/v1/status" || req.path == "/healthz" || req.path == "/readyz");
  });
  const httplib::Server::HandlerWithResponse errors = [](const Request& req, Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    AnswerHttpError(req, res);
    return httplib::Server::HandlerResponse::Handled;
  };
  http_.set_error_handler(errors);
  http_.set_logger([this](const Request& req, const Response& res) { ops_->Answered(req, res); });
  ops_->Routes(http_);
  http_.set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
    Send(res, 500, ErrorBody("internal", FailureText(ep)));
  });

  const auto printing = [this](const std::string& path, Prepare prepare) {
    http_.Post(path,
               [this, prepare](const Request& req, Response& res) { Printing(req, res, prepare); });
    http_.Get(path, [](const Request&, Response& res) {
      Send(res, 405, ErrorBody("method_not_allowed", "this endpoint takes POST"));
    });
  };
  http_.Post(R"(/v1/call/(.*))", [this](const Request& req, Response& res) {
    const std::string name = req.matches[1];
    const EntryPoint* entry = FindEntryPoint(name);
    if (!entry) {
      Send(res, 404, ErrorBody("unknown_entry_point", "no entry point named '" + name + "'"));
      return;
    }
    Printing(req, res, [entry](const Json& body) { return PrepareCall(*entry, body); });
  });
  http_.Get(R"(/v1/call/(.*))", [](const Request&, Response& res) {
    Send(res, 405, ErrorBody("method_not_allowed", "entry points take POST"));
  });
  const plat::AnsiString scheme = scheme_;
  printing("/v1/sales", [scheme](const Json& b) { return PrepareSale(b, scheme); });
  printing("/v1/cash/supply", [scheme](const Json& b) { return PrepareSupply(b, scheme); });
  printing("/v1/x", [scheme](const Json& b) { return PrepareX(b, scheme); });
  printing("/v1/z", [scheme](const Json& b) { return PrepareZ(b, scheme); });
  printing("/v1/closing", [scheme](const Json& b) { return PrepareClosing(b, scheme); });
  printing("/v1/reports/fiscal-memory",
           [scheme](const Json& b) { return PrepareFiscalMemoryReport(b, scheme); });
  http_.Post(R"(/v1/journal/([^/]+)/resolve)",
             [this](const Request& req, Response& res) { Resolve(req, res); });

  const auto reading = [this](const std::string& path, httplib::Server::Handler h) {
    http_.Get(path, std::move(h));
    http_.Post(path, [](const Request&, Response& res) {
      Send(res, 405, ErrorBody("method_not_allowed", "this endpoint takes GET"));
    });
  };
  http_.Get("/", [](const Request&, Response& res) {
    const std::string_view html = StatusPageHtml();
    res.set_content(html.data(), html.size(), "text/html; charset=utf-8");
  });
  reading("/v1/status", [this](const Request&, Response& res) { Send(res, 200, Status()); });
  reading("/v1/paper", [this](const Request& req, Response& res) {
    size_t from = 0;
    if (!QueryNumber(req, res, "from", std::numeric_limits<uint32_t>::max(), from)) return;
    const Json paper = session_->Paper(from);
    if (paper.is_null()) {
      Send(res, 404, ErrorBody("not_found", "the paper is only kept with the emulator"));
      return;
    }
    Send(res, 200, paper);
  });
  reading("/v1/journal", [this](const Request& req, Response& res) {
    size_t limit = 20;
    if (!QueryNumber(req, res, "limit", 1000000, limit)) return;
    limit = std::min<size_t>(500, limit);
    Send(res, 200, JournalList(limit));
  });
  http_.Get(R"(/v1/journal/([^/]+))", [this](const Request& req, Response& res) {
    const auto e = journal_->Find(kLocalTill, req.matches[1]);
    if (!e) {
      Send(res, 404, ErrorBody("not_found", "no journal entry for that key"));
      return;
    }
    Send(res, 200, EntryJson(*e, true));
  });
}

}  // namespace fpd

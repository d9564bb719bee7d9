// SPDX-License-Identifier: Apache-2.0
#include "http_door.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "cross_origin.h"
#include "http_checks.h"
#include "routes.h"
#include "status_page.h"

namespace fpd {

namespace {

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

std::string_view Progress(JournalState s) {
  switch (s) {
    case JournalState::Queued:
      return "queued";
    case JournalState::Started:
      return "running";
    default:
      return "finished";
  }
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A pipeline's result as an answer.
void Answer(httplib::Response& res, const JobResult& r) {
  if (r.What == JobResult::Verdict::Replay) res.set_header("Idempotent-Replay", "true");
  Send(res, r.Status, r.Body);
}

}  // namespace

bool PrefersAsync(const std::string& prefer) {
  size_t at = 0;
  while (at <= prefer.size()) {
    const size_t comma = std::min(prefer.find(',', at), prefer.size());
    std::string token = prefer.substr(at, comma - at);
    token = token.substr(0, token.find(';'));
    const size_t b = token.find_first_not_of(" \t");
    const size_t e = token.find_last_not_of(" \t");
    if (b != std::string::npos && Lower(token.substr(b, e - b + 1)) == "respond-async") {
      return true;
    }
    at = comma + 1;
  }
  return false;
}

Json EntryJson(const JournalEntry& e, bool withAnswer, bool withTill) {
  Json j = {{"key", e.Key},
            {"path", e.Path},
            {"state", StateName(e.State)},
            {"progress", Progress(e.State)},
            {"startedAt", e.StartedAt.empty() ? Json(nullptr) : Json(e.StartedAt)},
            {"finishedAt", e.FinishedAt.empty() ? Json(nullptr) : Json(e.FinishedAt)},
            {"status", e.State == JournalState::Done || e.State == JournalState::Retryable
                           ? Json(e.Status)
                           : Json(nullptr)},
            {"ok", nullptr},
            {"request", e.Request},
            {"resolution", e.Resolution}};
  if (withTill) j["till"] = e.Till;
  if (e.Answer.is_object()) {
    if (e.Answer.contains("ok")) {
      j["ok"] = e.Answer["ok"];
    } else if (e.Answer.contains("result")) {
      j["ok"] = e.Answer["result"];
    }
  }
  // A False that is an answer, not a failure: a fixed-answer entry point, a cash withdrawal or a
  // closing after which the till stays closed, when the driver showed no error.
  const std::string call(kCallPrefix);
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

HttpDoor::HttpDoor(GuardedServer& http, Pipeline& pipeline, Journal& journal,
                   DriverSession& session, Operations& ops, DoorOptions options,
                   std::function<int()> port)
    : http_(http),
      pipeline_(pipeline),
      journal_(journal),
      session_(session),
      ops_(ops),
      options_(std::move(options)),
      port_(std::move(port)) {}

httplib::Server::HandlerResponse HttpDoor::Gate(const httplib::Request& req,
                                                httplib::Response& res) {
  using HR = httplib::Server::HandlerResponse;
  ops_.Arrived();
  if (RefuseEarly(req, res, HttpRules{options_.Host, port_(), options_.MaxBody})) {
    return HR::Handled;
  }
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
  if (page) return HR::Unhandled;
  const std::string auth = HeaderValue(req, "Authorization");
  bool known = true;
  if (options_.TillList) {
    const std::string bearer = "Bearer ";
    known = auth.rfind(bearer, 0) == 0 && options_.TillList->Find(auth.substr(bearer.size()));
  } else if (!options_.Token.empty()) {
    known = ConstantTimeEqual(auth, "Bearer " + options_.Token);
  }
  if (!known) {
    res.set_header("WWW-Authenticate", "Bearer");
    Send(res, 401, ErrorBody("unauthorized", "a valid bearer token is required"));
    return HR::Handled;
  }
  return HR::Unhandled;
}

Caller HttpDoor::Who(const httplib::Request& req) const {
  if (!options_.TillList) return Caller{kLocalTill, Rights::All(), false};
  const std::string auth = HeaderValue(req, "Authorization");
  const std::string bearer = "Bearer ";
  const Till* t =
      auth.rfind(bearer, 0) == 0 ? options_.TillList->Find(auth.substr(bearer.size())) : nullptr;
  // Past the gate a request names a till; one that does not gets no right at all.
  if (!t) return Caller{"", Rights(), true};
  return Caller{t->Name, t->Granted, true};
}

bool HttpDoor::Allowed(const Caller& c, Right needed, const std::string& what,
                       httplib::Response& res) const {
  if (c.Granted.Has(needed)) return true;
  Send(res, 403,
       ErrorBody("forbidden", "the till '" + c.Till + "' may not " + what +
                                  ": it lacks the right '" + std::string(RightName(needed)) + "'"));
  return false;
}

bool HttpDoor::MayRead(const Caller& c, httplib::Response& res) const {
  if (c.Granted.Has(Right::Read) || c.Granted.Has(Right::ReadAll)) return true;
  return Allowed(c, Right::Read, "read the journal", res);
}

void HttpDoor::Printing(const httplib::Request& req, httplib::Response& res, Right needed,
                        const Prepare& prepare, std::string_view betweenDocuments) {
  const Caller caller = Who(req);
  Job job;
  job.Till = caller.Till;
  job.Key = HeaderValue(req, "Idempotency-Key");
  job.Path = req.path;
  job.From = Door::Http;
  // A request refused here is told to the pipeline's events as one it refused itself.
  const auto refused = [&] {
    pipeline_.Refused(job, res.status, Json::parse(res.body, nullptr, false));
  };
  if (!Allowed(caller, needed, "use POST " + req.path, res)) return refused();
  std::string key;
  if (!IdempotencyKey(req, res, key)) return refused();
  try {
    job.Input = ParseBody(req.body);
    job.Prepared = prepare(job.Input);
  } catch (const RequestError& e) {
    Send(res, 400, ErrorBody(e.Code(), e.what(), e.Field()));
    return refused();
  }
  job.Key = key;
  job.BetweenDocuments = betweenDocuments;
  if (!PrefersAsync(HeaderValue(req, "Prefer"))) {
    Answer(res, pipeline_.Submit(std::move(job)));
    return;
  }
  // Answered now; the journal entry tells the outcome once the job ran.
  const JobResult r = pipeline_.Submit(std::move(job), nullptr);
  if (r.What != JobResult::Verdict::Accepted) {
    Answer(res, r);
    return;
  }
  res.set_header("Location", "/v1/journal/" + key);
  res.set_header("Preference-Applied", "respond-async");
  Send(res, 202, EntryJson(r.Entry, true));
}

void HttpDoor::Resolve(const httplib::Request& req, httplib::Response& res) {
  const Caller caller = Who(req);
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
  // A till resolves its own keys with the right of the key's operation, or with read-all.
  if (caller.Named && !caller.Granted.Has(Right::ReadAll)) {
    const auto e = journal_.Find(caller.Till, key);
    const std::optional<Right> needed = e ? RightFor(e->Path) : std::nullopt;
    if (needed && !Allowed(caller, *needed, "resolve a request of " + e->Path, res)) return;
  }
  Answer(res, pipeline_.Resolve(caller.Till, key, given, cancel));
}

Json HttpDoor::Status() const {
  Json queue = Json::array();
  for (const auto& [till, n] : pipeline_.Waiting()) {
    queue.push_back({{"till", till}, {"waiting", n}});
  }
  std::vector<std::string> inDoubt;
  for (auto& k : journal_.InDoubt()) inDoubt.push_back(std::move(k.Key));
  return Json{{"service",
               {{"version", ServiceVersion()},
                {"queued", pipeline_.Queued()},
                {"busy", pipeline_.Busy()},
                {"queueLimit", pipeline_.Limit()},
                {"queue", queue}}},
              {"printer", session_.Snapshot()},
              {"heldDocument", session_.HeldDocument()},
              {"inDoubt", inDoubt}};
}

void HttpDoor::Routes() {
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
  http_.set_logger([this](const Request& req, const Response& res) { ops_.Answered(req, res); });
  ops_.Routes(http_);
  http_.set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
    Send(res, 500, ErrorBody("internal", FailureText(ep)));
  });

  http_.Post(R"(/v1/call/(.*))", [this](const Request& req, Response& res) {
    const std::string name = req.matches[1];
    const EntryPoint* entry = FindEntryPoint(name);
    if (!entry) {
      Send(res, 404, ErrorBody("unknown_entry_point", "no entry point named '" + name + "'"));
      return;
    }
    Printing(req, res, Right::Call,
             [entry](const Json& body) { return PrepareCall(*entry, body); });
  });
  http_.Get(R"(/v1/call/(.*))", [](const Request&, Response& res) {
    Send(res, 405, ErrorBody("method_not_allowed", "entry points take POST"));
  });
  for (const PrintingRoute& route : PrintingRoutes()) {
    const std::string path(route.Path);
    const plat::AnsiString scheme = options_.Scheme;
    const Right needs = route.Needs;
    const auto prepare = route.Prepare;
    const std::string_view between = route.BetweenDocuments;
    http_.Post(path, [this, scheme, needs, prepare, between](const Request& req, Response& res) {
      Printing(
          req, res, needs, [&](const Json& b) { return prepare(b, scheme); }, between);
    });
    http_.Get(path, [](const Request&, Response& res) {
      Send(res, 405, ErrorBody("method_not_allowed", "this endpoint takes POST"));
    });
  }
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
    const Json paper = session_.Paper(from);
    if (paper.is_null()) {
      Send(res, 404, ErrorBody("not_found", "the paper is only kept with the emulator"));
      return;
    }
    Send(res, 200, paper);
  });
  reading("/v1/journal", [this](const Request& req, Response& res) {
    const Caller caller = Who(req);
    if (!MayRead(caller, res)) return;
    size_t limit = 20;
    if (!QueryNumber(req, res, "limit", 1000000, limit)) return;
    limit = std::min<size_t>(500, limit);
    // A till sees its own entries; one with read-all sees every till's, each naming its till.
    const bool all = caller.Named && caller.Granted.Has(Right::ReadAll);
    const auto till = all || !caller.Named ? std::nullopt : std::optional<std::string>(caller.Till);
    Json entries = Json::array();
    for (const auto& e : journal_.Last(limit, till)) entries.push_back(EntryJson(e, false, all));
    Send(res, 200, Json{{"entries", entries}});
  });
  http_.Get(R"(/v1/journal/([^/]+))", [this](const Request& req, Response& res) {
    const Caller caller = Who(req);
    if (!MayRead(caller, res)) return;
    const auto e = journal_.Find(caller.Till, req.matches[1]);
    if (!e) {
      Send(res, 404, ErrorBody("not_found", "no journal entry for that key"));
      return;
    }
    Send(res, 200, EntryJson(*e, true));
  });
}

}  // namespace fpd

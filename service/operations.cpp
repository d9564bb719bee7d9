// SPDX-License-Identifier: Apache-2.0
#include "operations.h"

#include <sys/stat.h>

#include <ctime>

#include "embedded.h"
#include "entry_points.h"
#include "log.h"
#include "log_retention.h"
#include "notify.h"
#include "platform/version.h"
#include "routes.h"

namespace fpd {

namespace {

thread_local std::chrono::steady_clock::time_point t_arrived{};
thread_local bool t_timed = false;

const char* KindLabel(const std::string& letter) {
  if (letter == "A") return "invoice_a";
  if (letter == "B") return "invoice_b";
  if (letter == "C") return "invoice_c";
  return "ticket";
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3fs", s);
  return buf;
}

// Why a printing request was refused: the task's reason, else the texts of the driver's error
// dialogs.
std::string Reasons(const Json& answer) {
  if (answer.is_object() && answer.contains("reason") && answer["reason"].is_string() &&
      !answer["reason"].get<std::string>().empty()) {
    return answer["reason"];
  }
  std::string out;
  if (!answer.contains("dialogs") || !answer["dialogs"].is_array()) return out;
  for (const auto& d : answer["dialogs"]) {
    if (!d.is_object() || d.value("question", false)) continue;
    if (!out.empty()) out += "; ";
    out += d.value("text", "");
  }
  return out;
}

// What the printer's part of /v1/status says about the things logged when they change.
Json StateOf(const Json& p) {
  bool out = false;
  if (p.contains("reasons") && p["reasons"].is_array()) {
    for (const auto& r : p["reasons"]) out = out || r == "out of paper";
  }
  const Json paper = p.contains("paper") && p["paper"].is_object() ? p["paper"] : Json::object();
  auto low = [&](const char* roll) { return paper.value(roll, Json()) == "low"; };
  return Json{{"reachable", (p.contains("reachable") && p["reachable"] == true)},
              {"journalLow", low("journal")},
              {"receiptLow", low("receipt")},
              {"paperOut", out},
              {"fiscalisation", p.value("fiscalisation", Json())},
              {"document", p.contains("document") ? p["document"] : Json(nullptr)},
              {"error", p.contains("error") ? p["error"] : Json(nullptr)}};
}

}  // namespace

const char* ServiceVersion() {
  return FISCAL_VERSION;
}

Operations::Operations(OperationsOptions options, OperationsSources sources)
    : options_(std::move(options)), sources_(std::move(sources)) {
  for (const auto& key : sources_.InDoubt()) {
    const std::string why = sources_.WhyInDoubt ? sources_.WhyInDoubt(key) : "";
    Log(LogLevel::Warn,
        "key in doubt key=" + LogValue(key) + ": " + why + "; the till resolves it");
  }
  DeleteOldLogs();
}

bool Operations::Public(const std::string& path) {
  return path == "/" || path == "/v1/openapi.json" || path == "/v1/client.js";
}

void Operations::Routes(httplib::Server& http) {
  using httplib::Request;
  using httplib::Response;
  const auto json = [](Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
  };
  http.Get("/healthz", [json](const Request&, Response& res) {
    json(res, 200, Json{{"status", "ok"}, {"version", ServiceVersion()}});
  });
  http.Get("/readyz", [this, json](const Request&, Response& res) {
    std::string why;
    const bool ready = Ready(&why);
    json(res, ready ? 200 : 503, Json{{"ready", ready}, {"reason", why}});
  });
  http.Get("/metrics", [this](const Request&, Response& res) {
    Gauges g;
    g.Printer = sources_.Printer();
    g.InDoubt = sources_.InDoubt().size();
    g.JournalEntries = sources_.JournalEntries();
    g.JournalBytes = FileSize(options_.JournalPath);
    g.Queued = sources_.Queued();
    g.QueueLimit = sources_.QueueLimit;
    g.Ready = Ready(nullptr);
    g.Version = ServiceVersion();
    res.set_content(metrics_.Render(g), "text/plain; version=0.0.4; charset=utf-8");
  });
  http.Get("/v1/openapi.json", [](const Request&, Response& res) {
    const std::string_view doc = OpenApiJson();
    res.set_content(doc.data(), doc.size(), "application/json");
  });
  http.Get("/v1/client.js", [](const Request&, Response& res) {
    const std::string_view js = ClientJs();
    res.set_content(js.data(), js.size(), "text/javascript; charset=utf-8");
  });
}

void Operations::Arrived() {
  t_arrived = std::chrono::steady_clock::now();
  t_timed = true;
}

void Operations::Answered(const httplib::Request& req, const httplib::Response& res) {
  double seconds = 0;
  if (t_timed) {
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t_arrived).count();
    t_timed = false;
  }
  metrics_.Request(EndpointLabel(req.path), res.status, seconds);
  if (req.method == "POST" && IsPrinting(req.path)) {
    LogPrinting(req, res, seconds);
    return;
  }
  const bool resolve =
      req.method == "POST" && EndpointLabel(req.path) == "/v1/journal/{key}/resolve";
  const Json answer = Json::parse(res.body, nullptr, false);
  const std::string what =
      req.method + " " + req.path + " " + std::to_string(res.status) + " " + Seconds(seconds);
  if (resolve && res.status == 200 && answer.is_object() && answer.contains("released")) {
    Log(LogLevel::Info, "released key=" + LogValue(answer.value("key", "")) +
                            " cancelled=" + (answer.value("cancelled", false) ? "true" : "false"));
  } else if (resolve && res.status == 200 && answer.is_object()) {
    Log(LogLevel::Info, "resolved key=" + LogValue(answer.value("key", "")) +
                            " printed=" + (answer.value("printed", false) ? "true" : "false") +
                            " cancelled=" + (answer.value("cancelled", false) ? "true" : "false"));
  } else if (res.status >= 400 && answer.is_object() && answer.contains("error")) {
    const Json& e = answer["error"];
    Log(res.status >= 500 ? LogLevel::Error : LogLevel::Warn,
        "failed " + what + " code=" + e.value("code", "") + ": " + e.value("message", ""));
  } else {
    Log(LogLevel::Debug, what);
  }
}

void Operations::LogPrinting(const httplib::Request& req, const httplib::Response& res,
                             double seconds) {
  const std::string key = req.get_header_value("Idempotency-Key");
  const bool replay = res.get_header_value("Idempotent-Replay") == "true";
  const Json answer = Json::parse(res.body, nullptr, false);
  const Json request = Json::parse(req.body, nullptr, false);
  const std::string op =
      req.path.rfind("/v1/call/", 0) == 0 ? req.path.substr(9) : req.path.substr(4);
  std::string outcome = "error";
  if (answer.is_object() && answer.contains("error") && answer["error"].is_object()) {
    outcome = answer["error"].value("code", "error");
  } else if (answer.is_object() && answer.contains("ok")) {
    outcome = answer["ok"] == true ? "ok" : "refused";
  } else if (answer.is_object() && answer.contains("result")) {
    outcome = answer["result"] == false ? "refused" : "ok";
  }
  // Nothing of it reached the printer: the same key may be sent again.
  const bool retryable = answer.is_object() && answer.value("retryable", false) == true;
  if (retryable && outcome == "refused") outcome = "not_printed";
  std::string line = "request key=" + LogValue(key) + " op=" + LogValue(op) +
                     " status=" + std::to_string(res.status) + " outcome=" + outcome +
                     " duration=" + Seconds(seconds);
  if (replay) line += " replayed=true";
  if (retryable) line += " retryable=true";
  LogLevel level = LogLevel::Info;
  if (outcome == "refused" || outcome == "not_printed") {
    level = LogLevel::Warn;
    line += " reason=" + LogValue(Reasons(answer));
  } else if (outcome != "ok") {
    level = res.status >= 500 ? LogLevel::Error : LogLevel::Warn;
    line += " reason=" + LogValue(answer.is_object() ? answer["error"].value("message", "") : "");
  }
  Log(level, line);
  if (outcome == "in_doubt") {
    Log(LogLevel::Warn, "key in doubt key=" + LogValue(key) + " asked again; the till resolves it");
  } else if (outcome == "journal_failed" &&
             answer["error"].value("message", "").find("nothing was printed") ==
                 std::string::npos) {
    Log(LogLevel::Error, "key in doubt key=" + LogValue(key) +
                             ": it ran, but its outcome could not be recorded in the journal");
  }
  // Request bodies may hold buyers' names and tax IDs: only at debug level.
  if (LogEnabled(LogLevel::Debug))
    Log(LogLevel::Debug, "request key=" + LogValue(key) + " body=" + req.body);
  if (res.status == 200 && !replay && answer.is_object() && request.is_object()) {
    CountDocuments(req.path, request, answer);
  }
}

void Operations::CountDocuments(const std::string& path, const Json& request, const Json& answer) {
  Json calls = answer.value("calls", Json::array());
  if (path.rfind("/v1/call/", 0) == 0) {
    calls = Json::array({Json{{"entryPoint", answer.value("entryPoint", "")},
                              {"result", answer.contains("result") ? answer["result"] : Json()}}});
  }
  std::lock_guard lock(mu_);
  for (const auto& c : calls) {
    if (!c.is_object() || c.value("result", Json()) != true) continue;
    const std::string name = c.value("entryPoint", "");
    if (name == "AbreCupom") {
      Json letter = request.value("kind", Json());
      if (!letter.is_string() && request.contains("Params") && request["Params"].is_object())
        letter = request["Params"].value("TIPOTICKET", Json());
      openKind_ = KindLabel(letter.is_string() ? letter.get<std::string>() : "T");
    } else if (name == "FechaCupom") {
      metrics_.Printed(openKind_);
    } else if (name == "Leitura_X_Imp") {
      metrics_.Printed("x");
    } else if (name == "Reducao_Z_Imp") {
      metrics_.Printed("z");
    } else if (name == "Suprimento" || name == "GeraReciboSangria") {
      metrics_.Printed("non_fiscal");
    }
  }
}

void Operations::Started(const std::string& host, int port) {
  const Json p = sources_.Printer();
  Log(LogLevel::Info, std::string("started fiscal-printd ") + ServiceVersion() + " on http://" +
                          host + ":" + std::to_string(port) +
                          " backend=" + p.value("backend", "unknown"));
  NotifyServiceManager("READY=1\nSTATUS=serving on http://" + host + ":" + std::to_string(port));
}

void Operations::Stopping() {
  NotifyServiceManager("STOPPING=1");
}

void Operations::Stopped() {
  Log(LogLevel::Info, std::string("stopped fiscal-printd ") + ServiceVersion());
}

void Operations::AfterIdle() {
  const Json p = sources_.Printer();
  const Json checked = p.value("checkedAt", Json());
  {
    std::lock_guard lock(readyMu_);
    NoteChecked(p);
  }
  if (checked.is_string()) {
    Json now = StateOf(p);
    const bool first = state_.is_null();
    // A printer that does not answer tells no fiscalisation: the last one told stands.
    if (!first && now["fiscalisation"].is_null()) now["fiscalisation"] = state_["fiscalisation"];
    if (first || now["reachable"] != state_["reachable"]) {
      if (now["reachable"] == true) {
        Log(LogLevel::Info, "printer reachable");
      } else {
        Log(LogLevel::Error, "printer offline: " + now.value("error", Json("no answer")).dump());
      }
    }
    for (const char* roll : {"journal", "receipt"}) {
      const std::string key = std::string(roll) + "Low";
      if ((first && now[key] == true) || (!first && now[key] != state_[key]))
        Log(now[key] == true ? LogLevel::Warn : LogLevel::Info,
            "printer " + std::string(roll) + " roll paper " +
                (now[key] == true ? "low" : "no longer low"));
    }
    if ((first && now["paperOut"] == true) || (!first && now["paperOut"] != state_["paperOut"]))
      Log(now["paperOut"] == true ? LogLevel::Error : LogLevel::Info,
          now["paperOut"] == true ? "printer out of paper" : "printer has paper again");
    // A working printer is fiscalised; any other state is worth a look.
    const Json& fiscal = now["fiscalisation"];
    if (fiscal.is_string() &&
        ((first && fiscal != "fiscalised") || (!first && fiscal != state_["fiscalisation"])))
      Log(fiscal == "fiscalised" ? LogLevel::Info : LogLevel::Warn,
          "printer fiscalisation: " + fiscal.get<std::string>());
    if ((first && !now["document"].is_null()) || (!first && now["document"] != state_["document"]))
      Log(LogLevel::Info, now["document"].is_null()
                              ? std::string("printer document closed")
                              : "printer document open: " + now["document"].get<std::string>());
    state_ = now;
  }
  const int64_t day = std::time(nullptr) / 86400;
  if (day != retentionDay_) DeleteOldLogs();
}

void Operations::NoteChecked(const Json& p) const {
  const Json checked = p.value("checkedAt", Json());
  if (!checked.is_string()) return;
  // A query in the same second as the last one that found the printer otherwise counts too.
  const bool reachable = p.contains("reachable") && p["reachable"] == true;
  if (checked.get<std::string>() != checkedAt_ || reachable != answered_) {
    checkedAt_ = checked.get<std::string>();
    answered_ = reachable;
    answeredAt_ = std::chrono::steady_clock::now();
  }
}

void Operations::DeleteOldLogs() {
  retentionDay_ = std::time(nullptr) / 86400;
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  for (const auto& name : DeleteOldDriverLogs(options_.StateDir, options_.LogMonths,
                                              tm.tm_year + 1900, tm.tm_mon + 1)) {
    Log(LogLevel::Info, "deleted the driver log " + name + ", older than " +
                            std::to_string(options_.LogMonths) + " months");
  }
}

bool Operations::Ready(std::string* why) const {
  // What a request found a moment ago counts at once, before the worker's next idle turn.
  const Json printer = sources_.Printer();
  std::lock_guard lock(readyMu_);
  NoteChecked(printer);
  const auto set = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  if (answeredAt_ == std::chrono::steady_clock::time_point{})
    return set("the printer was not asked yet");
  if (!answered_) return set("the printer did not answer its last status query");
  const auto age = std::chrono::steady_clock::now() - answeredAt_;
  if (age > std::chrono::milliseconds(2 * options_.StatusIntervalMs) + std::chrono::seconds(2) &&
      !sources_.Busy())
    return set("the printer was not asked within the status interval");
  if (why) *why = "";
  return true;
}

}  // namespace fpd

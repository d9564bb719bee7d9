// SPDX-License-Identifier: Apache-2.0
#include "operations.h"

#include <sys/stat.h>

#include <ctime>

#include "embedded.h"
#include "entry_points.h"
#include "log.h"
#include "log_retention.h"
#include "log_sink.h"
#include "metrics_sink.h"
#include "notify.h"
#include "platform/version.h"
#include "routes.h"

namespace fpd {

namespace {

thread_local std::chrono::steady_clock::time_point t_arrived{};
thread_local bool t_timed = false;

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

const char* ServiceVersion() {
  return FISCAL_VERSION;
}

Operations::Operations(OperationsOptions options, OperationsSources sources)
    : options_(std::move(options)), sources_(std::move(sources)) {
  events_.Add(std::make_shared<LogSink>());
  events_.Add(std::make_shared<MetricsSink>(metrics_));
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
    // Request bodies may hold buyers' names and tax IDs: only at debug level.
    if (LogEnabled(LogLevel::Debug))
      Log(LogLevel::Debug,
          "request key=" + LogValue(req.get_header_value("Idempotency-Key")) + " body=" + req.body);
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

void Operations::Started(const std::string& host, int port) {
  Log(LogLevel::Info, std::string("started fiscal-printd ") + ServiceVersion() + " on http://" +
                          host + ":" + std::to_string(port) +
                          " backend=" + sources_.Printer().Backend);
  NotifyServiceManager("READY=1\nSTATUS=serving on http://" + host + ":" + std::to_string(port));
}

void Operations::Stopping() {
  NotifyServiceManager("STOPPING=1");
}

void Operations::Stopped() {
  Log(LogLevel::Info, std::string("stopped fiscal-printd ") + ServiceVersion());
}

void Operations::AfterIdle() {
  const PrinterView p = sources_.Printer();
  {
    std::lock_guard lock(readyMu_);
    NoteChecked(p);
  }
  const int64_t day = std::time(nullptr) / 86400;
  if (day != retentionDay_) DeleteOldLogs();
}

void Operations::NoteChecked(const PrinterView& p) const {
  if (p.CheckedAt.empty()) return;
  // A query in the same second as the last one that found the printer otherwise counts too.
  const bool reachable = p.Reachable == true;
  if (p.CheckedAt != checkedAt_ || reachable != answered_) {
    checkedAt_ = p.CheckedAt;
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
  const PrinterView printer = sources_.Printer();
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

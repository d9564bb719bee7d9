// SPDX-License-Identifier: Apache-2.0
// What the service tells those who run it: the log lines of its events (start and stop, every
// printing request and failure, keys in doubt and their resolution, printer state changes),
// /healthz and /readyz, /metrics, the API description and the browser client it serves, and
// the deletion of old driver logs.
#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "codec.h"
#include "events.h"
#include "metrics.h"
#include "printer_view.h"

namespace fpd {

// The service's version, as the build sets it.
const char* ServiceVersion();

struct OperationsOptions {
  std::string StateDir;
  std::string JournalPath;
  int StatusIntervalMs = 5000;
  int LogMonths = 13;
};

// Where the figures come from; each may be called from any thread.
struct OperationsSources {
  std::function<PrinterView()> Printer;  // the printer as last asked
  std::function<size_t()> Queued;
  std::function<bool()> Busy;
  size_t QueueLimit = 0;
  std::function<std::vector<std::string>()> InDoubt;
  std::function<std::string(const std::string& key)> WhyInDoubt;  // what left the key in doubt
  std::function<size_t()> JournalEntries;
};

class Operations {
 public:
  // Logs the keys in doubt found in the journal and deletes old driver logs.
  Operations(OperationsOptions options, OperationsSources sources);

  // GET /healthz, /readyz, /metrics, /v1/openapi.json and /v1/client.js.
  void Routes(httplib::Server& http);
  // Paths served to anyone, also without the token: they hold no data.
  static bool Public(const std::string& path);

  // The events the service's log and metrics take (a LogSink, and a MetricsSink counting into
  // this object's metrics): the pipeline's jobs and the printer's state changes are told here.
  Events& Sinks() { return events_; }

  // Called when a request arrives and once it is answered (on the request's thread): the
  // request's metrics, and the log lines of requests that print nothing (a printing job's
  // lines come from its events).
  void Arrived();
  void Answered(const httplib::Request& req, const httplib::Response& res);

  // Logs the start and tells the service manager that the service is ready.
  void Started(const std::string& host, int port);
  void Stopping();
  void Stopped();
  // On the worker after each idle task: the readiness, and once a day the driver logs'
  // retention.
  void AfterIdle();

  // The driver is started (an Operations exists only then) and the printer answered its last
  // status query, made within two status intervals, or a request is being printed since.
  bool Ready(std::string* why) const;

 private:
  void DeleteOldLogs();
  // Takes the printer's last status query into the readiness (readyMu_ held).
  void NoteChecked(const PrinterView& printer) const;

  OperationsOptions options_;
  OperationsSources sources_;
  Metrics metrics_;
  Events events_;
  int64_t retentionDay_ = -1;  // seen by the worker only
  mutable std::mutex readyMu_;
  mutable std::string checkedAt_;
  mutable bool answered_ = false;
  mutable std::chrono::steady_clock::time_point answeredAt_{};
};

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
// What the service tells those who run it: the log lines of its events (start and stop, every
// printing request and failure, keys in doubt and their resolution, printer state changes),
// /healthz and /readyz, /metrics, the API description and the browser client it serves, and
// the deletion of old driver logs.
#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "codec.h"
#include "metrics.h"

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
  std::function<Json()> Printer;  // the printer's part of /v1/status as last asked
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

  // Called when a request arrives and once it is answered (on the request's thread).
  void Arrived();
  void Answered(const httplib::Request& req, const httplib::Response& res);

  // Logs the start and tells the service manager that the service is ready.
  void Started(const std::string& host, int port);
  void Stopping();
  void Stopped();
  // On the worker after each idle task: the printer state changes, and once a day the driver
  // logs' retention.
  void AfterIdle();

  // The driver is started (an Operations exists only then) and the printer answered its last
  // status query, made within two status intervals, or a request is being printed since.
  bool Ready(std::string* why) const;

  const Metrics& Figures() const { return metrics_; }

 private:
  void CountDocuments(const std::string& path, const Json& request, const Json& answer);
  void LogPrinting(const httplib::Request& req, const httplib::Response& res, double seconds);
  void DeleteOldLogs();
  // Takes the printer's last status query into the readiness (readyMu_ held).
  void NoteChecked(const Json& printer) const;

  OperationsOptions options_;
  OperationsSources sources_;
  Metrics metrics_;
  std::mutex mu_;
  std::string openKind_ = "ticket";  // the kind of the document opened last
  // Seen by AfterIdle only (the worker).
  Json state_;  // reachable, each roll's paper low, paper out, fiscalisation, document as last
                // logged
  int64_t retentionDay_ = -1;
  mutable std::mutex readyMu_;
  mutable std::string checkedAt_;
  mutable bool answered_ = false;
  mutable std::chrono::steady_clock::time_point answeredAt_{};
};

}  // namespace fpd

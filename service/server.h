// SPDX-License-Identifier: Apache-2.0
// The HTTP side of the service: routes, the exactly-once handling of printing requests, the
// token, browser origins and body limit, and the answers of the status and journal endpoints.
#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "connections.h"
#include "http_checks.h"
#include "journal.h"
#include "operations.h"
#include "session.h"
#include "tasks.h"
#include "tills.h"
#include "worker.h"

namespace fpd {

struct ServiceOptions {
  std::string Host = "127.0.0.1";
  int Port = 8520;
  SessionOptions Driver;
  std::string Token;  // empty: no token
  std::vector<std::string> Origins;
  size_t QueueLimit = 64;
  size_t MaxBody = 1 << 20;
  size_t Connections = 128;       // served at once, one thread each
  size_t ClientConnections = 32;  // of them from one client address
  int JournalDays = 30;
  bool JournalRepair = false;  // --journal-repair
  // The tills of --tills, read and checked at start; null without the file (one till, the
  // local one).
  std::shared_ptr<const Tills> TillList;
  int StatusIntervalMs = 5000;
  int LogMonths = 13;  // driver logs older than this many months are deleted
};

class Service {
 public:
  // Starts the driver, reads the journal and sets up the routes. Raises plat::Exception or
  // std::runtime_error when the package, the state folder or the journal cannot be used.
  explicit Service(ServiceOptions options);
  ~Service();

  // Binds the address; false when it cannot. Port 0 takes a free port (BoundPort()).
  bool Bind();
  int BoundPort() const { return port_; }
  // Serves until Stop(); then finishes the queued requests.
  void Run();
  void Stop();
  // The HTTP server, for routes added beside these (the status page).
  httplib::Server& Http() { return http_; }

  Json Status() const;
  Json JournalList(size_t limit) const;

 private:
  using Prepare = std::function<Task(const Json&)>;
  void Routes();
  void Printing(const httplib::Request& req, httplib::Response& res, const Prepare& prepare);
  void InDoubt(const JournalEntry& e, httplib::Response& res);
  void Resolve(const httplib::Request& req, httplib::Response& res);
  // Runs f on the worker and waits for it; false when the queue is full.
  bool OnWorker(const std::function<void()>& f);
  void TryPrune();  // on the worker, or before it starts
  // On the worker: reads the printer's state and deals with a document no request holds open
  // (a ticket cancelled, any other reported), journaled and logged; answers what it did, or
  // null when there was nothing to do.
  Json Reconcile();
  // On the worker, after a printing request: who holds a document left open. Only the request
  // that opened it (the printer had none open before it) may hold it, and never a ticket sale.
  Json AfterRequest(const std::string& key, const Outcome& o, bool openBefore);
  // On the worker: a key that holds the printer's open document lets it go, and the document is
  // dealt with as one no request holds. Answers the resolution's answer.
  Json Release(const JournalEntry& e);
  // Counts a request that waits for the worker; false when as many wait as may (the rest of the
  // connections stay for the status and journal readers).
  bool HoldPrintingSlot();
  void ReleasePrintingSlot();
  httplib::Server::HandlerResponse Gate(const httplib::Request& req, httplib::Response& res);

  ServiceOptions options_;
  plat::AnsiString scheme_;
  std::unique_ptr<DriverSession> session_;
  std::unique_ptr<Operations> ops_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<Worker> worker_;
  GuardedServer http_;
  std::atomic<size_t> printing_{0};
  int port_ = 0;
  int64_t pruneTriedAt_ = 0;
  int strays_ = 0;
  std::mutex unrecordedMu_;
  std::set<std::string> unrecorded_;  // keys whose outcome this run could not journal
};

// Runs a printing request's task between its "started" and its outcome in the journal. Every
// failure becomes an answer with an error code (driver_raised, internal, journal_failed) and is
// journaled as the outcome.
Outcome RunJournaled(Journal& journal, const std::string& till, const std::string& key,
                     const std::function<Outcome()>& task);

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
// The service put together: the driver session, the journal, the owner of the printer's open
// document, the print pipeline with its events, the operations' sinks and the HTTP door.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "connections.h"
#include "document_owner.h"
#include "events.h"
#include "http_door.h"
#include "journal.h"
#include "operations.h"
#include "pipeline.h"
#include "session.h"
#include "tills.h"

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
  // Starts the driver, reads the journal and sets up the pipeline and the HTTP door. Raises
  // plat::Exception or std::runtime_error when the package, the state folder or the journal
  // cannot be used.
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
  // The print pipeline, for the other doors.
  Pipeline& Core() { return *pipeline_; }
  Events& Watchers() { return ops_->Sinks(); }
  const Journal& Records() const { return *journal_; }
  DriverSession& Driver() { return *session_; }
  // The colour scheme a request that names none gets (--scheme).
  const plat::AnsiString& DefaultScheme() const { return scheme_; }

  Json Status() const { return door_->Status(); }

 private:
  void TryPrune();  // on the worker, or before it starts

  ServiceOptions options_;
  plat::AnsiString scheme_;
  std::unique_ptr<DriverSession> session_;
  std::unique_ptr<Operations> ops_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<DocumentOwner> owner_;
  std::unique_ptr<Pipeline> pipeline_;
  GuardedServer http_;
  std::unique_ptr<HttpDoor> door_;
  int port_ = 0;
  int64_t pruneTriedAt_ = 0;
};

}  // namespace fpd

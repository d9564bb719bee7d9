// SPDX-License-Identifier: Apache-2.0
// The HTTP door of the print pipeline: it decodes a request, checks its origin and its token
// (the till it names, and that till's rights), hands printing jobs and resolutions to the
// pipeline and turns their results into status codes and headers; it serves the status and
// the journal as JSON. Nothing here decides what is printed.
#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "connections.h"
#include "journal.h"
#include "operations.h"
#include "pipeline.h"
#include "session.h"
#include "tills.h"

namespace fpd {

struct DoorOptions {
  std::string Host;
  std::string Token;  // without a tills file: the one token, empty for none
  std::shared_ptr<const Tills> TillList;
  std::vector<std::string> Origins;
  size_t MaxBody = 1 << 20;
  plat::AnsiString Scheme;
};

// Who a request comes from: a till of the tills file with its rights, or, without the file,
// the one local till with every right.
struct Caller {
  std::string Till;
  Rights Granted;
  bool Named = false;  // from the tills file
};

class HttpDoor {
 public:
  // port: the port the server listens on, once bound.
  HttpDoor(GuardedServer& http, Pipeline& pipeline, Journal& journal, DriverSession& session,
           Operations& ops, DoorOptions options, std::function<int()> port);

  // Sets the gate and the routes on the server.
  void Routes();

  Json Status() const;

 private:
  using Prepare = std::function<Task(const Json&)>;
  httplib::Server::HandlerResponse Gate(const httplib::Request& req, httplib::Response& res);
  // The caller of a request past the gate.
  Caller Who(const httplib::Request& req) const;
  // Answers 403 and false when the caller lacks the right.
  bool Allowed(const Caller& c, Right needed, const std::string& what,
               httplib::Response& res) const;
  bool MayRead(const Caller& c, httplib::Response& res) const;
  void Printing(const httplib::Request& req, httplib::Response& res, Right needed,
                const Prepare& prepare, std::string_view betweenDocuments = {});
  void Resolve(const httplib::Request& req, httplib::Response& res);

  GuardedServer& http_;
  Pipeline& pipeline_;
  Journal& journal_;
  DriverSession& session_;
  Operations& ops_;
  DoorOptions options_;
  std::function<int()> port_;
};

// A journal entry as GET /v1/journal/<key> shows it (with its answer when withAnswer, with its
// till when withTill).
Json EntryJson(const JournalEntry& e, bool withAnswer, bool withTill = false);

// True when a Prefer header asks for respond-async.
bool PrefersAsync(const std::string& prefer);

}  // namespace fpd

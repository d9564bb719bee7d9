// SPDX-License-Identifier: Apache-2.0
// What a request does on the worker: one entry point call, or a task of several calls (a
// sale, a cash supply, an X or Z, the closing). Bodies are decoded on the request's own thread
// (RequestError for a bad one); the task returned runs on the worker with the driver session.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "codec.h"
#include "entry_points.h"
#include "errors.h"
#include "session.h"

namespace fpd {

struct TaskResult {
  int Status = 200;
  Json Body;
  // The printer link could not tell whether a command of the request ran, and nothing after
  // it settled the question: the request needs the till's resolution.
  bool InDoubt = false;
  // The request failed and nothing of it reached the printer: its key does not bind.
  bool Retryable = false;
};
using Task = std::function<TaskResult(DriverSession&)>;

// True when a request did not do what it should: an error answer, a task not ok for a reason, or
// an entry point that answered False with the driver's error dialog.
bool Failed(const TaskResult& o);

// The last Z reduction's figures, as the Z data file in the host folder holds them: an object of
// its fields (empty when the file holds none), or null when there is no readable file.
Json ZFigures(const DriverSession& session);

Task PrepareCall(const EntryPoint& entry, const Json& body);
Task PrepareSale(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareSupply(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareX(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareZ(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareClosing(const Json& body, const plat::AnsiString& defaultScheme);
// A fiscal-memory report through the service's own control: {"by": "date"|"z", "from", "to",
// "detail"}. It prints only between documents (the pipeline refuses it while one is open).
Task PrepareFiscalMemoryReport(const Json& body, const plat::AnsiString& defaultScheme);

// Cancels the ticket the printer holds open, with the sale file made from the items of the
// /v1/sales request that opened it (the sale file already in the host folder for any other
// request; an empty one for a ticket no request holds, path ""). Answers {"cancelled", "calls",
// "log", "error"}.
Json CancelOpenTicket(DriverSession& session, const std::string& path, const Json& request);

}  // namespace fpd

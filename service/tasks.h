// SPDX-License-Identifier: Apache-2.0
// What a request does on the worker: one entry point call, or a task of several calls (a
// sale, a cash supply, an X or Z, the closing). Bodies are decoded on the request's own thread
// (RequestError for a bad one); the task returned runs on the worker with the driver session.
#pragma once

#include <functional>
#include <string>

#include "codec.h"
#include "entry_points.h"
#include "session.h"

namespace fpd {

struct Outcome {
  int Status = 200;
  Json Body;
};
using Task = std::function<Outcome(DriverSession&)>;

Json ErrorBody(const std::string& code, const std::string& message, const std::string& field = "");

Task PrepareCall(const EntryPoint& entry, const Json& body);
Task PrepareSale(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareSupply(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareX(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareZ(const Json& body, const plat::AnsiString& defaultScheme);
Task PrepareClosing(const Json& body, const plat::AnsiString& defaultScheme);

// Cancels the ticket the printer holds open, with the sale file made from the items of the
// /v1/sales request that opened it (or the sale file already in the host folder for any other
// request). Answers {"cancelled", "calls", "log", "error"}.
Json CancelOpenTicket(DriverSession& session, const std::string& path, const Json& request);

}  // namespace fpd

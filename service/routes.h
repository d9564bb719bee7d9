// SPDX-License-Identifier: Apache-2.0
// The service's routes, written once: the printing operations with the right a till needs for
// each and how its body becomes a task, and the reading endpoints. The HTTP door serves them and
// the metrics count requests under them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tasks.h"
#include "tills.h"

namespace fpd {

struct PrintingRoute {
  std::string_view Path;
  Right Needs;
  Task (*Prepare)(const Json& body, const plat::AnsiString& defaultScheme);
  // An operation that prints only between documents, as its refusal names it; empty for one
  // that runs whatever the printer holds open.
  std::string_view BetweenDocuments = {};
};

// The printing operations but the entry point calls (/v1/call/<EntryPoint>, right "call").
const std::vector<PrintingRoute>& PrintingRoutes();
// The endpoints that only read.
const std::vector<std::string_view>& ReadingRoutes();
inline constexpr std::string_view kCallPrefix = "/v1/call/";

// True for a printing operation's path (an entry point call included).
bool IsPrinting(const std::string& path);
// The right a till needs for a printing operation's path; null for any other path.
std::optional<Right> RightFor(const std::string& path);
// The endpoint a path counts under in the metrics: a route of the service, "/v1/call/<name>"
// for an entry point, or "other".
std::string EndpointLabel(const std::string& path);

}  // namespace fpd

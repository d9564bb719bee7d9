// SPDX-License-Identifier: Apache-2.0
#include "routes.h"

#include "entry_points.h"

namespace fpd {

const std::vector<PrintingRoute>& PrintingRoutes() {
  static const std::vector<PrintingRoute> routes = {
      {"/v1/sales", Right::Sell, &PrepareSale},
      {"/v1/cash/supply", Right::Cash, &PrepareSupply},
      {"/v1/x", Right::X, &PrepareX},
      {"/v1/z", Right::Z, &PrepareZ},
      {"/v1/closing", Right::Closing, &PrepareClosing},
      // Read from the fiscal memory, printed as an X is: the X's right.
      {"/v1/reports/fiscal-memory", Right::X, &PrepareFiscalMemoryReport,
       "the fiscal-memory report"},
  };
  return routes;
}

const std::vector<std::string_view>& ReadingRoutes() {
  static const std::vector<std::string_view> routes = {
      "/",         "/healthz",    "/readyz",          "/metrics",     "/v1/status",
      "/v1/paper", "/v1/journal", "/v1/openapi.json", "/v1/client.js"};
  return routes;
}

bool IsPrinting(const std::string& path) {
  return RightFor(path).has_value();
}

std::optional<Right> RightFor(const std::string& path) {
  if (path.rfind(kCallPrefix, 0) == 0) return Right::Call;
  for (const auto& r : PrintingRoutes()) {
    if (path == r.Path) return r.Needs;
  }
  return std::nullopt;
}

std::string EndpointLabel(const std::string& path) {
  if (path.rfind(kCallPrefix, 0) == 0) {
    return FindEntryPoint(path.substr(kCallPrefix.size())) ? path : "/v1/call/{unknown}";
  }
  for (const auto& r : PrintingRoutes()) {
    if (path == r.Path) return path;
  }
  for (const auto& r : ReadingRoutes()) {
    if (path == r) return path;
  }
  if (path.rfind("/v1/journal/", 0) == 0) {
    const std::string rest = path.substr(12);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) return "/v1/journal/{key}";
    if (rest.substr(slash) == "/resolve") return "/v1/journal/{key}/resolve";
  }
  return "other";
}

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
#include "cross_origin.h"

#include <algorithm>

namespace fpd {

namespace {

// The methods the service serves and the request headers it reads; a page's other headers
// are refused by the browser after the preflight.
constexpr const char* kMethods = "GET, POST, OPTIONS";
constexpr const char* kRequestHeaders = "Content-Type, Idempotency-Key, Authorization, Prefer";
// How long a browser may keep a preflight's answer before asking again.
constexpr const char* kPreflightSeconds = "600";

}  // namespace

CrossOrigin JudgeOrigin(const std::string& method, const HeaderLookup& header,
                        const std::vector<std::string>& allowed) {
  CrossOrigin answer;
  const std::optional<std::string> origin = header("Origin");
  if (!origin) return answer;
  if (std::find(allowed.begin(), allowed.end(), *origin) == allowed.end()) {
    answer.Kind = CrossOrigin::Verdict::Refused;
    answer.Message = "the origin " + *origin + " is not allowed";
    return answer;
  }
  answer.Headers = {{"Access-Control-Allow-Origin", *origin},
                    {"Vary", "Origin"},
                    {"Access-Control-Expose-Headers", "Idempotent-Replay, Location"}};
  if (method != "OPTIONS") {
    answer.Kind = CrossOrigin::Verdict::Allowed;
    return answer;
  }
  // A preflight. A page of a public origin reaches the till's own address only once the
  // browser's user or its policy allowed that origin; the browser then sends the plain preflight
  // answered here. Browsers that ask the service itself whether a public page may reach it
  // (Access-Control-Request-Private-Network) are told yes: the origin is one the till allowed.
  answer.Kind = CrossOrigin::Verdict::Preflight;
  answer.Headers.emplace_back("Access-Control-Allow-Methods", kMethods);
  answer.Headers.emplace_back("Access-Control-Allow-Headers", kRequestHeaders);
  answer.Headers.emplace_back("Access-Control-Max-Age", kPreflightSeconds);
  if (header("Access-Control-Request-Private-Network") == "true") {
    answer.Headers.emplace_back("Access-Control-Allow-Private-Network", "true");
  }
  return answer;
}

}  // namespace fpd

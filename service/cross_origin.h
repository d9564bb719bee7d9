// SPDX-License-Identifier: Apache-2.0
// Requests from web pages of another origin (a till's web page, local or hosted on the
// internet, calling the service from the browser): which origins may call, how a browser's
// preflight is answered, and the headers that let the browser hand an answer to the page. It
// knows nothing of the HTTP library: it reads the request's headers through a lookup and
// answers the headers to add.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fpd {

// A request header's value by its name, nullopt when the request lacks it.
using HeaderLookup = std::function<std::optional<std::string>(const std::string& name)>;

struct CrossOrigin {
  enum class Verdict {
    NoOrigin,   // no Origin header: not a browser's cross-origin request; nothing to add
    Allowed,    // an allowed origin: served, with Headers added to its answer
    Preflight,  // an allowed origin's preflight: answered 204 with Headers, nothing else runs
    Refused,    // an origin not allowed: answered 403 origin_not_allowed with Message
  };
  Verdict Kind = Verdict::NoOrigin;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Message;
};

// What to answer a request with this method and these headers, for the origins given with
// --allow-origin (exact match, scheme and port included).
CrossOrigin JudgeOrigin(const std::string& method, const HeaderLookup& header,
                        const std::vector<std::string>& allowed);

}  // namespace fpd

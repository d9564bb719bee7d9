// SPDX-License-Identifier: Apache-2.0
// The rules for requests from web pages of another origin, without a running service.
#include "service/cross_origin.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using fpd::CrossOrigin;
using Verdict = CrossOrigin::Verdict;
using Headers = std::map<std::string, std::string>;

struct Case {
  const char* what;
  std::string method;
  Headers request;
  Verdict verdict;
  Headers answered;               // headers the answer must carry, with their values
  std::vector<std::string> none;  // headers it must not carry
};

TEST(CrossOrigin, AllowsListedOriginsAndAnswersTheirPreflights) {
  const std::string till = "https://till.example.com";
  const Headers allowedAnswer = {{"Access-Control-Allow-Origin", till},
                                 {"Vary", "Origin"},
                                 {"Access-Control-Expose-Headers", "Idempotent-Replay, Location"}};
  Headers preflightAnswer = allowedAnswer;
  preflightAnswer.insert(
      {{"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
       {"Access-Control-Allow-Headers", "Content-Type, Idempotency-Key, Authorization, Prefer"},
       {"Access-Control-Max-Age", "600"}});
  Headers privateNetwork = preflightAnswer;
  privateNetwork["Access-Control-Allow-Private-Network"] = "true";
  const Headers preflight = {{"Origin", till}, {"Access-Control-Request-Method", "POST"}};
  Headers asksPrivate = preflight;
  asksPrivate["Access-Control-Request-Private-Network"] = "true";
  const std::string allowOrigin = "Access-Control-Allow-Origin";

  const Case cases[] = {
      {"no origin: not a page of another origin", "POST", {}, Verdict::NoOrigin, {}, {allowOrigin}},
      {"an allowed origin",
       "POST",
       {{"Origin", till}},
       Verdict::Allowed,
       allowedAnswer,
       {"Access-Control-Allow-Methods", "Access-Control-Allow-Private-Network"}},
      {"its preflight",
       "OPTIONS",
       preflight,
       Verdict::Preflight,
       preflightAnswer,
       {"Access-Control-Allow-Private-Network"}},
      {"its preflight asking for the private network",
       "OPTIONS",
       asksPrivate,
       Verdict::Preflight,
       privateNetwork,
       {}},
      {"another port", "POST", {{"Origin", till + ":8443"}}, Verdict::Refused, {}, {allowOrigin}},
      {"another origin's preflight",
       "OPTIONS",
       {{"Origin", "https://elsewhere.example"},
        {"Access-Control-Request-Private-Network", "true"}},
       Verdict::Refused,
       {},
       {allowOrigin, "Access-Control-Allow-Private-Network"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CrossOrigin answer =
        fpd::JudgeOrigin(c.method,
                         [&c](const std::string& name) -> std::optional<std::string> {
                           const auto it = c.request.find(name);
                           return it == c.request.end() ? std::nullopt : std::optional(it->second);
                         },
                         {"http://127.0.0.1:8080", till});
    EXPECT_EQ(answer.Kind, c.verdict);
    const Headers got(answer.Headers.begin(), answer.Headers.end());
    EXPECT_EQ(got.size(), answer.Headers.size()) << "a header answered twice";
    for (const auto& [name, value] : c.answered) {
      EXPECT_EQ(got.count(name) ? got.at(name) : "<none>", value) << name;
    }
    for (const auto& name : c.none) EXPECT_EQ(got.count(name), 0u) << name;
    if (c.verdict == Verdict::Refused) {
      EXPECT_NE(answer.Message.find(c.request.at("Origin")), std::string::npos) << answer.Message;
    }
  }
}

}  // namespace

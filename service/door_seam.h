// SPDX-License-Identifier: Apache-2.0
// What the broker door asks of the print pipeline: a job to journal and run (or to answer at
// once), the resolution of a key in doubt, and what the status shows of the service now.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "codec.h"

namespace fpd {

// A job from the chain's broker, as the HTTP door would hand over POST Path with Body.
struct DoorJob {
  std::string Till, Key;
  std::string Operation;  // "sale", "supply", "x", "z", "closing", "call", "report"
  std::string Path;       // "/v1/sales", "/v1/call/<entry point>", ...
  Json Body;
  std::optional<int64_t> ExpiresAt;  // seconds since 1970: not started by then, never printed
};

// The answer to a job, as the HTTP API answers the same request.
struct DoorAnswer {
  int Status = 200;
  Json Body;
  bool Replayed = false;  // the stored answer of an earlier delivery; nothing was printed
};
using DoorDone = std::function<void(DoorAnswer)>;

// Journals the job durably and queues it, or answers at once (a replay, a refusal, an expired
// job: an error with the code "expired"). It returns once the job is journaled: the door
// acknowledges the message to the broker after that. done is called exactly once, on any
// thread (within this call too), when the job has its answer.
using SubmitJob = std::function<void(DoorJob job, DoorDone done)>;

// A till's decision on one of its keys in doubt (Target), sent as a job of its own (Key).
struct DoorResolution {
  std::string Till, Key, Target;
  bool Printed = false;
  bool CancelOpenTicket = false;
};
// Answers as POST /v1/journal/<Target>/resolve does, for the till's own key; done as above.
using ResolveKey = std::function<void(DoorResolution resolution, DoorDone done)>;

// What the status shows of the service now: {"state": the printer part of GET /v1/status,
// "lastZ": {"number", "at"} or null, "inDoubt": [{"till", "key", "since"}, oldest first],
// "inDoubtCount": all of them}. Called on the door's own thread; it must not wait for a job.
using StatusNow = std::function<Json()>;

}  // namespace fpd

// SPDX-License-Identifier: Apache-2.0
// The result message of a job on the chain link, made from the answer the HTTP API gives for
// the same request: its outcome (done, failed, in doubt, expired, refused) from the answer's
// status and error code, and the printer's state as the link shows it.
#pragma once

#include <string>

#include "door_seam.h"

namespace fpd {

// Who the result is about: the shop's printer, and the job's key, till and operation (null
// when a refused job's member could not be read).
struct ResultHeader {
  std::string Shop, Printer;
  Json Key, Till, Operation;
};

// at: when the outcome was reached (UTC). stateNow: the printer as the status shows it, for
// an answer in doubt that carries no printer of its own.
Json DoorResult(const ResultHeader& h, const DoorAnswer& answer, const std::string& at,
                const Json& stateNow);
// A job refused before it reached the pipeline; error is {"code", "message", "field"}.
Json DoorRefusal(const ResultHeader& h, const Json& error, const std::string& at);

// The printer part of GET /v1/status as the link shows it: the members the link's messages
// know, the time of the last query in UTC, each roll's paper and the fiscalisation (null
// while unknown).
Json LinkPrinterState(const Json& printer);
// A time of the service (local, "YYYY-MM-DDTHH:MM:SS", or with its offset) in UTC; "" when it
// is not a time.
std::string LinkTime(const std::string& text);

}  // namespace fpd

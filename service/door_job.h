// SPDX-License-Identifier: Apache-2.0
// A job message of the chain link read and checked: its members, its key, till and expiry,
// the operation and where the HTTP API takes it. What breaks the contract is refused with the
// HTTP API's error codes, and nothing of it reaches the printer.
#pragma once

#include <optional>
#include <string>

#include "door_seam.h"

namespace fpd {

struct DoorRequest {
  // What could be read of the job; null members in a refusal when they could not.
  Json Key, Till, Operation;
  DoorJob Job;                            // when it is not a resolution
  std::optional<DoorResolution> Resolve;  // a resolution
  std::optional<Json> Refusal;            // {"code", "message", "field"}: not submitted
};

DoorRequest ReadDoorJob(const std::string& payload);

}  // namespace fpd

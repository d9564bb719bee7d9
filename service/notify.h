// SPDX-License-Identifier: Apache-2.0
// Readiness for the service manager: under a unit of Type=notify, NOTIFY_SOCKET names the
// datagram socket that takes "READY=1" and "STOPPING=1".
#pragma once

#include <string>

namespace fpd {

// Sends the state to the service manager; false when none asked for it or it cannot be sent.
bool NotifyServiceManager(const std::string& state);

}  // namespace fpd

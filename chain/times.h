// SPDX-License-Identifier: Apache-2.0
// The chain link's times: RFC 3339 texts read with any offset, written in UTC.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace chain {

// RFC 3339 text to seconds since the epoch; nothing when it is not such a text.
std::optional<long long> EpochSeconds(const std::string& text);
// "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(std::chrono::system_clock::time_point t);

}  // namespace chain

// SPDX-License-Identifier: Apache-2.0
// The fleet page: one HTML document with its script, which reads /v1/fleet every 5 seconds.
#pragma once

#include <string_view>

namespace fleet {

std::string_view FleetPageHtml();

}  // namespace fleet

// SPDX-License-Identifier: Apache-2.0
// Documents built into the service: the API description (docs/openapi.yaml as JSON) and the
// browser client (client/fiscal-printd.js). Generated at build time by embed.py.
#pragma once

#include <string_view>

namespace fpd {

std::string_view OpenApiJson();
std::string_view ClientJs();

}  // namespace fpd

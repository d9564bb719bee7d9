// SPDX-License-Identifier: Apache-2.0
// The chain link's topics: fiscal/v1/SHOP/PRINTER/{jobs,results,status}, where SHOP and
// PRINTER are each one topic level.
#pragma once

#include <string>

namespace chain {

inline constexpr const char* kTopicPrefix = "fiscal/v1/";

// A shop or printer name fit for one topic level: 1 to 64 letters, digits and "_.-",
// starting with a letter or digit.
bool ValidLevel(const std::string& name);

// fiscal/v1/SHOP/PRINTER/KIND ("jobs", "results" or "status").
std::string Topic(const std::string& shop, const std::string& printer, const std::string& kind);

}  // namespace chain

// SPDX-License-Identifier: Apache-2.0
// Basic value types shared by hosts and the driver package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/export.h"

namespace plat {

// Text: 8-bit string holding Windows-1252 bytes.
using AnsiString = std::string;
// Wide text: UTF-16.
using WideString = std::u16string;
// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// A list of texts, as the host hands it over (for example voucher text).
class PLAT_API TStringList {
 public:
  std::vector<AnsiString> Strings;

  void Add(const AnsiString& s) { Strings.push_back(s); }
  int Count() const { return static_cast<int>(Strings.size()); }
  void Clear() { Strings.clear(); }
  const AnsiString& operator[](int i) const { return Strings.at(static_cast<size_t>(i)); }
};

}  // namespace plat

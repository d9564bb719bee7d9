// SPDX-License-Identifier: Apache-2.0
// A printer amount to a number. The printer writes amounts as digits whose last two are the
// decimals, possibly with group or decimal marks of its own: "0001234567" is 12345.67.
#include <algorithm>

#include "driver/Arfis770.h"
#include "platform/format.h"

ARFIS_API double GetValue(const plat::AnsiString& stValor) {
  plat::AnsiString text = plat::Trim(stValor);
  text.erase(std::remove(text.begin(), text.end(), ','), text.end());
  text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
  // The current decimal separator goes before the last two characters; a one-character text
  // becomes the separator followed by it, and an empty one the separator alone (which does
  // not convert).
  const size_t head = text.size() >= 2 ? text.size() - 2 : 0;
  text = text.substr(0, head) + plat::FormatSettings().DecimalSeparator + text.substr(head);
  return plat::StrToFloat(text);
}

// SPDX-License-Identifier: Apache-2.0
// Amount texts shared by the sales documents and the closing reports.
#pragma once

#include "platform/types.h"

namespace arfis {

// A printer amount: the value cut to two decimals, then the picture "000000.00" with the
// system's decimal separator (12.5 -> 000012.50; 1234567.5 -> 1234567.50).
plat::AnsiString PrinterAmount(double value);

// A report amount: fixed-point with two decimals, 15 significant digits, no grouping
// (500 -> 500.00, -20 -> -20.00).
plat::AnsiString AmountText(double value);

}  // namespace arfis

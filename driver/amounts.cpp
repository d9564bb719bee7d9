// SPDX-License-Identifier: Apache-2.0
#include "driver/amounts.h"

#include "platform/format.h"
#include "platform/support.h"

namespace arfis {

plat::AnsiString PrinterAmount(double value) {
  return plat::FormatFloat("000000.00", plat::Trunc2(value));
}

plat::AnsiString AmountText(double value) {
  return plat::FloatToStrFixed2(value);
}

}  // namespace arfis

// SPDX-License-Identifier: Apache-2.0
// One item line on the open ticket or invoice, as the item sale and the item cancellation send
// it: description without ñ/Ñ, quantity and price cut to two decimals, the VAT rate rounded to
// two decimals, and on an invoice the unit price without VAT.
#pragma once

#include "platform/types.h"

namespace arfis {

// The entry point that sends the line; it decides the shape of the log line.
enum class ItemCaller { VendaItem, CancelaItGenerico };

struct ItemLine {
  plat::AnsiString description;   // item name as the host gave it (Windows-1252)
  plat::AnsiString rate;          // VAT rate in percent, as text in the current separator
  plat::AnsiString documentKind;  // "T" ticket, "A"/"C" invoice, anything else: nothing sent
  plat::WideString qualifier;
  plat::WideString qtdeCultos;
  plat::WideString imposInterPerc;
  plat::WideString imposInterFixo;
  double quantity = 0;
  double price = 0;  // unit price including VAT
};

// Builds the line and sends it through the current form's printer control. Answers true when
// the printer accepted it; only then is the line logged. Failures (a rate that is not a number,
// the log, the control) raise: the caller runs this inside its guard.
bool SendItemLine(const ItemLine& line, ItemCaller caller);

}  // namespace arfis

// SPDX-License-Identifier: Apache-2.0
// What the printer layer finds out about a printer and the host should log: which variant of the
// printer family it drives a printer as, and why, or that the printer matches none. The host
// sets one receiver for the process; without one nothing is told. Safe from any thread; the
// receiver is called on the thread that ran the command and must not send printer commands.
#pragma once

#include <functional>
#include <string>

#include "printer/api.h"

namespace plat {

// warning: something the host should look at (the printer matches no known variant).
using PrinterNotice = std::function<void(const std::string& line, bool warning)>;

FISCAL_PRINTER_API void SetPrinterNotices(PrinterNotice receiver);
// Tells the receiver, if any.
FISCAL_PRINTER_API void TellPrinterNotice(const std::string& line, bool warning);

}  // namespace plat

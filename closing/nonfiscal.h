// SPDX-License-Identifier: Apache-2.0
// Non-fiscal documents on the driver form's printer: opening and closing with their log lines,
// and sending one text line. Printer answers are not examined: a report goes on whatever the
// printer answers to each line.
#pragma once

#include "driver/form.h"
#include "platform/types.h"

namespace arfis {

// OpenNoFiscal, then the log line "OpenNoFiscal".
void NonFiscalOpen(TfrmArgentina& form);

// CloseNoFiscal, then the log line "CloseNoFiscal".
void NonFiscalClose(TfrmArgentina& form);

// Sends one 8-bit line with SendNoFiscalText (as wide text); with log, then writes the same
// 8-bit line to the diagnostic log.
void NonFiscalLine(TfrmArgentina& form, const plat::AnsiString& line, bool log);

}  // namespace arfis

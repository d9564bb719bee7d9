// SPDX-License-Identifier: Apache-2.0
#include "closing/nonfiscal.h"

#include "driver/Arfis770.h"
#include "platform/codepage.h"

namespace arfis {

void NonFiscalOpen(TfrmArgentina& form) {
  form.prfImpressora.OpenNoFiscal();
  ImpFisDebug("OpenNoFiscal");
}

void NonFiscalClose(TfrmArgentina& form) {
  form.prfImpressora.CloseNoFiscal();
  ImpFisDebug("CloseNoFiscal");
}

void NonFiscalLine(TfrmArgentina& form, const plat::AnsiString& line, bool log) {
  plat::WideString wtRelat = plat::AnsiToWide(line);
  form.prfImpressora.SendNoFiscalText(wtRelat);
  if (log) ImpFisDebug(line);
}

}  // namespace arfis

#include "closing/nonfiscal.h"

#include "driver/Arfis770.h"
#include "platform/codepage.h"

namespace arfis {

namespace {
plat::WideString g_lineText;  // a report sends thousands of lines: their room is reused
}  // namespace

void NonFiscalOpen(TfrmArgentina& form) {
  form.prfImpressora.OpenNoFiscal();
  ImpFisDebug("OpenNoFiscal");
}

void NonFiscalClose(TfrmArgentina& form) {
  form.prfImpressora.CloseNoFiscal();
  ImpFisDebug("CloseNoFiscal");
}

void NonFiscalLine(TfrmArgentina& form, const plat::AnsiString& line, bool log) {
  plat::WideString& wtRelat = g_lineText;
  plat::AnsiToWide(line, wtRelat);
  form.prfImpressora.SendNoFiscalText(wtRelat);
  if (wtRelat.capacity() > 4096) plat::WideString().swap(wtRelat);
  if (log) ImpFisDebug(line);
}

}  // namespace arfis

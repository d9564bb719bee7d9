// SPDX-License-Identifier: Apache-2.0
// Z reduction: ends the fiscal day, then captures the printer's Z figures to the Z data file.
#include "closing/zfile.h"
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"

ARFIS_API bool Reducao_Z_Imp(const plat::AnsiString& /*stParam1*/,
                             const plat::AnsiString& stEsquemaCor,
                             const plat::AnsiString& /*stParam3*/) {
  return arfis::Guarded(stEsquemaCor, [&] {
    TfrmArgentina& form = arfis::Form();
    bool result = false;
    plat::WideString wtReducao = u"Z";
    plat::WideString wtParamFixo;
    if (form.prfImpressora.CloseJournal(wtReducao, wtParamFixo) == 0) {
      // A refused reduction produced no figures: whatever the answer fields hold belongs to
      // another command, so nothing is captured, and the last file goes as any capture
      // removes it, so that it never passes for this day's.
      arfis::RemoveZDataFiles();
      return result;
    }
    result = true;
    arfis::LogWide(u"Reducao_Z_Imp - CloseJournal: " + wtReducao + u" - " + wtParamFixo);
    // A failure inside the capture makes the whole call fail.
    BuscaDadosReducaoZ();
    return result;
  });
}

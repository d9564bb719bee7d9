// SPDX-License-Identifier: Apache-2.0
// X reading: closes the journal without ending the fiscal day.
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"

ARFIS_API bool Leitura_X_Imp(const plat::AnsiString& /*stParam1*/,
                             const plat::AnsiString& stEsquemaCor,
                             const plat::AnsiString& /*stParam3*/) {
  return arfis::Guarded(stEsquemaCor, [&] {
    TfrmArgentina& form = arfis::Form();
    plat::WideString wtLeiturax = u"X";
    plat::WideString wtImpLeitura = u"P";
    if (form.prfImpressora.CloseJournal(wtLeiturax, wtImpLeitura) == 0) return false;
    arfis::LogWide(u"Leitura_X_Imp(CloseJournal):  - " + wtLeiturax + u" - " + wtImpLeitura);
    return true;
  });
}

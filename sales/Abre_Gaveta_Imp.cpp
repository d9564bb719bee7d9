// SPDX-License-Identifier: Apache-2.0
#include "driver/Arfis770.h"
#include "driver/guard.h"

// Opens the cash drawer. No guard: failures (the log included) raise to the host.
ARFIS_API bool Abre_Gaveta_Imp(const plat::AnsiString& /*stParam*/, bool /*boParam1*/) {
  ImpFisDebug("Abre_Gaveta_Imp");
  plat::WideString wtCaixa = u"1";
  if (arfis::Form().prfImpressora.OpenCashDrawer(wtCaixa) == 0) return false;
  arfis::LogWide(u"OpenCashDrawer: " + wtCaixa);
  return true;
}
